// The views as a person meets them, offscreen with real windows: fitting without scroll
// bars, Auto Fit after zooms and turns, undo and redo of turns and mirrors, the main
// window's title, the open dialog's filter and the icons.
#include "app_icons.h"
#include "commands.h"
#include "framework/doc_manager.h"
#include "framework/win_app.h"
#include "gesso_doc.h"
#include "gesso_view.h"
#include "main_frame.h"
#include "scan_app.h"
#include "string_table.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMdiArea>
#include <QMenu>
#include <QRegularExpression>
#include <QScrollBar>
#include <QToolBar>
#include <gtest/gtest.h>

#include "isolated_app_test.h"

#include <vector>

using namespace orvax::app;
namespace fw = orvax::framework;


namespace {

// An RGB image of W x H whose every pixel differs from its neighbours, so that any turn or
// mirror that is not undone exactly shows in the pixels.
std::unique_ptr<TesseraClass> PatternImage(int w, int h) {
  tagTes_Image_Desc desc{};
  desc.width = w, desc.height = h, desc.colorSpace = 2, desc.resolution = 72.0;
  auto image = std::make_unique<TesseraClass>(0, desc, TesseraClass::m_s_EmptyTransform);
  std::vector<uint8_t> data(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &data[(static_cast<size_t>(y) * w + x) * 3];
      p[0] = static_cast<uint8_t>(x * 7 + y), p[1] = static_cast<uint8_t>(y * 5 + 3), p[2] = static_cast<uint8_t>(x ^ (y * 3));
    }
  const tagTes_Tile_Desc tile{{0, 0, w, h}, w * 3, 0};
  EXPECT_EQ(image->SetData(tile, TesseraClass::m_s_EmptyTransform, data.data()), 0);
  return image;
}

// The image's size and every pixel, as the library gives them back.
struct Pixels {
  QSize size;
  std::vector<uint8_t> data;
  bool operator==(const Pixels& o) const { return size == o.size && data == o.data; }
};

Pixels ReadBack(TesseraClass& image) {
  tagTes_Image_Desc desc{};
  EXPECT_EQ(image.GetImageDesc(&desc), 0);
  Pixels p{{desc.width, desc.height}, std::vector<uint8_t>(static_cast<size_t>(desc.width) * desc.height * 3)};
  const tagTes_Tile_Desc tile{{0, 0, desc.width, desc.height}, desc.width * 3, 0};
  EXPECT_EQ(image.GetData(tile, p.data.data()), 0);
  return p;
}

class ViewTest : public IsolatedAppTest {
 protected:
  void SetUp() override {
    Isolate(ORVAX_TEST_ROOT);
    qputenv("ORVAX_DS_CALL_LOG", dir_.filePath("calls.txt").toLocal8Bit());
    qputenv("ORVAX_DS_USECMS", "0");
    fw::SetMessageBoxHook([this](const QString& text, unsigned) {
      messages_ << text;
      return fw::IDOK;
    });
    CGessoView::s_cursorMode = 2;
    app_ = std::make_unique<CScanApp>();
    ASSERT_TRUE(app_->InitInstance({QStringLiteral("--no-such-file-so-no-source")}));
    messages_.clear();
  }

  void TearDown() override {
    for (fw::CDocument* doc : app_->DocManager()->Documents()) doc->SetModifiedFlag(false);
    app_->ExitInstance();
    app_.reset();
    fw::SetMessageBoxHook({});
    qunsetenv("ORVAX_DS_USECMS");
  }

