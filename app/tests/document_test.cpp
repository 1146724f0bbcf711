// Image documents, views and saving, in-process and offscreen: files made by the image
// library's own writers are opened, zoomed, fitted, turned, copied and saved; scanned data
// arrive through records built here.
#include "commands.h"
#include "dlg_file_save.h"
#include "doc_manager_new.h"
#include "framework/child_frame.h"
#include "framework/doc_manager.h"
#include "framework/win_app.h"
#include "atomic_save.h"
#include "gesso_doc.h"
#include "gesso_view.h"
#include "main_frame.h"
#include "registry_settings.h"
#include "scan_app.h"
#include "string_table.h"
#include "win/gdi.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QProcess>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "isolated_app_test.h"

#include <cstring>
#include <vector>

using namespace orvax::app;
namespace fw = orvax::framework;
namespace tw = orvax::twain;

namespace {

uint8_t Sample(int x, int y, int c) { return static_cast<uint8_t>(c == 0 ? x * 7 + y : c == 1 ? y * 5 + 3 : (x ^ y) * 3); }

// An RGB image of W x H with the test pattern, or a grey one.
std::unique_ptr<TesseraClass> MakeImage(int w, int h, short cs = 2) {
  tagTes_Image_Desc desc{};
  desc.width = w, desc.height = h, desc.colorSpace = cs, desc.resolution = 72.0;
  auto image = std::make_unique<TesseraClass>(0, desc, TesseraClass::m_s_EmptyTransform);
  const int channels = cs == 0 || cs == 1 ? 1 : 3;
  const int bytes = cs == 1 || cs == 3 ? 2 : 1;
  std::vector<uint8_t> data(static_cast<size_t>(w) * h * channels * bytes);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < channels; ++c)
        for (int b = 0; b < bytes; ++b)
          data[((static_cast<size_t>(y) * w + x) * channels + c) * bytes + b] = Sample(x, y, c);
  const tagTes_Tile_Desc tile{{0, 0, w, h}, w * channels * bytes, 0};
  EXPECT_EQ(image->SetData(tile, TesseraClass::m_s_EmptyTransform, data.data()), 0);
  return image;
}

long WriteImage(const QString& path, int w, int h, uint32_t format, int option = 3, short cs = 2) {
  auto image = MakeImage(w, h, cs);
  const QByteArray name = QFile::encodeName(path);
  return image->Save({name.constData(), format, option}, nullptr, nullptr, 0);
}

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::vector<uint8_t> GetAll(TesseraClass& image, int channels) {
  tagTes_Image_Desc desc{};
  image.GetImageDesc(&desc);
  std::vector<uint8_t> data(static_cast<size_t>(desc.width) * desc.height * channels);
  const tagTes_Tile_Desc tile{{0, 0, desc.width, desc.height}, desc.width * channels, 0};
  EXPECT_EQ(image.GetData(tile, data.data()), 0);
  return data;
}

class DocumentTest : public IsolatedAppTest {
 protected:
  void SetUp() override {
    Isolate(ORVAX_TEST_ROOT);
    qputenv("ORVAX_DS_CALL_LOG", dir_.filePath("calls.txt").toLocal8Bit());
    qputenv("ORVAX_DS_USECMS", "0");
    fw::SetMessageBoxHook([this](const QString& text, unsigned style) {
      messages_ << text;
      return (style & 0xF) == fw::MB_YESNO ? answer_ : fw::IDOK;
    });
    CDlgFileSave::s_optionIndex = 2;
    CGessoView::s_cursorMode = 2;
    app_ = std::make_unique<CScanApp>();
    ASSERT_TRUE(app_->InitInstance({QStringLiteral("--no-such-file-so-no-source")}));
    messages_.clear();
  }

  void TearDown() override {
    CDocManagerNew::SetSaveDialogHook({});
    SetAtomicSaveTemporaryHook({});
    for (fw::CDocument* doc : app_->DocManager()->Documents()) static_cast<CGessoDoc*>(doc)->SetAcquiring(false);
    app_->ExitInstance();
    app_.reset();
    fw::SetMessageBoxHook({});
    qunsetenv("ORVAX_DS_USECMS");
  }

  QString Path(const QString& name) const { return dir_.filePath(name); }

  // Opens PATH as a document; null (and a message) on failure.
  CGessoDoc* Open(const QString& path) { return static_cast<CGessoDoc*>(app_->OpenDocumentFile(path)); }
  // A document holding a fresh W x H image of colour space CS.
  CGessoDoc* OpenNew(int w, int h, short cs = 2) {
    const QString path = Path(QStringLiteral("n%1x%2.bmp").arg(w).arg(h));
    if (!QFile::exists(path)) {
      EXPECT_EQ(WriteImage(path, w, h, TES_FILE_BMP), 0);
    }
    CGessoDoc* doc = Open(path);
    if (doc != nullptr && cs != 2) {
      doc->SetImage(MakeImage(w, h, cs));
      doc->UpdateAllViews(nullptr, 1);
    }
    return doc;
  }
  static CGessoView* View(CGessoDoc* doc) { return static_cast<CGessoView*>(doc->Views().front()); }
  static CChildFrame* Frame(CGessoDoc* doc) { return static_cast<CChildFrame*>(View(doc)->parentWidget()); }
  bool Enabled(int id) {
    app_->MainFrame()->UpdateCommandUI();
    return app_->MainFrame()->Action(id)->isEnabled();
  }

  int answer_ = fw::IDNO;
};

}  // namespace

// ---------------------------------------------------------------------------------------
// Opening, zoom, fit and transforms.

