// Printing an image: the warning and page-layout arithmetic, the masked resolution box, the
// image print dialog, and whole jobs printed to PDF and rendered back to pixels with
// pdftoppm: fitted and at a resolution, direct, through the preview, through a printer
// profile, and cancelled.
#include "commands.h"
#include "dlg_print_image.h"
#include "framework/printing.h"
#include "framework/win_app.h"
#include "gesso_doc.h"
#include "gesso_view.h"
#include "icc_writer.h"
#include "masked_edit.h"
#include "print_layout.h"
#include "string_table.h"

#include <kroma.h>
#include <tessera/tessera.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

using namespace orvax::app;
namespace fw = orvax::framework;

// ---------------------------------------------------------------------------------------
// A recording layer in front of the colour-matching library: every transform opened and
// closed, with the profile it matches into. The calls pass through unchanged.

namespace {
struct MatcherRecord {
  CColorMatcher* handle;
  std::string destination;
  bool closed = false;
};
std::vector<MatcherRecord> g_matchers;
}  // namespace

extern "C" {
KROMA_API int32_t OXCMInit(const CMParam* param, const CMProfilePaths* paths, uint16_t engine, int32_t intent,
                           CColorMatcher** handle) {
  using Fn = int32_t (*)(const CMParam*, const CMProfilePaths*, uint16_t, int32_t, CColorMatcher**);
  static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "OXCMInit"));
  const int32_t result = real(param, paths, engine, intent, handle);
  if (result == 0 && handle != nullptr) {
    const char* dst = paths != nullptr && paths->dstPath != nullptr && *paths->dstPath != nullptr ? *paths->dstPath : "";
    g_matchers.push_back({*handle, dst});
  }
  return result;
}

KROMA_API void OXCMPostProc(CColorMatcher* handle) {
  using Fn = void (*)(CColorMatcher*);
  static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "OXCMPostProc"));
  for (MatcherRecord& m : g_matchers) {
    if (m.handle == handle && !m.closed) m.closed = true;
  }
  real(handle);
}
}

namespace {

void EnsureApplication() {
  if (qApp == nullptr) {
    static int argc = 1;
    static char name[] = "orvax_scan_tests";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
  }
}

// An application object without a main window: the printer defaults and the dialogs.
class PrintApp : public fw::CWinApp {
 public:
  QMdiArea* MdiClient() const override { return nullptr; }
};

// ---------------------------------------------------------------------------------------

TEST(PrintWarning, PageAndPrinterLimits) {
  const PrinterCaps caps{4800, 6600, 600, 600};
  const struct {
    long resolution;
    int expected;
  } cases[] = {
      {1, IDS_PRINT_WARN_NOFIT},   {374, IDS_PRINT_WARN_NOFIT}, {375, 0}, {500, 0},
      {600, 0},                    {601, IDS_PRINT_WARN_EXCEEDS}, {32000, IDS_PRINT_WARN_EXCEEDS},
      {0, IDS_PRINT_WARN_NOFIT},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PrintWarningFor(caps, 3000, 2000, c.resolution), c.expected) << c.resolution;
  }
  // A tall image is limited by the page height: 2000 x 13200 needs 1200 dpi to fit.
  EXPECT_EQ(PrintWarningFor(caps, 2000, 13200, 1199), IDS_PRINT_WARN_NOFIT);
  EXPECT_EQ(PrintWarningFor(caps, 2000, 13200, 1200), IDS_PRINT_WARN_EXCEEDS);
  // A printer that cannot be read, or reports no page, gives no warning (and no division).
  EXPECT_EQ(PrintWarningFor(std::nullopt, 3000, 2000, 10), 0);
  EXPECT_EQ(PrintWarningFor(PrinterCaps{0, 0, 0, 0}, 3000, 2000, 10), 0);
  EXPECT_EQ(PrintWarningFor(PrinterCaps{4800, 0, 600, 600}, 3000, 2000, 10), 0);
}

TEST(PageLayout, FittedAndAtAResolution) {
  const PrinterCaps caps{4800, 6600, 600, 600};
  // Fitted: a wide image takes the whole width; the caption room (2 t) comes off the height.
  auto fit = ComputePageLayout(caps, 3000, 2000, 100, true, 0);
  ASSERT_TRUE(fit);
  EXPECT_EQ(fit->usableHeight, 6400);
  EXPECT_EQ(fit->outputWidth, 4800);
  EXPECT_EQ(fit->outputHeight, 3200);
  EXPECT_EQ(fit->left, 0);
  EXPECT_EQ(fit->top, 1600);
  EXPECT_EQ(fit->captionX, 2400);
  EXPECT_EQ(fit->captionTop, 1600 + 50 + 3200);
  // A tall image takes the usable height.
  auto tall = ComputePageLayout(caps, 1000, 4000, 100, true, 0);
  ASSERT_TRUE(tall);
  EXPECT_EQ(tall->outputHeight, 6400);
  EXPECT_EQ(tall->outputWidth, 1600);
  EXPECT_EQ(tall->left, 1600);
  EXPECT_EQ(tall->top, 0);
  // At 300 dpi on a 600-ppi printer every image pixel is two device pixels.
  auto at = ComputePageLayout(PrinterCaps{4800, 6600, 600, 300}, 300, 200, 100, false, 300);
  ASSERT_TRUE(at);
  EXPECT_EQ(at->outputWidth, 600);
  EXPECT_EQ(at->outputHeight, 200);
  EXPECT_EQ(at->left, 2100);
  EXPECT_EQ(at->top, 3100);
  // An image larger than the page is centred over it (negative corner).
  auto big = ComputePageLayout(caps, 6000, 1000, 100, false, 300);
  ASSERT_TRUE(big);
  EXPECT_EQ(big->outputWidth, 12000);
  EXPECT_EQ(big->left, -3600);
  // Nothing to lay out: an empty image, or no resolution.
  EXPECT_FALSE(ComputePageLayout(caps, 0, 2000, 100, true, 0));
  EXPECT_FALSE(ComputePageLayout(caps, 3000, 2000, 100, false, 0));
  // A page smaller than the caption room leaves no image, never a negative one.
  auto tiny = ComputePageLayout(PrinterCaps{100, 150, 600, 600}, 30, 20, 100, true, 0);
  ASSERT_TRUE(tiny);
  EXPECT_EQ(tiny->outputHeight, 0);
  EXPECT_EQ(tiny->outputWidth, 0);
}

