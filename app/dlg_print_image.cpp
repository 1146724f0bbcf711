#include "dlg_print_image.h"

#include "framework/win_app.h"
#include "masked_edit.h"
#include "string_table.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPrinter>
#include <QPrinterInfo>
#include <QRadioButton>
#include <QVBoxLayout>

namespace orvax::app {

using framework::AfxMessageBox;
using framework::MB_ICONEXCLAMATION;
using framework::MB_OK;

namespace {
const char* const kInvalidResolution = "Invalid Resolution Value.";
}

CDlgPrintImage::CDlgPrintImage(bool printSetupOnly, unsigned flags, QWidget* parent)
    : framework::CPrintDialog(printSetupOnly, flags, parent) {}

CDlgPrintImage::~CDlgPrintImage() = default;

std::optional<PrinterCaps> CDlgPrintImage::ReadPrinterCaps(const framework::CPrinterSettings& settings) {
  // A printer the system no longer lists cannot be asked.
  if (!settings.IsPdf() && QPrinterInfo::printerInfo(settings.printerName).isNull()) return std::nullopt;
  QPrinter printer(QPrinter::HighResolution);
  settings.ApplyTo(printer, false);
  if (!printer.isValid()) return std::nullopt;
  PrinterCaps caps{printer.width(), printer.height(), printer.logicalDpiX(), printer.logicalDpiY()};
  if (caps.horzRes <= 0 || caps.vertRes <= 0 || caps.logPixelsX <= 0 || caps.logPixelsY <= 0) return std::nullopt;
  return caps;
}

void CDlgPrintImage::BuildTemplate(QVBoxLayout* layout) {
  // Only the image template carries the Scale group; a setup dialog has none.
  if (IsPrintSetup() || !(m_pd.Flags & framework::PD_ENABLEPRINTTEMPLATE)) return;
  auto* group = new QGroupBox(QStringLiteral("Scale"), this);
  auto* box = new QVBoxLayout(group);
  fit_ = new QRadioButton(QStringLiteral("Fit to page"), group);
  fit_->setObjectName(QString::number(IDC_FIT_TO_PAGE));
  resolution_ = new QRadioButton(QStringLiteral("Resolution"), group);
  resolution_->setObjectName(QString::number(IDC_RESOLUTION));
  edit_ = new CMaskedEdit(group);
  edit_->setObjectName(QString::number(IDC_RESOLUTION_EDIT));
  warning_ = new QLabel(group);
  warning_->setObjectName(QString::number(IDC_WARNING));
  warning_->setWordWrap(true);
  auto* row = new QHBoxLayout;
  row->addWidget(resolution_);
  row->addWidget(edit_);
  row->addWidget(new QLabel(QStringLiteral("dpi"), group));
  row->addStretch(1);
  box->addWidget(fit_);
  box->addLayout(row);
  box->addWidget(warning_);
  layout->addWidget(group);
  connect(fit_, &QRadioButton::clicked, this, &CDlgPrintImage::OnFit);
  connect(resolution_, &QRadioButton::clicked, this, &CDlgPrintImage::OnResolution);
  connect(edit_, &QLineEdit::textChanged, this, [this] {
    if (resolution_->isChecked()) UpdateWarning();
  });
}

void CDlgPrintImage::OnInitDialog() {
  if (IsPrintSetup() || fit_ == nullptr) return;
  fit_->setChecked(m_bFitToPage);
  resolution_->setChecked(!m_bFitToPage);
  edit_->SetMask(QStringLiteral("99999"));
  edit_->setText(QString::number(m_nResolution));
  warning_->hide();
  // The edit box is open exactly when "Resolution" is chosen.
  edit_->setEnabled(!m_bFitToPage);
  if (!m_bFitToPage) UpdateWarning();
}

void CDlgPrintImage::OnFit() {
  edit_->setEnabled(false);
  warning_->hide();
}

void CDlgPrintImage::OnResolution() {
  edit_->setEnabled(true);
  UpdateWarning();
}

void CDlgPrintImage::OnPrinterChanged() {
  if (resolution_ != nullptr && resolution_->isChecked()) UpdateWarning();
}

int CDlgPrintImage::EditResolution() const {
  if (edit_ == nullptr) return 0;
  bool ok = false;
  const int value = edit_->text().trimmed().toInt(&ok);
  return ok ? value : 0;
}

void CDlgPrintImage::UpdateWarning() {
  if (warning_ == nullptr) return;
  std::optional<PrinterCaps> caps;
  if (capsSource_) caps = capsSource_(CurrentSettings());
  const int id = PrintWarningFor(caps, m_rectImage.right - m_rectImage.left, m_rectImage.bottom - m_rectImage.top,
                                 EditResolution());
  const QString text = id != 0 ? LoadString(id) : QString();
  warning_->setText(text);
  warning_->setVisible(!text.isEmpty());
}

void CDlgPrintImage::OnOK() {
  if (!IsPrintSetup() && fit_ != nullptr) {
    m_bFitToPage = fit_->isChecked();
    if (!m_bFitToPage) {
      const int value = EditResolution();
      if (value <= 0 || value > 32000) {
        AfxMessageBox(QString::fromLatin1(kInvalidResolution), MB_OK | MB_ICONEXCLAMATION);
        return;  // the dialog stays open
      }
      m_nResolution = value;
    }
  }
  framework::CPrintDialog::OnOK();
}

}  // namespace orvax::app
