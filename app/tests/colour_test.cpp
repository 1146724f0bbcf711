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
#include "print_layout.h"
#include "scan_app.h"

#include "icc_writer.h"

#include <tessera/tessera.h>

#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QThread>
#include <QPainter>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include "isolated_app_test.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <optional>
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
  void SetUp() override { IsolateOnRealRoot(); }
  void TearDown() override {
    Quit();
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
    ASSERT_TRUE(PrepareScriptedStart(script));
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
    Quit();
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

  // A grey image opened while it is off stays plain when it is turned on (a colour-managed
  // object holds grey as RGB): it shows its values as before, not through a bare gamma
  // curve, and the message names it.
  messages_.clear();
  const int w = 256, h = 8;
  std::vector<uint8_t> ramp(static_cast<size_t>(w) * h);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint8_t>(i % w);
  tagTes_Image_Desc desc{w, h, 0, {8, 0, 0, 0}, 72.0};
  TesseraClass greyImage(0, desc, TesseraClass::m_s_EmptyTransform);
  ASSERT_EQ(greyImage.SetData({{0, 0, w, h}, w, 0}, TesseraClass::m_s_EmptyTransform, ramp.data()), 0);
  const QByteArray greyPath = QFile::encodeName(dir_.filePath(QStringLiteral("grey.bmp")));
  ASSERT_EQ(greyImage.Save({greyPath.constData(), TES_FILE_BMP, 0}, nullptr, nullptr, 0), 0);
  CGessoDoc* grey = Open(QFile::decodeName(greyPath));
  ASSERT_NE(grey, nullptr);
  Preferences([](QDialog& d) {
    d.findChild<QCheckBox*>("useCms")->setChecked(true);
    d.findChild<QDoubleSpinBox*>("monitorGamma")->setValue(1.8);
  });
  EXPECT_FALSE(grey->Image()->IsColorManaged());
  const QImage shown = Drawn(grey);
  for (int x = 0; x < w; ++x) ASSERT_EQ(qGray(shown.pixel(x, 4)), x) << "the grey image is shown as stored";
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_TRUE(messages_[0].contains(grey->GetTitle())) << messages_[0].toStdString();
  EXPECT_LE(WorstDeviation(a, true, 1.8, &where), 1.0) << where.toStdString();
}

// ---------------------------------------------------------------------------------------
// Printing with the data source's profiles: PDF pages rendered back with pdftoppm at the
// printer's resolution, so that a device pixel is a pixel of the rendering.

namespace {

constexpr int kDpi = 150;
const std::vector<QColor> kPrintPatches{QColor(200, 40, 40), QColor(40, 160, 60), QColor(50, 60, 190),
                                        QColor(220, 200, 40)};

// The page rendered at kDpi, or a null image.
QImage RenderPdf(const QString& pdf, const QString& prefix) {
  const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
  if (pdftoppm.isEmpty()) return {};
  QProcess p;
  p.start(pdftoppm, {"-r", QString::number(kDpi), "-aa", "no", "-aaVector", "no", "-singlefile", pdf, prefix});
  if (!p.waitForFinished(60000) || p.exitCode() != 0) return {};
  return QImage(prefix + QStringLiteral(".ppm")).convertToFormat(QImage::Format_RGB888);
}

// The box of strongly coloured pixels: the printed image (the caption is black on white).
QRect ColouredBox(const QImage& page) {
  int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;
  for (int y = 0; y < page.height(); ++y) {
    const uint8_t* p = page.constScanLine(y);
    for (int x = 0; x < page.width(); ++x, p += 3) {
      if (std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) < 80) continue;
      left = std::min(left, x), top = std::min(top, y), right = std::max(right, x), bottom = std::max(bottom, y);
    }
  }
  return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

}  // namespace

class ColourPrintTest : public ColourTest {
 protected:
  void SetUp() override {
    ColourTest::SetUp();
    pdf_ = dir_.filePath(QStringLiteral("page.pdf"));
    fw::SetPrintFilePromptHook([this](const QString&) { return pdf_; });
    settings_.resolution = kDpi;  // the PDF writer at 150 dpi on its own page
  }

