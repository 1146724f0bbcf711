// The flow of a print job: Print, print direct and Print Preview of a view, the preview
// window, and the printer the application keeps between jobs.
#include "framework/printing.h"

#include "framework/document.h"
#include "framework/view.h"
#include "framework/win_app.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QPainter>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QToolBar>
#include <QVBoxLayout>

namespace orvax::framework {

namespace {

// Shown when the printer cannot take the job, with the reason.
const char* const kFailedToStartPrint = "Failed to start the print job: %1";
const char* const kFileNotWritable = "the file %1 cannot be written.";
const char* const kPrinterUnavailable = "the printer %1 is not available.";

}  // namespace

// ---------------------------------------------------------------------------------------
// Preview window.

CPrintPreviewDialog::CPrintPreviewDialog(QPrinter* printer, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Print Preview"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* bar = new QToolBar(this);
  preview_ = new QPrintPreviewWidget(printer, this);
  QAction* print = bar->addAction(QStringLiteral("&Print..."));
  print->setObjectName(QStringLiteral("print"));
  bar->addSeparator();
  bar->addAction(QStringLiteral("Zoom &In"), preview_, [this] { preview_->zoomIn(); });
  bar->addAction(QStringLiteral("Zoom &Out"), preview_, [this] { preview_->zoomOut(); });
  bar->addSeparator();
  QAction* close = bar->addAction(QStringLiteral("&Close"));
  connect(print, &QAction::triggered, this, [this] {
    printRequested_ = true;
    accept();
  });
  connect(close, &QAction::triggered, this, &QDialog::reject);
  connect(preview_, &QPrintPreviewWidget::paintRequested, this, &CPrintPreviewDialog::paintRequested);
  layout->addWidget(bar);
  layout->addWidget(preview_, 1);
  resize(800, 900);
}

// ---------------------------------------------------------------------------------------
// The view's printing flow.

namespace {

// Draws the pages of INFO on PRINTER through VIEW. False when the printer would not start.
// A view that already knows at OnBeginPrinting that it cannot draw the page starts no job;
// a page that fails while drawn abandons the job: the printer is told to abort, and a file
// the job was writing is removed.
bool PrintPages(CView* view, QPrinter& printer, CPrintInfo& info) {
  CDC dc(&printer);
  dc.m_bPrinting = true;
  info.m_bPageFailed = false;
  view->OnBeginPrinting(&dc, &info);
  if (info.m_bPageFailed) {
    // The view found before the job began that it cannot draw the page: no job at all.
    view->OnEndPrinting(&dc, &info);
    return true;
  }
  QPainter painter;
  bool started = painter.begin(&printer);
  if (started) {
    // A scan goes to a PDF as it is, not through lossy JPEG compression.
    painter.setRenderHint(QPainter::LosslessImageRendering);
    dc.Attach(&painter);
    for (int page = info.GetMinPage(); page <= info.GetMaxPage() && info.m_bContinuePrinting; ++page) {
      if (page != info.GetMinPage()) printer.newPage();
      info.m_nCurPage = page;
      info.m_rectDraw = QRect(0, 0, dc.GetDeviceCaps(HORZRES), dc.GetDeviceCaps(VERTRES));
      view->OnPrint(&dc, &info);
      if (info.m_bPageFailed) break;
    }
    dc.Detach();
    if (info.m_bPageFailed && !info.m_bPreview) {
      printer.abort();
      painter.end();
      const QString file = printer.outputFileName();
      if (!file.isEmpty()) QFile::remove(file);
    } else {
      started = painter.end();
    }
  }
  view->OnEndPrinting(&dc, &info);
  return started;
}

}  // namespace

bool CView::OnPreparePrinting(CPrintInfo* info) { return DoPreparePrinting(info); }

bool CView::DoPreparePrinting(CPrintInfo* info) {
  CWinApp* app = AfxGetApp();
  CPrintDialog* dialog = info->m_pPD.get();
  if (info->m_bDirect || info->m_bPreview) {
    // No dialog: the application's printer as it stands.
    dialog->m_settings = app != nullptr ? app->PrinterDefaults() : CPrinterSettings::SystemDefault();
    return true;
  }
  if (app != nullptr) return app->DoPrintDialog(dialog) == IDOK;
  dialog->m_settings = CPrinterSettings::SystemDefault();
  return dialog->DoModal() == IDOK;
}

void CView::OnFilePrint(bool direct) {
  CPrintInfo info;
  info.m_bDirect = direct;
  if (!OnPreparePrinting(&info)) return;
  CPrinterSettings settings = info.m_pPD->m_settings;
  if (settings.WritesFile()) {
    const QString file = PromptPrintFileName(settings.outputFileName);
    if (file.isEmpty()) return;  // the file prompt was cancelled: no job
    settings.outputFileName = file;
  }
  QPrinter printer(QPrinter::HighResolution);
  settings.ApplyTo(printer);
  if (GetDocument() != nullptr) printer.setDocName(GetDocument()->GetTitle());
  if (!PrintPages(this, printer, info)) {
    const QString why = settings.WritesFile()
                            ? QString::fromLatin1(kFileNotWritable).arg(QDir::toNativeSeparators(settings.outputFileName))
                            : QString::fromLatin1(kPrinterUnavailable).arg(settings.printerName);
    AfxMessageBox(QString::fromLatin1(kFailedToStartPrint).arg(why), MB_OK | MB_ICONEXCLAMATION);
  }
}

void CView::OnFilePrintPreview() {
  CPrintInfo info;
  info.m_bPreview = true;
  if (!OnPreparePrinting(&info)) return;
  QPrinter printer(QPrinter::HighResolution);
  info.m_pPD->m_settings.ApplyTo(printer, false);
  CPrintPreviewDialog preview(&printer, window());
  connect(&preview, &CPrintPreviewDialog::paintRequested, this,
          [this, &info](QPrinter* target) { PrintPages(this, *target, info); });
  RunModal(preview);
  if (preview.PrintRequested()) OnFilePrint(false);
}

// ---------------------------------------------------------------------------------------
// The application's printer.

const CPrinterSettings& CWinApp::PrinterDefaults() {
  if (!printer_) printer_ = CPrinterSettings::SystemDefault();
  return *printer_;
}

void CWinApp::SetPrinterDefaults(const CPrinterSettings& settings) { printer_ = settings; }

int CWinApp::DoPrintDialog(CPrintDialog* dialog) {
  dialog->m_settings = PrinterDefaults();
  const int result = dialog->DoModal();
  if (result == IDOK) printer_ = dialog->m_settings;
  return result;
}

void CWinApp::OnFilePrintSetup() {
  CPrintDialog dialog(true, PD_ALLPAGES | PD_USEDEVMODECOPIES | PD_NOSELECTION, m_pMainWnd);
  DoPrintDialog(&dialog);
}

}  // namespace orvax::framework
