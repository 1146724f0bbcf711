#include "preferences_dialog.h"

#include <QCheckBox>
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

  tabs_->setCurrentIndex(page >= 0 && page < tabs_->count() ? page : 0);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(buttons);
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
  const auto setProfile = [&](QLineEdit* edit, const QString& current, void (VirtualScanner::*set)(const QString&)) {
    const QString text = edit->text().trimmed();
    if (text != current) {
      (scanner_.*set)(text);
      reopen = true;
    }
  };
  setProfile(monitor_, scanner_.MonitorProfile(), &VirtualScanner::SetMonitorProfile);
  setProfile(printer_, scanner_.PrinterProfile(), &VirtualScanner::SetPrinterProfile);
  setProfile(cmyk_, scanner_.CMYKProfile(), &VirtualScanner::SetCMYKProfile);
  if (feeder_->isChecked() != scanner_.FeederAttached()) {
    scanner_.SetFeederAttached(feeder_->isChecked());
    reopen = true;
  }
  scanner_.SetSlidesLoaded(slides_->value());
  scanner_.SetMediaLoaded(media_->isChecked());
  *gammaChanged = std::abs(gamma_->value() - scanner_.MonitorGamma()) > 1e-9;
  if (*gammaChanged) scanner_.SetMonitorGamma(gamma_->value());
  return reopen;
}

}  // namespace orvax::ds
