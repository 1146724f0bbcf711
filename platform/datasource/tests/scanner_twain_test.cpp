// The virtual film scanner driven through the real data source manager, the way an
// application drives it: a window receives the source's events, hands them to
// MSG_PROCESSEVENT and runs the transfers. What arrives is checked against the frames the
// script asked for (CMYK arrives inverted, planar strips plane by plane, native bitmaps
// bottom-up), and the film holder's slides against the files themselves.
#include "datasource/ds_twain.h"
#include "frames.h"
#include "scan_script.h"
#include "twain/containers.h"
#include "win/module_loader.h"
#include "win/qt/message_window.h"
#include "qt_test_environment.h"

#include <QApplication>
#include <QComboBox>
#include <QStandardItemModel>
#include <QDialog>
#include <QDialogButtonBox>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

using namespace orvax::twain;
using namespace orvax::ds;

namespace {

struct Acquired {
  TW_IMAGEINFO info{};
  std::vector<TW_IMAGEMEMXFER> strips;
  std::vector<std::vector<uint8_t>> stripData;
  TW_UINT16 rc = 0;         // of the last transfer call
  TW_UINT16 condition = 0;  // after a failure
  std::vector<uint8_t> dib;
  AutoSaveRequest autoSave{};
  int pendingAfter = -1;
};

class ScannerTest : public orvax::testing::IsolatedQtTest {
 protected:
  void SetUp() override {
    Isolate(ORVAX_REAL_ROOT);
    qputenv("ORVAX_DS_REPORT", dir_.filePath("report.txt").toLocal8Bit());
    qunsetenv("ORVAX_TWAIN_FAIL");
    dsm_ = orvax::win::LoadLibrary(ORVAX_REAL_ROOT "/TWAIN_32.DLL");
    ASSERT_NE(dsm_, nullptr) << orvax::win::LastModuleError();
    entry_ = reinterpret_cast<DSMENTRYPROC>(orvax::win::GetProcAddress(dsm_, "DSM_Entry"));
    ASSERT_NE(entry_, nullptr);
    window_.setHandler([this](unsigned msg, uintptr_t w, intptr_t l) { return OnMessage(msg, w, l); });
  }

  void TearDown() override {
    CloseAll();
    orvax::win::FreeLibrary(dsm_);
  }

