// The scanner's window as a person meets it inside Orvax Scan: a tool window of the main
// window with its own title, an area dragged in its preview that becomes a document of
// exactly that area, progress that moves in the window and in the status bar, and a window
// that stays where it was when Preferences reopen the source.
#include "commands.h"
#include "document_wait.h"
#include "framework/doc_manager.h"
#include "gesso_doc.h"
#include "main_frame.h"
#include "progress_pane.h"
#include "scan_app.h"

#include "datasource/ds_twain.h"
#include "frames.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "isolated_app_test.h"

using namespace orvax::app;
namespace fw = orvax::framework;
namespace ds = orvax::ds;

namespace {

// Records the value a widget shows each time it is painted.
class PaintRecorder : public QObject {
 public:
  PaintRecorder(QWidget* widget, std::function<double()> value) : value_(std::move(value)) {
    widget->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) values << value_();
    return false;
  }
  QList<double> values;

 private:
  std::function<double()> value_;
};

class ScannerWindowTest : public IsolatedAppTest {
 protected:
  void SetUp() override { IsolateOnRealRoot(); }
  void TearDown() override {
    Quit();
    fw::SetMessageBoxHook({});
  }
  void Start() {
    app_ = std::make_unique<CScanApp>();
    ASSERT_TRUE(app_->InitInstance({}));
    ASSERT_EQ(app_->MainFrame()->SessionState(), TwainState::kSourceEnabled);
  }
  static QWidget* ScannerWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == "OrvaxScanWindow" && w->isVisible()) return w;
    return nullptr;
  }
  template <typename T>
  static T* Child(const char* name) {
    QWidget* window = ScannerWindow();
    return window != nullptr ? window->findChild<T*>(name) : nullptr;
  }
  QList<CGessoDoc*> WaitForDocuments(int want) {
    return WaitForCompleteDocuments(*app_, [&](const QList<CGessoDoc*>& docs) { return docs.size() >= want; });
  }
  static QSize ImageSize(CGessoDoc* doc) {
    tagTes_Image_Desc desc{};
    if (doc->Image() == nullptr || doc->Image()->GetImageDesc(&desc) != 0) return {};
    return {desc.width, desc.height};
  }
};

// The scanner's window belongs to the main window: a tool window that it stays above, with
// a title of its own.
TEST_F(ScannerWindowTest, ToolWindowOfTheMainWindowWithItsOwnTitle) {
  Start();
  QWidget* window = ScannerWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->windowFlags().testFlag(Qt::Tool));
  ASSERT_NE(window->windowHandle(), nullptr);
  EXPECT_EQ(window->windowHandle()->transientParent(), app_->MainFrame()->windowHandle());
  EXPECT_FALSE(window->windowTitle().isEmpty());
  EXPECT_NE(window->windowTitle(), app_->MainFrame()->windowTitle());
}

// The application's Scan Color Space and Film Type menus list what the window offers, with
// the source's texts as they are ("B&W Negative", no mnemonic); a film type chosen in the
// menu is the window's film type.
TEST_F(ScannerWindowTest, MenusListWhatTheWindowOffers) {
  Start();
  const auto menu = [this](int firstId) {
    QStringList texts;
    for (QAction* a : app_->MainFrame()->SourcePopup(firstId)->actions())
      texts << (a->isSeparator() ? QString() : a->text().replace("&&", "&"));
    return texts;
  };
  const auto offered = [](QComboBox* box) {
    QStringList texts;
    for (int i = 0; i < box->count(); ++i) texts << box->itemText(i);
    return texts;
  };
  auto* spaces = Child<QComboBox>("colorSpace");
  auto* films = Child<QComboBox>("filmType");
  ASSERT_TRUE(spaces && films);
  EXPECT_EQ(menu(ID_COLORSPACE_FIRST), offered(spaces));
  EXPECT_EQ(menu(ID_FILMTYPE_FIRST), offered(films));
  EXPECT_EQ(app_->MainFrame()->SourcePopup(ID_FILMTYPE_FIRST)->actions().at(2)->text(), "B&&W Negative");
  app_->MainFrame()->RunCommand(ID_FILMTYPE_FIRST + 0);
  QCoreApplication::processEvents();
  EXPECT_EQ(films->currentText(), "Color Negative");
}

