// The virtual film scanner's own window, shown while the data source is enabled: a preview
// of the slide, resolution, film type, colour space and slide (a built-in frame or the film
// holder's files), Scan and Cancel, and the slide-feeder controls.
#pragma once

#include "frames.h"
#include "scan_script.h"

#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QSpinBox;

namespace orvax::ds {

class VirtualScanner;

class ScanWindow : public QWidget {
  Q_OBJECT
 public:
  ScanWindow(VirtualScanner& scanner, QWidget* parent);

  // A scan as the window's controls describe it.
  ScanJob Job() const;
  void ShowPreview(const Frame& frame);
  void SetProgress(double fraction);

 signals:
  void scanRequested();
  void feederRequested();
  void cancelRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Refresh();

  VirtualScanner& scanner_;
  QLabel* preview_;
  QSpinBox* resolution_;
  QComboBox* filmType_;
  QComboBox* colorSpace_;
  QComboBox* slide_;
  QLineEdit* holder_;
  QSpinBox* slides_;
  QProgressBar* progress_;
};

}  // namespace orvax::ds