  // A document holding a W x H pattern, opened from a BMP file as a person would.
  CGessoDoc* OpenPattern(int w, int h) {
    const QString path = dir_.filePath(QStringLiteral("p%1x%2.bmp").arg(w).arg(h));
    if (!QFile::exists(path)) {
      const QByteArray name = QFile::encodeName(path);
      EXPECT_EQ(PatternImage(w, h)->Save({name.constData(), TES_FILE_BMP, 0}, nullptr, nullptr, 0), 0);
    }
    auto* doc = static_cast<CGessoDoc*>(app_->OpenDocumentFile(path));
    QApplication::processEvents();
    return doc;
  }
  static CGessoView* View(CGessoDoc* doc) { return static_cast<CGessoView*>(doc->Views().front()); }
  static CChildFrame* Frame(CGessoDoc* doc) { return static_cast<CChildFrame*>(View(doc)->parentWidget()); }
  void Run(int id) {
    app_->MainFrame()->RunCommand(id);
    QApplication::processEvents();
  }
  bool Enabled(int id) {
    app_->MainFrame()->UpdateCommandUI();
    return app_->MainFrame()->Action(id)->isEnabled();
  }
  QSize Client() const { return app_->MdiClient()->contentsRect().size(); }

  // The whole scaled image is in view: no scroll bar, nothing cut off, and the frame lies
  // inside the MDI client so that the client needs no scroll bars either.
  void ExpectWholeImageShown(CGessoDoc* doc, const std::string& what) {
    SCOPED_TRACE(what);
    QApplication::processEvents();
    CGessoView* view = View(doc);
    const QSize total = view->TotalSize();
    EXPECT_FALSE(view->horizontalScrollBar()->isVisible()) << "range " << view->horizontalScrollBar()->maximum();
    EXPECT_FALSE(view->verticalScrollBar()->isVisible()) << "range " << view->verticalScrollBar()->maximum();
    EXPECT_GE(view->viewport()->width(), total.width());
    EXPECT_GE(view->viewport()->height(), total.height());
    const QRect frame = Frame(doc)->geometry();
    EXPECT_TRUE(QRect(QPoint(0, 0), Client()).contains(frame))
        << frame.x() << "," << frame.y() << " " << frame.width() << "x" << frame.height() << " in "
        << Client().width() << "x" << Client().height();
  }

  // After Auto Fit: the whole image when it fits; else the frame fills the client in the
  // direction the image is too large in and scrolls only that way.
  void ExpectAutoFitted(CGessoDoc* doc, const std::string& what) {
    SCOPED_TRACE(what);
    QApplication::processEvents();
    CGessoView* view = View(doc);
    const QSize wanted = view->TotalSize() + Frame(doc)->BorderSize();
    if (wanted.width() <= Client().width() && wanted.height() <= Client().height()) {
      ExpectWholeImageShown(doc, "fits");
      EXPECT_EQ(Frame(doc)->size(), wanted.expandedTo(Frame(doc)->minimumSizeHint()));
      return;
    }
    const QRect frame = Frame(doc)->geometry();
    EXPECT_TRUE(QRect(QPoint(0, 0), Client()).contains(frame));
    const int bar = view->verticalScrollBar()->sizeHint().width();
    if (wanted.height() > Client().height() && wanted.width() + bar <= Client().width()) {
      EXPECT_EQ(frame.height(), Client().height());
      EXPECT_TRUE(view->verticalScrollBar()->isVisible());
      EXPECT_FALSE(view->horizontalScrollBar()->isVisible());
      EXPECT_GE(view->viewport()->width(), view->TotalSize().width());
    }
    if (wanted.width() > Client().width() && wanted.height() + bar <= Client().height()) {
      EXPECT_EQ(frame.width(), Client().width());
      EXPECT_TRUE(view->horizontalScrollBar()->isVisible());
      EXPECT_FALSE(view->verticalScrollBar()->isVisible());
      EXPECT_GE(view->viewport()->height(), view->TotalSize().height());
    }
  }
};

}  // namespace

// ---------------------------------------------------------------------------------------
// Fitting.