// A rectangle dragged over the preview with the mouse is what the scan holds: a document of
// exactly that part of the frame at the chosen resolution, whose size the window reports.
TEST_F(ScannerWindowTest, DraggedAreaGivesADocumentOfExactlyThatArea) {
  Start();
  auto* preview = Child<QWidget>("preview");
  ASSERT_NE(preview, nullptr);
  Child<QSpinBox>("resolution")->setValue(300);  // the frame: 425 x 283 pixels
  auto* space = Child<QComboBox>("colorSpace");
  space->setCurrentIndex(space->findText("24 bit RGB"));
  const QRect image = preview->property("imageRect").toRect();
  ASSERT_GT(image.width(), 100);
  const QPoint from = image.topLeft() + QPoint(image.width() / 4, image.height() / 4);
  const QPoint to = image.topLeft() + QPoint(image.width() * 3 / 4, image.height() * 3 / 4);
  QTest::mousePress(preview, Qt::LeftButton, {}, from);
  QTest::mouseMove(preview, (from + to) / 2);
  QTest::mouseMove(preview, to);
  QTest::mouseRelease(preview, Qt::LeftButton, {}, to);
  const QRectF area = preview->property("area").toRectF();
  ASSERT_FALSE(area.isEmpty());
  // About the middle quarter of the frame, to a pixel of the preview.
  const double slack = 1.5 / image.width();
  EXPECT_NEAR(area.left(), 0.25, slack);
  EXPECT_NEAR(area.right(), 0.75, slack);
  EXPECT_NEAR(area.top(), 0.25, 1.5 / image.height());
  EXPECT_NEAR(area.bottom(), 0.75, 1.5 / image.height());
  const QRect part = ds::AreaPixels(area, 425, 283);
  EXPECT_NEAR(part.width(), 212, 3);
  EXPECT_NEAR(part.height(), 142, 3);
  EXPECT_TRUE(Child<QLabel>("information")->text().contains(QString("%1 × %2 pixels").arg(part.width()).arg(part.height())))
      << Child<QLabel>("information")->text().toStdString();

  Child<QPushButton>("scan")->click();
  QList<CGessoDoc*> docs = WaitForDocuments(1);
  ASSERT_EQ(docs.size(), 1);
  EXPECT_EQ(ImageSize(docs[0]), part.size());
  const ds::Raster want = ds::Render(ds::Crop(ds::BuiltInFrame(ds::FrameKind::Chart, 425, 283), part), orvax::twain::TWPT_RGB, 8);
  std::vector<uint8_t> got(want.data.size());
  tagTes_Tile_Desc tile{{0, 0, part.width(), part.height()}, want.bytesPerRow, 0};
  ASSERT_EQ(docs[0]->Image()->GetData(tile, got.data()), 0);
  EXPECT_TRUE(got == want.data);

  // A click without a drag goes back to the whole frame.
  QTest::mouseClick(preview, Qt::LeftButton, {}, image.center());
  EXPECT_TRUE(preview->property("area").toRectF().isEmpty());
  Child<QPushButton>("scan")->click();
  docs = WaitForDocuments(2);
  ASSERT_EQ(docs.size(), 2);
  EXPECT_EQ(ImageSize(docs[1]), QSize(425, 283));
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();
}

// During a scan the scanner's progress bar and the main window's progress pane move, part
// by part, and both are empty again afterwards.
TEST_F(ScannerWindowTest, ProgressMovesDuringAScan) {
  Start();
  auto* bar = Child<QProgressBar>("progress");
  ASSERT_NE(bar, nullptr);
  CProgressPane* pane = app_->MainFrame()->ProgressPane();
  ASSERT_NE(pane, nullptr);
  PaintRecorder barValues(bar, [bar] { return bar->value() / 1000.0; });
  PaintRecorder paneValues(pane, [pane] { return pane->Progress(); });
  Child<QSpinBox>("resolution")->setValue(1200);  // 1701 x 1134 pixels, several strips
  Child<QPushButton>("scan")->click();
  ASSERT_EQ(WaitForDocuments(1).size(), 1);
  for (const auto* recorded : {&barValues, &paneValues}) {
    QList<double> between;
    for (double v : recorded->values)
      if (v > 0.0 && v < 1.0) between << v;
    EXPECT_GE(between.size(), 3) << (recorded == &barValues ? "scanner's bar" : "status bar's pane");
    EXPECT_TRUE(std::is_sorted(between.begin(), between.end()));
  }
  EXPECT_EQ(bar->value(), 0);
  EXPECT_EQ(pane->Progress(), 0.0);
}

// Preferences that reopen the source (colour management switched) keep the scanner's
// window where the person had put it, set as it was: resolution, slide and area.
TEST_F(ScannerWindowTest, PreferencesKeepTheWindowWhereItWas) {
  Start();
  QWidget* window = ScannerWindow();
  ASSERT_NE(window, nullptr);
  window->move(window->pos() + QPoint(31, 17));
  const QPoint before = window->pos();
  Child<QSpinBox>("resolution")->setValue(600);
  Child<QComboBox>("slide")->setCurrentIndex(2);
  auto* preview = Child<QWidget>("preview");
  const QRect image = preview->property("imageRect").toRect();
  QTest::mousePress(preview, Qt::LeftButton, {}, image.topLeft() + QPoint(5, 5));
  QTest::mouseMove(preview, image.center());
  QTest::mouseRelease(preview, Qt::LeftButton, {}, image.center());
  const QRectF area = preview->property("area").toRectF();
  ASSERT_FALSE(area.isEmpty());
  bool changed = false;
  QTimer::singleShot(0, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->objectName() == "OrvaxPreferences" && dialog->isVisible()) {
        auto* cms = dialog->findChild<QCheckBox*>("useCms");
        cms->setChecked(!cms->isChecked());
        changed = true;
        dialog->accept();
      }
  });
  app_->OnCommand(ID_SOURCE_PREFERENCES);
  ASSERT_TRUE(changed);
  QWidget* reopened = ScannerWindow();
  ASSERT_NE(reopened, nullptr);
  EXPECT_EQ(reopened->pos(), before);
  EXPECT_EQ(Child<QSpinBox>("resolution")->value(), 600);
  EXPECT_EQ(Child<QComboBox>("slide")->currentIndex(), 2);
  EXPECT_EQ(Child<QWidget>("preview")->property("area").toRectF(), area);
}

}  // namespace