// ---------------------------------------------------------------------------------------

class MaskedEditTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { EnsureApplication(); }
};

TEST_F(MaskedEditTest, MaskIsBuiltFromItsCharactersAndLimitsTheText) {
  const struct {
    const char* given;
    const char* mask;
    int limit;
  } cases[] = {{"99999", "99999", 5}, {"a9x!-X", "9X!X", 4}, {"XXXXX", "XXXXX", 5}, {"", "", 32767}};
  for (const auto& c : cases) {
    CMaskedEdit edit;
    edit.SetMask(QString::fromLatin1(c.given));
    EXPECT_EQ(edit.Mask(), QString::fromLatin1(c.mask)) << c.given;
    EXPECT_EQ(edit.maxLength(), c.limit) << c.given;
  }
  CMaskedEdit fresh;
  EXPECT_EQ(fresh.Mask(), QStringLiteral("XXXXX"));
}

TEST_F(MaskedEditTest, TypedCharactersFollowTheMask) {
  const struct {
    const char* mask;
    const char* typed;
    const char* text;
    int beeps;
  } cases[] = {
      {"99999", "12a3b456", "12345", 3},  // letters and a sixth digit refused
      {"99999", "-+ 7", "7", 3},
      {"!!9", "ab1", "AB1", 0},           // "!" upper-cases
      {"!!9", "abc", "AB", 1},            // a letter where a digit belongs
      {"XX", "a?z", "a?", 1},             // "X" takes anything, but no more than the mask
  };
  for (const auto& c : cases) {
    CMaskedEdit edit;
    edit.SetMask(QString::fromLatin1(c.mask));
    edit.show();
    QTest::keyClicks(&edit, QString::fromLatin1(c.typed));
    EXPECT_EQ(edit.text(), QString::fromLatin1(c.text)) << c.mask << " " << c.typed;
    EXPECT_EQ(edit.BeepCount(), c.beeps) << c.mask << " " << c.typed;
  }
}

TEST_F(MaskedEditTest, CaretPositionDecidesAndOtherKeysPass) {
  CMaskedEdit edit;
  edit.SetMask(QStringLiteral("9!"));
  edit.show();
  QTest::keyClicks(&edit, QStringLiteral("1"));
  // Back at the start the mask wants a digit there again.
  QTest::keyClick(&edit, Qt::Key_Home);
  QTest::keyClicks(&edit, QStringLiteral("x"));
  EXPECT_EQ(edit.text(), QStringLiteral("1"));
  EXPECT_EQ(edit.BeepCount(), 1);
  QTest::keyClick(&edit, Qt::Key_End);
  QTest::keyClicks(&edit, QStringLiteral("q"));
  EXPECT_EQ(edit.text(), QStringLiteral("1Q"));
  // Backspace and a selection replaced by a typed digit pass through.
  QTest::keyClick(&edit, Qt::Key_Backspace);
  EXPECT_EQ(edit.text(), QStringLiteral("1"));
  edit.selectAll();
  QTest::keyClicks(&edit, QStringLiteral("7"));
  EXPECT_EQ(edit.text(), QStringLiteral("7"));
  EXPECT_EQ(edit.BeepCount(), 1);
}

// ---------------------------------------------------------------------------------------

class PrintDialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { EnsureApplication(); }

  void SetUp() override {
    fw::SetMessageBoxHook([this](const QString& text, unsigned) {
      messages_ << text;
      return fw::IDOK;
    });
  }
  void TearDown() override { fw::SetMessageBoxHook({}); }

  // A dialog as the view prepares it, for an image of WIDTH x HEIGHT, shown.
  std::unique_ptr<CDlgPrintImage> MakeDialog(int width, int height) {
    auto dialog = std::make_unique<CDlgPrintImage>(
        false, fw::PD_ALLPAGES | fw::PD_USEDEVMODECOPIES | fw::PD_NOPAGENUMS | fw::PD_NOSELECTION);
    dialog->m_pd.Flags |= fw::PD_ENABLEPRINTTEMPLATE;
    dialog->m_rectImage = {0, 0, width, height};
    dialog->m_settings = fw::CPrinterSettings{};  // the PDF writer
    dialog->SetCapsSource([](const fw::CPrinterSettings&) { return PrinterCaps{4800, 6600, 600, 600}; });
    dialog->Create();
    dialog->show();
    return dialog;
  }

  static void Type(QWidget* edit, const QString& text) {
    static_cast<QLineEdit*>(edit)->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
  }

  static QLabel* Warning(CDlgPrintImage& d) {
    return static_cast<QLabel*>(d.GetDlgItem(CDlgPrintImage::IDC_WARNING));
  }

  QStringList messages_;
};