TEST_F(ViewTest, FitShowsTheWholeImageWithoutScrollBars) {
  struct Case {
    QSize window;
    QSize image;
  } cases[] = {
      {{800, 600}, {900, 300}},  {{800, 600}, {300, 900}},   {{800, 600}, {64, 48}},   {{800, 600}, {2000, 1500}},
      {{800, 600}, {5000, 200}}, {{1200, 900}, {1600, 1200}}, {{1200, 900}, {640, 427}}, {{640, 480}, {611, 397}},
  };
  for (const Case& c : cases) {
    const std::string name = std::to_string(c.image.width()) + "x" + std::to_string(c.image.height()) + " in " +
                             std::to_string(c.window.width()) + "x" + std::to_string(c.window.height());
    SCOPED_TRACE(name);
    app_->MainFrame()->resize(c.window);
    QApplication::processEvents();
    CGessoDoc* doc = OpenPattern(c.image.width(), c.image.height());
    ASSERT_NE(doc, nullptr) << messages_.join("|").toStdString();
    CGessoView* view = View(doc);
    ExpectWholeImageShown(doc, "opened");
    // The largest zoom at which it fits, and the frame hugs the image.
    const int den = view->ZoomDen();
    const QSize border = Frame(doc)->BorderSize();
    const QSize wanted = view->TotalSize() + border;
    EXPECT_EQ(Frame(doc)->size(), wanted.expandedTo(Frame(doc)->minimumSizeHint()));
    if (den > 1) {
      EXPECT_TRUE(c.image.width() / (den / 2) + border.width() + 8 > Client().width() ||
                  c.image.height() / (den / 2) + border.height() + 8 > Client().height());
    }

    // Moved away and made small by hand, then Fit To Screen.
    Frame(doc)->setGeometry(30, 20, 120, 90);
    QApplication::processEvents();
    Run(ID_WINDOW_FITTOSCREEN);
    ExpectWholeImageShown(doc, "fit to screen");
    EXPECT_EQ(view->ZoomDen(), den);

    // Auto Fit (on by default): zooming out, turning and zooming back in resize the frame.
    ASSERT_TRUE(app_->AutoFitWindow());
    if (view->ZoomDen() < 8) {
      Run(ID_VIEW_ZOOMOUT);
      ExpectWholeImageShown(doc, "zoomed out");
      ExpectAutoFitted(doc, "zoomed out");
    }
    Run(ID_TRANSFORM_ROTATECW);
    ExpectAutoFitted(doc, "turned");
    Run(ID_TRANSFORM_ROTATECCW);
    ExpectAutoFitted(doc, "turned back");
    Run(ID_VIEW_ZOOMIN);
    ExpectAutoFitted(doc, "zoomed back in");
    Run(ID_VIEW_ZOOMIN);
    ExpectAutoFitted(doc, "zoomed in past the fit");
    Run(ID_TRANSFORM_ROTATECW);
    ExpectAutoFitted(doc, "zoomed in and turned");

    doc->SetModifiedFlag(false);
    Frame(doc)->close();
    QApplication::processEvents();
  }
}

TEST_F(ViewTest, WithoutAutoFitZoomsAndTurnsKeepTheFrame) {
  CGessoDoc* doc = OpenPattern(300, 200);
  ASSERT_NE(doc, nullptr);
  Run(ID_WINDOW_AUTOFIT);
  ASSERT_FALSE(app_->AutoFitWindow());
  const QSize before = Frame(doc)->size();
  Run(ID_VIEW_ZOOMIN);
  Run(ID_TRANSFORM_ROTATECW);
  EXPECT_EQ(Frame(doc)->size(), before);
  // The view scrolls over the larger image instead.
  EXPECT_TRUE(View(doc)->horizontalScrollBar()->isVisible() || View(doc)->verticalScrollBar()->isVisible());
  // Fit To Screen still fits.
  Run(ID_WINDOW_FITTOSCREEN);
  ExpectWholeImageShown(doc, "fit to screen");
  Run(ID_WINDOW_AUTOFIT);
}