TEST_F(DocumentTest, EveryFormatOpensFitsTurnsAndFlips) {
  struct Case {
    const char* name;
    uint32_t format;
  } cases[] = {{"a.bmp", TES_FILE_BMP}, {"a.jpg", TES_FILE_JPEG}, {"a.tif", TES_FILE_TIFF},
               {"a.fpx", TES_FILE_FPX_JPEG}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(WriteImage(Path(c.name), 900, 300, c.format), 0);
    CGessoDoc* doc = Open(Path(c.name));
    ASSERT_NE(doc, nullptr) << messages_.join("|").toStdString();
    CGessoView* view = View(doc);
    CChildFrame* frame = Frame(doc);
    // Fitted: the largest zoom of 1:1, 1:2, 1:4, 1:8 at which the image fits the client.
    const QSize client = app_->MdiClient()->viewport()->size();
    const QSize border = frame->BorderSize();
    const auto fits = [&](int den) {
      return 900 / den + border.width() + 8 <= client.width() && 300 / den + border.height() + 8 <= client.height();
    };
    EXPECT_EQ(view->ZoomNum(), 1);
    const int den = view->ZoomDen();
    EXPECT_TRUE(den == 8 || fits(den)) << den;
    if (den > 1) {
      EXPECT_FALSE(fits(den / 2)) << den;
    }
    EXPECT_TRUE(den == 1 || den == 2 || den == 4 || den == 8) << den;
    EXPECT_LE(frame->geometry().right(), client.width());
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("%1 (1:%2)").arg(c.name).arg(den));
    EXPECT_EQ(view->TotalSize(), QSize(900 / den, 300 / den));

    // The selection follows the image through every turn and mirror.
    view->SetSelection({10, 20, 30, 40});
    struct Step {
      int command;
      QSize size;
      QRect selection;
    } steps[] = {
        {ID_TRANSFORM_ROTATECW, {300, 900}, {240, 10, 40, 30}},
        {ID_TRANSFORM_ROTATECCW, {900, 300}, {10, 20, 30, 40}},
        {ID_TRANSFORM_FLIPH, {900, 300}, {860, 20, 30, 40}},
        {ID_TRANSFORM_FLIPV, {900, 300}, {860, 240, 30, 40}},
        {ID_TRANSFORM_FLIPBOTH, {900, 300}, {10, 20, 30, 40}},
    };
    for (const Step& s : steps) {
      app_->MainFrame()->RunCommand(s.command);
      tagTes_Image_Desc desc{};
      doc->Image()->GetImageDesc(&desc);
      EXPECT_EQ(QSize(desc.width, desc.height), s.size) << s.command;
      EXPECT_EQ(view->Selection(), s.selection) << s.command;
      EXPECT_EQ(view->TotalSize(), QSize(s.size.width() / den, s.size.height() / den)) << s.command;
    }
    EXPECT_TRUE(doc->IsModified());
    // A flip on pixels: the top-left pixel moves to the top-right.
    app_->MainFrame()->RunCommand(ID_TRANSFORM_FLIPH);
    if (c.format == TES_FILE_BMP || c.format == TES_FILE_TIFF) {
      const std::vector<uint8_t> px = GetAll(*doc->Image(), 3);
      EXPECT_EQ(px[(899) * 3], Sample(0, 0, 0));
      EXPECT_EQ(px[(899) * 3 + 2], Sample(0, 0, 2));
    }
    doc->SetModifiedFlag(false);
    frame->close();
    QApplication::processEvents();
  }
}

TEST_F(DocumentTest, ZoomStepsAndTheirLimits) {
  const std::pair<QPoint, QPoint> in[] = {{{1, 8}, {1, 4}}, {{1, 2}, {1, 1}}, {{1, 1}, {2, 1}}, {{4, 1}, {8, 1}},
                                          {{8, 1}, {8, 1}}};
  for (const auto& [from, to] : in) {
    int n = from.x(), d = from.y();
    CGessoView::ZoomStepIn(n, d);
    EXPECT_EQ(QPoint(n, d), to) << from.x() << ":" << from.y();
  }
  CGessoDoc* doc = OpenNew(64, 48);
  ASSERT_NE(doc, nullptr);
  CGessoView* view = View(doc);
  // Zoom In to 8:1, where it stops and is disabled.
  for (int i = 0; i < 3; ++i) app_->MainFrame()->RunCommand(ID_VIEW_ZOOMIN);
  EXPECT_EQ(view->ZoomNum(), 8);
  EXPECT_FALSE(Enabled(ID_VIEW_ZOOMIN));
  view->OnCommand(ID_VIEW_ZOOMIN);  // even when sent directly it does nothing
  EXPECT_EQ(QPoint(view->ZoomNum(), view->ZoomDen()), QPoint(8, 1));
  EXPECT_EQ(Frame(doc)->windowTitle(), "n64x48.bmp (8:1)");
  EXPECT_EQ(view->TotalSize(), QSize(512, 384));
  // Scroll sizes: the whole scaled image, pages of 3/4 of the client (once the scroll bars
  // that Auto Fit's larger frame still needs are shown).
  QApplication::processEvents();
  const QSize client = view->viewport()->size();
  EXPECT_EQ(view->horizontalScrollBar()->maximum(), std::max(0, 512 - client.width()));
  EXPECT_EQ(view->horizontalScrollBar()->pageStep(), client.width() * 3 / 4);
  EXPECT_EQ(view->verticalScrollBar()->singleStep(), std::max(1, client.height() / 4));
  // Out to 1:8.
  for (int i = 0; i < 6; ++i) app_->MainFrame()->RunCommand(ID_VIEW_ZOOMOUT);
  EXPECT_EQ(QPoint(view->ZoomNum(), view->ZoomDen()), QPoint(1, 8));
  EXPECT_FALSE(Enabled(ID_VIEW_ZOOMOUT));
  EXPECT_TRUE(Enabled(ID_VIEW_ZOOMIN));
  view->OnCommand(ID_VIEW_ZOOMOUT);
  EXPECT_EQ(QPoint(view->ZoomNum(), view->ZoomDen()), QPoint(1, 8));
  // From 1:2 one step in is 1:1.
  view->SetZoom(1, 2);
  app_->MainFrame()->RunCommand(ID_VIEW_ZOOMIN);
  EXPECT_EQ(QPoint(view->ZoomNum(), view->ZoomDen()), QPoint(1, 1));
  app_->MainFrame()->RunCommand(ID_WINDOW_ACTUALSIZE);
  EXPECT_EQ(QPoint(view->ZoomNum(), view->ZoomDen()), QPoint(1, 1));
}