  // Prints DOC without the dialog (fitted to the page) and checks that the PDF holds the
  // image where the layout puts it, each patch within TOLERANCE of its colour.
  void ExpectPrinted(CGessoDoc* doc, int tolerance) {
    app_->SetPrinterDefaults(settings_);
    ASSERT_TRUE(View(doc)->OnCommand(ID_FILE_PRINT_DIRECT));
    EXPECT_EQ(View(doc)->LastPrintStatus(), 0);
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();
    const QImage page = RenderPdf(pdf_, dir_.filePath(QStringLiteral("render")));
    ASSERT_FALSE(page.isNull()) << "pdftoppm (poppler-utils) renders the printed page";

    QPrinter printer(QPrinter::HighResolution);
    settings_.ApplyTo(printer, false);
    QFont font;
    font.setPixelSize(printer.logicalDpiY() * 12 / 72);
    const PrinterCaps caps{printer.width(), printer.height(), printer.logicalDpiX(), printer.logicalDpiY()};
    tagTes_Image_Desc desc{};
    doc->Image()->GetImageDesc(&desc);
    const std::optional<PageLayout> layout =
        ComputePageLayout(caps, desc.width, desc.height, QFontMetrics(font, &printer).height(), true, 72);
    ASSERT_TRUE(layout);
    const QPoint origin = printer.pageLayout().paintRectPixels(kDpi).topLeft();
    const QRect expected(origin + QPoint(layout->left, layout->top), QSize(layout->outputWidth, layout->outputHeight));
    const QRect box = ColouredBox(page);
    ASSERT_FALSE(box.isNull()) << "the page holds no image";
    EXPECT_NEAR(box.left(), expected.left(), 2);
    EXPECT_NEAR(box.top(), expected.top(), 2);
    EXPECT_NEAR(box.width(), expected.width(), 3);
    EXPECT_NEAR(box.height(), expected.height(), 3);
    const int n = static_cast<int>(kPrintPatches.size());
    printed_.clear();
    for (int i = 0; i < n; ++i) {
      const QColor got = page.pixelColor(expected.left() + expected.width() * (2 * i + 1) / (2 * n), expected.center().y());
      printed_.push_back(got);
      const QColor& want = kPrintPatches[static_cast<size_t>(i)];
      EXPECT_NEAR(got.red(), want.red(), tolerance) << i;
      EXPECT_NEAR(got.green(), want.green(), tolerance) << i;
      EXPECT_NEAR(got.blue(), want.blue(), tolerance) << i;
    }
  }

  QString pdf_;
  fw::CPrinterSettings settings_;
  std::vector<QColor> printed_;  // the patches as the last page shows them
};

// With the default configuration the printer profile is sRGB: the page shows the file's
// colours. A CMYK printer profile prints as a proof of that printer, back in sRGB for the
// device, and Print Preview shows the image.
TEST_F(ColourPrintTest, DefaultAndCmykPrinterProfilesPrintTheImage) {
  Start();
  CGessoDoc* doc = Open(WritePatches("patches.bmp", kPrintPatches, 200, 120));
  ASSERT_NE(doc, nullptr);
  ExpectPrinted(doc, 6);
  if (HasFatalFailure()) return;

  QFile::remove(pdf_);
  Preferences([](QDialog& d) {
    d.findChild<QLineEdit*>("printerProfile")->setText(QString(ORVAX_REAL_ROOT) + "/SYSTEM/COLOR/default_cmyk.icc");
  });
  ExpectPrinted(doc, 40);  // these colours lie inside the printer's gamut, near enough
  if (HasFatalFailure()) return;
  // The proof shows that printer: its blue is duller than the screen's.
  ASSERT_EQ(printed_.size(), kPrintPatches.size());
  EXPECT_LT(printed_[2].blue(), kPrintPatches[2].blue() - 12) << printed_[2].name().toStdString();

  QImage shown;
  fw::SetModalHook([&shown](QDialog& dialog) -> int {
    if (auto* preview = qobject_cast<fw::CPrintPreviewDialog*>(&dialog)) {
      preview->resize(600, 800);
      preview->Preview()->updatePreview();
      preview->Preview()->fitInView();
      shown = preview->Preview()->grab().toImage().convertToFormat(QImage::Format_RGB888);
    }
    return fw::IDCANCEL;
  });
  ASSERT_TRUE(View(doc)->OnCommand(ID_FILE_PRINT_PREVIEW));
  ASSERT_FALSE(shown.isNull());
  EXPECT_FALSE(ColouredBox(shown).isNull()) << "the preview shows the image";
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();
}

