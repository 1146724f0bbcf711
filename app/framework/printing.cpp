#include "framework/printing.h"

#include "framework/document.h"
#include "framework/view.h"
#include "framework/win_app.h"
#include "qpainter_dc.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QToolBar>
#include <QVBoxLayout>

namespace orvax::framework {

namespace {

std::function<int(QDialog&)> g_modalHook;
std::function<QString(const QString&)> g_fileHook;

// Shown when the printer cannot take the job, with the reason.
const char* const kFailedToStartPrint = "Failed to start the print job: %1";
const char* const kFileNotWritable = "the file %1 cannot be written.";
const char* const kPrinterUnavailable = "the printer %1 is not available.";

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
// The print dialog.

CPrintDialog::CPrintDialog(bool printSetupOnly, unsigned flags, QWidget* parent) : QDialog(parent) {
  m_pd.Flags = flags | (printSetupOnly ? PD_PRINTSETUP : 0u);
  setWindowTitle(printSetupOnly ? QStringLiteral("Print Setup") : QStringLiteral("Print"));
}

CPrintDialog::~CPrintDialog() = default;

void CPrintDialog::Create() {
  if (created_) return;
  created_ = true;
  auto* main = new QVBoxLayout(this);

  auto* printerGroup = new QGroupBox(QStringLiteral("Printer"), this);
  auto* grid = new QGridLayout(printerGroup);
  printers_ = new QComboBox(printerGroup);
  printers_->setObjectName(QStringLiteral("1139"));
  properties_ = new QPushButton(QStringLiteral("&Properties"), printerGroup);
  properties_->setObjectName(QStringLiteral("1025"));
  status_ = new QLabel(printerGroup);
  type_ = new QLabel(printerGroup);
  where_ = new QLabel(printerGroup);
  comment_ = new QLabel(printerGroup);
  printToFile_ = new QCheckBox(QStringLiteral("Print to fi&le"), printerGroup);
  printToFile_->setObjectName(QStringLiteral("1040"));
  // A label's "&" marks its mnemonic only when it has a buddy; without one it would show.
  auto* nameLabel = new QLabel(QStringLiteral("&Name:"), printerGroup);
  nameLabel->setBuddy(printers_);
  grid->addWidget(nameLabel, 0, 0);
  grid->addWidget(printers_, 0, 1);
  grid->addWidget(properties_, 0, 2);
  grid->addWidget(new QLabel(QStringLiteral("Status:"), printerGroup), 1, 0);
  grid->addWidget(status_, 1, 1, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("Type:"), printerGroup), 2, 0);
  grid->addWidget(type_, 2, 1, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("Where:"), printerGroup), 3, 0);
  grid->addWidget(where_, 3, 1, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("Comment:"), printerGroup), 4, 0);
  grid->addWidget(comment_, 4, 1);
  grid->addWidget(printToFile_, 4, 2);
  grid->setColumnStretch(1, 1);
  main->addWidget(printerGroup);

  auto* row = new QHBoxLayout;
  rangeGroup_ = new QGroupBox(QStringLiteral("Print range"), this);
  auto* range = new QVBoxLayout(rangeGroup_);
  auto* all = new QRadioButton(QStringLiteral("&All"), rangeGroup_);
  all->setChecked(true);
  range->addWidget(all);
  range->addWidget(new QRadioButton(QStringLiteral("Pa&ges"), rangeGroup_));
  range->addWidget(new QRadioButton(QStringLiteral("&Selection"), rangeGroup_));
  row->addWidget(rangeGroup_);
  copiesGroup_ = new QGroupBox(QStringLiteral("Copies"), this);
  auto* copies = new QGridLayout(copiesGroup_);
  copies_ = new QSpinBox(copiesGroup_);
  copies_->setObjectName(QStringLiteral("1154"));
  copies_->setRange(1, 9999);
  collate_ = new QCheckBox(QStringLiteral("C&ollate"), copiesGroup_);
  collate_->setObjectName(QStringLiteral("1041"));
  auto* copiesLabel = new QLabel(QStringLiteral("Number of &copies:"), copiesGroup_);
  copiesLabel->setBuddy(copies_);
  copies->addWidget(copiesLabel, 0, 0);
  copies->addWidget(copies_, 0, 1);
  copies->addWidget(collate_, 1, 0, 1, 2);
  row->addWidget(copiesGroup_);
  main->addLayout(row);

  BuildTemplate(main);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setObjectName(QStringLiteral("1"));
  ok_->setDefault(true);
  cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancel_->setObjectName(QStringLiteral("2"));
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  main->addLayout(buttons);

  // Page numbers and a selection mean nothing when the job is one page of one image.
  rangeGroup_->setVisible((m_pd.Flags & (PD_NOPAGENUMS | PD_NOSELECTION)) != (PD_NOPAGENUMS | PD_NOSELECTION));
  printToFile_->setVisible(!(m_pd.Flags & PD_HIDEPRINTTOFILE));
  if (IsPrintSetup()) {
    rangeGroup_->hide();
    copiesGroup_->hide();
    printToFile_->hide();
  }
  copies_->setValue(std::max(1, (m_pd.Flags & PD_USEDEVMODECOPIES) ? m_settings.copies : m_pd.nCopies));
  collate_->setChecked((m_pd.Flags & PD_USEDEVMODECOPIES) ? m_settings.collate : (m_pd.Flags & PD_COLLATE) != 0);
  printToFile_->setChecked(m_settings.printToFile || (m_pd.Flags & PD_PRINTTOFILE));
  pageLayout_ = m_settings.pageLayout;
  FillPrinterList();
  ShowPrinterInfo();

  connect(printers_, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] {
    pageLayout_ = QPageLayout();  // another printer brings its own paper
    ShowPrinterInfo();
    OnPrinterChanged();
  });
  connect(properties_, &QPushButton::clicked, this, &CPrintDialog::OnProperties);
  connect(ok_, &QPushButton::clicked, this, [this] { OnOK(); });
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

  OnInitDialog();
}

