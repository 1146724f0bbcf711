// The application object's framework half: the main window, the document manager and the
// message box every failure goes through.
#pragma once

#include "framework/cmd_target.h"
#include "framework/printing.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QMainWindow;
class QMdiArea;

namespace orvax::framework {

class CDocManager;
class CDocument;

// Message box styles and results, with Windows' numbers.
enum : unsigned {
  MB_OK = 0x0,
  MB_OKCANCEL = 0x1,
  MB_YESNOCANCEL = 0x3,
  MB_YESNO = 0x4,
  MB_ICONERROR = 0x10,
  MB_ICONQUESTION = 0x20,
  MB_ICONEXCLAMATION = 0x30,
  MB_ICONINFORMATION = 0x40,
};
enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

// Shows TEXT with the application title, the icon and buttons of STYLE, and returns the
// button chosen. When $ORVAX_SCAN_MESSAGE_LOG names a file, or a hook is set, the message is
// recorded there instead of shown and the box answers with its default button (the first
// one), so that scripted runs and tests never wait for a user.
int AfxMessageBox(const QString& text, unsigned style = MB_OK);
// Replaces the message box for tests; an empty function restores it.
void SetMessageBoxHook(std::function<int(const QString& text, unsigned style)> hook);

// The second part of a message: why it happened, in words, and the codes behind it, shown
// in small print under the text. The message log records both behind the text, each after
// a tab.
struct MessageDetail {
  QString reason;
  QString codes;
};
int AfxMessageBox(const QString& text, unsigned style, const MessageDetail& detail);
// Replaces the message box for tests, receiving the detail too; it takes precedence over
// the hook above. An empty function restores it.
void SetMessageBoxDetailHook(
    std::function<int(const QString& text, unsigned style, const MessageDetail& detail)> hook);

class CWinApp : public CCmdTarget {
 public:
  CWinApp();
  ~CWinApp() override;

  QMainWindow* m_pMainWnd = nullptr;

  // The MDI area documents' frames are placed in (the main frame's client).
  virtual QMdiArea* MdiClient() const = 0;
  CDocManager* DocManager() const { return docManager_.get(); }
  void SetDocManager(std::unique_ptr<CDocManager> manager);

  // Opens PATH through the document manager; null on failure.
  virtual CDocument* OpenDocumentFile(const QString& path);
  // Called when a document takes a path, for the recent-file list.
  virtual void AddToRecentFileList(const QString& path) {}

  // The printer jobs go to unless a print dialog chooses another; a dialog closed with OK
  // makes its choice the new default. First read from the system.
  const CPrinterSettings& PrinterDefaults();
  void SetPrinterDefaults(const CPrinterSettings& settings);
  // Runs DIALOG with the default printer and keeps its choice; IDOK or IDCANCEL.
  int DoPrintDialog(CPrintDialog* dialog);
  // The Print Setup command.
  void OnFilePrintSetup();

 private:
  std::unique_ptr<CDocManager> docManager_;
  std::optional<CPrinterSettings> printer_;
};

CWinApp* AfxGetApp();

}  // namespace orvax::framework