// A profile that cannot serve where it is chosen is refused by the Preferences with the
// reason, and the one before is kept: a Lab profile for the printer, a file that is not a
// profile for the monitor. A CMYK printer profile is taken (it prints as a proof).
TEST_F(ColourPrintTest, PreferencesRefuseProfilesThatCannotServe) {
  Start();
  const QString before = QString(ORVAX_REAL_ROOT) + "/SYSTEM/COLOR/sRGB.icc";
  const QString lab = QString(ORVAX_REAL_ROOT) + "/SYSTEM/COLOR/OXLab.icm";
  const QString text = dir_.filePath(QStringLiteral("notes.icc"));
  QFile file(text);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(QByteArray(200, 'x'));
  file.close();
  QStringList refusals;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&refusals] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        box != nullptr && box->objectName() == QStringLiteral("OrvaxProfileRefusal")) {
      refusals << box->text();
      box->accept();
    }
  });
  closer.start(20);
  Preferences([&](QDialog& d) {
    d.findChild<QLineEdit*>("printerProfile")->setText(lab);
    d.findChild<QLineEdit*>("monitorProfile")->setText(text);
  });
  ASSERT_EQ(refusals.size(), 1);
  EXPECT_TRUE(refusals[0].contains("The printer profile " + lab + " cannot be used: its color space is Lab"))
      << refusals[0].toStdString();
  EXPECT_TRUE(refusals[0].contains("The monitor profile " + text + " cannot be used: it is not an ICC profile"))
      << refusals[0].toStdString();
  const QSettings scanner(QSettings::NativeFormat, QSettings::UserScope, "Orvax", "Orvax Scan Data Source");
  EXPECT_EQ(scanner.value("Color/PrinterProfile").toString(), before);
  EXPECT_EQ(scanner.value("Color/MonitorProfile").toString(), before);

  refusals.clear();
  const QString cmyk = QString(ORVAX_REAL_ROOT) + "/SYSTEM/COLOR/default_cmyk.icc";
  Preferences([&](QDialog& d) { d.findChild<QLineEdit*>("printerProfile")->setText(cmyk); });
  EXPECT_TRUE(refusals.isEmpty()) << refusals.join("|").toStdString();
  EXPECT_EQ(QSettings(QSettings::NativeFormat, QSettings::UserScope, "Orvax", "Orvax Scan Data Source")
                .value("Color/PrinterProfile")
                .toString(),
            cmyk);
}

// A printer profile that cannot be used stops the print with the reason, and the PDF the
// job began is not left behind.
TEST_F(ColourPrintTest, AFailedPrintSaysWhyAndLeavesNoFile) {
  const QString broken = dir_.filePath(QStringLiteral("broken.icc"));
  QFile file(broken);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("not a profile");
  file.close();
  SetScannerSetting("Color/PrinterProfile", broken);
  Start();
  CGessoDoc* doc = Open(WritePatches("patches.bmp", kPrintPatches));
  ASSERT_NE(doc, nullptr);
  app_->SetPrinterDefaults(settings_);
  ASSERT_TRUE(View(doc)->OnCommand(ID_FILE_PRINT_DIRECT));
  EXPECT_EQ(View(doc)->LastPrintStatus(), TES_ERR_CM_INIT);
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_TRUE(messages_[0].contains(broken) && messages_[0].contains("cannot be used")) << messages_[0].toStdString();
  EXPECT_FALSE(QFile::exists(pdf_));
}

// ---------------------------------------------------------------------------------------
// Printing through a real CUPS queue, as people print to a printer: a scheduler of the
// test's own (its own socket, no port that could clash, spool and output folders under a
// temporary folder) with a cups-pdf queue. cups-pdf reads its settings from /etc/cups only,
// so the queue's instance file lives there for the length of the test.

namespace {

// Points the CUPS client library at SERVER (empty: the system's), also after it has
// already talked to another scheduler in this process.
void UseCupsServer(const QByteArray& server) {
  if (server.isEmpty()) qunsetenv("CUPS_SERVER");
  else qputenv("CUPS_SERVER", server);
  if (void* cups = dlopen("libcups.so.2", RTLD_NOW | RTLD_NOLOAD)) {
    using SetServer = void (*)(const char*);
    if (auto set = reinterpret_cast<SetServer>(dlsym(cups, "cupsSetServer"))) set(nullptr);  // re-read the variable
    dlclose(cups);
  }
}

}  // namespace

