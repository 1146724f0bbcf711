// The panel of a SANE device's further options: every option the scanner window's own
// controls do not stand for, built from the device's option descriptors and grouped as the
// device groups them. Ranges are spin boxes in the option's unit, word and string lists are
// lists, booleans are check boxes, buttons are buttons; an option inactive now, or one the
// device sets itself, is shown disabled; advanced options show on request. A change is set
// on the device at once and the panel is read again from it (built anew when the device says
// its options changed). What the person set is kept, in order, and set again on the device
// before each preview and scan.
#pragma once

#include "scan_device.h"

#include <QMap>
#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;
class QScrollArea;

namespace orvax::ds {

class AdvancedPanel : public QWidget {
  Q_OBJECT
 public:
  explicit AdvancedPanel(QWidget* parent);

  // Shows the options of DEVICE (a SANE device name) with SETTINGS set on it.
  void ShowDevice(const QString& device, const OptionSettings& settings);
  QString Device() const { return device_; }
  const OptionSettings& Settings() const { return settings_; }
  // While a scan runs the options cannot change.
  void SetScanning(bool scanning);
  // The line under the options: why a value was refused, or why the device cannot be read.
  QString Status() const;

 signals:
  // The person changed SETTINGS of the device.
  void settingsChanged(const QString& device, const OptionSettings& settings);
  // The frame the device would scan changed size or kind.
  void parametersChanged();

 private:
  // Opens the device with the settings set on it; null with the reason shown.
  std::unique_ptr<ScanDevice> Open();
  void Set(const QString& name, const QVariant& value);
  // Builds the widgets for OPTIONS anew.
  void Build(const QList<DeviceOption>& options);
  // Puts the values and states of OPTIONS into the widgets built for them.
  void Fill(const QList<DeviceOption>& options);
  void ShowStatus(const QString& text);

  QString device_;
  OptionSettings settings_;
  QList<DeviceOption> options_;
  QCheckBox* showAdvanced_;
  QPushButton* defaults_;
  QScrollArea* scroll_;
  QLabel* status_;
  bool filling_ = false;
};

}  // namespace orvax::ds
