// The print dialog: printer choice, Properties (Qt's page setup), status, type, where and
// comment of the chosen printer, print to file, copies and collation.
#include "framework/printing.h"

#include "framework/win_app.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace orvax::framework {

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

}  // namespace orvax::framework