TEST_F(DocumentTest, ZoomAroundAClickedPointAndCursors) {
  CGessoDoc* doc = OpenNew(400, 300);
  ASSERT_NE(doc, nullptr);
  CGessoView* view = View(doc);
  // The frame keeps the size given here.
  app_->MainFrame()->RunCommand(ID_WINDOW_AUTOFIT);
  ASSERT_FALSE(app_->AutoFitWindow());
  view->SetZoom(1, 1);
  Frame(doc)->resize(200, 150);
  QApplication::processEvents();
  view->horizontalScrollBar()->setValue(0);
  view->verticalScrollBar()->setValue(0);
  const QSize client = view->viewport()->size();
  // A click zooms in at the point, which moves to the centre of the window.
  const QPoint point(client.width() / 2 + 10, client.height() / 2 + 5);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, point);
  EXPECT_EQ(QPoint(view->ZoomNum(), view->ZoomDen()), QPoint(2, 1));
  const QPoint imageAt = point;  // scroll was 0 at 1:1
  EXPECT_EQ(view->ScrollPosition().x(), std::clamp(imageAt.x() * 2 - client.width() / 2, 0, 800 - client.width()));
  EXPECT_EQ(view->ScrollPosition().y(), std::clamp(imageAt.y() * 2 - client.height() / 2, 0, 600 - client.height()));
  // Ctrl+click zooms out.
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier, point);
  EXPECT_EQ(QPoint(view->ZoomNum(), view->ZoomDen()), QPoint(1, 1));

  // Cursors: zoom in, zoom out while Ctrl is held, none at the limit, the selection cross.
  QTest::keyRelease(view, Qt::Key_Control);
  EXPECT_EQ(view->CursorId(), 136);
  QTest::keyPress(view, Qt::Key_Control);
  EXPECT_EQ(view->CursorId(), 137);
  QTest::keyRelease(view, Qt::Key_Control);
  EXPECT_EQ(view->CursorId(), 136);
  view->SetZoom(8, 1);
  EXPECT_EQ(view->CursorId(), 135);
  view->SetZoom(1, 8);
  QTest::keyPress(view, Qt::Key_Control);
  EXPECT_EQ(view->CursorId(), 135);
  QTest::keyRelease(view, Qt::Key_Control);
  app_->MainFrame()->RunCommand(ID_VIEW_SELECTIONCURSOR);
  EXPECT_EQ(view->CursorId(), 138);
  EXPECT_TRUE(app_->MainFrame()->Action(ID_VIEW_SELECTIONCURSOR)->isChecked());
  EXPECT_FALSE(app_->MainFrame()->Action(ID_VIEW_ZOOMCURSOR)->isChecked());
}

TEST_F(DocumentTest, SelectionIsClippedAndThinOnesAreCleared) {
  CGessoDoc* doc = OpenNew(100, 80);
  ASSERT_NE(doc, nullptr);
  CGessoView* view = View(doc);
  view->SetZoom(2, 1);
  view->horizontalScrollBar()->setValue(0);
  view->verticalScrollBar()->setValue(0);
  CGessoView::s_cursorMode = 1;
  QWidget* vp = view->viewport();
  // At 2:1 client (20, 30) is image (10, 15); dragging to (60, 50) selects 20 x 10.
  QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, {20, 30});
  QTest::mouseMove(vp, {60, 50});
  QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, {60, 50});
  EXPECT_EQ(view->Selection(), QRect(10, 15, 20, 10));
  // Dragged up-left beyond the image: normalised and clipped.
  view->SetZoom(1, 1);
  QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, {50, 40});
  QMouseEvent move(QEvent::MouseMove, QPointF(-30, -20), vp->mapToGlobal(QPointF(-30, -20)), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(vp, &move);
  QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, {0, 0});
  EXPECT_EQ(view->Selection(), QRect(0, 0, 50, 40));
  // One pixel wide: cleared on release.
  QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, {30, 10});
  QTest::mouseMove(vp, {31, 60});
  QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, {31, 60});
  EXPECT_TRUE(view->Selection().isEmpty()) << view->Selection().width();
  // Two pixels high: cleared too; three stays.
  QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, {10, 10});
  QTest::mouseMove(vp, {60, 12});
  QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, {60, 12});
  EXPECT_TRUE(view->Selection().isEmpty());
  QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, {10, 10});
  QTest::mouseMove(vp, {13, 13});
  QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, {13, 13});
  EXPECT_EQ(view->Selection(), QRect(10, 10, 3, 3));
  // The outline moves one phase per timer step, round in eight.
  const int phase = view->AntsPhase();
  for (int i = 0; i < 9; ++i) view->AdvanceAnts();
  EXPECT_EQ(view->AntsPhase(), (phase + 9) % 8);
}

TEST_F(DocumentTest, OutlineIsDrawnWithXorAndUndoneByASecondPass) {
  CGessoDoc* doc = OpenNew(60, 40);
  ASSERT_NE(doc, nullptr);
  CGessoView* view = View(doc);
  view->SetZoom(1, 1);
  const QSize client = view->viewport()->size();
  QImage plain(client, QImage::Format_RGB32), outlined(client, QImage::Format_RGB32);
  {
    QPainter p(&plain);
    view->OnDraw(p, QRect(QPoint(0, 0), client));
  }
  view->SetSelection({5, 5, 20, 10});
  {
    QPainter p(&outlined);
    view->OnDraw(p, QRect(QPoint(0, 0), client));
  }
  int changed = 0;
  for (int y = 0; y < 40 && y < client.height(); ++y)
    for (int x = 0; x < 60 && x < client.width(); ++x) {
      const bool onOutline = QRect(5, 5, 20, 10).contains(x, y) && !QRect(6, 6, 18, 8).contains(x, y);
      if (outlined.pixel(x, y) != plain.pixel(x, y)) {
        ++changed;
        EXPECT_TRUE(onOutline) << x << "," << y;
        // XOR with white inverts the pixel.
        EXPECT_EQ(outlined.pixel(x, y) & 0xFFFFFF, ~plain.pixel(x, y) & 0xFFFFFF) << x << "," << y;
      }
    }
  EXPECT_GT(changed, 10);
}

// ---------------------------------------------------------------------------------------
// Drawing.