  TW_UINT16 Call(TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
    return entry_(&app_, dest, dg, dat, msg, data);
  }
  TW_UINT16 Condition(TW_IDENTITY* dest) {
    TW_STATUS status{};
    Call(dest, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    return status.ConditionCode;
  }

  // Opens the scanner with SCRIPT as its script; leaves it in state 4.
  void Open(const QString& script) {
    const QString path = dir_.filePath(QString("script%1.txt").arg(++scripts_));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(script.toUtf8());
    file.close();
    qputenv("ORVAX_DS_SCRIPT", path.toLocal8Bit());
    orvax::win::HWND parent = window_.handle();
    ASSERT_EQ(Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent), TWRC_SUCCESS);
    managerOpen_ = true;
    TW_IDENTITY id{};
    for (TW_UINT16 rc = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id); rc == TWRC_SUCCESS;
         rc = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &id)) {
      if (std::strcmp(id.ProductName, "Orvax Scan 2.2") == 0) {
        source_ = id;
        break;
      }
    }
    ASSERT_STREQ(source_.ProductName, "Orvax Scan 2.2");
    ASSERT_EQ(Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source_), TWRC_SUCCESS);
    sourceOpen_ = true;
  }

  void SetOne(TW_UINT16 capId, TW_UINT16 type, long value, TW_UINT16 expected = TWRC_SUCCESS) {
    TW_CAPABILITY cap{capId, TWON_ONEVALUE, OneValue(type, value)};
    EXPECT_EQ(Call(&source_, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap), expected) << capId << " " << value;
    GlobalFree(cap.hContainer);
  }

  // The values offered for CAP and the current one.
  std::vector<int> Offered(TW_UINT16 capId, int* current = nullptr) {
    TW_CAPABILITY cap{capId, TWON_DONTCARE16, nullptr};
    EXPECT_EQ(Call(&source_, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap), TWRC_SUCCESS);
    std::vector<long> read;
    long value = -1;
    EXPECT_TRUE(ReadContainer(cap, &read, &value)) << capId;
    if (current) *current = static_cast<int>(value);
    GlobalFree(cap.hContainer);
    return std::vector<int>(read.begin(), read.end());
  }

  void Enable() {
    TW_USERINTERFACE ui{1, 0, window_.handle()};
    ASSERT_EQ(Call(&source_, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    enabled_ = true;
  }

  // Runs the event loop until WANT images have arrived or the source asked to close.
  void Wait(size_t want) {
    QElapsedTimer timer;
    timer.start();
    while (images_.size() < want && !closeRequested_ && timer.elapsed() < 10000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }

  intptr_t OnMessage(unsigned msg, uintptr_t w, intptr_t l) {
    if (!enabled_) return 0;
    TW_MSG message{window_.handle(), msg, w, l};
    TW_EVENT event{&message, 0};
    if (Call(&source_, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) != TWRC_DSEVENT) return 0;
    if (event.TWMessage == MSG_CLOSEDSREQ) closeRequested_ = true;
    if (event.TWMessage != MSG_XFERREADY) return 0;
    int pending = 1;
    while (pending > 0) {
      Acquired image;
      Call(&source_, DG_IMAGE, DAT_AUTOSAVEREQUEST, MSG_GET, &image.autoSave);
      EXPECT_EQ(Call(&source_, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &image.info), TWRC_SUCCESS);
      if (native_) {
        TW_HANDLE dib = nullptr;
        image.rc = Call(&source_, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib);
        if (image.rc == TWRC_XFERDONE) {
          auto* p = static_cast<uint8_t*>(GlobalLock(dib));
          image.dib.assign(p, p + GlobalSize(dib));
          GlobalUnlock(dib);
          GlobalFree(dib);
        }
      } else {
        TW_SETUPMEMXFER setup{};
        EXPECT_EQ(Call(&source_, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup), TWRC_SUCCESS);
        TW_HANDLE buffer = GlobalAlloc(GMEM_MOVEABLE, setup.Preferred);
        do {
          TW_IMAGEMEMXFER xfer;
          std::memset(&xfer, 0xFF, sizeof xfer);
          xfer.Memory = {TWMF_APPOWNS | TWMF_HANDLE, setup.Preferred, buffer};
          image.rc = Call(&source_, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
          if (QProgressBar* bar = ScannerChild<QProgressBar>("progress")) progress_.push_back(bar->value());
          if (image.rc == TWRC_SUCCESS || image.rc == TWRC_XFERDONE) {
            auto* p = static_cast<uint8_t*>(GlobalLock(buffer));
            image.strips.push_back(xfer);
            image.stripData.emplace_back(p, p + xfer.BytesPerRow * xfer.Rows);
            GlobalUnlock(buffer);
          }
        } while (image.rc == TWRC_SUCCESS);
        GlobalFree(buffer);
        if (image.rc == TWRC_FAILURE) image.condition = Condition(&source_);
      }
      if (image.rc == TWRC_XFERDONE) {
        AutoSaveResult result{};
        result.status = image.autoSave.format == 1 ? 4 : 0;
        const std::string path = std::string(image.autoSave.folder) + "/" + image.autoSave.stem + ".tif";
        CopyText(result.path, sizeof result.path - 1, path);
        if (image.autoSave.enabled) Call(&source_, DG_IMAGE, DAT_AUTOSAVERESULT, MSG_SET, &result);
      }
      TW_PENDINGXFERS xfers{};
      EXPECT_EQ(Call(&source_, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &xfers), TWRC_SUCCESS);
      pending = xfers.Count;
      image.pendingAfter = pending;
      images_.push_back(std::move(image));
    }
    return 0;
  }

  void CloseAll() {
    if (enabled_) {
      TW_USERINTERFACE ui{0, 0, window_.handle()};
      Call(&source_, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
      enabled_ = false;
    }
    if (sourceOpen_) Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_);
    sourceOpen_ = false;
    orvax::win::HWND parent = window_.handle();
    if (managerOpen_) Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent);
    managerOpen_ = false;
  }

  // The interleaved samples the strips of IMAGE carry, planes put back together and CMYK
  // inverted back.
  static std::vector<uint8_t> Assemble(const Acquired& image) {
    const TW_IMAGEINFO& info = image.info;
    const int bits = info.BitsPerSample[0];
    const int spp = info.SamplesPerPixel;
    const int rowBytes = (info.ImageWidth * spp * bits + 7) / 8;
    std::vector<uint8_t> out(static_cast<size_t>(rowBytes) * info.ImageLength);
    int plane = -1;
    const int bytes = bits / 8;
    for (size_t s = 0; s < image.strips.size(); ++s) {
      const TW_IMAGEMEMXFER& x = image.strips[s];
      if (x.YOffset == 0) ++plane;
      for (TW_UINT32 r = 0; r < x.Rows; ++r) {
        const uint8_t* src = image.stripData[s].data() + r * x.BytesPerRow;
        uint8_t* dst = out.data() + static_cast<size_t>(x.YOffset + r) * rowBytes;
        if (!info.Planar) {
          std::memcpy(dst, src, x.BytesPerRow);
        } else {
          for (int px = 0; px < info.ImageWidth; ++px)
            std::memcpy(dst + (static_cast<size_t>(px) * spp + plane) * bytes, src + px * bytes, bytes);
        }
      }
    }
    if (info.PixelType == TWPT_CMYK)
      for (uint8_t& b : out) b = static_cast<uint8_t>(255 - b);
    return out;
  }

  // The scanner's window, once the source is enabled.
  static QWidget* ScannerWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == "OrvaxScanWindow") return w;
    return nullptr;
  }
  template <typename T>
  static T* ScannerChild(const char* name) {
    QWidget* window = ScannerWindow();
    return window != nullptr ? window->findChild<T*>(name) : nullptr;
  }
  // A setting of the scanner, in this test's own configuration folder.
  static void SetScannerSetting(const char* key, const QVariant& value) {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Orvax", "Orvax Scan Data Source").setValue(key, value);
  }

  QStringList ReportLines() const {
    QFile file(dir_.filePath("report.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
  }

  orvax::win::HMODULE dsm_ = nullptr;
  DSMENTRYPROC entry_ = nullptr;
  orvax::win::MessageWindow window_;
  TW_IDENTITY app_{};
  TW_IDENTITY source_{};
  bool managerOpen_ = false, sourceOpen_ = false, enabled_ = false;
  bool closeRequested_ = false;
  bool native_ = false;
  int scripts_ = 0;
  std::vector<Acquired> images_;
  std::vector<int> progress_;  // the scanner's progress bar after each strip
};

// The largest difference between two sample buffers of 8-bit samples, and the mean one.
std::pair<int, double> Difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  int most = 0;
  double sum = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    const int d = std::abs(int(a[i]) - int(b[i]));
    most = std::max(most, d);
    sum += d;
  }
  return {a.size() == b.size() ? most : 256, a.empty() ? 0.0 : sum / a.size()};
}