// ---------------------------------------------------------------------------------------
// Undo and redo.

TEST_F(ViewTest, UndoAndRedoRestoreThePixelsExactly) {
  CGessoDoc* doc = OpenPattern(37, 23);  // odd and not square: a wrong turn shows
  ASSERT_NE(doc, nullptr);
  EXPECT_FALSE(Enabled(ID_EDIT_UNDO));
  EXPECT_FALSE(Enabled(ID_EDIT_REDO));
  const Pixels original = ReadBack(*doc->Image());
  const int commands[] = {ID_TRANSFORM_ROTATECW, ID_TRANSFORM_ROTATECCW, ID_TRANSFORM_FLIPH, ID_TRANSFORM_FLIPV,
                          ID_TRANSFORM_FLIPBOTH};
  // Each alone: undone, it gives the pixels before; redone, the pixels after.
  std::vector<Pixels> states{original};
  for (int command : commands) {
    SCOPED_TRACE(command);
    const Pixels before = ReadBack(*doc->Image());
    Run(command);
    const Pixels after = ReadBack(*doc->Image());
    EXPECT_FALSE(after == before);
    ASSERT_TRUE(Enabled(ID_EDIT_UNDO));
    Run(ID_EDIT_UNDO);
    EXPECT_TRUE(ReadBack(*doc->Image()) == before);
    ASSERT_TRUE(Enabled(ID_EDIT_REDO));
    Run(ID_EDIT_REDO);
    EXPECT_TRUE(ReadBack(*doc->Image()) == after);
    EXPECT_FALSE(Enabled(ID_EDIT_REDO));
    states.push_back(after);
  }
  // All of them undone one by one walk back through every state to the original, and
  // redone walk forward again.
  for (size_t i = states.size() - 1; i > 0; --i) {
    Run(ID_EDIT_UNDO);
    EXPECT_TRUE(ReadBack(*doc->Image()) == states[i - 1]) << i;
  }
  EXPECT_FALSE(Enabled(ID_EDIT_UNDO));
  for (size_t i = 1; i < states.size(); ++i) {
    Run(ID_EDIT_REDO);
    EXPECT_TRUE(ReadBack(*doc->Image()) == states[i]) << i;
  }
  // A turn after an undo drops what could be redone.
  Run(ID_EDIT_UNDO);
  Run(ID_TRANSFORM_ROTATECW);
  EXPECT_FALSE(Enabled(ID_EDIT_REDO));
  // The view's selection follows the image back and forth.
  View(doc)->SetSelection({2, 3, 10, 5});
  Run(ID_TRANSFORM_ROTATECW);
  const QRect turned = View(doc)->Selection();
  EXPECT_NE(turned, QRect(2, 3, 10, 5));
  Run(ID_EDIT_UNDO);
  EXPECT_EQ(View(doc)->Selection(), QRect(2, 3, 10, 5));
  Run(ID_EDIT_REDO);
  EXPECT_EQ(View(doc)->Selection(), turned);
}