TEST_F(DocumentTest, DrawnPixelsMatchTheLibrarysRender) {
  const QString file = Path("draw.bmp");
  ASSERT_EQ(WriteImage(file, 150, 100, TES_FILE_BMP), 0);
  CGessoDoc* doc = Open(file);
  ASSERT_NE(doc, nullptr);
  CGessoView* view = View(doc);
  for (const QPoint zoom : {QPoint(1, 1), QPoint(2, 1), QPoint(1, 2), QPoint(4, 1)}) {
    SCOPED_TRACE(QStringLiteral("%1:%2").arg(zoom.x()).arg(zoom.y()).toStdString());
    view->SetZoom(zoom.x(), zoom.y());
    view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum() / 2);
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum() / 2);
    const QString ppm = Path(QStringLiteral("r%1_%2.ppm").arg(zoom.x()).arg(zoom.y()));
    QProcess tool;
    tool.start(ORVAX_TESSERA_TOOL, {"render", file, ppm, "--zoom", QStringLiteral("%1:%2").arg(zoom.x()).arg(zoom.y())});
    ASSERT_TRUE(tool.waitForFinished(30000));
    ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardOutput().toStdString();
    const QImage reference(ppm);
    ASSERT_FALSE(reference.isNull());
    ASSERT_EQ(reference.size(), view->TotalSize());
    const QSize client = view->viewport()->size();
    QImage drawn(client, QImage::Format_RGB32);
    drawn.fill(Qt::magenta);
    {
      QPainter p(&drawn);
      view->OnDraw(p, QRect(QPoint(0, 0), client));
    }
    const QPoint scroll = view->ScrollPosition();
    int compared = 0;
    for (int y = 0; y < client.height(); ++y)
      for (int x = 0; x < client.width(); ++x) {
        const QPoint at(x + scroll.x(), y + scroll.y());
        if (!reference.rect().contains(at)) continue;
        ASSERT_EQ(drawn.pixel(x, y) & 0xFFFFFF, reference.pixel(at) & 0xFFFFFF) << x << "," << y;
        ++compared;
      }
    EXPECT_GT(compared, 1000);
  }
}

TEST_F(DocumentTest, AcquiringShowsTheNoticeAndRefusesCloseAndSave) {
  CGessoDoc* doc = OpenNew(40, 30);
  ASSERT_NE(doc, nullptr);
  doc->SetAcquiring(true);
  CGessoView* view = View(doc);
  QImage drawn(view->viewport()->size(), QImage::Format_RGB32);
  drawn.fill(Qt::black);
  {
    QPainter p(&drawn);
    view->OnDraw(p, drawn.rect());
  }
  EXPECT_EQ(drawn.pixel(1, 1) & 0xFFFFFF, 0xFFFFFFu);  // white, with the text in the middle
  EXPECT_FALSE(Enabled(ID_FILE_SAVE_AS));
  EXPECT_FALSE(Enabled(ID_EDIT_COPY));
  app_->MainFrame()->RunCommand(ID_FILE_CLOSE);
  QApplication::processEvents();
  ASSERT_EQ(app_->DocManager()->Documents().size(), 1);
  EXPECT_EQ(messages_.value(0), LoadString(IDS_ERR_CLOSEACQUIRING));
  EXPECT_FALSE(doc->DoSave(QString(), true));
  EXPECT_EQ(messages_.value(1), LoadString(IDS_ERR_SAVEACQUIRING));
  doc->SetAcquiring(false);
  app_->MainFrame()->RunCommand(ID_FILE_CLOSE);
  QApplication::processEvents();
  EXPECT_TRUE(app_->DocManager()->Documents().isEmpty());
}

// ---------------------------------------------------------------------------------------
// Opening failures.

TEST_F(DocumentTest, OpenFailureMessages) {
  struct Case {
    long result;
    bool cms;
    int message;
  } table[] = {{1100, false, 20480}, {1101, true, 20480}, {1416, false, 20490}, {1502, true, 20492},
               {1012, false, 20494}, {1012, true, 20482},  {1013, false, 20482}, {1103, false, 20482}};
  for (const Case& c : table) EXPECT_EQ(CGessoDoc::OpenFailureMessage(c.result, c.cms), c.message) << c.result;

  // Real files: missing, not an image, a BMP of a depth the reader refuses.
  QFile junk(Path("junk.bmp"));
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write(QByteArray(200, 'x'));
  junk.close();
  QFile f7(Path("deep.bmp"));
  ASSERT_TRUE(f7.open(QIODevice::WriteOnly));
  f7.write(BmpHeaderOnly(4, 4, 7));
  f7.close();
  const std::pair<QString, QString> files[] = {
      {Path("missing.bmp"), FormatString1(20480, Path("missing.bmp"))},
      {Path("junk.bmp"), FormatString1(20482, Path("junk.bmp"))},
      {Path("deep.bmp"), FormatString1(20492, Path("deep.bmp"))},
  };
  for (const auto& [path, message] : files) {
    messages_.clear();
    EXPECT_EQ(Open(path), nullptr);
    EXPECT_EQ(messages_, QStringList{message});
  }
  EXPECT_TRUE(app_->DocManager()->Documents().isEmpty());
}

// ---------------------------------------------------------------------------------------
// Scanned data.