// A 32-bit BMP (BI_RGB with a fourth byte a pixel), a depth the image library does not read.
// A BMP of 7 bits per pixel, a depth no reader takes.
QByteArray BmpOfUnreadableDepth(int width, int height) {
  QByteArray bmp(54 + width * height * 4, '\0');
  auto put32 = [&](int at, uint32_t v) { std::memcpy(bmp.data() + at, &v, 4); };
  auto put16 = [&](int at, uint16_t v) { std::memcpy(bmp.data() + at, &v, 2); };
  bmp[0] = 'B', bmp[1] = 'M';
  put32(2, static_cast<uint32_t>(bmp.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(width));
  put32(22, static_cast<uint32_t>(height));
  put16(26, 1);
  put16(28, 7);
  put32(34, static_cast<uint32_t>(width * height * 4));
  for (int i = 54; i < bmp.size(); ++i) bmp[i] = static_cast<char>(i * 7);
  return bmp;
}

TEST_F(ScannerTest, NegotiatesPixelTypesDepthsAndMechanisms) {
  Open("");
  int current = -1;
  EXPECT_EQ(Offered(ICAP_PIXELTYPE, &current), (std::vector<int>{TWPT_BW, TWPT_GRAY, TWPT_RGB, TWPT_CMYK, 31}));
  const std::pair<int, std::vector<int>> depths[] = {
      {TWPT_BW, {1}}, {TWPT_GRAY, {8, 16}}, {TWPT_RGB, {8, 16}}, {TWPT_CMYK, {8}}, {31, {16}}};
  for (const auto& [type, expected] : depths) {
    SetOne(ICAP_PIXELTYPE, TWTY_INT16, type);
    EXPECT_EQ(Offered(ICAP_BITDEPTH), expected) << type;
  }
  SetOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_PALETTE, TWRC_FAILURE);
  EXPECT_EQ(Condition(&source_), TWCC_BADVALUE);
  SetOne(ICAP_BITDEPTH, TWTY_UINT16, 8, TWRC_FAILURE);  // HSL is 16-bit only
  SetOne(CAP_XFERCOUNT, TWTY_INT16, -1);
  SetOne(ICAP_COMPRESSION, TWTY_INT16, TWCP_NONE);
  SetOne(ICAP_COMPRESSION, TWTY_INT16, 1, TWRC_FAILURE);
  SetOne(ICAP_PLANARCHUNKY, TWTY_INT16, TWPC_CHUNKY);
  EXPECT_EQ(Offered(ICAP_XFERMECH), (std::vector<int>{TWSX_NATIVE, TWSX_MEMORY}));
  SetOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY);
  Offered(ICAP_XFERMECH, &current);
  EXPECT_EQ(current, TWSX_MEMORY);

  // An enumeration restricts what is offered and names the current value.
  const int kept[] = {TWPT_GRAY, TWPT_RGB};
  TW_CAPABILITY cap{ICAP_PIXELTYPE, TWON_ENUMERATION, Enumeration(TWTY_UINT16, kept, 1)};
  EXPECT_EQ(Call(&source_, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap), TWRC_SUCCESS);
  GlobalFree(cap.hContainer);
  EXPECT_EQ(Offered(ICAP_PIXELTYPE, &current), (std::vector<int>{TWPT_GRAY, TWPT_RGB}));
  EXPECT_EQ(current, TWPT_RGB);

  // Settings are negotiated before the source is enabled, not after.
  Enable();
  SetOne(CAP_XFERCOUNT, TWTY_INT16, 1, TWRC_FAILURE);
}

