// The framework's printing shared by the dialog, the device context and the flow: the printer
// settings, the hooks tests use for modal dialogs and the file prompt, and the print
// information. The dialog is in print_dialog.cpp, the device context in print_dc.cpp, the
// preview and the flow of a job in print_flow.cpp.
#include "framework/printing.h"

#include "framework/win_app.h"

#include <QDialog>
#include <QFileDialog>
#include <QMainWindow>
#include <QPrinter>
#include <QPrinterInfo>

namespace orvax::framework {

namespace {

std::function<int(QDialog&)> g_modalHook;
std::function<QString(const QString&)> g_fileHook;

}  // namespace

// ---------------------------------------------------------------------------------------
// Settings.

void CPrinterSettings::ApplyTo(QPrinter& printer, bool withFile) const {
  if (IsPdf()) {
    printer.setOutputFormat(QPrinter::PdfFormat);
  } else {
    printer.setOutputFormat(QPrinter::NativeFormat);
    printer.setPrinterName(printerName);
  }
  // A print to file of a system printer is written as PDF, as Qt does.
  if (withFile && WritesFile()) printer.setOutputFileName(outputFileName);
  if (pageLayout.isValid()) printer.setPageLayout(pageLayout);
  if (resolution > 0) printer.setResolution(resolution);
  printer.setCopyCount(std::max(1, copies));
  printer.setCollateCopies(collate);
}

CPrinterSettings CPrinterSettings::SystemDefault() {
  CPrinterSettings settings;
  settings.printerName = QPrinterInfo::defaultPrinterName();
  return settings;
}

QString PdfPrinterLabel() { return QStringLiteral("PDF File"); }

// ---------------------------------------------------------------------------------------
// Hooks.

void SetModalHook(std::function<int(QDialog&)> hook) { g_modalHook = std::move(hook); }

int RunModal(QDialog& dialog) {
  if (g_modalHook) return g_modalHook(dialog);
  return dialog.exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

void SetPrintFilePromptHook(std::function<QString(const QString&)> hook) { g_fileHook = std::move(hook); }

QString PromptPrintFileName(const QString& suggested) {
  if (g_fileHook) return g_fileHook(suggested);
  QWidget* parent = AfxGetApp() != nullptr ? AfxGetApp()->m_pMainWnd : nullptr;
  return QFileDialog::getSaveFileName(parent, QStringLiteral("Print to File"), suggested,
                                      QStringLiteral("PDF (*.pdf);;All Files (*)"));
}

// ---------------------------------------------------------------------------------------
// Print information.

CPrintInfo::CPrintInfo()
    : m_pPD(std::make_unique<CPrintDialog>(false, PD_ALLPAGES | PD_USEDEVMODECOPIES | PD_NOSELECTION)) {}

CPrintInfo::~CPrintInfo() = default;

}  // namespace orvax::framework