TEST_F(DocumentTest, MemoryStripsDescribeTheImageAndFollowPlanes) {
  struct Kind {
    int bits;
    int16_t pixelType;
    int code;
  } kinds[] = {{8, tw::TWPT_GRAY, 0}, {8, tw::TWPT_RGB, 2}, {16, tw::TWPT_GRAY, 1}, {16, tw::TWPT_RGB, 3},
               {16, tw::TWPT_PALETTE, 2}, {1, tw::TWPT_BW, 0}};
  for (const Kind& k : kinds) {
    CGessoDoc doc;
    tw::TW_IMAGEINFO info{};
    info.ImageWidth = 4, info.ImageLength = 2, info.BitsPerSample[0] = static_cast<int16_t>(k.bits);
    info.PixelType = k.pixelType;
    info.XResolution = {300, 32768};
    std::vector<uint8_t> data(64, 0);
    tw::TW_IMAGEMEMXFER strip{};
    strip.Columns = 4, strip.Rows = 2, strip.BytesPerRow = 32;
    strip.Memory = {tw::TWMF_APPOWNS | tw::TWMF_POINTER, 64, data.data()};
    doc.OnMemoryStrip(info, strip);
    ASSERT_NE(doc.Image(), nullptr);
    EXPECT_EQ(doc.ColorSpace(), k.code) << k.bits << "/" << k.pixelType;
    tagTes_Image_Desc desc{};
    doc.Image()->GetImageDesc(&desc);
    EXPECT_DOUBLE_EQ(desc.resolution, 300.5);
  }

  // A planar RGB image of 4 x 6 in strips of two rows, red plane first, then green, then blue.
  CGessoDoc doc;
  tw::TW_IMAGEINFO info{};
  info.ImageWidth = 4, info.ImageLength = 6, info.SamplesPerPixel = 3;
  info.BitsPerSample[0] = info.BitsPerSample[1] = info.BitsPerSample[2] = 8;
  info.PixelType = tw::TWPT_RGB, info.Planar = 1;
  std::vector<int> planes;
  for (int plane = 0; plane < 3; ++plane) {
    for (int y = 0; y < 6; y += 2) {
      std::vector<uint8_t> rows(8);
      for (int r = 0; r < 2; ++r)
        for (int x = 0; x < 4; ++x) rows[r * 4 + x] = Sample(x, y + r, plane);
      tw::TW_IMAGEMEMXFER strip{};
      strip.Columns = 4, strip.Rows = 2, strip.BytesPerRow = 4, strip.YOffset = static_cast<uint32_t>(y);
      strip.Memory = {tw::TWMF_APPOWNS | tw::TWMF_POINTER, 8, rows.data()};
      EXPECT_TRUE(doc.OnMemoryStrip(info, strip));
      planes.push_back(doc.CurrentPlane());
    }
  }
  EXPECT_EQ(planes, (std::vector<int>{1, 1, 1, 2, 2, 2, 3, 3, 3}));
  const std::vector<uint8_t> px = GetAll(*doc.Image(), 3);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 4; ++x)
      for (int c = 0; c < 3; ++c) EXPECT_EQ(px[(y * 4 + x) * 3 + c], Sample(x, y, c)) << x << "," << y << "," << c;

  // Bottom-up planes (the first strip at the bottom) count backwards in y.
  CGessoDoc up;
  planes.clear();
  for (int plane = 0; plane < 2; ++plane)
    for (int y = 4; y >= 0; y -= 2) {
      std::vector<uint8_t> rows(8, static_cast<uint8_t>(plane));
      tw::TW_IMAGEMEMXFER strip{};
      strip.Columns = 4, strip.Rows = 2, strip.BytesPerRow = 4, strip.YOffset = static_cast<uint32_t>(y);
      strip.Memory = {tw::TWMF_APPOWNS | tw::TWMF_POINTER, 8, rows.data()};
      up.OnMemoryStrip(info, strip);
      planes.push_back(up.CurrentPlane());
    }
  EXPECT_EQ(planes, (std::vector<int>{1, 1, 1, 2, 2, 2}));
}

namespace {

// A DIB: header, masks, palette and rows of BPP bits, bottom-up unless TOPDOWN.
QByteArray MakeDib(int w, int h, int bpp, const std::vector<uint32_t>& palette, bool topDown,
                   const std::function<uint32_t(int x, int y)>& value, uint32_t compression = 0,
                   const std::vector<uint32_t>& masks = {}) {
  const int rowBytes = ((w * bpp + 31) / 32) * 4;
  QByteArray dib(40, '\0');
  orvax::win::BITMAPINFOHEADER hdr{};
  hdr.biSize = 40, hdr.biWidth = w, hdr.biHeight = topDown ? -h : h, hdr.biPlanes = 1;
  hdr.biBitCount = static_cast<uint16_t>(bpp), hdr.biCompression = compression;
  hdr.biClrUsed = static_cast<uint32_t>(palette.size());
  std::memcpy(dib.data(), &hdr, 40);
  for (uint32_t m : masks) dib.append(reinterpret_cast<const char*>(&m), 4);
  for (uint32_t c : palette) dib.append(reinterpret_cast<const char*>(&c), 4);
  QByteArray pixels(rowBytes * h, '\0');
  for (int y = 0; y < h; ++y) {
    uint8_t* row = reinterpret_cast<uint8_t*>(pixels.data()) + rowBytes * (topDown ? y : h - 1 - y);
    for (int x = 0; x < w; ++x) {
      const uint32_t v = value(x, y);
      if (bpp < 8) row[x * bpp / 8] |= static_cast<uint8_t>(v << (8 - bpp - (x * bpp) % 8));
      else for (int b = 0; b < bpp / 8; ++b) row[x * bpp / 8 + b] = static_cast<uint8_t>(v >> (8 * b));
    }
  }
  return dib + pixels;
}

}  // namespace

