#include "preferences_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace orvax::ds {

PreferencesDialog::PreferencesDialog(VirtualScanner& scanner, int page, QWidget* parent)
    : QDialog(parent), scanner_(scanner) {
  setObjectName("OrvaxPreferences");
  setWindowTitle(tr("Orvax Scan Preferences"));
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName("pages");
  tabs_->setUsesScrollButtons(false);  // every page's tab in sight

  // Page 0: colour management.
  auto* color = new QWidget;
  auto* colorForm = new QFormLayout(color);
  useCms_ = new QCheckBox(tr("Orvax Color Management System"));
  useCms_->setObjectName("useCms");
  useCms_->setChecked(scanner.UseCMS());
  colorForm->addRow(useCms_);
  gamma_ = new QDoubleSpinBox;
  gamma_->setObjectName("monitorGamma");
  gamma_->setRange(0.1, 10.0);
  gamma_->setDecimals(2);
  gamma_->setSingleStep(0.1);
  gamma_->setValue(scanner.MonitorGamma());
  colorForm->addRow(tr("Monitor gamma:"), gamma_);
  tabs_->addTab(color, tr("Color Management"));

  // Page 1: the profiles.
  auto* profiles = new QWidget;
  auto* profileForm = new QFormLayout(profiles);
  monitor_ = ProfileRow(profileForm, tr("Monitor profile:"), "monitorProfile", scanner.MonitorProfile());
  printer_ = ProfileRow(profileForm, tr("Printer profile:"), "printerProfile", scanner.PrinterProfile());
  cmyk_ = ProfileRow(profileForm, tr("CMYK profile:"), "cmykProfile", scanner.CMYKProfile());
  tabs_->addTab(profiles, tr("Profiles"));

  // Page 2: the device.
  auto* device = new QWidget;
  auto* deviceForm = new QFormLayout(device);
  feeder_ = new QCheckBox(tr("Slide feeder attached"));
  feeder_->setObjectName("feederAttached");
  feeder_->setChecked(scanner.FeederAttached());
  deviceForm->addRow(feeder_);
  slides_ = new QSpinBox;
  slides_->setObjectName("slidesLoaded");
  slides_->setRange(0, 1000);
  slides_->setValue(scanner.SlidesLoaded());
  deviceForm->addRow(tr("Slides in the feeder:"), slides_);
  media_ = new QCheckBox(tr("Film holder inserted"));
  media_->setObjectName("mediaLoaded");
  media_->setChecked(scanner.MediaLoaded());
  deviceForm->addRow(media_);
  tabs_->addTab(device, tr("Device"));

  // Page 3: the automatic save the source asks the application for after each scan.
  auto* save = new QWidget;
  auto* saveForm = new QFormLayout(save);
  autoSave_ = new QCheckBox(tr("Save every scan automatically"));
  autoSave_->setObjectName("autoSave");
  autoSave_->setChecked(scanner.AutoSaveEnabled());
  saveForm->addRow(autoSave_);
  autoFolder_ = new QLineEdit(scanner.AutoSaveFolder());
  autoFolder_->setObjectName("autoSaveFolder");
  auto* browse = new QPushButton(tr("Browse..."));
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Folder for Saved Scans"), autoFolder_->text());
    if (!folder.isEmpty()) autoFolder_->setText(folder);
  });
  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(autoFolder_, 1);
  folderRow->addWidget(browse);
  saveForm->addRow(tr("Folder:"), folderRow);
  autoStem_ = new QLineEdit(scanner.AutoSaveStem());
  autoStem_->setObjectName("autoSaveStem");
  autoStem_->setToolTip(tr("A scan is saved as stem.tif (or .bmp, .jpg, .fpx); when that file exists, as D1_stem.tif, D2_stem.tif, ..."));
  saveForm->addRow(tr("File name stem:"), autoStem_);
  autoFormat_ = new QComboBox;
  autoFormat_->setObjectName("autoSaveFormat");
  autoFormat_->addItem(tr("TIFF"), 0);
  autoFormat_->addItem(tr("BMP"), 2);
  autoFormat_->addItem(tr("JPEG"), 4);
  autoFormat_->addItem(tr("FlashPix"), 129);
  autoFormat_->setCurrentIndex(std::max(0, autoFormat_->findData(scanner.AutoSaveFormat())));
  saveForm->addRow(tr("Format:"), autoFormat_);
  autoQuality_ = new QComboBox;
  autoQuality_->setObjectName("autoSaveQuality");
  saveForm->addRow(tr("Quality:"), autoQuality_);
  FillQualities(scanner.AutoSaveQuality());
  connect(autoFormat_, &QComboBox::currentIndexChanged, this, [this] { FillQualities(autoQuality_->currentData().toInt()); });
  const auto follow = [this] {
    for (QWidget* w : {static_cast<QWidget*>(autoFolder_), static_cast<QWidget*>(autoStem_),
                       static_cast<QWidget*>(autoFormat_)})
      w->setEnabled(autoSave_->isChecked());
    autoQuality_->setEnabled(autoSave_->isChecked() && autoQuality_->count() > 0);
  };
  connect(autoSave_, &QCheckBox::toggled, this, follow);
  connect(autoFormat_, &QComboBox::currentIndexChanged, this, follow);
  follow();
  tabs_->addTab(save, tr("Auto-Save"));

  tabs_->setCurrentIndex(page >= 0 && page < tabs_->count() ? page : 0);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(buttons);
}

