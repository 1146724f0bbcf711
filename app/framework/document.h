// A document in the framework's manner: a title and a path, the modified mark, its views,
// and the hooks a concrete document fills (open, save, close). The image document of the
// application derives from it.
#pragma once

#include "framework/cmd_target.h"

#include <QList>
#include <QObject>
#include <QString>

namespace orvax::framework {

class CView;
class CMultiDocTemplate;
class CMDIChildWnd;

class CDocument : public QObject, public CCmdTarget {
  Q_OBJECT
 public:
  CDocument();
  ~CDocument() override;

  const QString& GetTitle() const { return title_; }
  void SetTitle(const QString& title);
  const QString& GetPathName() const { return path_; }
  // Sets the path, the title (the file name) and, when ADDTOMRU, the recent-file entry.
  virtual void SetPathName(const QString& path, bool addToMru = true);

  bool IsModified() const { return modified_; }
  // Sets or clears the modified mark; a concrete document may keep more state with it
  // (the image document's undo history knows its saved state).
  virtual void SetModifiedFlag(bool modified = true);

  CMultiDocTemplate* GetDocTemplate() const { return template_; }
  const QList<CView*>& Views() const { return views_; }
  void AddView(CView* view);
  void RemoveView(CView* view);

  // Calls OnUpdate(sender, hint) of every view but SENDER.
  void UpdateAllViews(CView* sender, long hint = 0);

  // Hooks for the concrete document.
  virtual bool OnNewDocument();
  virtual bool OnOpenDocument(const QString& path);
  virtual bool OnSaveDocument(const QString& path);
  virtual void OnCloseDocument();
  // Saves under the current path or asks for one; the save command's work.
  virtual bool DoFileSave();
  // Asks about unsaved changes: Yes saves, No discards, Cancel keeps the document open.
  virtual bool SaveModified();
  // May the frame FRAME close? The last frame of a modified document asks first.
  virtual bool CanCloseFrame(CMDIChildWnd* frame);

 signals:
  void titleChanged();
  // The modified mark went on or off.
  void modifiedChanged(bool modified);

 private:
  friend class CMultiDocTemplate;
  QString title_;
  QString path_;
  bool modified_ = false;
  CMultiDocTemplate* template_ = nullptr;
  QList<CView*> views_;
};

}  // namespace orvax::framework
