// The scanning devices behind the data source: one small interface that the TWAIN side
// drives for every scan, whichever device the user chose. Rows come out of a device in the
// sample layout of the TWAIN raster its parameters describe (16-bit samples in the
// machine's byte order, 1-bit pixels packed from the high bit with 1 for white), so the TWAIN
// side only cuts them into strips or bitmaps.
#pragma once

#include "frames.h"
#include "scan_script.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>

namespace orvax::ds {

// One option of a device, as its descriptor gives it.
struct DeviceOption {
  enum class Type { Bool, Int, Fixed, String, Button, Group };
  QString name, title, description;
  Type type = Type::Int;
  QString unit;           // "", "pixel", "bit", "mm", "dpi", "%", "us"
  bool active = true, settable = true, advanced = false;
  QString group;          // the title of the group the option is in
  int count = 1;          // values of an Int or Fixed option
  bool isRange = false;
  double min = 0, max = 0, quant = 0;
  QList<double> words;    // a word list
  QStringList strings;    // a string list
  QVariant value;         // the current value (of the first element)
  QVariantList values;    // every element of an array option (COUNT > 1)
};

// What setting an option did besides, as SANE_INFO_* says it.
enum OptionEffect : int {
  kOptionInexact = 1,         // the device took a value near the one asked for
  kOptionReloadOptions = 2,   // other options changed: their descriptors must be read again
  kOptionReloadParams = 4,    // the frame's parameters changed
};

// The options a person chose beyond the window's own controls, in the order they were set:
// set again in that order on a device opened afresh.
using OptionSettings = QList<QPair<QString, QVariant>>;

// What a started frame delivers, in TWAIN's terms.
struct FrameLayout {
  int width = 0;
  int height = -1;           // -1 when the device does not know it before the end
  int pixelType = 0;         // TWPT_*
  int bitsPerSample = 8;
  int samplesPerPixel = 1;
  int bytesPerRow = 0;
  int plane = -1;            // -1: all samples of a pixel together; 0..2: one colour of a three-pass scan
  bool lastFrame = true;
};

// How a device call went. REASON names what went wrong, for a person.
struct DeviceStatus {
  enum class Code { Ok, EndOfFrame, Cancelled, Failed } code = Code::Ok;
  QString reason;
  bool ok() const { return code == Code::Ok; }
  static DeviceStatus Ok() { return {}; }
  static DeviceStatus Fail(const QString& why) { return {Code::Failed, why}; }
};

class ScanDevice {
 public:
  virtual ~ScanDevice() = default;
  // How the window and the messages name the device.
  virtual QString Title() const = 0;
  virtual QList<DeviceOption> Options() = 0;
  // Sets option NAME to VALUE (a list sets each element of an array option; a button is
  // pressed whatever VALUE is); false with the reason in WHY. EFFECT, when given, receives
  // the OptionEffect flags.
  virtual bool SetOption(const QString& name, const QVariant& value, QString* why, int* effect = nullptr) = 0;
  // Maps the scan the window or the script asks for (resolution, colour space and depth,
  // area, film type) onto the device's options.
  // DPI receives the resolution the device took (it may round the one asked for).
  virtual DeviceStatus Setup(const ScanJob& job, int pixelType, int bits, FilmType filmType, int* dpi = nullptr) = 0;
  // Whether the device, as the last Setup left it, reads a negative film type itself (a
  // film scanner's negative adapter); else the data source inverts the negative.
  virtual bool ReadsNegatives() const = 0;
  virtual DeviceStatus Start() = 0;
  virtual DeviceStatus Layout(FrameLayout* layout) = 0;
  // Reads up to MAX bytes of the frame's rows into BUFFER; LENGTH is what came. EndOfFrame
  // once the frame is over.
  virtual DeviceStatus Read(uint8_t* buffer, int max, int* length) = 0;
  virtual void Cancel() = 0;
  virtual void Close() = 0;
};

class VirtualScanner;

// The virtual film scanner: the slide the job names, read in its film type.
class VirtualDevice : public ScanDevice {
 public:
  explicit VirtualDevice(VirtualScanner& scanner) : scanner_(scanner) {}
  QString Title() const override;
  QList<DeviceOption> Options() override;
  bool SetOption(const QString& name, const QVariant& value, QString* why, int* effect = nullptr) override;
  DeviceStatus Setup(const ScanJob& job, int pixelType, int bits, FilmType filmType, int* dpi = nullptr) override;
  // The slide is read in its film type as it is rendered.
  bool ReadsNegatives() const override { return true; }
  DeviceStatus Start() override;
  DeviceStatus Layout(FrameLayout* layout) override;
  DeviceStatus Read(uint8_t* buffer, int max, int* length) override;
  void Cancel() override {}
  void Close() override {}
  // The slide the last Start loaded (for the window's preview) and the file it came from.
  const Slide& CurrentSlide() const { return slide_; }
  QString SlideFile() const { return file_; }

 private:
  VirtualScanner& scanner_;
  ScanJob job_;
  int pixelType_ = 0, bits_ = 8;
  FilmType filmType_ = FilmType::ColorPositive;
  Slide slide_;
  QString file_;
  QRect part_;
  FrameLayout layout_;
  int row_ = 0;        // next row to render
  std::vector<uint8_t> pending_;  // rendered bytes not handed out yet
  size_t pendingAt_ = 0;
};

// A device that SANE drives.
struct SaneDeviceInfo {
  QString name, vendor, model, type;
  // As `scanimage -L` lists it.
  QString Title() const { return QStringLiteral("%1 %2 %3").arg(vendor, model, type); }
};
// The devices SANE finds now; WHY tells why none could be listed.
QList<SaneDeviceInfo> SaneDevices(QString* why = nullptr);
// Opens the SANE device NAME; null with the reason in WHY when it cannot be opened.
std::unique_ptr<ScanDevice> OpenSaneDevice(const QString& name, QString* why);

}  // namespace orvax::ds

namespace orvax::ds {

// Reads the whole scan of a started DEVICE, whose first frame is laid out as LAYOUT, into
// RASTER (interleaved rows): every frame of it (the colours of a three-pass scan put side by
// side), however many rows a device that does not know its length sends. A frame that ends
// early or inside a row fails, and so does any failure of the device. ROWREAD, when given,
// is told the rows read so far.
DeviceStatus ReadWholeImage(ScanDevice& device, FrameLayout layout, Raster* raster,
                            const std::function<void(int rows)>& rowRead = {});
// Sets SETTINGS on DEVICE in their order; one the device refuses now (inactive, or out of
// its range after another change) is left out.
void ApplySettings(ScanDevice& device, const OptionSettings& settings);
// The options a window control stands for: the panel of further options leaves them out.
bool IsWindowOption(const QString& name);

// The interleaved row bytes of a raster of LAYOUT (one colour of a three-pass frame is kept
// as a whole pixel's samples).
int RasterRowBytes(const FrameLayout& layout);

}  // namespace orvax::ds