// With a SANE device chosen, the types and depths offered are the device's: SANE's test
// backend scans grey and colour at 8 and 16 bits and grey at 1 bit (black and white).
TEST_F(ScannerTest, OffersWhatTheChosenSaneDeviceScans) {
  // One configuration folder for the program: SANE keeps the first it reads.
  static QTemporaryDir sane;
  ASSERT_TRUE(sane.isValid());
  for (const auto& [name, text] : {std::pair{"dll.conf", "test\n"}, std::pair{"test.conf", "number_of_devices 1\n"}}) {
    QFile file(sane.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
  }
  qputenv("SANE_CONFIG_DIR", sane.path().toLocal8Bit());
  QSettings(QSettings::NativeFormat, QSettings::UserScope, "Orvax", "Orvax Scan Data Source").setValue("Window/Device", "test:0");
  Open("");
  int current = -1;
  EXPECT_EQ(Offered(ICAP_PIXELTYPE, &current), (std::vector<int>{TWPT_BW, TWPT_GRAY, TWPT_RGB}));
  EXPECT_EQ(current, TWPT_RGB);
  const std::pair<int, std::vector<int>> depths[] = {{TWPT_BW, {1}}, {TWPT_GRAY, {8, 16}}, {TWPT_RGB, {8, 16}}};
  for (const auto& [type, expected] : depths) {
    SetOne(ICAP_PIXELTYPE, TWTY_UINT16, type);
    EXPECT_EQ(Offered(ICAP_BITDEPTH), expected) << type;
  }
  SetOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_CMYK, TWRC_FAILURE);
  EXPECT_EQ(Condition(&source_), TWCC_BADVALUE);

  // Another device chosen in the window offers what it scans, as far as the application
  // took: here grey and colour at 8 bits, black and white, and CMYK.
  const auto restrict = [this](TW_UINT16 capId, const std::vector<uint16_t>& values) {
    TW_CAPABILITY cap{capId, TWON_ENUMERATION,
                      GlobalAlloc(GMEM_MOVEABLE, offsetof(TW_ENUMERATION, ItemList) + values.size() * 2)};
    auto* e = static_cast<TW_ENUMERATION*>(GlobalLock(cap.hContainer));
    e->ItemType = TWTY_UINT16;
    e->NumItems = static_cast<TW_UINT32>(values.size());
    e->CurrentIndex = e->DefaultIndex = 0;
    std::memcpy(e->ItemList, values.data(), values.size() * 2);
    GlobalUnlock(cap.hContainer);
    EXPECT_EQ(Call(&source_, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap), TWRC_SUCCESS) << capId;
    GlobalFree(cap.hContainer);
  };
  for (int type : {TWPT_GRAY, TWPT_RGB}) {
    SetOne(ICAP_PIXELTYPE, TWTY_UINT16, type);
    restrict(ICAP_BITDEPTH, {8});
  }
  restrict(ICAP_PIXELTYPE, {TWPT_GRAY, TWPT_RGB, TWPT_BW, TWPT_CMYK});
  Enable();
  auto* device = ScannerChild<QComboBox>("device");
  auto* spaces = ScannerChild<QComboBox>("colorSpace");
  ASSERT_TRUE(device && spaces);
  const auto enabled = [spaces] {
    QStringList texts;
    auto* model = qobject_cast<QStandardItemModel*>(spaces->model());
    for (int i = 0; i < spaces->count(); ++i)
      if (!spaces->itemText(i).isEmpty() && model->item(i)->isEnabled()) texts << spaces->itemText(i);
    return texts;
  };
  EXPECT_EQ(enabled(), (QStringList{"8 bit Grayscale", "24 bit RGB", "Black and White"}));
  const auto choose = [device](const QString& name) {
    device->setCurrentIndex(device->findData(name));
    emit device->activated(device->currentIndex());
  };
  choose("virtual");
  EXPECT_EQ(Offered(ICAP_PIXELTYPE), (std::vector<int>{TWPT_GRAY, TWPT_RGB, TWPT_BW, TWPT_CMYK}));
  EXPECT_EQ(enabled(), (QStringList{"8 bit Grayscale", "24 bit RGB", "32 bit CMYK", "Black and White"}));
  choose("test:0");
  EXPECT_EQ(Offered(ICAP_PIXELTYPE), (std::vector<int>{TWPT_GRAY, TWPT_RGB, TWPT_BW}));
  EXPECT_EQ(enabled(), (QStringList{"8 bit Grayscale", "24 bit RGB", "Black and White"}));
  qunsetenv("SANE_CONFIG_DIR");
}