class CupsPrintTest : public ColourPrintTest {
 protected:
  void SetUp() override {
    ColourPrintTest::SetUp();
    if (HasFatalFailure()) return;
    const QStringList sbin{QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")};
    const QString cupsd = QStandardPaths::findExecutable(QStringLiteral("cupsd"), sbin);
    lpadmin_ = QStandardPaths::findExecutable(QStringLiteral("lpadmin"), sbin);
    ASSERT_FALSE(cupsd.isEmpty() || lpadmin_.isEmpty())
        << "cupsd and lpadmin are needed (Debian's cups; scripts/install-deps.sh installs it)";
    ASSERT_TRUE(QFile::exists(QStringLiteral("/usr/lib/cups/backend/cups-pdf")))
        << "the cups-pdf backend is needed (Debian's printer-driver-cups-pdf; scripts/install-deps.sh installs it)";
    ASSERT_EQ(geteuid(), 0u) << "the cups-pdf backend runs only under a scheduler started as root";

    root_ = QDir(dir_.filePath(QStringLiteral("cups"))).absolutePath();
    for (const char* sub : {"spool", "tmp", "cache", "state", "log", "out", "anon", "pdfspool"})
      ASSERT_TRUE(QDir().mkpath(root_ + "/" + sub));
    // The scheduler's filters run as lp: the folders must be reachable.
    for (QString path = root_; path != QStringLiteral("/"); path = QFileInfo(path).absolutePath())
      QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOther | QFile::ReadOther | QFile::ExeGroup |
                                      QFile::ReadGroup);
    // Filters run as lp and write their temporary files here.
    ASSERT_EQ(chmod(QFile::encodeName(root_ + "/tmp").constData(), 01777), 0);
    socket_ = root_ + QStringLiteral("/cups.sock");
    WriteText(root_ + "/cupsd.conf",
              QStringLiteral("Listen %1\nLogLevel debug\nWebInterface No\nBrowsing No\n"
                             "DefaultAuthType None\n<Location />\nOrder allow,deny\nAllow all\n</Location>\n"
                             "<Policy default>\n<Limit All>\nOrder deny,allow\n</Limit>\n</Policy>\n")
                  .arg(socket_));
    WriteText(root_ + "/cups-files.conf",
              QStringLiteral("ServerRoot %1\nRequestRoot %1/spool\nTempDir %1/tmp\nCacheDir %1/cache\n"
                             "StateDir %1/state\nErrorLog %1/log/error_log\nAccessLog %1/log/access_log\n"
                             "PageLog %1/log/page_log\nUser lp\nGroup lp\n")
                  .arg(root_));
    instance_ = QStringLiteral("orvaxtest%1").arg(getpid());
    instanceFile_ = QStringLiteral("/etc/cups/cups-pdf-%1.conf").arg(instance_);
    WriteText(instanceFile_, QStringLiteral("Out %1/out\nAnonDirName %1/anon\nSpool %1/pdfspool\nLog %1/log\n"
                                            "LogType 3\nGrp root\n")
                                 .arg(root_));

    cupsd_.setProcessChannelMode(QProcess::MergedChannels);
    cupsd_.start(cupsd, {"-f", "-c", root_ + "/cupsd.conf", "-s", root_ + "/cups-files.conf"});
    ASSERT_TRUE(cupsd_.waitForStarted(10000)) << "cupsd did not start: " << cupsd_.errorString().toStdString();
    // The queue, once the scheduler answers.
    QElapsedTimer timer;
    timer.start();
    QString failure;
    for (;;) {
      QProcess admin;
      QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
      env.insert("CUPS_SERVER", socket_);
      admin.setProcessEnvironment(env);
      admin.setProcessChannelMode(QProcess::MergedChannels);
      admin.start(lpadmin_, {"-p", kQueue, "-E", "-v", "cups-pdf:/" + instance_, "-P",
                             "/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd"});
      admin.waitForFinished(20000);
      if (admin.exitStatus() == QProcess::NormalExit && admin.exitCode() == 0) break;
      failure = QString::fromLocal8Bit(admin.readAll());
      ASSERT_TRUE(cupsd_.state() == QProcess::Running)
          << "cupsd stopped: " << cupsd_.readAll().toStdString() << ErrorLog().toStdString();
      ASSERT_LT(timer.elapsed(), 20000) << "the scheduler took no queue: " << failure.toStdString()
                                        << ErrorLog().toStdString();
      QThread::msleep(200);
    }
    UseCupsServer(socket_.toLocal8Bit());
  }

  void TearDown() override {
    ColourPrintTest::TearDown();
    UseCupsServer({});
    if (cupsd_.state() != QProcess::NotRunning) {
      cupsd_.terminate();
      if (!cupsd_.waitForFinished(10000)) cupsd_.kill(), cupsd_.waitForFinished(5000);
    }
    if (!instanceFile_.isEmpty()) QFile::remove(instanceFile_);
  }