TEST_F(DocumentTest, NativeBitmapsAreDecodedByTheirRealDepth) {
  const int w = 5, h = 3;
  std::vector<uint32_t> grey(256), colour4(16);
  for (uint32_t i = 0; i < 256; ++i) grey[i] = i * 0x010101;
  for (uint32_t i = 0; i < 16; ++i) colour4[i] = (i * 16) << 16 | (255 - i * 16) << 8 | i;
  const auto index = [](int x, int y) { return static_cast<uint32_t>((x + 3 * y) % 16); };
  struct Case {
    const char* name;
    QByteArray dib;
    int code;
    std::function<QColor(int, int)> expect;
  } cases[] = {
      {"8-bit grey ramp, bottom-up", MakeDib(w, h, 8, grey, false, [](int x, int y) { return uint32_t(x * 40 + y); }),
       0, [](int x, int y) { return QColor(x * 40 + y, x * 40 + y, x * 40 + y); }},
      {"4-bit colour palette", MakeDib(w, h, 4, colour4, false, index), 2,
       [&](int x, int y) {
         const uint32_t c = colour4[index(x, y)];
         return QColor((c >> 16) & 255, (c >> 8) & 255, c & 255);
       }},
      {"1-bit black and white", MakeDib(w, h, 1, {0, 0xFFFFFF}, false, [](int x, int y) { return uint32_t((x + y) & 1); }),
       0, [](int x, int y) { return (x + y) & 1 ? QColor(255, 255, 255) : QColor(0, 0, 0); }},
      {"24-bit top-down", MakeDib(w, h, 24, {}, true, [](int x, int y) { return uint32_t(x * 50) << 16 | uint32_t(y * 60) << 8 | 7; }),
       2, [](int x, int y) { return QColor(x * 50, y * 60, 7); }},
      {"32-bit", MakeDib(w, h, 32, {}, false, [](int x, int y) { return uint32_t(x * 50) << 16 | uint32_t(y * 60) << 8 | 9; }),
       2, [](int x, int y) { return QColor(x * 50, y * 60, 9); }},
      {"16-bit 5-5-5", MakeDib(w, h, 16, {}, false, [](int x, int y) { return uint32_t(31 << 10 | (y * 10) << 5 | x); }),
       2, [](int x, int y) { return QColor(255, (y * 10 * 255 + 15) / 31, (x * 255 + 15) / 31); }},
      {"16-bit 5-6-5 bit fields",
       MakeDib(w, h, 16, {}, false, [](int x, int y) { return uint32_t(x << 11 | (y * 20) << 5 | 31); }, 3,
               {0xF800, 0x07E0, 0x001F}),
       2, [](int x, int y) { return QColor((x * 255 + 15) / 31, (y * 20 * 255 + 31) / 63, 255); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CGessoDoc doc;
    ASSERT_TRUE(doc.OnNativeTransfer(c.dib.constData(), static_cast<size_t>(c.dib.size())));
    EXPECT_EQ(doc.ColorSpace(), c.code);
    const int channels = c.code == 0 ? 1 : 3;
    const std::vector<uint8_t> px = GetAll(*doc.Image(), channels);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const QColor e = c.expect(x, y);
        const uint8_t* p = &px[(y * w + x) * channels];
        EXPECT_EQ(p[0], e.red()) << x << "," << y;
        if (channels == 3) {
          EXPECT_EQ(p[1], e.green()) << x << "," << y;
          EXPECT_EQ(p[2], e.blue()) << x << "," << y;
        }
      }
  }
  // Truncated data, compressed data and nonsense are refused.
  CGessoDoc doc;
  const QByteArray good = MakeDib(w, h, 24, {}, false, [](int, int) { return 0u; });
  EXPECT_FALSE(doc.OnNativeTransfer(good.constData(), static_cast<size_t>(good.size() - 1)));
  QByteArray rle = MakeDib(w, h, 8, grey, false, [](int, int) { return 0u; }, 1);
  EXPECT_FALSE(doc.OnNativeTransfer(rle.constData(), static_cast<size_t>(rle.size())));
  EXPECT_FALSE(doc.OnNativeTransfer(good.constData(), 20));
  EXPECT_EQ(doc.Image(), nullptr);
}

// ---------------------------------------------------------------------------------------
// Colour spaces.

TEST_F(DocumentTest, DocumentColorSpaceMenu) {
  struct Case {
    int current;
    bool cms;
    QList<int> codes;
  } table[] = {
      {0, false, {0, 1, 2, 3}}, {2, false, {0, 1, 2, 3}}, {0, true, {0, 1}}, {1, true, {0, 1}},
      {2, true, {2, 3, 4, 6}},  {6, true, {2, 3, 4, 6}},  {-1, true, {2, 3, 4, 6}}, {-1, false, {0, 1, 2, 3}},
  };
  for (const Case& c : table) EXPECT_EQ(CGessoDoc::ColorSpaceMenuCodes(c.current, c.cms), c.codes) << c.current;

  CGessoDoc* doc = OpenNew(20, 10);
  ASSERT_NE(doc, nullptr);
  QMenu menu;
  doc->BuildColorSpaceMenu(&menu);
  QStringList texts;
  for (QAction* a : menu.actions()) texts << a->text() + (a->isChecked() ? "*" : "");
  EXPECT_EQ(texts, (QStringList{"8 bit Grayscale", "16 bit Grayscale", "24 bit RGB*", "48 bit RGB"}));
  EXPECT_EQ(menu.actions()[3]->data().toInt(), ID_DOCCOLORSPACE_FIRST + 3);
  app_->MainFrame()->RunCommand(ID_DOCCOLORSPACE_FIRST + 3);
  EXPECT_EQ(doc->ColorSpace(), 3);
  EXPECT_TRUE(doc->IsModified());
}

// ---------------------------------------------------------------------------------------
// Clipboard.

TEST_F(DocumentTest, ClipboardCopy) {
  CGessoDoc* doc = OpenNew(7, 5, 3);
  ASSERT_NE(doc, nullptr);
  CGessoView* view = View(doc);
  EXPECT_FALSE(view->CopyToClipboard());
  EXPECT_EQ(messages_, QStringList{LoadString(IDS_ERR_COPYNOTRGB)});

  messages_.clear();
  doc->SetImage(MakeImage(7, 5));
  view->SetSelection({1, 1, 5, 3});
  ASSERT_TRUE(view->CopyToClipboard()) << messages_.join("|").toStdString();
  // The DIB: header, bottom-up BGR rows padded to 16 bytes, four spare bytes.
  QByteArray expected(40 + 16 * 3 + 4, '\0');
  const int32_t hdr[] = {40, 5, 3};
  std::memcpy(expected.data(), hdr, 12);
  const uint16_t planesBits[] = {1, 24};
  std::memcpy(expected.data() + 12, planesBits, 4);
  const uint32_t imageSize = 48;
  std::memcpy(expected.data() + 20, &imageSize, 4);
  for (int row = 0; row < 3; ++row) {
    const int y = 1 + (2 - row);
    for (int i = 0; i < 5; ++i) {
      const int x = 1 + i;
      char* p = expected.data() + 40 + 16 * row + 3 * i;
      p[0] = static_cast<char>(Sample(x, y, 2)), p[1] = static_cast<char>(Sample(x, y, 1));
      p[2] = static_cast<char>(Sample(x, y, 0));
    }
  }
  EXPECT_EQ(view->BuildClipboardDib(), expected);
  const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(mime, nullptr);
  const QByteArray bmp = mime->data("image/bmp");
  ASSERT_EQ(bmp.size(), 14 + expected.size());
  EXPECT_EQ(bmp.left(2), "BM");
  EXPECT_EQ(bmp.mid(14), expected);
  const QImage image = qvariant_cast<QImage>(mime->imageData());
  ASSERT_EQ(image.size(), QSize(5, 3));
  EXPECT_EQ(image.pixelColor(0, 0), QColor(Sample(1, 1, 0), Sample(1, 1, 1), Sample(1, 1, 2)));
  EXPECT_TRUE(messages_.isEmpty());
}

// ---------------------------------------------------------------------------------------
// The Save As dialog.

TEST_F(DocumentTest, SaveDialogFilters) {
  struct Case {
    unsigned long mask;
    QStringList extensions;
    int jpeg, fpx;
  } table[] = {
      {0xCD, {"bmp", "fpx", "jpg", "tif"}, 3, 2},
      {0x01, {"tif"}, 0, 0},
      {0xC5, {"fpx", "jpg", "tif"}, 2, 1},
      {0x0C, {"bmp", "jpg"}, 2, 0},
  };
  for (const Case& c : table) {
    CDlgFileSave dialog(c.mask, "", "scan.tif", 0, "ignored|*.x|", nullptr);
    QStringList extensions;
    for (const auto& e : dialog.Entries()) extensions << e.extension;
    EXPECT_EQ(extensions, c.extensions) << c.mask;
    EXPECT_EQ(dialog.JpegIndex(), c.jpeg);
    EXPECT_EQ(dialog.FpxIndex(), c.fpx);
    // Starts on the entry of the name's extension (TIFF), else on the first.
    EXPECT_EQ(dialog.SelectedIndex(), std::max<int>(1, c.extensions.indexOf("tif") + 1));
    for (int i = 1; i <= extensions.size(); ++i) {
      dialog.SelectType(i);
      const bool options = i == c.jpeg || i == c.fpx;
      EXPECT_EQ(!dialog.OptionsList()->isHidden(), options) << c.mask << " " << i;
      EXPECT_EQ(dialog.FileNameText(), "scan." + extensions[i - 1]);
      if (i == c.jpeg) {
        EXPECT_EQ(dialog.OptionsLabel()->text(), "JPEG Compression");
        EXPECT_EQ(dialog.OptionsList()->count(), 5);
      }
      if (i == c.fpx) {
        EXPECT_EQ(dialog.OptionsLabel()->text(), "FlashPix Options");
        EXPECT_EQ(dialog.OptionsList()->count(), 6);
        EXPECT_EQ(dialog.OptionsList()->itemText(0), "No compression");
      }
    }
  }
  EXPECT_EQ(CDlgFileSave::FilterString(CDlgFileSave::BuildFilter(0x08)), QString("BMP Format") + QChar(0) + "*.bmp" + QChar(0));
  const auto entries = CDlgFileSave::BuildFilter(0xCD);
  EXPECT_EQ(CDlgFileSave::InitialFilterIndex(entries, "/a/b.JPG"), 3);
  EXPECT_EQ(CDlgFileSave::InitialFilterIndex(entries, "/a/b.png"), 1);
  const std::pair<QString, QString> names[] = {{"a.bmp", "a.jpg"}, {"a", "a.jpg"}, {"dir.x/a", "dir.x/a.jpg"},
                                               {"c:\\d.e\\f", "c:\\d.e\\f.jpg"}, {"a.b.c", "a.b.jpg"}};
  for (const auto& [in, out] : names) EXPECT_EQ(CDlgFileSave::ForceExtension(in, "jpg"), out);

  // The option index lives on: a choice made in one dialog is the next one's start, and
  // index 5 (beyond JPEG's list) falls back to item 0.
  {
    CDlgFileSave dialog(0xCD, "", "a.fpx", 0, "", nullptr);
    EXPECT_EQ(dialog.OptionsList()->currentIndex(), 2);
    dialog.OptionsList()->setCurrentIndex(5);
  }
  EXPECT_EQ(CDlgFileSave::s_optionIndex, 5);
  CDlgFileSave dialog(0xCD, "", "a.jpg", 0, "", nullptr);
  EXPECT_EQ(dialog.OptionsList()->currentIndex(), 0);
  EXPECT_EQ(CDlgFileSave::s_optionIndex, 0);
}

// ---------------------------------------------------------------------------------------
// Saving.

TEST_F(DocumentTest, LevelsAndUnsupportedExtensions) {
  struct Case {
    const char* name;
    int index;
    bool ok;
    uint32_t format;
    int32_t level;
  } table[] = {{"a.fpx", 2, true, 128, 2}, {"a.jpg", 2, true, 4, 3},   {"a.FPX", 0, true, 64, 0},
               {"a.jpg", 0, true, 4, 1},   {"a.tif", 3, true, 1, 0},   {"a.Bmp", 4, true, 8, 0},
               {"a.png", 2, false, 0, 0},  {"noext", 2, false, 0, 0}, {"d.jpg/x", 2, false, 0, 0}};
  for (const Case& c : table) {
    uint32_t format = 0;
    int32_t level = 0;
    EXPECT_EQ(CGessoDoc::FileSpecFor(c.name, c.index, &format, &level), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(std::make_pair(format, level), std::make_pair(c.format, c.level)) << c.name;
    }
  }

  CGessoDoc* doc = OpenNew(40, 30);
  ASSERT_NE(doc, nullptr);
  EXPECT_FALSE(doc->OnSaveDocument(Path("x.png")));
  EXPECT_EQ(messages_, QStringList{LoadString(IDS_ERR_FILETYPE)});
  EXPECT_FALSE(QFile::exists(Path("x.png")));

  // JPEG at option index 2 is the library's level 3, byte for byte.
  messages_.clear();
  ASSERT_TRUE(doc->OnSaveDocument(Path("doc.jpg")));
  const QByteArray direct = QFile::encodeName(Path("direct.jpg"));
  ASSERT_EQ(doc->Image()->Save({direct.constData(), TES_FILE_JPEG, 3}, nullptr, nullptr, 0), 0);
  EXPECT_EQ(ReadAll(Path("doc.jpg")), ReadAll(Path("direct.jpg")));
  // FlashPix at index 2 is the library's level 2.
  ASSERT_TRUE(doc->OnSaveDocument(Path("doc.fpx"))) << messages_.join("|").toStdString();
  const QByteArray fpx = QFile::encodeName(Path("direct.fpx"));
  ASSERT_EQ(doc->Image()->Save({fpx.constData(), TES_FILE_FPX_JPEG, 2}, nullptr, nullptr, 0), 0);
  CGessoDoc a, b;
  ASSERT_TRUE(a.OnOpenDocument(Path("doc.fpx")));
  ASSERT_TRUE(b.OnOpenDocument(Path("direct.fpx")));
  EXPECT_EQ(GetAll(*a.Image(), 3), GetAll(*b.Image(), 3));
}

TEST_F(DocumentTest, SaveAsThroughTheDialogAndFormatMismatch) {
  CGessoDoc* doc = OpenNew(30, 20);
  ASSERT_NE(doc, nullptr);
  QStringList seenFilters;
  CDocManagerNew::SetSaveDialogHook([&](CDlgFileSave& dialog) {
    for (const auto& e : dialog.Entries()) seenFilters << e.extension;
    dialog.SelectType(dialog.JpegIndex());
    dialog.setDirectory(dir_.path());
    dialog.SetFileNameText("saved.bmp");  // the type change below turns it into .jpg
    dialog.SelectType(dialog.JpegIndex());
    return true;
  });
  app_->MainFrame()->RunCommand(ID_FILE_SAVE_AS);
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();
  EXPECT_EQ(seenFilters, (QStringList{"bmp", "fpx", "jpg", "tif"}));
  EXPECT_TRUE(QFile::exists(Path("saved.jpg")));
  EXPECT_EQ(doc->GetPathName(), QFileInfo(Path("saved.jpg")).absoluteFilePath());
  EXPECT_EQ(GeneralSettings::SaveFormat(app_->Registry()), ".jpg");
  EXPECT_EQ(GeneralSettings::LastDirectory(app_->Registry()), QFileInfo(dir_.path()).absoluteFilePath());
  EXPECT_FALSE(doc->IsModified());
  EXPECT_FALSE(Enabled(ID_FILE_SAVE));

  // A 48-bit image saved as JPEG: asked; No fails and writes nothing.
  doc->SetImage(MakeImage(30, 20, 3));
  EXPECT_FALSE(doc->OnSaveDocument(Path("deep.jpg")));
  EXPECT_EQ(messages_, QStringList{LoadString(IDS_ASK_OTHERFORMAT)});
  EXPECT_FALSE(QFile::exists(Path("deep.jpg")));
  // Yes goes to Save As, which offers TIFF alone; a cancelled dialog fails.
  messages_.clear();
  answer_ = fw::IDYES;
  seenFilters.clear();
  CDocManagerNew::SetSaveDialogHook([&](CDlgFileSave& dialog) {
    for (const auto& e : dialog.Entries()) seenFilters << e.extension;
    EXPECT_TRUE(dialog.OptionsList()->isHidden());
    return false;
  });
  EXPECT_FALSE(doc->OnSaveDocument(Path("deep.jpg")));
  EXPECT_EQ(seenFilters, QStringList{"tif"});

  // A document without an image has no formats: the HSL message, before any dialog.
  messages_.clear();
  seenFilters.clear();
  CGessoDoc empty;
  EXPECT_FALSE(empty.DoSave(QString(), true));
  EXPECT_EQ(messages_, QStringList{LoadString(IDS_ERR_HSLSAVE)});
  EXPECT_TRUE(seenFilters.isEmpty());
}

TEST_F(DocumentTest, AFailedSaveLeavesTheOldFileAlone) {
  CGessoDoc* doc = OpenNew(40, 30);
  ASSERT_NE(doc, nullptr);
  const QString target = Path("keep.bmp");
  ASSERT_EQ(WriteImage(target, 13, 9, TES_FILE_BMP), 0);
  const QByteArray before = ReadAll(target);

  // The temporary lands on a full disk.
  const QString link = Path("full-disk");
  ASSERT_TRUE(QFile::link("/dev/full", link));
  SetAtomicSaveTemporaryHook([&](const QString&) { return link; });
  EXPECT_FALSE(doc->DoSave(target, true));
  EXPECT_EQ(messages_, QStringList{FormatString1(IDS_ERR_DISKFULL, target)});
  EXPECT_EQ(ReadAll(target), before);
  EXPECT_FALSE(QFileInfo(link).isSymLink()) << "the temporary is removed";
  EXPECT_TRUE(QFileInfo::exists("/dev/full"));

  // A save that works replaces the file whole and leaves nothing else behind.
  SetAtomicSaveTemporaryHook({});
  messages_.clear();
  QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
  ASSERT_TRUE(doc->DoSave(target, true));
  EXPECT_TRUE(messages_.isEmpty());
  EXPECT_NE(ReadAll(target), before);
  EXPECT_EQ(QFile::permissions(target) & 0x7077, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
  const QStringList left = QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden);
  for (const QString& name : left) EXPECT_FALSE(name.startsWith(".keep.bmp")) << name.toStdString();
  // An unwritable folder: the file cannot be created, reported as such.
  messages_.clear();
  EXPECT_FALSE(doc->DoSave("/proc/no-such/x.bmp", true));
  EXPECT_EQ(messages_, QStringList{FormatString1(IDS_ERR_SAVEFILE, "/proc/no-such/x.bmp")});
}

TEST_F(DocumentTest, AutomaticSaveNamesAndFormats) {
  CGessoDoc* doc = OpenNew(24, 16);
  ASSERT_NE(doc, nullptr);
  const QString folder = Path("scans");
  QDir().mkpath(folder);
  // BMP: a stem already taken gets D1_, then D2_.
  ASSERT_EQ(WriteImage(folder + "/roll.bmp", 2, 2, TES_FILE_BMP), 0);
  for (int n = 1; n <= 2; ++n) {
    const auto result = doc->AutoSave(2, 0, folder, "roll");
    EXPECT_TRUE(result.saved);
    EXPECT_EQ(result.path, folder + QStringLiteral("/D%1_roll.bmp").arg(n));
    EXPECT_TRUE(QFile::exists(result.path));
  }
  // JPEG with the data source's quality, into a folder given with its separator.
  auto jpeg = doc->AutoSave(4, 5, folder + "/", "roll");
  EXPECT_TRUE(jpeg.saved);
  EXPECT_EQ(jpeg.path, folder + "/roll.jpg");
  const QByteArray direct = QFile::encodeName(Path("q5.jpg"));
  ASSERT_EQ(doc->Image()->Save({direct.constData(), TES_FILE_JPEG, 5}, nullptr, nullptr, 0), 0);
  EXPECT_EQ(ReadAll(jpeg.path), ReadAll(Path("q5.jpg")));
  // An unknown format code writes nothing.
  const auto none = doc->AutoSave(7, 0, folder, "roll");
  EXPECT_FALSE(none.saved);
  EXPECT_TRUE(none.path.isEmpty());

  // TIFF: roll.tif taken gives D1_roll.tif, then D2_roll.tif.
  ASSERT_EQ(WriteImage(folder + "/roll.tif", 2, 2, TES_FILE_TIFF), 0);
  for (int n = 1; n <= 2; ++n) {
    const auto result = doc->AutoSave(0, 0, folder, "roll");
    EXPECT_TRUE(result.saved);
    EXPECT_EQ(result.path, folder + QStringLiteral("/D%1_roll.tif").arg(n));
  }
  // FlashPix: quality 16 is uncompressed.
  const auto fpx = doc->AutoSave(129, 16, folder, "roll");
  EXPECT_TRUE(fpx.saved);
  EXPECT_EQ(fpx.path, folder + "/roll.fpx");
}