TEST_F(PrintDialogTest, SetUpFitsToPageWithTheEditBoxClosed) {
  auto dialog = MakeDialog(3000, 2000);
  auto* fit = static_cast<QRadioButton*>(dialog->GetDlgItem(CDlgPrintImage::IDC_FIT_TO_PAGE));
  auto* edit = static_cast<CMaskedEdit*>(dialog->GetDlgItem(CDlgPrintImage::IDC_RESOLUTION_EDIT));
  ASSERT_NE(fit, nullptr);
  ASSERT_NE(edit, nullptr);
  EXPECT_TRUE(fit->isChecked());
  EXPECT_FALSE(edit->isEnabled());
  EXPECT_EQ(edit->text(), QStringLiteral("72"));
  EXPECT_EQ(edit->Mask(), QStringLiteral("99999"));
  EXPECT_FALSE(Warning(*dialog)->isVisibleTo(dialog.get()));
  // The standard controls are there; the page range is hidden; the PDF writer prints to a file.
  for (int id : {1139, 1025, 1040, 1154, 1041}) EXPECT_NE(dialog->GetDlgItem(id), nullptr) << id;
  EXPECT_EQ(dialog->TypeText(), QStringLiteral("PDF"));
  EXPECT_TRUE(static_cast<QCheckBox*>(dialog->GetDlgItem(1040))->isChecked());
}

TEST_F(PrintDialogTest, WarningFollowsTheTypedResolution) {
  auto dialog = MakeDialog(3000, 2000);
  QWidget* edit = dialog->GetDlgItem(CDlgPrintImage::IDC_RESOLUTION_EDIT);
  static_cast<QRadioButton*>(dialog->GetDlgItem(CDlgPrintImage::IDC_RESOLUTION))->click();
  EXPECT_TRUE(edit->isEnabled());
  // 72 dpi, the starting value, does not fit.
  EXPECT_EQ(Warning(*dialog)->text(), LoadString(IDS_PRINT_WARN_NOFIT));
  const struct {
    const char* typed;
    int warning;
  } cases[] = {{"374", IDS_PRINT_WARN_NOFIT}, {"375", 0}, {"600", 0}, {"601", IDS_PRINT_WARN_EXCEEDS}, {"", IDS_PRINT_WARN_NOFIT}};
  for (const auto& c : cases) {
    Type(edit, QString::fromLatin1(c.typed));
    QLabel* label = Warning(*dialog);
    EXPECT_EQ(label->isVisibleTo(dialog.get()), c.warning != 0) << c.typed;
    EXPECT_EQ(label->text(), c.warning != 0 ? LoadString(c.warning) : QString()) << c.typed;
  }
  Type(edit, QStringLiteral("100"));
  EXPECT_TRUE(Warning(*dialog)->isVisibleTo(dialog.get()));
  // "Fit to page" closes the box and hides the warning.
  static_cast<QRadioButton*>(dialog->GetDlgItem(CDlgPrintImage::IDC_FIT_TO_PAGE))->click();
  EXPECT_FALSE(edit->isEnabled());
  EXPECT_FALSE(Warning(*dialog)->isVisibleTo(dialog.get()));
}

TEST_F(PrintDialogTest, UnreadablePrinterGivesNoWarning) {
  auto dialog = MakeDialog(3000, 2000);
  dialog->SetCapsSource([](const fw::CPrinterSettings&) { return std::optional<PrinterCaps>(); });
  static_cast<QRadioButton*>(dialog->GetDlgItem(CDlgPrintImage::IDC_RESOLUTION))->click();
  Type(dialog->GetDlgItem(CDlgPrintImage::IDC_RESOLUTION_EDIT), QStringLiteral("5"));
  EXPECT_FALSE(Warning(*dialog)->isVisibleTo(dialog.get()));
  // The real source: a printer that does not exist cannot be read.
  fw::CPrinterSettings missing;
  missing.printerName = QStringLiteral("No Such Printer 7f3a");
  EXPECT_FALSE(CDlgPrintImage::ReadPrinterCaps(missing));
  // The PDF writer can: its page at its resolution.
  fw::CPrinterSettings pdf;
  pdf.resolution = 300;
  const auto caps = CDlgPrintImage::ReadPrinterCaps(pdf);
  ASSERT_TRUE(caps);
  EXPECT_EQ(caps->logPixelsX, 300);
  EXPECT_GT(caps->horzRes, 0);
  EXPECT_GT(caps->vertRes, caps->horzRes);
}