  static void WriteText(const QString& path, const QString& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(text.toUtf8());
  }
  QString ErrorLog() const {
    QFile file(root_ + "/log/error_log");
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll().right(4000)) : QString();
  }
  // The PDFs cups-pdf has written.
  QStringList Written() const {
    QStringList files;
    for (const QString& name : QDir(root_ + "/out").entryList({"*.pdf"}, QDir::Files)) files << root_ + "/out/" + name;
    return files;
  }

  static constexpr const char* kQueue = "orvax-pdf";
  QString lpadmin_, root_, socket_, instance_, instanceFile_;
  QProcess cupsd_;
};

// One job through the queue, as the user prints it: the printer is chosen in the print
// dialog and the job's PDF holds the image in its colours, centred across the page.
TEST_F(CupsPrintTest, AJobThroughACupsPdfQueueHoldsTheImage) {
  Start();
  CGessoDoc* doc = Open(WritePatches("patches.bmp", kPrintPatches, 200, 120));
  ASSERT_NE(doc, nullptr);
  ASSERT_TRUE(QPrinterInfo::availablePrinterNames().contains(kQueue)) << "the application does not see the queue";
  fw::SetModalHook([](QDialog& dialog) -> int {
    auto* print = qobject_cast<fw::CPrintDialog*>(&dialog);
    if (print == nullptr || !print->SelectPrinter(kQueue)) return fw::IDCANCEL;
    static_cast<QPushButton*>(print->GetDlgItem(fw::IDOK))->click();
    return dialog.result() == QDialog::Accepted ? fw::IDOK : fw::IDCANCEL;
  });
  ASSERT_TRUE(View(doc)->OnCommand(ID_FILE_PRINT));
  EXPECT_EQ(View(doc)->LastPrintStatus(), 0);
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();

  QElapsedTimer timer;
  timer.start();
  while (Written().isEmpty() && timer.elapsed() < 60000) QThread::msleep(200);
  const QStringList written = Written();
  ASSERT_EQ(written.size(), 1) << "cups-pdf wrote no job: " << ErrorLog().toStdString();
  // cups-pdf finishes its file before it reports the job done; give it that moment.
  QThread::msleep(500);
  const QImage page = RenderPdf(written[0], dir_.filePath(QStringLiteral("job")));
  ASSERT_FALSE(page.isNull());
  const QRect box = ColouredBox(page);
  ASSERT_FALSE(box.isNull()) << "the job's page holds no image";
  EXPECT_NEAR(box.center().x(), page.width() / 2.0, page.width() * 0.02);
  EXPECT_NEAR(static_cast<double>(box.width()) / box.height(), 200.0 / 120.0, 0.05);
  EXPECT_GT(box.width(), page.width() * 0.8) << "fitted to the page";
  const int n = static_cast<int>(kPrintPatches.size());
  for (int i = 0; i < n; ++i) {
    const QColor got = page.pixelColor(box.left() + box.width() * (2 * i + 1) / (2 * n), box.center().y());
    const QColor& want = kPrintPatches[static_cast<size_t>(i)];
    EXPECT_NEAR(got.red(), want.red(), 12) << i;
    EXPECT_NEAR(got.green(), want.green(), 12) << i;
    EXPECT_NEAR(got.blue(), want.blue(), 12) << i;
  }
}

// A job whose image cannot be drawn (a printer profile that is not one) is not sent: the
// user is told why and the queue prints nothing.
TEST_F(CupsPrintTest, AFailedJobIsNotSent) {
  const QString broken = dir_.filePath(QStringLiteral("broken.icc"));
  WriteText(broken, QStringLiteral("not a profile"));
  SetScannerSetting("Color/PrinterProfile", broken);
  Start();
  CGessoDoc* doc = Open(WritePatches("patches.bmp", kPrintPatches));
  ASSERT_NE(doc, nullptr);
  fw::CPrinterSettings queue;
  queue.printerName = QString::fromLatin1(kQueue);
  app_->SetPrinterDefaults(queue);
  ASSERT_TRUE(View(doc)->OnCommand(ID_FILE_PRINT_DIRECT));
  EXPECT_EQ(View(doc)->LastPrintStatus(), TES_ERR_CM_INIT);
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_TRUE(messages_[0].contains("cannot be used")) << messages_[0].toStdString();
  // A job sent would be written within a few seconds, as the one above is.
  QThread::msleep(6000);
  EXPECT_TRUE(Written().isEmpty()) << "a page without its image went to the printer";
}