TEST_F(ScannerTest, MemoryTransfersCarryExactlyTheFrame) {
  struct Case {
    const char* options;
    int pixelType, bits, spp;
    bool planar;
    FrameKind frame;
  } cases[] = {
      {"pixel=gray depth=8 frame=ramps", TWPT_GRAY, 8, 1, false, FrameKind::Ramps},
      {"pixel=gray depth=16 frame=scene", TWPT_GRAY, 16, 1, false, FrameKind::Scene},
      {"pixel=rgb depth=8", TWPT_RGB, 8, 3, false, FrameKind::Chart},
      {"pixel=rgb depth=16 frame=scene", TWPT_RGB, 16, 3, false, FrameKind::Scene},
      {"pixel=rgb depth=8 planar=1 frame=ramps", TWPT_RGB, 8, 3, true, FrameKind::Ramps},
      {"pixel=rgb depth=16 planar=1", TWPT_RGB, 16, 3, true, FrameKind::Chart},
      {"pixel=cmyk", TWPT_CMYK, 8, 4, false, FrameKind::Chart},
      {"pixel=hsl frame=scene", 31, 16, 3, false, FrameKind::Scene},
      {"pixel=bw frame=ramps", TWPT_BW, 1, 1, false, FrameKind::Ramps},
  };
  QString script;
  for (const Case& c : cases) script += QString("scan width=37 height=21 strip=5 %1\n").arg(c.options);
  Open(script);
  SetOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY);
  Enable();
  Wait(std::size(cases));
  ASSERT_EQ(images_.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    const Acquired& image = images_[i];
    SCOPED_TRACE(c.options);
    EXPECT_EQ(image.rc, TWRC_XFERDONE);
    EXPECT_EQ(image.info.ImageWidth, 37);
    EXPECT_EQ(image.info.ImageLength, 21);
    EXPECT_EQ(image.info.PixelType, c.pixelType);
    EXPECT_EQ(image.info.SamplesPerPixel, c.spp);
    EXPECT_EQ(image.info.BitsPerSample[0], c.bits);
    EXPECT_EQ(image.info.BitsPerPixel, c.bits * c.spp);
    EXPECT_EQ(image.info.Planar, c.planar ? 1 : 0);
    EXPECT_EQ(image.pendingAfter, 0);
    // Strips of at most 5 rows, each plane top to bottom.
    const size_t planes = c.planar ? c.spp : 1;
    EXPECT_EQ(image.strips.size(), planes * 5);
    for (const TW_IMAGEMEMXFER& x : image.strips) {
      // Copies: the 2-byte-packed fields cannot be bound to references.
      EXPECT_LE(TW_UINT32{x.Rows}, 5u);
      EXPECT_EQ(TW_UINT32{x.Columns}, 37u);
      EXPECT_EQ(TW_UINT32{x.XOffset}, 0u);
      EXPECT_EQ(TW_UINT32{x.BytesWritten}, x.Rows * x.BytesPerRow);
    }
    const Raster expected = Render(BuiltInFrame(c.frame, 37, 21), c.pixelType, c.bits);
    EXPECT_TRUE(Assemble(image) == expected.data);
  }
  // The CMYK strip itself arrives inverted.
  const Acquired& cmyk = images_[6];
  const Raster plain = Render(BuiltInFrame(FrameKind::Chart, 37, 21), TWPT_CMYK, 8);
  EXPECT_EQ(cmyk.stripData[0][0], 255 - plain.data[0]);
}

TEST_F(ScannerTest, NativeTransferIsABottomUpBitmap) {
  Open("offer native\nscan pixel=rgb depth=8 width=9 height=4 frame=scene\nscan pixel=gray width=5 height=3\n");
  EXPECT_EQ(Offered(ICAP_XFERMECH), std::vector<int>{TWSX_NATIVE});
  native_ = true;
  Enable();
  Wait(2);
  ASSERT_EQ(images_.size(), 2u);
  {
    const std::vector<uint8_t>& dib = images_[0].dib;
    ASSERT_EQ(dib.size(), 40u + 28 * 4);  // rows of 27 bytes padded to 28
    int32_t w, h;
    uint16_t bpp;
    std::memcpy(&w, &dib[4], 4);
    std::memcpy(&h, &dib[8], 4);
    std::memcpy(&bpp, &dib[14], 2);
    EXPECT_EQ(w, 9);
    EXPECT_EQ(h, 4);  // positive: bottom-up
    EXPECT_EQ(bpp, 24);
    const Raster top = Render(BuiltInFrame(FrameKind::Scene, 9, 4), TWPT_RGB, 8);
    // The last row of the bitmap is the top of the image, blue first.
    const uint8_t* last = &dib[40 + 3 * 28];
    for (int x = 0; x < 9; ++x) {
      EXPECT_EQ(last[x * 3], top.data[x * 3 + 2]);
      EXPECT_EQ(last[x * 3 + 2], top.data[x * 3]);
    }
  }
  {
    const std::vector<uint8_t>& dib = images_[1].dib;
    ASSERT_EQ(dib.size(), 40u + 256 * 4 + 3 * 8);
    EXPECT_EQ(dib[40 + 200 * 4], 200);  // grey palette
    const Raster grey = Render(BuiltInFrame(FrameKind::Chart, 5, 3), TWPT_GRAY, 8);
    EXPECT_EQ(std::vector<uint8_t>(&dib[40 + 1024 + 2 * 8], &dib[40 + 1024 + 2 * 8] + 5),
              std::vector<uint8_t>(grey.data.begin(), grey.data.begin() + 5));
  }
}

TEST_F(ScannerTest, CancelMidwayAnswersWithTheSourcesCondition) {
  Open("scan width=20 height=40 strip=4 cancel-after=3\nscan width=8 height=8 fail-strip=1\nclose\n");
  SetOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY);
  Enable();
  Wait(2);
  ASSERT_EQ(images_.size(), 2u);
  EXPECT_EQ(images_[0].strips.size(), 3u);
  EXPECT_EQ(images_[0].rc, TWRC_FAILURE);
  EXPECT_EQ(images_[0].condition, TWCC_USERCANCEL);
  EXPECT_EQ(images_[0].pendingAfter, 0);
  EXPECT_EQ(images_[1].rc, TWRC_FAILURE);
  EXPECT_EQ(images_[1].condition, TWCC_BUMMER);
  Wait(3);
  EXPECT_TRUE(closeRequested_);
  EXPECT_TRUE(ReportLines().contains("cancelled after 3 strips"));
}

