// Scans from SANE's test backend through Orvax Scan, the TWAIN manager and the data source,
// into real documents, compared pixel for pixel with what scanimage writes from the same
// device with the same options. Each test has its own SANE configuration (a dll.conf that
// names only the test backend, and a test.conf), so no real scanner is touched.
#include "document_wait.h"
#include "framework/doc_manager.h"
#include "gesso_doc.h"
#include "main_frame.h"
#include "scan_app.h"
#include "frames.h"

#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLineEdit>
#include <QFile>
#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QProgressBar>
#include <QSpinBox>
#include <QTimer>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "isolated_app_test.h"

#include <cstring>

using namespace orvax::app;
namespace fw = orvax::framework;

namespace {

// A picture as the documents hold it: rows top to bottom, 16-bit samples in the machine's
// byte order, 1-bit pixels packed from the high bit with 1 for white.
struct Picture {
  int width = 0, height = 0, rowBytes = 0;
  std::vector<uint8_t> data;
};

// Reads the PNM that scanimage writes (P4, P5 or P6; 16-bit samples big-endian).
bool ReadPnm(const QByteArray& file, Picture* picture) {
  int pos = 0;
  auto token = [&]() {
    while (pos < file.size()) {
      if (file[pos] == '#') {
        while (pos < file.size() && file[pos] != '\n') ++pos;
      } else if (std::isspace(static_cast<unsigned char>(file[pos]))) {
        ++pos;
      } else {
        break;
      }
    }
    const int start = pos;
    while (pos < file.size() && !std::isspace(static_cast<unsigned char>(file[pos]))) ++pos;
    return file.mid(start, pos - start);
  };
  const QByteArray magic = token();
  picture->width = token().toInt();
  picture->height = token().toInt();
  const int max = magic == "P4" ? 1 : token().toInt();
  ++pos;  // the one white-space character before the samples
  const int samples = magic == "P6" ? 3 : 1;
  const int bits = magic == "P4" ? 1 : max > 255 ? 16 : 8;
  picture->rowBytes = (picture->width * samples * bits + 7) / 8;
  const size_t size = static_cast<size_t>(picture->rowBytes) * picture->height;
  if (picture->width <= 0 || file.size() - pos < static_cast<qsizetype>(size)) return false;
  picture->data.assign(file.constData() + pos, file.constData() + pos + size);
  if (bits == 16)
    for (size_t i = 0; i + 1 < size; i += 2) std::swap(picture->data[i], picture->data[i + 1]);
  if (bits == 1)
    for (uint8_t& b : picture->data) b = static_cast<uint8_t>(~b);
  return true;
}

// The scanner window once it shows DEVICE as the chosen one, or null after ten seconds.
QWidget* ScannerWindowWith(const QString& device) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < 10000) {
    for (QWidget* w : QApplication::allWidgets())
      if (w->objectName() == "OrvaxScanWindow" && w->findChild<QComboBox*>("device")->currentData().toString() == device)
        return w;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return nullptr;
}

class SaneTest : public IsolatedAppTest {
 protected:
  void SetUp() override {
    Isolate(ORVAX_REAL_ROOT);
    if (QStandardPaths::findExecutable("scanimage").isEmpty()) GTEST_SKIP() << "scanimage (sane-utils) is not installed";
    qputenv("ORVAX_DS_REPORT", dir_.filePath("report.txt").toLocal8Bit());
    // One folder for the whole program: SANE keeps the configuration folder it first read
    // for the life of the process.
    static QTemporaryDir saneDir;
    saneConf_ = saneDir.path();
    qputenv("SANE_CONFIG_DIR", saneConf_.toLocal8Bit());
    WriteSaneConfig({});
    // The samples as the device gives them, not matched to the monitor.
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Orvax", "Orvax Scan Data Source").setValue("Color/UseCMS", false);
    CollectMessages();
  }
  void TearDown() override {
    Quit();
    fw::SetMessageBoxHook({});
    qunsetenv("ORVAX_DS_SCRIPT");
    qunsetenv("SANE_CONFIG_DIR");
  }

