// True colours and printing with the data source's own defaults: the application runs
// in-process against the real data source module and its profiles, with a fresh
// configuration; what the views draw and what printed pages hold is read back as pixels.
#include "commands.h"
#include "framework/doc_manager.h"
#include "framework/printing.h"
#include "framework/win_app.h"
#include "gesso_doc.h"
#include "gesso_view.h"
#include "main_frame.h"
#include "scan_app.h"

#include "icc_writer.h"

#include <tessera/tessera.h>

#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include "isolated_app_test.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <vector>

using namespace orvax::app;
namespace fw = orvax::framework;

namespace {

// A W x H RGB test image of flat patches of the colours in COLOURS, laid out in a row.
std::vector<uint8_t> PatchPixels(int w, int h, const std::vector<QColor>& colours) {
  std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 3);
  const int n = static_cast<int>(colours.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const QColor& c = colours[static_cast<size_t>(x * n / w)];
      uint8_t* p = &pixels[(static_cast<size_t>(y) * w + x) * 3];
      p[0] = static_cast<uint8_t>(c.red()), p[1] = static_cast<uint8_t>(c.green()), p[2] = static_cast<uint8_t>(c.blue());
    }
  return pixels;
}

class ColourTest : public IsolatedAppTest {
 public:
  // What the view draws, at 1:1, as an image of the whole picture.
  static QImage Drawn(CGessoDoc* doc) {
    CGessoView* view = View(doc);
    view->SetZoom(1, 1);
    const QSize size = view->TotalSize();
    view->resize(size + QSize(40, 40));
    QImage drawn(view->viewport()->size(), QImage::Format_RGB32);
    drawn.fill(Qt::magenta);
    {
      QPainter p(&drawn);
      view->OnDraw(p, drawn.rect());
    }
    return drawn.copy(QRect(QPoint(0, 0), size));
  }
  static CGessoView* View(CGessoDoc* doc) { return static_cast<CGessoView*>(doc->Views().front()); }

 protected:
  void SetUp() override {
    Isolate(ORVAX_REAL_ROOT);
    qunsetenv("ORVAX_DS_SCRIPT");
    fw::SetMessageBoxHook([this](const QString& text, unsigned) {
      messages_ << text;
      return fw::IDOK;
    });
  }
  void TearDown() override {
    Stop();
    fw::SetMessageBoxHook({});
    fw::SetModalHook({});
    fw::SetPrintFilePromptHook({});
    qunsetenv("ORVAX_DS_SCRIPT");
  }

  // Starts the application with a file argument, which keeps the scanner's window shut.
  void Start() {
    app_ = std::make_unique<CScanApp>();
    ASSERT_TRUE(app_->InitInstance({dir_.filePath(QStringLiteral("no-such-file.bmp"))}));
    messages_.clear();
  }
  // Starts without arguments, so that the scanner opens and runs SCRIPT, and waits for
  // the scans to arrive.
  void StartWithScan(const QString& script) {
    const QString path = dir_.filePath(QStringLiteral("script%1.txt").arg(++scripts_));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(script.toUtf8());
    file.close();
    qputenv("ORVAX_DS_SCRIPT", path.toLocal8Bit());
    app_ = std::make_unique<CScanApp>();
    ASSERT_TRUE(app_->InitInstance({}));
    QElapsedTimer timer;
    timer.start();
    for (;;) {
      const QList<CGessoDoc*> docs = Documents();
      const bool done = !docs.isEmpty() && std::none_of(docs.begin(), docs.end(), [](CGessoDoc* d) { return d->IsAcquiring(); });
      if (done || timer.elapsed() > 20000) break;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    qunsetenv("ORVAX_DS_SCRIPT");
  }
  void Stop() {
    if (!app_) return;
    for (fw::CDocument* d : app_->DocManager()->Documents()) d->SetModifiedFlag(false);
    app_->ExitInstance();
    app_.reset();
  }
  QList<CGessoDoc*> Documents() const {
    QList<CGessoDoc*> docs;
    for (fw::CDocument* d : app_->DocManager()->Documents())
      if (auto* doc = qobject_cast<CGessoDoc*>(d)) docs << doc;
    return docs;
  }
  static void SetScannerSetting(const char* key, const QVariant& value) {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Orvax", "Orvax Scan Data Source").setValue(key, value);
  }

  // Runs the data source's Preferences as the menu command does, EDIT working the dialog
  // before OK, and lets the announcement reach the documents.
  void Preferences(const std::function<void(QDialog&)>& edit) {
    bool seen = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr || dialog->objectName() != QStringLiteral("OrvaxPreferences")) return;
      seen = true;
      edit(*dialog);
      dialog->accept();
    });
    app_->Module()->ShowPreferences(app_->MainFrame()->Handle(), 0);
    ASSERT_TRUE(seen) << "the Preferences dialog did not show";
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }

  QString WritePatches(const QString& name, const std::vector<QColor>& colours, int w = 160, int h = 40) {
    return WritePixels(name, w, h, PatchPixels(w, h, colours));
  }
  // Every 8-bit value in each channel: red across, green down, blue the other way.
  QString WriteRamp(const QString& name) {
    const int w = 256, h = 64;
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        uint8_t* p = &pixels[(static_cast<size_t>(y) * w + x) * 3];
        p[0] = static_cast<uint8_t>(x), p[1] = static_cast<uint8_t>(y * 4), p[2] = static_cast<uint8_t>(255 - x);
      }
    return WritePixels(name, w, h, pixels);
  }
  QString WritePixels(const QString& name, int w, int h, std::vector<uint8_t> pixels) {
    tagTes_Image_Desc desc{w, h, 2, {8, 8, 8, 0}, 72.0};
    TesseraClass image(0, desc, TesseraClass::m_s_EmptyTransform);
    const tagTes_Tile_Desc tile{{0, 0, w, h}, w * 3, 0};
    EXPECT_EQ(image.SetData(tile, TesseraClass::m_s_EmptyTransform, pixels.data()), 0);
    const QByteArray path = QFile::encodeName(dir_.filePath(name));
    EXPECT_EQ(image.Save({path.constData(), TES_FILE_BMP, 0}, nullptr, nullptr, 0), 0);
    return QFile::decodeName(path);
  }
  // An RGB profile with the red and blue primaries of sRGB swapped.
  QString SwappedProfile() {
    static constexpr double r[3] = {0.4360747, 0.2225045, 0.0139322};
    static constexpr double g[3] = {0.3850649, 0.7168786, 0.0971045};
    static constexpr double b[3] = {0.1430804, 0.0606169, 0.7141733};
    const QString path = dir_.filePath(QStringLiteral("swapped.icm"));
    EXPECT_TRUE(iccw::MatrixRgb(b, g, r, iccw::SRGBCurve(1024)).Write(path.toStdString()));
    return path;
  }

  CGessoDoc* Open(const QString& path) { return static_cast<CGessoDoc*>(app_->OpenDocumentFile(path)); }

  QStringList messages_;
  std::unique_ptr<CScanApp> app_;
  int scripts_ = 0;
};