TEST_F(PrintDialogTest, ReturningFromPropertiesReevaluatesOnlyForAResolution) {
  auto dialog = MakeDialog(3000, 2000);
  int reads = 0;
  dialog->SetCapsSource([&reads](const fw::CPrinterSettings&) {
    ++reads;
    return PrinterCaps{4800, 6600, 600, 600};
  });
  QStringList shown;
  fw::SetModalHook([&shown](QDialog& d) -> int {
    shown << d.metaObject()->className();
    return fw::IDCANCEL;
  });
  // Fitting: the page set-up runs, the warning is left alone.
  static_cast<QPushButton*>(dialog->GetDlgItem(1025))->click();
  EXPECT_EQ(shown, QStringList{QStringLiteral("QPageSetupDialog")});
  EXPECT_EQ(reads, 0);
  static_cast<QRadioButton*>(dialog->GetDlgItem(CDlgPrintImage::IDC_RESOLUTION))->click();
  const int afterChoice = reads;
  EXPECT_GE(afterChoice, 1);
  static_cast<QPushButton*>(dialog->GetDlgItem(1025))->click();
  EXPECT_EQ(reads, afterChoice + 1);
  EXPECT_EQ(Warning(*dialog)->text(), LoadString(IDS_PRINT_WARN_NOFIT));
  fw::SetModalHook({});
}

TEST_F(PrintDialogTest, OkRefusesResolutionsOutsideTheRange) {
  const struct {
    const char* typed;
    bool accepted;
  } cases[] = {{"0", false}, {"32001", false}, {"", false}, {"32000", true}, {"1", true}, {"300", true}};
  for (const auto& c : cases) {
    messages_.clear();
    auto dialog = MakeDialog(3000, 2000);
    static_cast<QRadioButton*>(dialog->GetDlgItem(CDlgPrintImage::IDC_RESOLUTION))->click();
    Type(dialog->GetDlgItem(CDlgPrintImage::IDC_RESOLUTION_EDIT), QString::fromLatin1(c.typed));
    static_cast<QPushButton*>(dialog->GetDlgItem(fw::IDOK))->click();
    EXPECT_EQ(dialog->isVisible(), !c.accepted) << c.typed;
    if (c.accepted) {
      EXPECT_TRUE(messages_.isEmpty()) << c.typed;
      EXPECT_EQ(dialog->result(), QDialog::Accepted);
      EXPECT_FALSE(dialog->m_bFitToPage);
      EXPECT_EQ(dialog->m_nResolution, QString::fromLatin1(c.typed).toInt());
    } else {
      EXPECT_EQ(messages_, QStringList{QStringLiteral("Invalid Resolution Value.")}) << c.typed;
      EXPECT_EQ(dialog->m_nResolution, 72);
    }
  }
  // Fitting takes no resolution, whatever the box holds.
  auto dialog = MakeDialog(3000, 2000);
  static_cast<QRadioButton*>(dialog->GetDlgItem(CDlgPrintImage::IDC_RESOLUTION))->click();
  Type(dialog->GetDlgItem(CDlgPrintImage::IDC_RESOLUTION_EDIT), QStringLiteral("0"));
  static_cast<QRadioButton*>(dialog->GetDlgItem(CDlgPrintImage::IDC_FIT_TO_PAGE))->click();
  static_cast<QPushButton*>(dialog->GetDlgItem(fw::IDOK))->click();
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_TRUE(dialog->m_bFitToPage);
  EXPECT_TRUE(messages_.isEmpty());
}

TEST_F(PrintDialogTest, SetupDialogHasNoScaleGroup) {
  CDlgPrintImage setup(true, fw::PD_ALLPAGES);
  setup.m_pd.Flags |= fw::PD_ENABLEPRINTTEMPLATE;
  setup.Create();
  EXPECT_EQ(setup.GetDlgItem(CDlgPrintImage::IDC_FIT_TO_PAGE), nullptr);
  EXPECT_NE(setup.GetDlgItem(1139), nullptr);
  EXPECT_FALSE(setup.GetDlgItem(1154)->isVisibleTo(&setup));
  static_cast<QPushButton*>(setup.GetDlgItem(fw::IDOK))->click();
  EXPECT_EQ(setup.result(), QDialog::Accepted);
  EXPECT_TRUE(messages_.isEmpty());
}

// ---------------------------------------------------------------------------------------
// Whole jobs, printed to PDF at 150 dpi and rendered back at the same resolution, so that
// a device pixel of the printer is a pixel of the rendering.

constexpr int kDpi = 150;

struct Box {
  int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;  // right, bottom exclusive
  bool empty() const { return right < 0; }
  void add(int x, int y) {
    left = std::min(left, x), top = std::min(top, y);
    right = std::max(right, x + 1), bottom = std::max(bottom, y + 1);
  }
};

class PrintJobTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { EnsureApplication(); }

  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    pdftoppm_ = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
    fw::SetMessageBoxHook([this](const QString& text, unsigned) {
      messages_ << text;
      return fw::IDOK;
    });
    fw::SetPrintFilePromptHook([this](const QString& suggested) {
      prompts_ << suggested;
      return pdf_;
    });
    pdf_ = dir_.filePath(QStringLiteral("page.pdf"));
    settings_.resolution = kDpi;  // the PDF writer at 150 dpi, its own A4 page
    app_.SetPrinterDefaults(settings_);
  }

  void TearDown() override {
    fw::SetModalHook({});
    fw::SetPrintFilePromptHook({});
    fw::SetMessageBoxHook({});
  }

  // A 300 x 200 image in four coloured quarters (red, green / blue, yellow), saved as a BMP
  // and opened as a document.
  void OpenFourColourImage() {
    const int w = 300, h = 200;
    tagTes_Image_Desc desc{w, h, 2, {8, 8, 8, 0}, 72.0};
    TesseraClass image(0, desc, TesseraClass::m_s_EmptyTransform);
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const QColor c = Quarter(x < w / 2, y < h / 2);
        uint8_t* p = &pixels[(static_cast<size_t>(y) * w + x) * 3];
        p[0] = c.red(), p[1] = c.green(), p[2] = c.blue();
      }
    const tagTes_Tile_Desc tile{{0, 0, w, h}, w * 3, 0};
    ASSERT_EQ(image.SetData(tile, TesseraClass::m_s_EmptyTransform, pixels.data()), 0);
    const QByteArray path = QFile::encodeName(dir_.filePath(QStringLiteral("quarters.bmp")));
    const tagTes_File_Spec spec{path.constData(), TES_FILE_BMP, 0};
    ASSERT_EQ(image.Save(spec, nullptr, nullptr, 0), 0);
    doc_ = std::make_unique<CGessoDoc>();
    ASSERT_TRUE(doc_->OnOpenDocument(QFile::decodeName(path)));
    doc_->SetPathName(QFile::decodeName(path), false);
    view_ = std::make_unique<CGessoView>(doc_.get());
  }

  // The profile folder of colour-managed tests, holding the library's sRGB profile.
  QString ProfileFolder() {
    const QString profiles = dir_.filePath(QStringLiteral("color"));
    QDir().mkpath(profiles);
    const QString monitor = profiles + QStringLiteral("/OXsRGB.icm");
    if (!QFile::exists(monitor)) {
      EXPECT_TRUE(iccw::OXsRGB().Write(monitor.toStdString()));
    }
    return profiles;
  }

  // Starts the image library's colour management with the sRGB monitor profile and
  // PRINTERPROFILE, and opens a colour-managed W x H document titled TITLE in one colour.
  void OpenManagedDocument(const std::string& printerProfile, const QString& title, int w, int h, QColor fill) {
    const std::string profiles = ProfileFolder().toStdString();
    const std::string monitorProfile = profiles + "/OXsRGB.icm";
    tagTes_Image_Info info{};
    info.size = sizeof info;
    char* monitor = const_cast<char*>(monitorProfile.c_str());
    char* printer = const_cast<char*>(printerProfile.c_str());
    char empty[] = "";
    char* folder = const_cast<char*>(profiles.c_str());
    char* cmyk = empty;
    ASSERT_EQ(TesseraClass::InitMosaic(info, monitor, printer, cmyk, folder, 1.0), 0);

    tagTes_Image_Desc desc{w, h, 2, {8, 8, 8, 0}, 72.0};
    auto image = std::make_unique<TesseraClass>(15, desc, TesseraClass::m_s_EmptyTransform);
    std::vector<uint8_t> pixels;
    for (int i = 0; i < w * h; ++i)
      pixels.insert(pixels.end(), {static_cast<uint8_t>(fill.red()), static_cast<uint8_t>(fill.green()),
                                   static_cast<uint8_t>(fill.blue())});
    const tagTes_Tile_Desc tile{{0, 0, w, h}, w * 3, 0};
    ASSERT_EQ(image->SetData(tile, TesseraClass::m_s_EmptyTransform, pixels.data()), 0);
    doc_ = std::make_unique<CGessoDoc>();
    doc_->SetTitle(title);
    doc_->SetImage(std::move(image));
    view_ = std::make_unique<CGessoView>(doc_.get());
  }

  static QColor Quarter(bool left, bool top) {
    if (top) return left ? QColor(255, 0, 0) : QColor(0, 255, 0);
    return left ? QColor(0, 0, 255) : QColor(255, 255, 0);
  }

  // Runs command ID on the view; the print dialog (if shown) goes through DRIVE.
  void Run(int id, std::function<int(CDlgPrintImage&)> drive = {}) {
    fw::SetModalHook([this, drive](QDialog& dialog) -> int {
      dialogs_ << dialog.metaObject()->className();
      if (auto* image = qobject_cast<CDlgPrintImage*>(&dialog)) return drive ? drive(*image) : fw::IDCANCEL;
      if (auto* preview = qobject_cast<fw::CPrintPreviewDialog*>(&dialog)) return previewHook_(*preview);
      return fw::IDCANCEL;
    });
    fw::CCmdUI ui(id);
    ASSERT_TRUE(view_->OnUpdateCommand(ui));
    ASSERT_TRUE(ui.enabled);
    ASSERT_TRUE(view_->OnCommand(id));
  }

  static int ChooseResolution(CDlgPrintImage& d, const QString& dpi) {
    static_cast<QRadioButton*>(d.GetDlgItem(CDlgPrintImage::IDC_RESOLUTION))->click();
    auto* edit = static_cast<QLineEdit*>(d.GetDlgItem(CDlgPrintImage::IDC_RESOLUTION_EDIT));
    edit->setText(dpi);
    static_cast<QPushButton*>(d.GetDlgItem(fw::IDOK))->click();
    return d.result() == QDialog::Accepted ? fw::IDOK : fw::IDCANCEL;
  }

  static int PressOk(CDlgPrintImage& d) {
    static_cast<QPushButton*>(d.GetDlgItem(fw::IDOK))->click();
    return d.result() == QDialog::Accepted ? fw::IDOK : fw::IDCANCEL;
  }

  // The printed page as pixels, or a null image.
  QImage Render() {
    if (pdftoppm_.isEmpty()) return {};
    const QString prefix = dir_.filePath(QStringLiteral("render"));
    QProcess p;
    p.start(pdftoppm_, {QStringLiteral("-r"), QString::number(kDpi), QStringLiteral("-aa"), QStringLiteral("no"),
                        QStringLiteral("-aaVector"), QStringLiteral("no"), QStringLiteral("-singlefile"), pdf_,
                        prefix});
    if (!p.waitForFinished(30000) || p.exitCode() != 0) return {};
    return QImage(prefix + QStringLiteral(".ppm")).convertToFormat(QImage::Format_RGB888);
  }

  // Where the page's printable area starts on the rendered page, its size, and the caption's
  // text height, as the printer reports them.
  struct Page {
    QPoint origin;
    int width = 0, height = 0, textHeight = 0, ppiX = 0, ppiY = 0;
  };
  Page PrinterPage() const {
    QPrinter printer(QPrinter::HighResolution);
    settings_.ApplyTo(printer, false);
    Page page;
    page.origin = printer.pageLayout().paintRectPixels(kDpi).topLeft();
    page.width = printer.width();
    page.height = printer.height();
    page.ppiX = printer.logicalDpiX();
    page.ppiY = printer.logicalDpiY();
    QFont font;
    font.setPixelSize(page.ppiY * 12 / 72);
    page.textHeight = QFontMetrics(font, &printer).height();
    return page;
  }

  // The box of strongly coloured pixels (the image), and of the dark ones (the caption)
  // in the rows below it and, separately, above it. Where the renderer smooths the upscaled
  // image its colour edges blend, so dark pixels inside the image are not text.
  static void Measure(const QImage& page, Box* image, Box* below, Box* above) {
    const auto pixel = [&page](int x, int y, int* hi, int* lo) {
      const uint8_t* p = page.constScanLine(y) + 3 * x;
      *hi = std::max({p[0], p[1], p[2]}), *lo = std::min({p[0], p[1], p[2]});
    };
    int hi, lo;
    for (int y = 0; y < page.height(); ++y)
      for (int x = 0; x < page.width(); ++x) {
        pixel(x, y, &hi, &lo);
        if (hi - lo > 128) image->add(x, y);
      }
    for (int y = 0; y < page.height(); ++y) {
      if (!image->empty() && y >= image->top && y < image->bottom) continue;
      for (int x = 0; x < page.width(); ++x) {
        pixel(x, y, &hi, &lo);
        if (hi < 96) (y < image->top ? above : below)->add(x, y);
      }
    }
  }

  static QColor At(const QImage& page, int x, int y) { return page.pixelColor(x, y); }

  // Checks the printed page: image at OUTW x OUTH centred in the usable area, four quarters
  // in place, the caption centred below it.
  void ExpectPage(int outW, int outH) {
    ASSERT_FALSE(pdftoppm_.isEmpty()) << "pdftoppm (poppler-utils) is needed to read printed pages back";
    ASSERT_TRUE(QFile::exists(pdf_));
    const QImage page = Render();
    ASSERT_FALSE(page.isNull());
    const Page p = PrinterPage();
    const int usable = p.height - 2 * p.textHeight;
    const int left = p.origin.x() + (p.width - outW) / 2;
    const int top = p.origin.y() + (usable - outH) / 2;
    Box image, caption, above;
    Measure(page, &image, &caption, &above);
    ASSERT_FALSE(image.empty());
    EXPECT_TRUE(above.empty()) << "nothing is printed above the image";
    EXPECT_NEAR(image.left, left, 1);
    EXPECT_NEAR(image.top, top, 1);
    EXPECT_NEAR(image.right - image.left, outW, 2);
    EXPECT_NEAR(image.bottom - image.top, outH, 2);
    const auto near = [](QColor a, QColor b) {
      return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40 &&
             std::abs(a.blue() - b.blue()) < 40;
    };
    for (bool l : {true, false})
      for (bool t : {true, false}) {
        const int x = left + (l ? outW / 4 : 3 * outW / 4), y = top + (t ? outH / 4 : 3 * outH / 4);
        EXPECT_TRUE(near(At(page, x, y), Quarter(l, t))) << x << "," << y << " " << At(page, x, y).name().toStdString();
      }
    // The caption: one line below the image, its centre under the page's centre.
    ASSERT_FALSE(caption.empty());
    const int captionTop = top + outH + p.textHeight / 2;
    EXPECT_GE(caption.top, captionTop);
    EXPECT_LE(caption.bottom, captionTop + p.textHeight + 1);
    EXPECT_NEAR((caption.left + caption.right) / 2.0, p.origin.x() + p.width / 2.0, 3.0);
    EXPECT_GT(caption.right - caption.left, 10 * p.textHeight);  // the whole path, not a stray mark
  }

  QTemporaryDir dir_;
  QString pdftoppm_;
  QString pdf_;
  fw::CPrinterSettings settings_;
  PrintApp app_;
  std::unique_ptr<CGessoDoc> doc_;
  std::unique_ptr<CGessoView> view_;
  QStringList messages_, prompts_, dialogs_;
  std::function<int(fw::CPrintPreviewDialog&)> previewHook_ = [](fw::CPrintPreviewDialog&) { return fw::IDCANCEL; };
};