TEST_F(ViewTest, UndoAndRedoKeepTheModifiedMarkRight) {
  CGessoDoc* doc = OpenPattern(40, 30);
  ASSERT_NE(doc, nullptr);
  EXPECT_FALSE(doc->IsModified());
  Run(ID_TRANSFORM_FLIPH);
  EXPECT_TRUE(doc->IsModified());
  EXPECT_TRUE(Enabled(ID_FILE_SAVE));
  Run(ID_EDIT_UNDO);  // back where the file was
  EXPECT_FALSE(doc->IsModified());
  EXPECT_FALSE(Enabled(ID_FILE_SAVE));
  Run(ID_EDIT_REDO);
  EXPECT_TRUE(doc->IsModified());
  // Saved after two turns: undoing leaves the saved state, redoing comes back to it.
  Run(ID_TRANSFORM_ROTATECW);
  ASSERT_TRUE(doc->DoSave(dir_.filePath("saved.bmp"), true)) << messages_.join("|").toStdString();
  EXPECT_FALSE(doc->IsModified());
  Run(ID_EDIT_UNDO);
  EXPECT_TRUE(doc->IsModified());
  Run(ID_EDIT_UNDO);
  EXPECT_TRUE(doc->IsModified());  // the file's first state is no longer what is on disk
  Run(ID_EDIT_REDO);
  Run(ID_EDIT_REDO);
  EXPECT_FALSE(doc->IsModified());
  // A change outside the history (the colour space) keeps the mark through undo and redo.
  QMenu menu;
  doc->BuildColorSpaceMenu(&menu);
  const int grey = static_cast<int>(CGessoDoc::ColorSpaceMenuCodes(doc->ColorSpace(), false).indexOf(0));
  ASSERT_GE(grey, 0);
  doc->OnColorSpaceItem(ID_DOCCOLORSPACE_FIRST + grey);
  ASSERT_EQ(doc->ColorSpace(), 0);
  ASSERT_TRUE(doc->IsModified());
  Run(ID_EDIT_UNDO);
  EXPECT_TRUE(doc->IsModified());
  Run(ID_EDIT_REDO);
  EXPECT_TRUE(doc->IsModified());
}

// ---------------------------------------------------------------------------------------
// The main window's title.

TEST_F(ViewTest, TitleShowsTheActiveDocumentAndItsModifiedMark) {
  CMainFrame* frame = app_->MainFrame();
  const auto Title = [frame] { return frame->windowTitle().toStdString(); };
  const QString program = LoadString(IDR_MAINFRAME);
  EXPECT_EQ(Title(), program.toStdString());
  CGessoDoc* a = OpenPattern(50, 40);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(Title(), ("p50x40.bmp[*] - " + program).toStdString());
  EXPECT_FALSE(frame->isWindowModified());
  Run(ID_TRANSFORM_ROTATECW);
  EXPECT_TRUE(frame->isWindowModified());
  Run(ID_EDIT_UNDO);
  EXPECT_FALSE(frame->isWindowModified());
  Run(ID_EDIT_REDO);
  // Another document in front: its name and mark.
  CGessoDoc* b = OpenPattern(60, 40);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(Title(), ("p60x40.bmp[*] - " + program).toStdString());
  EXPECT_FALSE(frame->isWindowModified());
  app_->MdiClient()->setActiveSubWindow(Frame(a));
  QApplication::processEvents();
  EXPECT_EQ(Title(), ("p50x40.bmp[*] - " + program).toStdString());
  EXPECT_TRUE(frame->isWindowModified());
  // Saved under a new name: the new name, unmarked.
  ASSERT_TRUE(a->DoSave(dir_.filePath("renamed.bmp"), true));
  EXPECT_EQ(Title(), ("renamed.bmp[*] - " + program).toStdString());
  EXPECT_FALSE(frame->isWindowModified());
  // Maximised, the frame's own title goes behind the program's, as in MDI programs; back
  // to normal, the document's name and mark again.
  Frame(a)->showMaximized();
  QApplication::processEvents();
  EXPECT_EQ(Title(), (program + " - [renamed.bmp (1:1)]").toStdString());
  Run(ID_VIEW_ZOOMOUT);
  QApplication::processEvents();
  EXPECT_EQ(Title(), (program + " - [renamed.bmp (1:2)]").toStdString());
  Frame(a)->showNormal();
  QApplication::processEvents();
  EXPECT_EQ(Title(), ("renamed.bmp[*] - " + program).toStdString());
  Run(ID_TRANSFORM_FLIPV);
  EXPECT_TRUE(frame->isWindowModified());
  a->SetModifiedFlag(false);  // changes discarded
  EXPECT_FALSE(frame->isWindowModified());
  // Nothing open: the program's name alone.
  Frame(a)->close();
  Frame(b)->close();
  QApplication::processEvents();
  EXPECT_EQ(Title(), program.toStdString());
  EXPECT_FALSE(frame->isWindowModified());
}