int CPrintDialog::DoModal() {
  Create();
  return RunModal(*this);
}

QWidget* CPrintDialog::GetDlgItem(int id) const { return findChild<QWidget*>(QString::number(id)); }

void CPrintDialog::FillPrinterList() {
  QSignalBlocker block(printers_);
  printers_->clear();
  for (const QString& name : QPrinterInfo::availablePrinterNames()) printers_->addItem(name, name);
  printers_->addItem(PdfPrinterLabel(), QString());
  // A printer that has gone since it was chosen gives way to the PDF writer.
  const int index = m_settings.IsPdf() ? -1 : printers_->findData(m_settings.printerName);
  printers_->setCurrentIndex(index >= 0 ? index : printers_->count() - 1);
}

bool CPrintDialog::SelectPrinter(const QString& name) {
  Create();
  const int index = printers_->findData(name);
  if (index < 0) return false;
  printers_->setCurrentIndex(index);
  return true;
}

void CPrintDialog::ShowPrinterInfo() {
  const QString name = printers_->currentData().toString();
  if (name.isEmpty()) {
    status_->setText(QStringLiteral("Ready"));
    type_->setText(QStringLiteral("PDF"));
    where_->setText(m_settings.outputFileName.isEmpty() ? QStringLiteral("FILE:") : m_settings.outputFileName);
    comment_->clear();
    // The PDF writer always prints to a file.
    printToFile_->setChecked(true);
    printToFile_->setEnabled(false);
    return;
  }
  const QPrinterInfo info = QPrinterInfo::printerInfo(name);
  switch (info.state()) {
    case QPrinter::Idle: status_->setText(QStringLiteral("Ready")); break;
    case QPrinter::Active: status_->setText(QStringLiteral("Printing")); break;
    case QPrinter::Aborted: status_->setText(QStringLiteral("Aborted")); break;
    default: status_->setText(QStringLiteral("Error")); break;
  }
  type_->setText(info.makeAndModel());
  where_->setText(info.location());
  comment_->setText(info.description());
  printToFile_->setEnabled(true);
  printToFile_->setChecked(m_settings.printToFile && name == m_settings.printerName);
}

QString CPrintDialog::StatusText() const { return status_ ? status_->text() : QString(); }
QString CPrintDialog::TypeText() const { return type_ ? type_->text() : QString(); }
QString CPrintDialog::WhereText() const { return where_ ? where_->text() : QString(); }
QString CPrintDialog::CommentText() const { return comment_ ? comment_->text() : QString(); }

CPrinterSettings CPrintDialog::CurrentSettings() const {
  CPrinterSettings settings = m_settings;
  if (!created_) return settings;
  settings.printerName = printers_->currentData().toString();
  settings.printToFile = !settings.IsPdf() && printToFile_->isChecked();
  settings.pageLayout = pageLayout_;
  if (!IsPrintSetup()) {
    settings.copies = copies_->value();
    settings.collate = collate_->isChecked();
  }
  return settings;
}

void CPrintDialog::OnProperties() {
  QPrinter printer(QPrinter::HighResolution);
  CurrentSettings().ApplyTo(printer, false);
  QPageSetupDialog dialog(&printer, this);
  if (RunModal(dialog) == IDOK) pageLayout_ = printer.pageLayout();
  OnPrinterChanged();
}

void CPrintDialog::OnOK() {
  m_settings = CurrentSettings();
  m_pd.nCopies = m_settings.copies;
  m_pd.Flags = (m_pd.Flags & ~(PD_PRINTTOFILE | PD_COLLATE)) | (m_settings.WritesFile() ? PD_PRINTTOFILE : 0u) |
               (m_settings.collate ? PD_COLLATE : 0u);
  accept();
}