TEST_F(PrintJobTest, FitToPageFillsTheWidthWithTheCaptionBelow) {
  OpenFourColourImage();
  Run(ID_FILE_PRINT, &PrintJobTest::PressOk);
  EXPECT_EQ(dialogs_, QStringList{QStringLiteral("orvax::app::CDlgPrintImage")});
  EXPECT_EQ(prompts_.size(), 1);
  EXPECT_EQ(view_->LastPrintStatus(), 0);
  EXPECT_TRUE(messages_.isEmpty());
  const Page p = PrinterPage();
  const int usable = p.height - 2 * p.textHeight;
  ExpectPage(std::min(p.width, usable * 300 / 200), std::min(usable, 200 * p.width / 300));
}

TEST_F(PrintJobTest, AtAResolutionThePrinterPixelsPerInchSetTheSize) {
  OpenFourColourImage();
  Run(ID_FILE_PRINT, [](CDlgPrintImage& d) { return ChooseResolution(d, QStringLiteral("300")); });
  EXPECT_EQ(view_->LastPrintStatus(), 0);
  // 300 image pixels at 300 dpi are one inch: 150 printer pixels.
  ExpectPage(150, 100);
  // The dialog's choice of printer stays with the application.
  EXPECT_EQ(app_.PrinterDefaults().resolution, kDpi);
}