void PreferencesDialog::FillQualities(int quality) {
  autoQuality_->clear();
  const int format = autoFormat_->currentData().toInt();
  if (format == 4) {
    // JPEG levels 1 (smallest file) to 5 (best picture).
    for (int level = 1; level <= 5; ++level)
      autoQuality_->addItem(level == 1 ? tr("1 (smallest file)") : level == 5 ? tr("5 (best picture)") : QString::number(level), level);
    const int kept = quality >= 16 ? quality - 16 : quality;
    autoQuality_->setCurrentIndex(std::max(0, autoQuality_->findData(kept >= 1 && kept <= 5 ? kept : 3)));
  } else if (format == 129) {
    // FlashPix: 16 keeps every sample, 16 + n compresses as JPEG level n.
    autoQuality_->addItem(tr("No compression"), 16);
    for (int level = 1; level <= 5; ++level) autoQuality_->addItem(tr("JPEG level %1").arg(level), 16 + level);
    const int kept = quality >= 1 && quality <= 5 ? quality + 16 : quality;
    autoQuality_->setCurrentIndex(std::max(0, autoQuality_->findData(kept)));
  }
  autoQuality_->setEnabled(autoQuality_->count() > 0 && autoSave_->isChecked());
}

QLineEdit* PreferencesDialog::ProfileRow(QFormLayout* form, const QString& label, const QString& name,
                                         const QString& path) {
  auto* edit = new QLineEdit(path);
  edit->setObjectName(name);
  auto* browse = new QPushButton(tr("Browse..."));
  connect(browse, &QPushButton::clicked, this, [this, edit] {
    const QString chosen = QFileDialog::getOpenFileName(this, tr("Choose a Profile"), edit->text(),
                                                        tr("ICC Profiles (*.icc *.icm);;All Files (*)"));
    if (!chosen.isEmpty()) edit->setText(chosen);
  });
  auto* row = new QHBoxLayout;
  row->addWidget(edit, 1);
  row->addWidget(browse);
  form->addRow(label, row);
  return edit;
}

bool PreferencesDialog::Apply(bool* gammaChanged) {
  bool reopen = false;
  if (useCms_->isChecked() != scanner_.UseCMS()) {
    scanner_.SetUseCMS(useCms_->isChecked());
    reopen = true;
  }
  const QString monitor = monitor_->text().trimmed(), printer = printer_->text().trimmed(),
                cmyk = cmyk_->text().trimmed();
  if (monitor != scanner_.MonitorProfile()) {
    scanner_.SetMonitorProfile(monitor);
    reopen = true;
  }
  if (printer != scanner_.PrinterProfile()) {
    scanner_.SetPrinterProfile(printer);
    reopen = true;
  }
  if (cmyk != scanner_.CMYKProfile()) {
    scanner_.SetCMYKProfile(cmyk);
    reopen = true;
  }
  if (feeder_->isChecked() != scanner_.FeederAttached()) {
    scanner_.SetFeederAttached(feeder_->isChecked());
    reopen = true;
  }
  scanner_.SetSlidesLoaded(slides_->value());
  scanner_.SetMediaLoaded(media_->isChecked());
  scanner_.SetAutoSaveEnabled(autoSave_->isChecked());
  scanner_.SetAutoSaveFolder(autoFolder_->text().trimmed());
  scanner_.SetAutoSaveStem(autoStem_->text().trimmed());
  scanner_.SetAutoSaveFormat(autoFormat_->currentData().toInt());
  if (autoQuality_->count() > 0) scanner_.SetAutoSaveQuality(autoQuality_->currentData().toInt());
  *gammaChanged = std::abs(gamma_->value() - scanner_.MonitorGamma()) > 1e-9;
  if (*gammaChanged) scanner_.SetMonitorGamma(gamma_->value());
  return reopen;
}

}  // namespace orvax::ds