// The sRGB value V in linear light.
double Linear(int v) {
  const double c = v / 255.0;
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// What a stored 8-bit value shows as: through the plain pipeline as it is; through colour
// management from sRGB to the sRGB monitor profile, in linear light, then the monitor gamma
// curve the application installs (255 (i / 255)^(1 / gamma)).
double Shown(int v, bool cms, double gamma) { return cms ? 255.0 * std::pow(Linear(v), 1.0 / gamma) : v; }

// The colour-matching library's accuracy: the matched value in linear light is good to one
// step of 255, which the monitor curve spreads by its slope there (at the dark end one such
// step is many display levels), plus two levels for the grid and the curves' interpolation.
double Tolerance(int v, bool cms, double gamma) {
  if (!cms) return 0.0;
  const double l = Linear(v), step = 1.0 / 255.0;
  return 2.0 + 255.0 * (std::pow(std::min(1.0, l + step), 1.0 / gamma) - std::pow(std::max(0.0, l - step), 1.0 / gamma)) / 2.0;
}

// The largest difference between what DOC's view draws and what its stored pixels should
// show as, over every pixel (8-bit RGB images), in parts of the tolerance there: above 1 is
// out of tolerance.
double WorstDeviation(CGessoDoc* doc, bool cms, double gamma, QString* where = nullptr) {
  tagTes_Image_Desc desc{};
  doc->Image()->GetImageDesc(&desc);
  std::vector<uint8_t> stored(static_cast<size_t>(desc.width) * desc.height * 3);
  const tagTes_Tile_Desc tile{{0, 0, desc.width, desc.height}, desc.width * 3, 0};
  if (doc->Image()->GetData(tile, stored.data()) != 0) return 1e9;
  const QImage drawn = ColourTest::Drawn(doc);
  double worst = 0;
  for (int y = 0; y < desc.height; ++y)
    for (int x = 0; x < desc.width; ++x) {
      const QRgb p = drawn.pixel(x, y);
      const int got[3] = {qRed(p), qGreen(p), qBlue(p)};
      for (int c = 0; c < 3; ++c) {
        const int v = stored[(static_cast<size_t>(y) * desc.width + x) * 3 + c];
        const double d = std::abs(got[c] - Shown(v, cms, gamma)) / std::max(Tolerance(v, cms, gamma), 0.5);
        if (d > worst) {
          worst = d;
          if (where) *where = QStringLiteral("(%1,%2) channel %3: stored %4, drawn %5").arg(x).arg(y).arg(c).arg(v).arg(got[c]) + QStringLiteral(", expected %1").arg(Shown(v, cms, gamma));
        }
      }
    }
  return worst;
}

}  // namespace