  // The test backend with the settings of its own configuration file, SETTINGS over them;
  // WITHBACKEND false leaves SANE without any backend (no device connected).
  void WriteSaneConfig(const QMap<QString, QString>& settings, bool withBackend = true) {
    QFile dll(saneConf_ + "/dll.conf");
    ASSERT_TRUE(dll.open(QIODevice::WriteOnly));
    dll.write(withBackend ? "test\n" : "");
    dll.close();
    QMap<QString, QString> all = {{"number_of_devices", "1"}, {"test-picture", "\"Color pattern\""},
                                  {"resolution", "50.0"}};
    for (auto it = settings.begin(); it != settings.end(); ++it) all[it.key()] = it.value();
    QFile conf(saneConf_ + "/test.conf");
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    for (auto it = all.begin(); it != all.end(); ++it) conf.write((it.key() + " " + it.value() + "\n").toUtf8());
  }

  // What scanimage writes from test:0 with ARGS.
  Picture Scanimage(const QStringList& args) {
    QProcess process;
    process.start("scanimage", QStringList{"-d", "test:0", "--format=pnm"} + args);
    EXPECT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    Picture picture;
    EXPECT_TRUE(ReadPnm(process.readAllStandardOutput(), &picture));
    return picture;
  }

  bool Start(const QString& script) {
    return PrepareScriptedStart(script) && app_->InitInstance({});
  }
  // Waits until WANT documents are complete or, when LINE is given, until the scanner has
  // reported it and no document is still acquiring.
  QList<CGessoDoc*> WaitForDocuments(int want, const QString& line = {}) {
    return WaitForCompleteDocuments(*app_, [&](const QList<CGessoDoc*>& docs) {
      return line.isEmpty() ? docs.size() >= want : Report().join('\n').contains(line);
    });
  }
  QStringList Report() const {
    QFile file(dir_.filePath("report.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
  }
  static tagTes_Image_Desc Desc(CGessoDoc* doc) {
    tagTes_Image_Desc desc{};
    if (doc->Image() != nullptr) doc->Image()->GetImageDesc(&desc);
    return desc;
  }
  static std::vector<uint8_t> Pixels(CGessoDoc* doc, const Picture& like) {
    std::vector<uint8_t> got(static_cast<size_t>(like.rowBytes) * like.height);
    tagTes_Tile_Desc tile{{0, 0, like.width, like.height}, like.rowBytes, 0};
    if (doc->Image() == nullptr) return {};
    if (const long status = doc->Image()->GetData(tile, got.data()); status != 0) {
      ADD_FAILURE() << "GetData: " << status;
      return {};
    }
    if (got != like.data)
      for (size_t i = 0; i < got.size(); ++i)
        if (got[i] != like.data[i]) {
          ADD_FAILURE() << "first difference at byte " << i << " of " << got.size() << ": " << int(got[i]) << " for "
                        << int(like.data[i]);
          break;
        }
    return got;
  }
  static QString DeviceNote() {
    for (QWidget* w : QApplication::allWidgets())
      if (w->objectName() == "deviceNote") return static_cast<QLabel*>(w)->text();
    return {};
  }

  QString saneConf_;
};

// Each document equals scanimage's picture of the same scan: grey and colour at 8 and 16
// bits, black and white, an area, three-pass colour and a hand-held scanner of unknown
// length, through memory strips (chunky and planar) and a native transfer of small reads.
TEST_F(SaneTest, DocumentsEqualWhatScanimageWrites) {
  struct Case {
    const char* name;
    QMap<QString, QString> conf;
    const char* script;   // options of the scan line
    QStringList scanimage;
    short colorSpace;
  };
  const QStringList area = {"-l", "10", "-t", "20", "-x", "30", "-y", "24"};  // of the 200 mm bed
  const char* scriptArea = "area=0.05,0.1,0.15,0.12";
  const QList<Case> cases = {
      {"gray 8", {}, "pixel=gray depth=8 dpi=50", QStringList{"--mode", "Gray", "--depth", "8", "--resolution", "50"},
       TES_CS_GRAY8},
      {"gray 16 area", {}, "pixel=gray depth=16 dpi=60 strip=5",
       QStringList{"--mode", "Gray", "--depth", "16", "--resolution", "60"} + area, TES_CS_GRAY16},
      {"color 8 area planar", {}, "pixel=rgb depth=8 dpi=75 planar=1",
       QStringList{"--mode", "Color", "--depth", "8", "--resolution", "75"} + area, TES_CS_RGB24},
      {"color 16", {}, "pixel=rgb depth=16 dpi=40", QStringList{"--mode", "Color", "--depth", "16", "--resolution", "40"},
       TES_CS_RGB48},
      // Black and white becomes grey levels 0 and 255, from memory strips and from a bitmap.
      {"black and white", {}, "pixel=bw dpi=50", QStringList{"--mode", "Gray", "--depth", "1", "--resolution", "50"}, TES_CS_GRAY8},
      {"black and white native", {}, "pixel=bw dpi=45", QStringList{"--mode", "Gray", "--depth", "1", "--resolution", "45"},
       TES_CS_GRAY8},
      {"three-pass", {{"three-pass", "true"}, {"three-pass-order", "GBR"}}, "pixel=rgb depth=8 dpi=50",
       QStringList{"--mode", "Color", "--depth", "8", "--resolution", "50"}, TES_CS_RGB24},
      {"hand-scanner", {{"hand-scanner", "true"}}, "pixel=gray depth=8 dpi=30",
       QStringList{"--mode", "Gray", "--depth", "8", "--resolution", "30"}, TES_CS_GRAY8},
      {"native", {{"read-limit", "true"}, {"read-limit-size", "7"}}, "pixel=rgb depth=8 dpi=30",
       QStringList{"--mode", "Color", "--depth", "8", "--resolution", "30"}, TES_CS_RGB24},
      // Beyond the device's 1200 dpi: its nearest resolution, the document's too.
      {"beyond the resolutions", {}, "pixel=gray depth=8 dpi=4800 area=0.02,0.03,0.03,0.02",
       QStringList{"--mode", "Gray", "--depth", "8", "--resolution", "1200", "-l", "4", "-t", "6", "-x", "6", "-y", "4"},
       TES_CS_GRAY8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteSaneConfig(c.conf);
    // Without an area the scan is the whole 200 x 200 mm bed.
    Picture want = Scanimage(c.scanimage.contains("-l") ? c.scanimage : c.scanimage + QStringList{"-x", "200", "-y", "200"});
    const bool blackAndWhite = c.scanimage.contains("1");
    if (blackAndWhite) {
      // As grey: 0 for black, 255 for white.
      Picture grey{want.width, want.height, want.width, {}};
      for (int y = 0; y < want.height; ++y)
        for (int x = 0; x < want.width; ++x)
          grey.data.push_back((want.data[y * want.rowBytes + x / 8] >> (7 - x % 8)) & 1 ? 255 : 0);
      want = grey;
    }
    ASSERT_GT(want.width, 0);
    QString options = c.script;
    if (c.scanimage.contains("-l") && !options.contains("area=")) options += QString(" ") + scriptArea;
    const bool native = QString(c.name).endsWith("native");
    ASSERT_TRUE(Start(QString(native ? "offer native\n" : "") + "device test:0\nscan " + options + "\n"));
    const QList<CGessoDoc*> docs = WaitForDocuments(1);
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString() << Report().join("|").toStdString();
    ASSERT_EQ(docs.size(), 1) << Report().join("|").toStdString();
    const tagTes_Image_Desc desc = Desc(docs[0]);
    EXPECT_DOUBLE_EQ(desc.resolution, c.scanimage[c.scanimage.indexOf("--resolution") + 1].toDouble());
    EXPECT_EQ(desc.width, want.width);
    EXPECT_EQ(desc.height, want.height);
    EXPECT_EQ(desc.colorSpace, c.colorSpace);
    EXPECT_TRUE(Pixels(docs[0], want) == want.data);
    Quit();
  }
}

// A cancel midway and each failure the device reports leave no document; a failure is said
// in the window and in a message, naming the device and the reason.
TEST_F(SaneTest, CancelAndDeviceFailuresLeaveNoDocument) {
  WriteSaneConfig({});
  ASSERT_TRUE(Start("device test:0\nscan pixel=gray dpi=50 strip=4 cancel-after=2\n"));
  EXPECT_TRUE(WaitForDocuments(1, "cancelled after 2 strips").isEmpty());
  EXPECT_TRUE(Report().contains("cancelled after 2 strips")) << Report().join("|").toStdString();
  Quit();

  const QList<QPair<const char*, const char*>> failures = {
      {"SANE_STATUS_JAMMED", "jammed"},        {"SANE_STATUS_NO_DOCS", "out of documents"},
      {"SANE_STATUS_COVER_OPEN", "cover is open"}, {"SANE_STATUS_IO_ERROR", "input or output"},
      {"SANE_STATUS_DEVICE_BUSY", "busy"},     {"SANE_STATUS_NO_MEM", "out of memory"},
      {"SANE_STATUS_ACCESS_DENIED", "group"},  {"SANE_STATUS_EOF", "ended after 0 of"},
  };
  for (const auto& [code, reason] : failures) {
    SCOPED_TRACE(code);
    WriteSaneConfig({{"read-status-code", QString("\"%1\"").arg(code)}});
    ASSERT_TRUE(Start("device test:0\nscan pixel=gray dpi=50\n"));
    const QString line = QString("The scanner test:0 stopped: ");
    EXPECT_TRUE(WaitForDocuments(1, line).isEmpty());
    const QString report = Report().join('\n');
    EXPECT_TRUE(report.contains(line) && report.contains(reason)) << report.toStdString();
    // The scanner's window says it too.
    QString status;
    for (QWidget* w : QApplication::allWidgets())
      if (w->objectName() == "status" && w->parentWidget() != nullptr && w->window()->objectName() == "OrvaxScanWindow")
        status = static_cast<QLabel*>(w)->text();
    EXPECT_TRUE(status.contains("test:0") && status.contains(reason)) << status.toStdString();
    Quit();
    QFile::remove(dir_.filePath("report.txt"));
  }
}

// The device chosen is the one of the next run; when it is gone, the virtual scanner takes
// its place and the window says so.
TEST_F(SaneTest, DeviceChoiceSurvivesARestartAndFallsBack) {
  WriteSaneConfig({});
  const Picture want = Scanimage({"--mode", "Gray", "--depth", "8", "--resolution", "50", "-x", "200", "-y", "200"});
  ASSERT_TRUE(Start("device test:0\nclose\n"));
  WaitForDocuments(0);
  Quit();
  ASSERT_TRUE(Start("scan pixel=gray depth=8 dpi=50\n"));
  QList<CGessoDoc*> docs = WaitForDocuments(1);
  ASSERT_EQ(docs.size(), 1);
  EXPECT_EQ(Desc(docs[0]).width, want.width);
  EXPECT_EQ(Desc(docs[0]).height, want.height);
  EXPECT_TRUE(Pixels(docs[0], want) == want.data);
  EXPECT_TRUE(DeviceNote().isEmpty()) << DeviceNote().toStdString();
  Quit();

  WriteSaneConfig({}, false);
  ASSERT_TRUE(Start("scan pixel=gray depth=8 width=20 height=10\n"));
  EXPECT_TRUE(DeviceNote().contains("test:0")) << DeviceNote().toStdString();
  EXPECT_TRUE(DeviceNote().contains("virtual film scanner")) << DeviceNote().toStdString();
  docs = WaitForDocuments(1);
  ASSERT_EQ(docs.size(), 1);
  EXPECT_EQ(Desc(docs[0]).width, 20);
  EXPECT_EQ(Desc(docs[0]).height, 10);
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();
}

// A SANE device has no film types: the data source reads negatives itself, as the virtual
// scanner does (inverted, the film's base taken out), in grey and in colour.
TEST_F(SaneTest, NegativesFromASaneDeviceAreReadByTheSource) {
  struct Case {
    const char* options;
    orvax::ds::FilmType type;
    QStringList scanimage;
  };
  const Case cases[] = {
      {"pixel=gray depth=8 dpi=40 filmtype=bw-negative", orvax::ds::FilmType::BwNegative,
       {"--mode", "Gray", "--depth", "8", "--resolution", "40"}},
      {"pixel=rgb depth=16 dpi=30 filmtype=color-negative", orvax::ds::FilmType::ColorNegative,
       {"--mode", "Color", "--depth", "16", "--resolution", "30"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    const Picture positive = Scanimage(c.scanimage + QStringList{"-x", "200", "-y", "200"});
    const bool colour = c.scanimage.contains("Color");
    const bool wide = c.scanimage.contains("16");
    Picture want = positive;
    // The light of each pixel read as that film, as the source's own film reading gives it.
    for (int y = 0; y < want.height; ++y)
      for (int x = 0; x < want.width; ++x) {
        uint8_t* px = want.data.data() + y * want.rowBytes + x * (colour ? 3 : 1) * (wide ? 2 : 1);
        uint16_t rgb[3];
        for (int ch = 0; ch < 3; ++ch) {
          const int i = colour ? ch : 0;
          uint16_t v = 0;
          if (wide) std::memcpy(&v, px + i * 2, 2);
          else v = static_cast<uint16_t>(px[i] * 257);
          rgb[ch] = v;
        }
        orvax::ds::ReadFilm(c.type, rgb, 1);
        const uint16_t out[3] = {rgb[0], rgb[1], rgb[2]};
        const uint16_t grey = orvax::ds::Luminance(rgb[0], rgb[1], rgb[2]);
        for (int ch = 0; ch < (colour ? 3 : 1); ++ch) {
          const uint16_t v = colour ? out[ch] : grey;
          if (wide) std::memcpy(px + ch * 2, &v, 2);
          else px[ch] = static_cast<uint8_t>(v >> 8);
        }
      }
    ASSERT_TRUE(want.data != positive.data);
    ASSERT_TRUE(Start(QString("device test:0\nscan %1\n").arg(c.options)));
    const QList<CGessoDoc*> docs = WaitForDocuments(1);
    ASSERT_EQ(docs.size(), 1) << Report().join("|").toStdString();
    EXPECT_TRUE(Pixels(docs[0], want) == want.data);
    Quit();
  }
}

// As a person would: choose test:0 in the window, preview its bed, drag an area, choose the
// resolution and colour space and scan; the document is that area, as scanimage gives it.
TEST_F(SaneTest, WindowPreviewsTheBedAndScansTheChosenArea) {
  WriteSaneConfig({});
  ASSERT_TRUE(Start("device test:0\n"));
  QWidget* window = nullptr;
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < 10000) {
    for (QWidget* w : QApplication::allWidgets())
      if (w->objectName() == "OrvaxScanWindow") window = w;
    if (window != nullptr && window->findChild<QComboBox*>("device")->currentData().toString() == "test:0") break;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  ASSERT_NE(window, nullptr);
  auto* device = window->findChild<QComboBox*>("device");
  ASSERT_EQ(device->currentData().toString(), "test:0");
  EXPECT_TRUE(device->currentText().contains("Noname frontend-tester virtual device")) << device->currentText().toStdString();

  window->findChild<QPushButton*>("previewButton")->click();
  auto* preview = window->findChild<QWidget*>("preview");
  ASSERT_NE(preview, nullptr);
  // The whole 200 x 200 mm bed at 50 dpi.
  const Picture bed = Scanimage({"--mode", "Color", "--depth", "8", "--resolution", "50", "-x", "200", "-y", "200"});
  const QRect image = preview->property("imageRect").toRect();
  ASSERT_FALSE(image.isEmpty());
  EXPECT_NEAR(double(image.width()) / image.height(), double(bed.width) / bed.height, 0.05);

  // A drag over the preview chooses the area.
  auto mouse = [&](QEvent::Type type, QPointF fraction) {
    const QPointF at(image.x() + fraction.x() * image.width(), image.y() + fraction.y() * image.height());
    QMouseEvent event(type, at, preview->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(preview, &event);
  };
  mouse(QEvent::MouseButtonPress, {0.05, 0.1});
  mouse(QEvent::MouseMove, {0.12, 0.15});
  mouse(QEvent::MouseMove, {0.2, 0.22});
  mouse(QEvent::MouseButtonRelease, {0.2, 0.22});
  const QRectF area = preview->property("area").toRectF();
  ASSERT_FALSE(area.isEmpty());
  // The test backend keeps its geometry to whole millimetres.
  const auto mm = [](double fraction) { return QString::number(qRound(fraction * 200)); };
  window->findChild<QSpinBox*>("resolution")->setValue(75);
  auto* spaces = window->findChild<QComboBox*>("colorSpace");
  const int grey = spaces->findText("16 bit Grayscale");
  ASSERT_GE(grey, 0);
  spaces->setCurrentIndex(grey);
  window->findChild<QPushButton*>("scan")->click();
  const QList<CGessoDoc*> docs = WaitForDocuments(1);
  ASSERT_EQ(docs.size(), 1) << Report().join("|").toStdString();
  const Picture want = Scanimage({"--mode", "Gray", "--depth", "16", "--resolution", "75", "-l", mm(area.left()),
                                  "-t", mm(area.top()), "-x", QString::number(mm(area.right()).toInt() - mm(area.left()).toInt()),
                                  "-y", QString::number(mm(area.bottom()).toInt() - mm(area.top()).toInt())});
  EXPECT_EQ(Desc(docs[0]).width, want.width);
  EXPECT_EQ(Desc(docs[0]).height, want.height);
  EXPECT_TRUE(Pixels(docs[0], want) == want.data);
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();
}

// The Advanced panel holds the options the window's controls do not: grouped, each type in
// its own kind of control, inactive and read-only ones disabled, advanced ones on request.
// A setting that changes the device's other options builds the panel anew; what is set
// reaches the device (read back when the panel opens again) and the scans.
TEST_F(SaneTest, AdvancedPanelShowsAndSetsEveryKindOfOption) {
  WriteSaneConfig({});
  ASSERT_TRUE(Start("device test:0\n"));
  QWidget* window = ScannerWindowWith("test:0");
  ASSERT_NE(window, nullptr);
  window->findChild<QPushButton*>("advancedButton")->click();
  QWidget* panel = window->findChild<QWidget*>("advancedPanel");
  ASSERT_NE(panel, nullptr);
  ASSERT_TRUE(panel->isVisible());
  const auto child = [&](const char* name) { return panel->findChild<QWidget*>(name); };
  // The window's own options are not repeated here.
  for (const char* mapped : {"resolution", "mode", "depth", "tl-x", "br-y", "preview"})
    EXPECT_EQ(child(mapped), nullptr) << mapped;
  ASSERT_NE(qobject_cast<QComboBox*>(child("test-picture")), nullptr);
  ASSERT_NE(qobject_cast<QCheckBox*>(child("enable-test-options")), nullptr);
  EXPECT_FALSE(child("three-pass")->isEnabled());  // inactive in grey
  // The test options exist but are inactive; the advanced ones are hidden until asked for.
  ASSERT_NE(qobject_cast<QLineEdit*>(child("string")), nullptr);
  EXPECT_FALSE(child("string")->isEnabled());
  EXPECT_EQ(child("int-constraint-range"), nullptr);
  panel->findChild<QCheckBox*>("showAdvanced")->setChecked(true);
  ASSERT_NE(child("int-constraint-range"), nullptr);
  EXPECT_FALSE(child("int-constraint-range")->isEnabled());

  static_cast<QCheckBox*>(child("enable-test-options"))->click();
  QCoreApplication::processEvents();
  ASSERT_NE(child("string"), nullptr);
  EXPECT_TRUE(child("string")->isEnabled());
  EXPECT_EQ(static_cast<QGroupBox*>(child("string")->parentWidget())->title(), "String test options");
  EXPECT_TRUE(child("bool-soft-select-soft-detect")->isEnabled());
  EXPECT_FALSE(child("bool-soft-detect")->isEnabled());  // read-only
  auto* range = qobject_cast<QSpinBox*>(child("int-constraint-range"));
  ASSERT_NE(range, nullptr);
  EXPECT_TRUE(range->isEnabled());
  EXPECT_EQ(range->minimum(), 4);
  EXPECT_EQ(range->maximum(), 192);
  EXPECT_EQ(range->singleStep(), 2);
  EXPECT_EQ(range->suffix(), " pixel");
  auto* fixedRange = qobject_cast<QDoubleSpinBox*>(child("fixed-constraint-range"));
  ASSERT_NE(fixedRange, nullptr);
  EXPECT_EQ(fixedRange->suffix(), " us");
  auto* words = qobject_cast<QComboBox*>(child("int-constraint-word-list"));
  ASSERT_NE(words, nullptr);
  EXPECT_EQ(words->itemText(0), "-42 bit");
  auto* fixedWords = qobject_cast<QComboBox*>(child("fixed-constraint-word-list"));
  ASSERT_NE(fixedWords, nullptr);
  EXPECT_EQ(fixedWords->itemText(0), "-32.7");
  ASSERT_NE(qobject_cast<QPushButton*>(child("button")), nullptr);
  ASSERT_NE(qobject_cast<QLineEdit*>(child("int-constraint-array")), nullptr);

  // One value of each kind.
  static_cast<QCheckBox*>(child("bool-soft-select-soft-detect"))->setChecked(true);
  range->setValue(100);
  words->setCurrentIndex(words->findText("256 bit"));
  emit words->activated(words->currentIndex());
  fixedWords->setCurrentIndex(fixedWords->findText("129.5"));
  emit fixedWords->activated(fixedWords->currentIndex());
  auto* strings = static_cast<QComboBox*>(child("string-constraint-string-list"));
  strings->setCurrentIndex(1);
  emit strings->activated(1);
  auto* text = static_cast<QLineEdit*>(child("string"));
  text->setText("set from the panel");
  text->setModified(true);
  emit text->editingFinished();
  auto* array = static_cast<QLineEdit*>(child("int-constraint-array"));
  array->setText("7, 8, 9");
  array->setModified(true);
  emit array->editingFinished();
  static_cast<QPushButton*>(child("button"))->click();
  // A value between the steps of a range: the device takes the nearest, and the panel says so.
  fixedRange = static_cast<QDoubleSpinBox*>(child("fixed-constraint-range"));
  fixedRange->setValue(10.5);
  EXPECT_DOUBLE_EQ(fixedRange->value(), 9.83);
  EXPECT_TRUE(panel->findChild<QLabel*>("advancedStatus")->text().contains("nearest"))
      << panel->findChild<QLabel*>("advancedStatus")->text().toStdString();
  fixedRange->setValue(11.83);
  auto* picture = static_cast<QComboBox*>(child("test-picture"));
  picture->setCurrentIndex(picture->findText("Solid white"));
  emit picture->activated(picture->currentIndex());
  EXPECT_TRUE(panel->property("visible").toBool());
  EXPECT_TRUE(panel->findChild<QLabel*>("advancedStatus")->text().isEmpty())
      << panel->findChild<QLabel*>("advancedStatus")->text().toStdString();

  // Opened again, the panel reads a freshly opened device with the settings set on it.
  panel->close();
  window->findChild<QPushButton*>("advancedButton")->click();
  EXPECT_TRUE(static_cast<QCheckBox*>(child("enable-test-options"))->isChecked());
  EXPECT_TRUE(static_cast<QCheckBox*>(child("bool-soft-select-soft-detect"))->isChecked());
  EXPECT_EQ(static_cast<QSpinBox*>(child("int-constraint-range"))->value(), 100);
  EXPECT_DOUBLE_EQ(static_cast<QDoubleSpinBox*>(child("fixed-constraint-range"))->value(), 11.83);
  EXPECT_EQ(static_cast<QComboBox*>(child("int-constraint-word-list"))->currentText(), "256 bit");
  EXPECT_EQ(static_cast<QComboBox*>(child("fixed-constraint-word-list"))->currentText(), "129.5");
  EXPECT_EQ(static_cast<QComboBox*>(child("string-constraint-string-list"))->currentText(), "Second entry");
  EXPECT_EQ(static_cast<QLineEdit*>(child("string"))->text(), "set from the panel");
  EXPECT_TRUE(static_cast<QLineEdit*>(child("int-constraint-array"))->text().startsWith("7, 8, 9, 9"))
      << static_cast<QLineEdit*>(child("int-constraint-array"))->text().toStdString();
  EXPECT_EQ(static_cast<QComboBox*>(child("test-picture"))->currentText(), "Solid white");

  // A value the device cannot take is refused with its reason, and the panel shows what the
  // device holds.
  static_cast<QLineEdit*>(child("int-constraint-array"))->setText("7, x");
  static_cast<QLineEdit*>(child("int-constraint-array"))->setModified(true);
  emit static_cast<QLineEdit*>(child("int-constraint-array"))->editingFinished();
  EXPECT_TRUE(panel->findChild<QLabel*>("advancedStatus")->text().contains("x is not a number"));

  // The scan takes the panel's test picture: solid white.
  auto* spaces = window->findChild<QComboBox*>("colorSpace");
  spaces->setCurrentIndex(spaces->findText("8 bit Grayscale"));
  window->findChild<QSpinBox*>("resolution")->setValue(75);
  window->findChild<QPushButton*>("scan")->click();
  const QList<CGessoDoc*> docs = WaitForDocuments(1);
  ASSERT_EQ(docs.size(), 1) << Report().join("|").toStdString();
  const Picture want = Scanimage({"--mode", "Gray", "--depth", "8", "--resolution", "75", "-x", "200", "-y", "200",
                                  "--test-picture", "Solid white"});
  ASSERT_EQ(Desc(docs[0]).width, want.width);
  EXPECT_TRUE(Pixels(docs[0], want) == want.data);
  EXPECT_TRUE(std::all_of(want.data.begin(), want.data.end(), [](uint8_t v) { return v == 255; }));

  // Defaults forget the settings: the device's own values are back, in the panel and in the
  // next run.
  panel->findChild<QPushButton*>("defaults")->click();
  EXPECT_EQ(static_cast<QComboBox*>(child("test-picture"))->currentText(), "Color pattern");
  EXPECT_FALSE(static_cast<QCheckBox*>(child("enable-test-options"))->isChecked());
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();
}

// While a slow device is read the scanner window stays live: its events run and its
// progress moves, and its Cancel stops the scan (or the preview pass) there and then, with
// no document and no error; the device is free again for the next scan, which arrives whole.
TEST_F(SaneTest, WindowStaysLiveWhileReadingAndItsCancelStopsTheScan) {
  // A slow device: small reads, with a pause after each piece it sends. At 300 dpi the
  // frame comes in ten strips over about seven seconds, so the progress stays between its
  // ends for some six seconds after the first strip: time enough for five ticks even where
  // the application's thread is slowed down (a sanitizer build on a busy machine). At
  // 100 dpi there were two strips and a tenth of a second between them.
  WriteSaneConfig({{"read-limit", "true"}, {"read-limit-size", "2000"}, {"read-delay", "true"},
                   {"read-delay-duration", "30000"}});
  ASSERT_TRUE(Start("device test:0\n"));
  QWidget* window = ScannerWindowWith("test:0");
  ASSERT_NE(window, nullptr);
  auto* spaces = window->findChild<QComboBox*>("colorSpace");
  spaces->setCurrentIndex(spaces->findText("8 bit Grayscale"));
  window->findChild<QSpinBox*>("resolution")->setValue(300);
  auto* bar = window->findChild<QProgressBar*>("progress");
  auto* cancel = window->findChild<QPushButton*>("cancel");
  int ticksWhileScanning = 0, progressAtCancel = -1;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (bar->value() <= 0 || bar->value() >= 1000) return;
    if (++ticksWhileScanning == 5) {
      progressAtCancel = bar->value();
      cancel->click();
    }
  });
  ticker.start(15);
  window->findChild<QPushButton*>("scan")->click();
  EXPECT_TRUE(WaitForDocuments(1, "cancelled").isEmpty());
  ticker.stop();
  EXPECT_GE(ticksWhileScanning, 5);
  EXPECT_GT(progressAtCancel, 0);
  EXPECT_LT(progressAtCancel, 1000);
  EXPECT_TRUE(Report().join('\n').contains("cancelled after")) << Report().join("|").toStdString();
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();
  EXPECT_EQ(bar->value(), 0);
  EXPECT_TRUE(window->findChild<QPushButton*>("scan")->isEnabled());

  // A preview pass of the slow device stops the same way, and the source stays open.
  ticksWhileScanning = 0;
  progressAtCancel = -1;
  ticker.start(15);
  window->findChild<QPushButton*>("previewButton")->click();
  ticker.stop();
  EXPECT_GE(ticksWhileScanning, 5);
  EXPECT_GT(progressAtCancel, 0);
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->findChild<QLabel*>("status")->text().contains("cancelled"))
      << window->findChild<QLabel*>("status")->text().toStdString();
  EXPECT_TRUE(window->findChild<QPushButton*>("previewButton")->isEnabled());

  WriteSaneConfig({});
  window->findChild<QSpinBox*>("resolution")->setValue(100);
  window->findChild<QPushButton*>("scan")->click();
  const QList<CGessoDoc*> docs = WaitForDocuments(1);
  ASSERT_EQ(docs.size(), 1) << Report().join("|").toStdString();
  const Picture want = Scanimage({"--mode", "Gray", "--depth", "8", "--resolution", "100", "-x", "200", "-y", "200"});
  EXPECT_EQ(Desc(docs[0]).height, want.height);
  EXPECT_TRUE(Pixels(docs[0], want) == want.data);
}

}  // namespace