// ---------------------------------------------------------------------------------------
// Print information.

CPrintInfo::CPrintInfo()
    : m_pPD(std::make_unique<CPrintDialog>(false, PD_ALLPAGES | PD_USEDEVMODECOPIES | PD_NOSELECTION)) {}

CPrintInfo::~CPrintInfo() = default;

// ---------------------------------------------------------------------------------------
// Device context.

CDC::CDC(QPaintDevice* device) : device_(device) {}
CDC::~CDC() = default;

void CDC::Attach(QPainter* painter) {
  painter_ = painter;
  hdc_.reset();
  if (painter_ != nullptr) {
    painter_->setFont(font_);
    painter_->setPen(Qt::black);
    ApplyMapping();
  }
}

void CDC::Detach() {
  hdc_.reset();
  painter_ = nullptr;
}

int CDC::GetDeviceCaps(int index) const {
  if (device_ == nullptr) return 0;
  switch (index) {
    case HORZRES: return device_->width();
    case VERTRES: return device_->height();
    case LOGPIXELSX: return device_->logicalDpiX();
    case LOGPIXELSY: return device_->logicalDpiY();
    default: return 0;
  }
}

QFont CDC::SelectObject(const QFont& font) {
  QFont previous = font_;
  font_ = font;
  if (painter_ != nullptr) painter_->setFont(font_);
  return previous;
}

void CDC::SelectStockFont() { SelectObject(QFont()); }

int CDC::GetTextHeight() const { return QFontMetrics(font_, device_).height(); }

QSize CDC::GetTextExtent(const QString& text) const {
  const QFontMetrics metrics(font_, device_);
  return {metrics.horizontalAdvance(text), metrics.height()};
}

unsigned CDC::SetTextAlign(unsigned align) {
  const unsigned previous = align_;
  align_ = align;
  return previous;
}

void CDC::TextOut(int x, int y, const QString& text) {
  if (painter_ == nullptr) return;
  const QFontMetrics metrics(font_, device_);
  int left = x;
  if ((align_ & TA_CENTER) == TA_CENTER) left = x - metrics.horizontalAdvance(text) / 2;
  else if (align_ & 2u) left = x - metrics.horizontalAdvance(text);  // TA_RIGHT
  const int baseline = (align_ & TA_BASELINE) == TA_BASELINE ? y : y + metrics.ascent();
  painter_->drawText(QPoint(left, baseline), text);
}

int CDC::SetMapMode(int mode) {
  const int previous = mapMode_;
  mapMode_ = mode;
  ApplyMapping();
  return previous;
}

QSize CDC::SetWindowExt(int cx, int cy) {
  const QSize previous = windowExt_;
  windowExt_ = QSize(cx, cy);
  ApplyMapping();
  return previous;
}

QSize CDC::SetViewportExt(int cx, int cy) {
  const QSize previous = viewportExt_;
  viewportExt_ = QSize(cx, cy);
  ApplyMapping();
  return previous;
}

QPoint CDC::SetViewportOrg(int x, int y) {
  const QPoint previous = viewportOrg_;
  viewportOrg_ = QPoint(x, y);
  ApplyMapping();
  return previous;
}

void CDC::ApplyMapping() {
  hdc_.reset();
  if (painter_ == nullptr) return;
  if (mapMode_ == MM_ANISOTROPIC && windowExt_.width() != 0 && windowExt_.height() != 0) {
    painter_->setWindow(QRect(QPoint(0, 0), windowExt_));
    painter_->setViewport(QRect(viewportOrg_, viewportExt_));
    painter_->setViewTransformEnabled(true);
  } else if (!viewportOrg_.isNull()) {
    const QSize device(GetDeviceCaps(HORZRES), GetDeviceCaps(VERTRES));
    painter_->setWindow(QRect(QPoint(0, 0), device));
    painter_->setViewport(QRect(viewportOrg_, device));
    painter_->setViewTransformEnabled(true);
  } else {
    painter_->setViewTransformEnabled(false);
  }
}

win::DeviceContext* CDC::GetSafeHdc() {
  if (painter_ == nullptr) return nullptr;
  if (!hdc_) {
    // Drawing is limited to what lands on the device, in logical coordinates.
    const QRectF device(0, 0, GetDeviceCaps(HORZRES), GetDeviceCaps(VERTRES));
    bool invertible = false;
    const QTransform toLogical = painter_->combinedTransform().inverted(&invertible);
    const QRect bounds = invertible ? toLogical.mapRect(device).toAlignedRect() : QRect();
    hdc_ = std::make_unique<app::QPainterDC>(*painter_, bounds);
  }
  return hdc_.get();
}

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
