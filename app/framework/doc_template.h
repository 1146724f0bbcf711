// The document template: makes a document, its child frame and its view from three
// factories, and keeps the list of its open documents. RESOURCEID names the menu set and
// the template string (the file filter and the document names).
#pragma once

#include <QList>
#include <QString>

#include <functional>

namespace orvax::framework {

class CDocument;
class CMDIChildWnd;
class CView;

class CMultiDocTemplate {
 public:
  using DocFactory = std::function<CDocument*()>;
  using FrameFactory = std::function<CMDIChildWnd*()>;
  using ViewFactory = std::function<CView*(CDocument*)>;

  CMultiDocTemplate(int resourceId, DocFactory doc, FrameFactory frame, ViewFactory view);
  ~CMultiDocTemplate();

  int ResourceId() const { return resourceId_; }
  // Field INDEX of the template string (see the string table).
  QString GetDocString(int index) const;

  // Opens PATH as a new document, or makes an empty one when PATH is empty. Shows it in a
  // new frame; null (and nothing left behind) when the document refuses.
  CDocument* OpenDocumentFile(const QString& path, bool makeVisible = true);
  // A new frame with a view on DOC, added to the application's MDI area.
  CMDIChildWnd* CreateNewFrame(CDocument* doc);
  void InitialUpdateFrame(CMDIChildWnd* frame, CDocument* doc, bool makeVisible = true);

  const QList<CDocument*>& Documents() const { return documents_; }
  void RemoveDocument(CDocument* doc);

 private:
  int resourceId_;
  DocFactory docFactory_;
  FrameFactory frameFactory_;
  ViewFactory viewFactory_;
  QList<CDocument*> documents_;
  int untitledCount_ = 0;
};

}  // namespace orvax::framework
