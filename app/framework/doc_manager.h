// The document manager: the templates, opening by path (an open document is brought to the
// front rather than opened twice), the file prompts and closing everything at exit.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class QWidget;

namespace orvax::framework {

class CDocument;
class CMultiDocTemplate;

class CDocManager {
 public:
  virtual ~CDocManager();

  void AddDocTemplate(std::unique_ptr<CMultiDocTemplate> docTemplate);
  const QList<CMultiDocTemplate*> Templates() const;

  virtual CDocument* OpenDocumentFile(const QString& path);
  QList<CDocument*> Documents() const;

  // Asks for file names. Open: one or more existing files (MULTI) in a dialog titled by
  // string TITLEID; returns them, empty when cancelled. The application's manager
  // overrides it to start in the last folder and to save through its own dialog.
  virtual QStringList DoPromptFileName(const QString& name, int titleId, bool open, bool multi,
                                       CMultiDocTemplate* docTemplate);

  // The filter of the open dialog: one entry per template, then all files. A template's
  // entry holds its patterns with the other names of each extension, each in lower and in
  // upper case, as file names on this system differ by case (a camera's IMG_0001.JPG).
  QString OpenFilter() const;
  // Other extensions (without the dot, lower case) of files of extension EXT.
  virtual QStringList ExtensionAliases(const QString& ext) const { return {}; }

  // Asks each modified document; false when the user cancels.
  bool SaveAllModified();
  void CloseAllDocuments();

 private:
  std::vector<std::unique_ptr<CMultiDocTemplate>> templates_;
};

}  // namespace orvax::framework
