// The virtual film scanner's own window, shown while the data source is enabled: a tool
// window of the application's main window with the preview of the slide (where the user
// drags the area to scan), resolution, film type, colour space, the slide (a built-in frame
// or the film holder's files) and the film it is on, Preview, Scan and Cancel, the slide-feeder
// controls and the progress of the scan.
#pragma once

#include "frames.h"
#include "scan_device.h"
#include "scan_script.h"

#include <QElapsedTimer>
#include <QImage>
#include <QSizeF>
#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace orvax::ds {

class AdvancedPanel;
class VirtualScanner;

// The preview of the slide, where a rectangle dragged with the mouse chooses the area to
// scan. A click without a drag chooses the whole frame again.
class PreviewArea : public QWidget {
  Q_OBJECT
  // For the application's tests, which see the window only as widgets.
  Q_PROPERTY(QRectF area READ Area)
  Q_PROPERTY(QRect imageRect READ ImageRect)
 public:
  explicit PreviewArea(QWidget* parent = nullptr);

  void SetImage(const QImage& image);
  // The chosen area in fractions of the frame; empty for the whole frame.
  QRectF Area() const { return area_; }
  void SetArea(const QRectF& area);
  // Where the frame is drawn, in the widget's coordinates.
  QRect ImageRect() const;
  QSize sizeHint() const override { return {300, 200}; }

 signals:
  void areaChanged();

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QPointF ToFrame(const QPoint& point) const;
  void Drag(const QPoint& to);

  QImage image_;
  QRectF area_;
  bool dragging_ = false;
  QPointF anchor_;
};

class ScanWindow : public QWidget {
  Q_OBJECT
 public:
  ScanWindow(VirtualScanner& scanner, QWidget* parent);

  // A scan as the window's controls describe it.
  ScanJob Job() const;
  // Shows SLIDE, read in the current film type at a low resolution, in the preview.
  void ShowSlide(const Slide& slide);
  void SetProgress(double fraction);
  // A line under the preview: a slide that could not be read, the files the holder skips.
  void ShowStatus(const QString& text);
  QString Status() const;
  // Re-reads the item lists after the application's menus changed them.
  void Refresh();
  // While a scan runs the controls that would change it are disabled.
  void SetScanning(bool scanning);
  // A quick low-resolution pass of the current slide into the preview.
  void Preview();
  // The device a scan reads from: "virtual" or the name of a SANE device.
  QString DeviceName() const;
  // Chooses device NAME (and remembers it), listing the devices again when it is not among
  // them; false when it is not connected.
  bool ChooseDevice(const QString& name);
  // Lists the virtual scanner and the SANE devices connected now (at the start only when the
  // device chosen last time is one of them; Refresh lists them at any time).
  void RefreshDevices();
  // The further options the person set for the chosen device (the Advanced panel's), in
  // the order they were set.
  OptionSettings AdvancedSettings() const;
  // Opens the Advanced panel of the chosen SANE device.
  void ShowAdvanced();
  // The resolution a device took in place of the one asked for.
  void ShowResolutionTaken(int dpi);
  // The line under the device list (hidden when empty).
  void SetDeviceNote(const QString& text);
  // Puts the window where it was (STORED: the position of its frame and its size) or, the
  // first time, over the middle of the main window; on the screen either way.
  void Place(const QRect& stored);

 signals:
  void scanRequested();
  void feederRequested();
  void cancelRequested();
  // The user chose another film type or colour space here.
  void itemsChanged();
  // Another device was chosen (and remembered).
  void deviceChanged();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // The slide a scan would read now: a built-in frame at the chosen resolution, or the
  // holder's current file; false with the reason when there is none or it cannot be read.
  bool CurrentSlide(Slide* slide, QString* why) const;
  void UpdateInformation();
  // The preview of a SANE device: its whole bed at a low resolution.
  void PreviewDevice();
  // What a change of slide, film or device shows: the virtual scanner previews at once; a
  // real device keeps its last preview, or waits for Preview.
  void AutoPreview();
  // Stops the preview pass under way.
  void CancelPreview();
  // Moves and, when it must, shrinks the window so that it lies on its screen.
  void KeepOnScreen();

  VirtualScanner& scanner_;
  PreviewArea* preview_;
  QLabel* information_;
  QLabel* status_;
  QComboBox* device_;
  QLabel* deviceNote_;
  QSpinBox* resolution_;
  QComboBox* filmType_;
  QComboBox* colorSpace_;
  QComboBox* slide_;
  QComboBox* film_;
  QLineEdit* holder_;
  QSpinBox* slides_;
  QProgressBar* progress_;
  QElapsedTimer progressPainted_;  // since the progress bar was last painted
  int paintedProgress_ = 0;
  QPushButton* previewButton_;
  QPushButton* advancedButton_;
  AdvancedPanel* advanced_ = nullptr;
  QList<QWidget*> settingsWidgets_;
  bool refreshing_ = false;
  QSize frameSize_;  // of the slide the preview shows
  QSizeF bedInches_;  // of the SANE device the preview shows
  QString previewed_;  // the SANE device the preview shows
  ScanDevice* previewing_ = nullptr;  // the device of the preview pass under way
  bool previewCancelled_ = false;
};

}  // namespace orvax::ds