TEST_F(ScannerTest, AutoSaveRecordsFromScriptAndPreferences) {
  {
    QSettings prefs(QSettings::NativeFormat, QSettings::UserScope, "Orvax", "Orvax Scan Data Source");
    prefs.setValue("AutoSave/Enabled", true);
    prefs.setValue("AutoSave/Folder", "/scans/roll");
    prefs.setValue("AutoSave/Stem", "frame");
    prefs.setValue("AutoSave/Format", 129);
    prefs.setValue("AutoSave/Quality", 18);
  }
  Open("scan width=4 height=4\nscan width=4 height=4 autosave=4 folder=/tmp/out stem=roll quality=5\n"
       "scan width=4 height=4 autosave=-1\n");
  SetOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY);
  Enable();
  Wait(3);
  ASSERT_EQ(images_.size(), 3u);
  const AutoSaveRequest& prefs = images_[0].autoSave;
  EXPECT_NE(prefs.enabled, 0);
  EXPECT_STREQ(prefs.folder, "/scans/roll");
  EXPECT_STREQ(prefs.stem, "frame");
  EXPECT_EQ(prefs.format, 129);
  EXPECT_EQ(prefs.quality, 18);
  const AutoSaveRequest& script = images_[1].autoSave;
  EXPECT_NE(script.enabled, 0);
  EXPECT_STREQ(script.folder, "/tmp/out");
  EXPECT_EQ(script.format, 4);
  EXPECT_EQ(script.quality, 5);
  EXPECT_EQ(images_[2].autoSave.enabled, 0);
  const QStringList report = ReportLines();
  EXPECT_TRUE(report.contains("autosave status=0 path=/scans/roll/frame.tif")) << report.join("|").toStdString();
  EXPECT_TRUE(report.contains("autosave status=0 path=/tmp/out/roll.tif"));
}

TEST_F(ScannerTest, FeederScansTheFilmHoldersFilesInOrder) {
  // Three slides as image files; the scanner reads them through the image library.
  QDir().mkpath(dir_.filePath("holder"));
  std::vector<QImage> slides;
  for (int i = 0; i < 3; ++i) {
    QImage image(6 + i, 4, QImage::Format_RGB888);
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) image.setPixelColor(x, y, QColor(40 * i + x * 10, y * 50, 200 - i * 60));
    ASSERT_TRUE(image.save(dir_.filePath(QString("holder/slide%1.bmp").arg(i)), "BMP"));
    slides.push_back(image);
  }
  QFile(dir_.filePath("holder/notes.txt")).open(QIODevice::WriteOnly);
  Open(QString("feeder 3 pixel=rgb depth=8 holder=%1\n").arg(dir_.filePath("holder")));
  SetOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY);
  Enable();
  Wait(3);
  ASSERT_EQ(images_.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(images_[i].pendingAfter, 2 - i);
    ASSERT_EQ(images_[i].info.ImageWidth, 6 + i);
    const std::vector<uint8_t> got = Assemble(images_[i]);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 6 + i; ++x) {
        const QColor c = slides[i].pixelColor(x, y);
        const uint8_t* p = &got[(y * (6 + i) + x) * 3];
        EXPECT_EQ(QColor(p[0], p[1], p[2]), c) << x << "," << y;
      }
  }
}

// The area of a script is the part of the frame that arrives, exactly; the progress bar of
// the scanner's window moves strip by strip and is back at 0 when the scan is done.
TEST_F(ScannerTest, AreaGivesExactlyThatPartOfTheFrame) {
  Open("scan width=40 height=30 strip=3 area=0.25,0.2,0.5,0.6 frame=ramps\n"
       "scan width=40 height=30 area=0.9,0.9,0.1,0.1 pixel=gray\n"
       "scan width=40 height=30 area=0,0,1,1 frame=scene depth=16\n");
  SetOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY);
  Enable();
  Wait(3);
  ASSERT_EQ(images_.size(), 3u);
  const struct {
    QRect part;
    FrameKind frame;
    int type, bits;
  } expected[] = {{{10, 6, 20, 18}, FrameKind::Ramps, TWPT_RGB, 8},
                  {{36, 27, 4, 3}, FrameKind::Chart, TWPT_GRAY, 8},
                  {{0, 0, 40, 30}, FrameKind::Scene, TWPT_RGB, 16}};
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    const auto& e = expected[i];
    EXPECT_EQ(images_[i].rc, TWRC_XFERDONE);
    EXPECT_EQ(images_[i].info.ImageWidth, e.part.width());
    EXPECT_EQ(images_[i].info.ImageLength, e.part.height());
    const Raster want = Render(Crop(BuiltInFrame(e.frame, 40, 30), e.part), e.type, e.bits);
    EXPECT_TRUE(Assemble(images_[i]) == want.data);
  }
  // Six strips of the first scan: the bar went up step by step, and ended back at 0.
  ASSERT_GE(progress_.size(), 6u);
  EXPECT_GT(progress_[0], 0);
  EXPECT_LT(progress_[0], progress_[4]);
  EXPECT_EQ(progress_[5], 1000);
  ASSERT_NE(ScannerChild<QProgressBar>("progress"), nullptr);
  EXPECT_EQ(ScannerChild<QProgressBar>("progress")->value(), 0);
}