// ---------------------------------------------------------------------------------------
// The open dialog's filter and the icons.

TEST_F(ViewTest, OpenFilterTakesEveryNameAndCaseOfTheFormats) {
  // The document template's string stays as it is; the dialog's filter holds more.
  EXPECT_EQ(TemplateField(LoadString(IDR_MENU_DOC), 3), "Image (*.bmp;*.jpg;*.tif;*.fpx)");
  const QStringList entries = app_->DocManager()->OpenFilter().split(";;");
  ASSERT_EQ(entries.size(), 2);
  EXPECT_TRUE(entries[0].startsWith("Image ("));
  EXPECT_TRUE(entries[1].endsWith("(*)"));
  const QRegularExpression inParens(QStringLiteral("\\(([^)]*)\\)"));
  const QStringList patterns = inParens.match(entries[0]).captured(1).split(' ', Qt::SkipEmptyParts);
  // Matched as a case-sensitive file system would.
  const auto accepted = [&](const QString& file) {
    for (const QString& p : patterns) {
      const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(p));
      if (re.match(file).hasMatch()) return true;
    }
    return false;
  };
  for (const char* file : {"IMG_0001.JPG", "x.jpeg", "y.TIFF", "a.jpg", "b.tif", "c.bmp", "D.BMP", "e.fpx", "F.FPX",
                           "g.JPEG", "h.tiff", "i.jpe", "j.jfif", "k.dib"})
    EXPECT_TRUE(accepted(file)) << file;
  for (const char* file : {"notes.txt", "x.png", "jpg", "a.jpg.txt"}) EXPECT_FALSE(accepted(file)) << file;
}

TEST_F(ViewTest, IconsAreScalableAtAnyScaleFactor) {
  CMainFrame* frame = app_->MainFrame();
  const QList<QToolBar*> bars = frame->findChildren<QToolBar*>();
  ASSERT_EQ(bars.size(), 1);
  int buttons = 0;
  for (QAction* action : bars.front()->actions()) {
    if (action->isSeparator()) continue;
    ++buttons;
    SCOPED_TRACE(action->text().toStdString());
    const QIcon icon = action->icon();
    ASSERT_FALSE(icon.isNull());
    // At twice the size, and at a scale factor of 2, the picture is drawn for that size
    // rather than stretched from a small bitmap.
    for (const qreal ratio : {1.0, 2.0, 3.0}) {
      const QPixmap pixmap = icon.pixmap(QSize(24, 24), ratio);
      EXPECT_EQ(pixmap.size(), QSize(24, 24) * ratio) << ratio;
      EXPECT_FALSE(pixmap.toImage().allGray() && pixmap.toImage().pixelColor(12, 12).alpha() == 0) << ratio;
    }
  }
  EXPECT_EQ(buttons, 8);
  // The built-in pictures behind the theme's names, and the program's own icon.
  for (const char* name : {"document-open", "document-save", "edit-copy", "document-print", "zoom-in", "edit-select",
                           "help-about", "scanner", "edit-undo", "edit-redo", "orvax-scan", "image-x-generic"}) {
    EXPECT_TRUE(QFile::exists(BuiltInIconPath(name))) << name;
    EXPECT_EQ(QIcon(BuiltInIconPath(name)).pixmap(QSize(64, 64)).size(), QSize(64, 64)) << name;
  }
  EXPECT_FALSE(QApplication::windowIcon().isNull());
  EXPECT_EQ(QApplication::windowIcon().pixmap(QSize(128, 128)).size(), QSize(128, 128));
  CGessoDoc* doc = OpenPattern(20, 20);
  ASSERT_NE(doc, nullptr);
  EXPECT_FALSE(Frame(doc)->windowIcon().isNull());
}