TEST_F(PrintJobTest, PrintDirectSkipsTheDialogAndFits) {
  OpenFourColourImage();
  Run(ID_FILE_PRINT_DIRECT);
  EXPECT_TRUE(dialogs_.isEmpty());
  const Page p = PrinterPage();
  const int usable = p.height - 2 * p.textHeight;
  ExpectPage(std::min(p.width, usable * 300 / 200), std::min(usable, 200 * p.width / 300));
}

TEST_F(PrintJobTest, CancelledDialogOrFilePromptPrintsNothing) {
  OpenFourColourImage();
  Run(ID_FILE_PRINT, [](CDlgPrintImage&) -> int { return fw::IDCANCEL; });
  EXPECT_TRUE(prompts_.isEmpty());
  EXPECT_FALSE(QFile::exists(pdf_));
  pdf_.clear();  // the file prompt is cancelled
  Run(ID_FILE_PRINT, &PrintJobTest::PressOk);
  EXPECT_EQ(prompts_.size(), 1);
  EXPECT_TRUE(messages_.isEmpty());
  EXPECT_TRUE(QDir(dir_.path()).entryList({QStringLiteral("*.pdf")}).isEmpty());
}

TEST_F(PrintJobTest, UnwritableFileIsReported) {
  OpenFourColourImage();
  pdf_ = dir_.filePath(QStringLiteral("no/such/folder/page.pdf"));
  Run(ID_FILE_PRINT, &PrintJobTest::PressOk);
  EXPECT_EQ(messages_.size(), 1);
}

TEST_F(PrintJobTest, PreviewDrawsOnePageAndItsPrintButtonPrints) {
  OpenFourColourImage();
  int pages = -1;
  previewHook_ = [&pages](fw::CPrintPreviewDialog& preview) -> int {
    preview.Preview()->updatePreview();
    pages = preview.Preview()->pageCount();
    preview.findChild<QAction*>(QStringLiteral("print"))->trigger();
    return fw::IDOK;
  };
  Run(ID_FILE_PRINT_PREVIEW, &PrintJobTest::PressOk);
  EXPECT_EQ(pages, 1);
  // The preview shows without the dialog; its Print... asks with it.
  EXPECT_EQ(dialogs_, (QStringList{QStringLiteral("orvax::framework::CPrintPreviewDialog"),
                                   QStringLiteral("orvax::app::CDlgPrintImage")}));
  const Page p = PrinterPage();
  const int usable = p.height - 2 * p.textHeight;
  ExpectPage(std::min(p.width, usable * 300 / 200), std::min(usable, 200 * p.width / 300));
}

TEST_F(PrintJobTest, NoImageNoPrinting) {
  doc_ = std::make_unique<CGessoDoc>();
  view_ = std::make_unique<CGessoView>(doc_.get());
  for (int id : {ID_FILE_PRINT, ID_FILE_PRINT_DIRECT, ID_FILE_PRINT_PREVIEW}) {
    fw::CCmdUI ui(id);
    EXPECT_TRUE(view_->OnUpdateCommand(ui));
    EXPECT_FALSE(ui.enabled) << id;
  }
  // Even called directly, a document without an image prepares no job.
  fw::CPrintInfo info;
  EXPECT_FALSE(view_->OnPreparePrinting(&info));
}