// A picture on negative film comes back when it is scanned with the film type of that film:
// every sample within 1 of 255 of the picture itself (16-bit: within 3 of 65535). Scanned as
// a positive, the negative stays a negative: inverted and orange.
TEST_F(ScannerTest, NegativesScannedAsNegativesGiveThePictureBack) {
  struct Case {
    const char* options;
    FrameKind frame;
    int type, bits;
    bool matches;
  } cases[] = {
      {"frame=scene film=color-negative filmtype=color-negative", FrameKind::Scene, TWPT_RGB, 8, true},
      {"frame=chart film=color-negative filmtype=color-negative", FrameKind::Chart, TWPT_RGB, 8, true},
      {"frame=ramps film=color-negative filmtype=color-negative depth=16", FrameKind::Ramps, TWPT_RGB, 16, true},
      {"frame=scene film=bw-negative filmtype=bw-negative pixel=gray", FrameKind::Scene, TWPT_GRAY, 8, true},
      {"frame=chart film=positive filmtype=bw-positive pixel=gray", FrameKind::Chart, TWPT_GRAY, 8, true},
      {"frame=scene film=color-negative filmtype=color-positive", FrameKind::Scene, TWPT_RGB, 8, false},
      {"frame=scene film=positive filmtype=color-negative", FrameKind::Scene, TWPT_RGB, 8, false},
  };
  QString script;
  for (const Case& c : cases) script += QString("scan width=60 height=40 %1\n").arg(c.options);
  Open(script);
  SetOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY);
  Enable();
  Wait(std::size(cases));
  ASSERT_EQ(images_.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.options);
    const std::vector<uint8_t> got = Assemble(images_[i]);
    const Raster picture = Render(BuiltInFrame(c.frame, 60, 40), c.type, c.bits);
    if (c.bits == 16) {
      ASSERT_EQ(got.size(), picture.data.size());
      int most = 0;
      for (size_t k = 0; k < got.size(); k += 2) {
        uint16_t a, b;
        std::memcpy(&a, &got[k], 2);
        std::memcpy(&b, &picture.data[k], 2);
        most = std::max(most, std::abs(int(a) - int(b)));
      }
      EXPECT_LE(most, 3);
      continue;
    }
    const auto [most, mean] = Difference(got, picture.data);
    if (c.matches) {
      EXPECT_LE(most, 1);
    } else {
      EXPECT_GT(mean, 40.0);
    }
  }
  // The negative as it is: red well above blue (the orange base), and dark where the
  // picture is light (the sun at 72 %, 22 % of the frame).
  const std::vector<uint8_t> negative = Assemble(images_[5]);
  double red = 0, blue = 0;
  for (size_t k = 0; k < negative.size(); k += 3) red += negative[k], blue += negative[k + 2];
  EXPECT_GT(red, 1.8 * blue);
  const uint8_t* sun = &negative[(9 * 60 + 43) * 3];
  EXPECT_LT(sun[0], 60);
}

// A holder slide that cannot be read (a 32-bit BMP) stops the feeder's batch: the slides
// before it arrive, nothing stands in for it, and the scanner says which file and why. Files
// that are not images the scanner reads are listed as skipped in its window.
TEST_F(ScannerTest, UnreadableHolderSlideStopsTheBatch) {
  const QString holder = dir_.filePath("holder");
  QDir().mkpath(holder);
  QImage good(6, 4, QImage::Format_RGB888);
  good.fill(QColor(10, 200, 30));
  ASSERT_TRUE(good.save(holder + "/a.bmp", "BMP"));
  QFile bad(holder + "/b.bmp");
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write(BmpOfUnreadableDepth(5, 3));
  bad.close();
  ASSERT_TRUE(good.save(holder + "/c.bmp", "BMP"));
  ASSERT_TRUE(good.save(holder + "/d.png", "PNG"));
  QFile(holder + "/notes.txt").open(QIODevice::WriteOnly);
  SetScannerSetting("Device/FilmHolderFolder", holder);
  Open(QString("feeder 3 holder=%1\n").arg(holder));
  SetOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY);
  Enable();
  QLabel* status = ScannerChild<QLabel>("status");
  ASSERT_NE(status, nullptr);
  EXPECT_TRUE(status->text().contains("Skipped (not images this scanner reads): d.png, notes.txt"))
      << status->text().toStdString();
  QElapsedTimer timer;
  timer.start();
  while (!status->text().startsWith("Cannot read") && timer.elapsed() < 10000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);  // nothing more comes
  ASSERT_EQ(images_.size(), 1u);
  EXPECT_EQ(images_[0].rc, TWRC_XFERDONE);
  EXPECT_EQ(images_[0].pendingAfter, 0);
  const QString message = QString("Cannot read the slide %1/b.bmp: a bit depth this scanner does not read (status 1502).")
                              .arg(holder);
  EXPECT_TRUE(ReportLines().contains(message)) << ReportLines().join("|").toStdString();
  EXPECT_EQ(status->text(), message);
}

