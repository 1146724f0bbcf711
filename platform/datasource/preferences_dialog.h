// The data source's preferences: colour management, monitor gamma and the three profiles
// on the first pages, the slide feeder and the holder on the device page, and on the last
// the automatic save of every scan (on or off, folder, file name stem, format and quality).
#pragma once

#include "virtual_scanner.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QDoubleSpinBox;
class QLineEdit;
class QSpinBox;
class QTabWidget;

namespace orvax::ds {

class PreferencesDialog : public QDialog {
  Q_OBJECT
 public:
  PreferencesDialog(VirtualScanner& scanner, int page, QWidget* parent);

  // Stores the dialog's values. Returns whether something changed that the open data
  // source must be reopened for, and sets GAMMACHANGED when the monitor gamma changed.
  bool Apply(bool* gammaChanged);

 private:
  // Fills the quality list for the chosen format, keeping QUALITY when it belongs to it.
  void FillQualities(int quality);
  QLineEdit* ProfileRow(QFormLayout* form, const QString& label, const QString& name, const QString& path);

  VirtualScanner& scanner_;
  QTabWidget* tabs_;
  QCheckBox* useCms_;
  QDoubleSpinBox* gamma_;
  QLineEdit* monitor_;
  QLineEdit* printer_;
  QLineEdit* cmyk_;
  QCheckBox* feeder_;
  QSpinBox* slides_;
  QCheckBox* media_;
  QCheckBox* autoSave_;
  QLineEdit* autoFolder_;
  QLineEdit* autoStem_;
  QComboBox* autoFormat_;
  QComboBox* autoQuality_;
};

}  // namespace orvax::ds