TEST_F(PrintJobTest, PrintSetupChangesTheApplicationPrinter) {
  fw::SetModalHook([this](QDialog& dialog) -> int {
    auto& setup = static_cast<fw::CPrintDialog&>(dialog);
    dialogs_ << dialog.metaObject()->className();
    EXPECT_TRUE(setup.IsPrintSetup());
    EXPECT_EQ(setup.GetDlgItem(CDlgPrintImage::IDC_FIT_TO_PAGE), nullptr);
    return fw::IDCANCEL;
  });
  fw::CPrinterSettings before = app_.PrinterDefaults();
  app_.OnFilePrintSetup();
  EXPECT_EQ(dialogs_, QStringList{QStringLiteral("orvax::framework::CPrintDialog")});
  EXPECT_EQ(app_.PrinterDefaults().resolution, before.resolution);
  // OK keeps what the dialog shows: a PDF writer at the resolution it had.
  fw::SetModalHook([](QDialog& dialog) -> int {
    static_cast<QPushButton*>(static_cast<fw::CPrintDialog&>(dialog).GetDlgItem(fw::IDOK))->click();
    return dialog.result() == QDialog::Accepted ? fw::IDOK : fw::IDCANCEL;
  });
  app_.OnFilePrintSetup();
  EXPECT_TRUE(app_.PrinterDefaults().IsPdf());
  EXPECT_EQ(app_.PrinterDefaults().resolution, kDpi);
}

// A colour-managed image prints through the printer profile: one whose red and blue
// primaries are swapped turns a red image blue on paper. The printing transform is closed
// when the job ends; the display's stays.
TEST_F(PrintJobTest, ColourManagedImagePrintsThroughThePrinterProfile) {
  static constexpr double r[3] = {0.4360747, 0.2225045, 0.0139322};
  static constexpr double g[3] = {0.3850649, 0.7168786, 0.0971045};
  static constexpr double b[3] = {0.1430804, 0.0606169, 0.7141733};
  const std::string printerProfile = (ProfileFolder() + QStringLiteral("/swapped.icm")).toStdString();
  ASSERT_TRUE(iccw::MatrixRgb(b, g, r, iccw::SRGBCurve(1024)).Write(printerProfile));
  const int w = 64, h = 48;
  OpenManagedDocument(printerProfile, QStringLiteral("Scan 1"), w, h, QColor(255, 0, 0));
  if (HasFatalFailure()) return;

  g_matchers.clear();
  Run(ID_FILE_PRINT, &PrintJobTest::PressOk);
  EXPECT_EQ(view_->LastPrintStatus(), 0);
  std::vector<MatcherRecord> toPrinter;
  for (const MatcherRecord& m : g_matchers)
    if (m.destination == printerProfile) toPrinter.push_back(m);
  // One transform checks the page can be drawn before the job starts, one draws it.
  ASSERT_EQ(toPrinter.size(), 2u) << "the printing transforms match into the printer profile";
  for (const MatcherRecord& m : toPrinter) EXPECT_TRUE(m.closed) << "a printing transform is closed after the job";

  ASSERT_FALSE(pdftoppm_.isEmpty()) << "pdftoppm (poppler-utils) is needed to read printed pages back";
  const QImage page = Render();
  ASSERT_FALSE(page.isNull());
  const Page p = PrinterPage();
  const int usable = p.height - 2 * p.textHeight;
  const int outH = std::min(usable, h * p.width / w);
  const QColor centre = page.pixelColor(p.origin.x() + p.width / 2, p.origin.y() + (usable - outH) / 2 + outH / 2);
  EXPECT_LT(centre.red(), 60) << centre.name().toStdString();
  EXPECT_GT(centre.blue(), 200) << centre.name().toStdString();

  // The caption of a document without a path is its title.
  Box imageBox, caption, above;
  Measure(page, &imageBox, &caption, &above);
  ASSERT_FALSE(caption.empty());
  EXPECT_LT(caption.right - caption.left, 10 * p.textHeight);

  view_.reset();
  doc_.reset();
  TesseraClass::CloseMosaic();
}

// A page whose image cannot be drawn for the printer (its profile is missing) is not passed
// off as printed: the user is told, with the image library's status.
TEST_F(PrintJobTest, AnImageThatCannotBePrintedIsReported) {
  OpenManagedDocument((ProfileFolder() + QStringLiteral("/missing.icm")).toStdString(), QStringLiteral("Scan 2"), 16, 8,
                      QColor(128, 128, 128));
  if (HasFatalFailure()) return;

  Run(ID_FILE_PRINT, &PrintJobTest::PressOk);
  const long status = view_->LastPrintStatus();
  EXPECT_NE(status, 0);
  EXPECT_EQ(messages_, QStringList{QStringLiteral("Error printing Scan 2: %1 (status %2). Nothing was printed.")
                                       .arg(CGessoView::PrintFailureReason(status))
                                       .arg(status)});
  EXPECT_FALSE(QFile::exists(pdf_)) << "a print that failed leaves no file behind";

  // The preview shows the same page without a message.
  messages_.clear();
  previewHook_ = [](fw::CPrintPreviewDialog& preview) {
    preview.Preview()->updatePreview();
    return fw::IDCANCEL;
  };
  Run(ID_FILE_PRINT_PREVIEW);
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();

  view_.reset();
  doc_.reset();
  TesseraClass::CloseMosaic();
}

}  // namespace