// What the window offers is what the application's menus list: one list of colour spaces
// and film types; and the Preferences carry the automatic save.
TEST_F(ScannerTest, WindowListsAndPreferencesAgreeWithTheExports) {
  Open("");
  Enable();
  orvax::win::HMODULE module = orvax::win::LoadLibrary(ORVAX_REAL_ROOT "/TWAIN_32/Orvax/Orvax Scan 2.0/Orvax Scan.ds");
  ASSERT_NE(module, nullptr);
  using Count = int (*)();
  using GetItem = int (*)(int, char*, int, int*);
  const auto count = reinterpret_cast<Count>(orvax::win::GetProcAddress(module, "GetColorSpaceCount"));
  const auto item = reinterpret_cast<GetItem>(orvax::win::GetProcAddress(module, "GetColorSpaceItem"));
  ASSERT_TRUE(count && item);
  QComboBox* spaces = ScannerChild<QComboBox>("colorSpace");
  ASSERT_NE(spaces, nullptr);
  ASSERT_EQ(spaces->count(), count());
  QStringList menu;
  for (int i = 0; i < count(); ++i) {
    char text[256];
    int checked = 0;
    const int code = item(i, text, sizeof text, &checked);
    menu << (code == -1 ? QString("-") : QString::fromLocal8Bit(text));
    if (checked) {
      EXPECT_EQ(spaces->currentIndex(), i);
    }
  }
  QStringList window;
  for (int i = 0; i < spaces->count(); ++i) window << (spaces->itemText(i).isEmpty() ? QString("-") : spaces->itemText(i));
  EXPECT_EQ(window, menu);
  EXPECT_TRUE(menu.contains("32 bit CMYK") && menu.contains("Black and White"));

  // Auto-save in the Preferences: what is set there is what the next transfer asks for.
  using ShowPreferences = int (*)(orvax::win::HWND, int);
  const auto show = reinterpret_cast<ShowPreferences>(orvax::win::GetProcAddress(module, "ShowPreferences"));
  ASSERT_NE(show, nullptr);
  bool filled = false;
  QTimer::singleShot(0, [&] {
    QDialog* dialog = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == "OrvaxPreferences" && w->isVisible()) dialog = qobject_cast<QDialog*>(w);
    if (dialog == nullptr) return;
    auto* tabs = dialog->findChild<QTabWidget*>("pages");
    EXPECT_EQ(tabs->tabText(3), "Auto-Save");
    dialog->findChild<QCheckBox*>("autoSave")->setChecked(true);
    dialog->findChild<QLineEdit*>("autoSaveFolder")->setText("/tmp/roll7");
    dialog->findChild<QLineEdit*>("autoSaveStem")->setText("frame");
    auto* format = dialog->findChild<QComboBox*>("autoSaveFormat");
    format->setCurrentIndex(format->findText("FlashPix"));
    auto* quality = dialog->findChild<QComboBox*>("autoSaveQuality");
    quality->setCurrentIndex(quality->findText("JPEG level 4"));
    filled = true;
    dialog->accept();
  });
  show(window_.handle(), 3);
  ASSERT_TRUE(filled);
  CloseAll();
  Open("scan width=4 height=4\n");
  SetOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY);
  Enable();
  Wait(1);
  ASSERT_EQ(images_.size(), 1u);
  const AutoSaveRequest& request = images_[0].autoSave;
  EXPECT_NE(request.enabled, 0);
  EXPECT_STREQ(request.folder, "/tmp/roll7");
  EXPECT_STREQ(request.stem, "frame");
  EXPECT_EQ(request.format, 129);
  EXPECT_EQ(request.quality, 20);
  orvax::win::FreeLibrary(module);
}

// The window opens again where it was when the source is closed and opened again (as the
// application does after Preferences that need it).
TEST_F(ScannerTest, ReopenedWindowKeepsItsPlace) {
  Open("");
  Enable();
  QWidget* window = ScannerWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_NE(window->windowTitle(), "Orvax Scan 2.2");
  EXPECT_TRUE(window->windowFlags().testFlag(Qt::Tool));
  window->setGeometry(67, 91, 640, 400);
  const QRect before = window->geometry();
  CloseAll();
  EXPECT_EQ(ScannerWindow(), nullptr);
  Open("");
  Enable();
  window = ScannerWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->geometry(), before);
}

TEST(ScanScript, RejectsMalformedLines) {
  const std::pair<const char*, const char*> bad[] = {
      {"scan pixel=purple", "line 1: bad option: pixel=purple"},
      {"# c\nfeeder", "line 2: feeder needs a slide count"},
      {"scan width", "line 1: option without a value: width"},
      {"jump", "line 1: unknown action: jump"},
      {"offer fax", "line 1: offer native, memory or both"},
      {"scan area=0.5,0.5,0.6,0.1", "line 1: bad option: area=0.5,0.5,0.6,0.1"},
      {"scan area=0,0,1", "line 1: bad option: area=0,0,1"},
      {"scan film=slide", "line 1: bad option: film=slide"},
      {"scan filmtype=negative", "line 1: bad option: filmtype=negative"},
  };
  for (const auto& [text, why] : bad) {
    QString error;
    EXPECT_FALSE(ParseScript(text, &error).has_value()) << text;
    EXPECT_EQ(error, why);
  }
  QString error;
  const auto ok = ParseScript("feeder 2 pixel=hsl planar=1 strip=3\nclose\n", &error);
  ASSERT_TRUE(ok.has_value());
  ASSERT_EQ(ok->size(), 2);
  EXPECT_EQ((*ok)[0].job.count, 2);
  EXPECT_EQ((*ok)[0].job.bits, 16);
  EXPECT_TRUE((*ok)[0].job.planar);
}

}  // namespace