// A scan of the colour chart and an opened file, with a fresh configuration, show their own
// values: through colour management (on by default) within the matching's accuracy, and
// through the plain pipeline exactly.
TEST_F(ColourTest, ScanAndOpenedFileShowTheirValues) {
  for (const bool cms : {true, false}) {
    SCOPED_TRACE(cms ? "colour management on" : "colour management off");
    if (!cms) SetScannerSetting("Color/UseCMS", false);
    StartWithScan("scan pixel=rgb depth=8 width=192 height=128 frame=chart\n");
    const QList<CGessoDoc*> docs = Documents();
    ASSERT_EQ(docs.size(), 1);
    ASSERT_EQ(docs[0]->Image()->IsColorManaged(), cms);
    QString where;
    EXPECT_LE(WorstDeviation(docs[0], cms, 2.2, &where), 1.0) << where.toStdString();
    // The first patch of the chart, where the dark display was noticed.
    tagTes_Pixel_Value stored{};
    ASSERT_EQ(docs[0]->Image()->GetPixel({10, 10}, &stored, 0), 0);
    const QRgb shown = Drawn(docs[0]).pixel(10, 10);
    EXPECT_NEAR(qRed(shown), stored.values[0], 3);
    EXPECT_NEAR(qGreen(shown), stored.values[1], 3);
    EXPECT_NEAR(qBlue(shown), stored.values[2], 3);

    CGessoDoc* file = Open(WriteRamp("ramp.bmp"));
    ASSERT_NE(file, nullptr);
    EXPECT_LE(WorstDeviation(file, cms, 2.2, &where), 1.0) << where.toStdString();
    Stop();
  }
}

// Every change in the Preferences reaches the open documents at once: the gamma, the
// monitor profile, and colour management turned off and on again; a document opened while
// it was off follows too, instead of getting a bare gamma curve that washes it out.
TEST_F(ColourTest, PreferencesReachOpenDocumentsAtOnce) {
  Start();
  CGessoDoc* a = Open(WriteRamp("a.bmp"));
  ASSERT_NE(a, nullptr);
  ASSERT_LE(WorstDeviation(a, true, 2.2), 1.0);

  // Gamma: the document is redrawn with the new table.
  Preferences([](QDialog& d) { d.findChild<QDoubleSpinBox*>("monitorGamma")->setValue(1.8); });
  QString where;
  EXPECT_LE(WorstDeviation(a, true, 1.8, &where), 1.0) << where.toStdString();

  // A monitor profile whose red and blue primaries are swapped: red turns blue at once.
  const QString swapped = SwappedProfile();
  Preferences([&](QDialog& d) { d.findChild<QLineEdit*>("monitorProfile")->setText(swapped); });
  CGessoDoc* red = Open(WritePatches("red.bmp", {QColor(255, 0, 0)}));
  ASSERT_NE(red, nullptr);
  for (CGessoDoc* doc : {a, red}) {
    const QRgb p = Drawn(doc).pixel(Drawn(doc).width() - 2, 2);
    EXPECT_GT(qBlue(p), 200) << "the new monitor profile shows in every document";
    EXPECT_LT(qRed(p), 60);
  }

  // Off: both show their values through the plain pipeline, exactly.
  Preferences([](QDialog& d) { d.findChild<QCheckBox*>("useCms")->setChecked(false); });
  for (CGessoDoc* doc : {a, red}) {
    EXPECT_FALSE(doc->Image()->IsColorManaged());
    EXPECT_LE(WorstDeviation(doc, false, 1.8, &where), 0.0) << where.toStdString();
  }
  CGessoDoc* b = Open(WriteRamp("b.bmp"));
  ASSERT_NE(b, nullptr);
  ASSERT_FALSE(b->Image()->IsColorManaged());

  // On again, the profile back to sRGB and a new gamma: every document, the one opened
  // while it was off included, shows its values through colour management.
  Preferences([](QDialog& d) {
    d.findChild<QCheckBox*>("useCms")->setChecked(true);
    d.findChild<QLineEdit*>("monitorProfile")->setText(QString(ORVAX_REAL_ROOT) + "/SYSTEM/COLOR/sRGB.icc");
    d.findChild<QDoubleSpinBox*>("monitorGamma")->setValue(2.2);
  });
  for (CGessoDoc* doc : {a, b, red}) {
    EXPECT_TRUE(doc->Image()->IsColorManaged());
    EXPECT_LE(WorstDeviation(doc, true, 2.2, &where), 1.0) << where.toStdString();
  }
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();

  // A CMYK image cannot be shown without colour management: it keeps it, and the message
  // says the change takes effect for it after a restart.
  ASSERT_EQ(b->Image()->SetColorSpace(TES_CS_CMYK32, nullptr), 0);
  Preferences([](QDialog& d) { d.findChild<QCheckBox*>("useCms")->setChecked(false); });
  EXPECT_TRUE(b->Image()->IsColorManaged());
  EXPECT_FALSE(a->Image()->IsColorManaged());
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_TRUE(messages_[0].contains(b->GetTitle()) && messages_[0].contains("restarted")) << messages_[0].toStdString();
}
