// The TWAIN side of the data source: DS_Entry's triplets, the capabilities the application
// negotiates (twain_capabilities.cpp), the source's own window and events, the device read
// on a thread of its own, memory (chunky and planar) and native transfers, the
// pending-transfer count, the user's cancel, the private auto-save records and the scripted
// mode (twain_script.cpp).
#pragma once

#include "datasource/ds_exports.h"
#include "datasource/ds_twain.h"
#include "frames.h"
#include "scan_device.h"
#include "scan_script.h"
#include "scan_window.h"
#include "win/window_messages.h"

#include <QList>
#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace orvax::ds {

class ScanWindow;
class VirtualScanner;

// The data source's version, as its identity and its About box give it.
inline constexpr int kVersionMajor = 2, kVersionMinor = 2;

class TwainSource {
 public:
  explicit TwainSource(VirtualScanner& scanner);
  ~TwainSource();

  twain::TW_UINT16 Entry(twain::TW_IDENTITY* origin, twain::TW_UINT32 dg, twain::TW_UINT16 dat, twain::TW_UINT16 msg,
                         void* data);

  // Starts a scan of JOB when the source is enabled and idle: announces the transfer to the
  // application. False when it cannot start now.
  bool RequestScan(const ScanJob& job);
  // A feeder run of the count set with SetAutoFeeder, from the window's settings.
  bool StartFeeder();
  // The user's Cancel: stops a transfer in progress, or asks to close the source when idle.
  void Cancel();
  int State() const { return state_; }
  ScanWindow* Window() const { return window_; }

 private:
  twain::TW_UINT16 Fail(twain::TW_UINT16 condition);
  twain::TW_UINT16 Identity(twain::TW_UINT16 msg, twain::TW_IDENTITY* identity);
  twain::TW_UINT16 UserInterface(twain::TW_UINT16 msg, twain::TW_USERINTERFACE* ui);
  twain::TW_UINT16 Capability(twain::TW_UINT16 msg, twain::TW_CAPABILITY* cap);
  twain::TW_UINT16 ProcessEvent(twain::TW_EVENT* event);
  twain::TW_UINT16 ImageInfo(twain::TW_IMAGEINFO* info);
  twain::TW_UINT16 SetupMemXfer(twain::TW_SETUPMEMXFER* setup);
  twain::TW_UINT16 MemXfer(twain::TW_IMAGEMEMXFER* xfer);
  twain::TW_UINT16 NativeXfer(twain::TW_HANDLE* handle);
  twain::TW_UINT16 PendingXfers(twain::TW_UINT16 msg, twain::TW_PENDINGXFERS* pending);
  twain::TW_UINT16 AutoSave(twain::TW_UINT16 dat, twain::TW_UINT16 msg, void* data);

  // What the chosen device offers: its pixel types and their depths.
  void ReadDeviceOffer();
  void ResetCapabilities();
  // After a change of device: what it offers, as far as the application takes it, in the
  // capabilities and in the Color Space list.
  void OfferDevice();
  // The Color Space list's entries that the capabilities offer now.
  void PublishColorSpaces();
  QList<int> Depths(int pixelType) const;
  void Post(twain::TW_UINT16 message);
  // Loads the slide the job scans now and sets up its raster; false, with the failure shown
  // and reported, when the slide cannot be read.
  bool PrepareImage();
  // Waits until the raster holds its rows up to ROWS (the scanner's head moving over the
  // film); false when the user cancels or the device fails (shown, the scan cancelled).
  bool EnsureRows(int rows);
  // Reads every frame of the scan before the transfer: for a device that does not know its
  // line count, and for one that sends its colours one after another. A failure is shown.
  bool ReadWhole();
  // The reader thread: the rows of the current (single, interleaved) frame, trimmed to the
  // raster's row and read through the film, into the raster as they come (or, WHOLE, every
  // frame of the scan into wholeRaster_).
  void StartReader(bool whole);
  DeviceStatus ReadFrameRows();
  // Cancels a reading still under way and waits for the thread.
  void StopReader();
  // Runs the window's events until ROWS rows are read or the reading is over; false when it
  // is over short of them (cancelled, or the failure shown), or cancelled.
  bool WaitForRows(int rows);
  // The device the next scan reads from, opened on first use; false when it cannot be.
  bool OpenDevice();
  // COUNT rows of the raster read in the film type of the scan: a SANE device has no film
  // types of its own, so the source inverts negatives and takes their base out itself.
  void ReadThroughFilm(uint8_t* rows, int count) const;
  void CloseDevice();
  // The device's failure REASON, said as SlideFailed says it, naming the device.
  void DeviceFailed(const QString& reason);
  void ShowProgress(double fraction);
  // A slide that cannot be read: said in the window, in the report and, for a person, in a
  // message box.
  void SlideFailed(const QString& text);
  void CloseWindow();
  int RowBytes() const;
  bool Scripted() const { return !script_.isEmpty(); }
  // Reads the script named by $ORVAX_DS_SCRIPT, once for each file.
  void LoadScript();
  void RunNextAction();
  void ScheduleNextAction();
  void Report(const QString& line) const;
  ScanJob JobFromWindow() const;

  VirtualScanner& scanner_;
  int state_ = 3;
  twain::TW_UINT16 condition_ = twain::TWCC_SUCCESS;
  win::HWND parent_ = nullptr;
  win::UINT eventMsg_ = 0;
  QPointer<ScanWindow> window_;

  // Capabilities.
  int xferCount_ = -1;
  int planarChunky_ = twain::TWPC_CHUNKY;
  QList<QList<int>> offered_;      // depths the device offers, by position in kPixelTypes (none: type not offered)
  QList<int> pixelTypes_;          // offered, after the application's restriction
  QList<QList<int>> depths_;       // by position in kPixelTypes, after restriction
  int pixelType_ = twain::TWPT_RGB;
  QList<int> currentDepth_;        // by position in kPixelTypes
  QList<int> appTypes_;             // the pixel types the application takes
  QList<QList<int>> appDepths_;    // the depths it takes, by position in kPixelTypes
  QList<int> mechs_;
  int mech_ = twain::TWSX_NATIVE;

  // The transfer under way.
  ScanJob job_;
  int pending_ = 0;
  bool cancel_ = false;
  Raster raster_;
  std::unique_ptr<ScanDevice> device_;
  QString deviceName_;     // "virtual" or a SANE device name, of the open device
  FrameLayout layout_;     // of the current frame
  FilmType filmType_ = FilmType::ColorPositive;
  bool deviceFailed_ = false;  // the scan under way failed, with the reason shown
  bool preparing_ = false;  // a scan being prepared, its device perhaps read whole
  // The reader thread and what it has done: rows read into raster_ (or wholeRaster_), and
  // once it is over, how it ended.
  std::thread reader_;
  std::mutex readMutex_;
  std::condition_variable readChanged_;
  std::atomic<int> rowsRead_{0};
  std::atomic<bool> readDone_{false};
  DeviceStatus readStatus_;
  bool readingWhole_ = false;
  Raster wholeRaster_;
  int renderedRows_ = 0;
  bool planar_ = false;
  int plane_ = 0;
  int nextRow_ = 0;
  int strips_ = 0;

  // The script, read once a process, and how far it has run.
  QList<ScriptAction> script_;
  QByteArray scriptPath_;
  int scriptPos_ = 0;
  QString offer_ = QStringLiteral("both");
};

}  // namespace orvax::ds
