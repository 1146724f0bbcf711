// Orvax Scan's TWAIN session against the real manager and the virtual film scanner in
// scripted mode. Some tests hand acquired images to a recording acquisition target, so that
// what the session passes on (strips checked and CMYK inverted back, completion, closing,
// the auto-save result) is seen exactly; the rest scan into real document windows and read
// the pixels back from the documents' images.
#include "commands.h"
#include "document_wait.h"
#include "framework/doc_manager.h"
#include "gesso_doc.h"
#include "frames.h"
#include "main_frame.h"
#include "scan_app.h"
#include "string_table.h"
#include "twain_session.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QComboBox>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QSpinBox>
#include <QMdiSubWindow>
#include <QImage>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "isolated_app_test.h"

#include <cstring>

using namespace orvax::app;
using namespace orvax::twain;
namespace fw = orvax::framework;

namespace {

struct Recorded {
  TW_IMAGEINFO info{};
  std::vector<uint8_t> pixels;  // reassembled, interleaved
  int strips = 0;
  bool native = false;
  std::vector<uint8_t> dib;
  bool completed = false, closed = false, autoSaved = false;
  bool exitAllowedDuringTransfer = true, closeEnabledDuringTransfer = true;
};

class RecordingImage : public CAcquiredImage {
 public:
  RecordingImage(Recorded* r, CScanApp* app, bool saveResult) : r_(r), app_(app), saveResult_(saveResult) {}
  bool OnMemoryStrip(const TW_IMAGEINFO& info, const TW_IMAGEMEMXFER& strip) override {
    r_->info = info;
    const int spp = info.SamplesPerPixel, bits = info.BitsPerSample[0], bytes = bits / 8;
    const size_t rowBytes = (static_cast<size_t>(info.ImageWidth) * spp * bits + 7) / 8;
    r_->pixels.resize(rowBytes * info.ImageLength);
    if (strip.YOffset == 0) ++plane_;
    auto* data = static_cast<const uint8_t*>(GlobalLock(strip.Memory.TheMem));
    for (TW_UINT32 r = 0; r < strip.Rows; ++r) {
      const uint8_t* src = data + r * strip.BytesPerRow;
      uint8_t* dst = r_->pixels.data() + (strip.YOffset + r) * rowBytes;
      if (!info.Planar) std::memcpy(dst, src, rowBytes);
      else
        for (int x = 0; x < info.ImageWidth; ++x) std::memcpy(dst + (x * spp + plane_) * bytes, src + x * bytes, bytes);
    }
    GlobalUnlock(strip.Memory.TheMem);
    ++r_->strips;
    r_->exitAllowedDuringTransfer = app_->exitAllowed;
    app_->MainFrame()->UpdateCommandUI();
    r_->closeEnabledDuringTransfer = app_->MainFrame()->Action(ID_APP_EXIT)->isEnabled();
    return true;
  }
  bool OnNativeTransfer(const void* dib, size_t bytes) override {
    r_->native = true;
    r_->dib.assign(static_cast<const uint8_t*>(dib), static_cast<const uint8_t*>(dib) + bytes);
    return true;
  }
  void Complete() override { r_->completed = true; }
  bool AutoSave(const orvax::ds::AutoSaveRequest& request, QString* path) override {
    r_->autoSaved = true;
    *path = QString("%1/%2.out").arg(request.folder, request.stem);
    return saveResult_;
  }
  void Close() override { r_->closed = true; }

 private:
  Recorded* r_;
  CScanApp* app_;
  bool saveResult_;
  int plane_ = -1;
};

class TwainSessionTest : public IsolatedAppTest {
 protected:

  void SetUp() override {
    Isolate(ORVAX_REAL_ROOT);
    qputenv("ORVAX_DS_REPORT", dir_.filePath("report.txt").toLocal8Bit());
    qunsetenv("ORVAX_TWAIN_FAIL");
    CollectMessages();
  }
  void TearDown() override {
    Quit();
    fw::SetMessageBoxHook({});
    qunsetenv("ORVAX_DS_SCRIPT");
    qunsetenv("ORVAX_TWAIN_FAIL");
  }

  // Starts without arguments (the source opens at once) with SCRIPT for the scanner.
  bool Start(const QString& script, bool saveResult = true, bool recording = true) {
    if (!PrepareScriptedStart(script)) return false;
    saveResult_ = saveResult;
    // Transfers start from the event loop, after start-up has made the frame.
    const bool ok = app_->InitInstance({});
    if (recording) InstallFactory();
    return ok;
  }
  void InstallFactory() {
    if (app_->MainFrame() == nullptr) return;
    app_->MainFrame()->SetAcquisitionFactory([this]() -> std::unique_ptr<CAcquiredImage> {
      images_.push_back(std::make_unique<Recorded>());
      return std::make_unique<RecordingImage>(images_.back().get(), app_.get(), saveResult_);
    });
  }
  void Wait(size_t want) {
    QElapsedTimer timer;
    timer.start();
    while (images_.size() < want && timer.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    // Let the transfer in progress end.
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  // Waits until the frame holds WANT image documents and none is still acquiring (or the
  // scanner reports LINE, when one is given).
  QList<CGessoDoc*> WaitForDocuments(int want, const QString& line = {}) {
    return WaitForCompleteDocuments(*app_, [&](const QList<CGessoDoc*>& docs) {
      return docs.size() >= want && (line.isEmpty() || Report().contains(line));
    });
  }
  int DocumentWindows() const { return app_->MainFrame()->MdiArea()->subWindowList().size(); }
  // A setting of the virtual scanner, in this test's own configuration folder.
  static void SetScannerSetting(const char* key, const QVariant& value) {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Orvax", "Orvax Scan Data Source").setValue(key, value);
  }
  // The whole image of DOC, ROWBYTES a row, as the image library holds it.
  static std::vector<uint8_t> Pixels(CGessoDoc* doc, int width, int height, int rowBytes) {
    std::vector<uint8_t> got(static_cast<size_t>(rowBytes) * height);
    tagTes_Tile_Desc tile{{0, 0, width, height}, rowBytes, 0};
    if (doc->Image() == nullptr || doc->Image()->GetData(tile, got.data()) != 0) return {};
    return got;
  }
  static short ColorSpace(CGessoDoc* doc) {
    short cs = -1;
    if (doc->Image() != nullptr) doc->Image()->GetColorSpace(&cs);
    return cs;
  }

  QStringList Report() const {
    QFile file(dir_.filePath("report.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
  }

  std::vector<std::unique_ptr<Recorded>> images_;
  bool saveResult_ = true;
};

TEST_F(TwainSessionTest, StartWithoutArgumentsEnablesTheSource) {
  ASSERT_TRUE(Start(""));
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();
  EXPECT_EQ(app_->MainFrame()->SessionState(), TwainState::kSourceEnabled);
  EXPECT_TRUE(app_->sourceEnabled);
  EXPECT_TRUE(app_->MainFrame()->MemoryTransfer());
  app_->MainFrame()->UpdateCommandUI();
  EXPECT_FALSE(app_->MainFrame()->Action(ID_FILE_OPENSOURCE)->isEnabled());
  // The scanner's colour spaces fill the menu now that the source is enabled.
  app_->MainFrame()->RebuildSourceMenus();
  QMenu* spaces = app_->MainFrame()->SourcePopup(ID_COLORSPACE_FIRST);
  ASSERT_NE(spaces, nullptr);
  EXPECT_EQ(spaces->actions().front()->text(), "8 bit Grayscale");
  // Closing steps down to state 1.
  app_->MainFrame()->CloseSource();
  EXPECT_EQ(app_->MainFrame()->SessionState(), TwainState::kPreSession);
  EXPECT_FALSE(app_->sourceEnabled);
}

TEST_F(TwainSessionTest, MemoryTransfersArriveAsScannedWithCmykInvertedBack) {
  struct Case {
    const char* options;
    int type, bits;
    orvax::ds::FrameKind frame;
  } cases[] = {
      {"pixel=gray depth=8 frame=ramps", TWPT_GRAY, 8, orvax::ds::FrameKind::Ramps},
      {"pixel=gray depth=16 frame=scene", TWPT_GRAY, 16, orvax::ds::FrameKind::Scene},
      {"pixel=rgb depth=8 planar=1", TWPT_RGB, 8, orvax::ds::FrameKind::Chart},
      {"pixel=rgb depth=16 frame=scene", TWPT_RGB, 16, orvax::ds::FrameKind::Scene},
      {"pixel=cmyk", TWPT_CMYK, 8, orvax::ds::FrameKind::Chart},
      {"pixel=hsl frame=ramps", 31, 16, orvax::ds::FrameKind::Ramps},
  };
  QString script;
  for (const Case& c : cases) script += QString("scan width=19 height=13 strip=4 %1\n").arg(c.options);
  ASSERT_TRUE(Start(script));
  Wait(std::size(cases));
  ASSERT_EQ(images_.size(), std::size(cases));
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].options);
    const Recorded& r = *images_[i];
    EXPECT_TRUE(r.completed);
    EXPECT_FALSE(r.closed);
    EXPECT_FALSE(r.autoSaved);
    EXPECT_FALSE(r.exitAllowedDuringTransfer);
    EXPECT_FALSE(r.closeEnabledDuringTransfer);
    const auto expected = orvax::ds::Render(orvax::ds::BuiltInFrame(cases[i].frame, 19, 13), cases[i].type, cases[i].bits);
    EXPECT_TRUE(r.pixels == expected.data);
  }
  EXPECT_TRUE(app_->exitAllowed);
  EXPECT_EQ(app_->MainFrame()->SessionState(), TwainState::kSourceEnabled);
}

TEST_F(TwainSessionTest, FaultyStripsEndTheTransferWithMessage4108) {
  ASSERT_TRUE(Start("scan width=10 height=20 strip=4 bad-strip=outside\n"
                    "scan width=10 height=20 strip=4 bad-strip=oversize\n"
                    "scan width=10 height=20 strip=4 fail-strip=3\n"
                    "scan width=10 height=20 strip=4 cancel-after=2\n"));
  Wait(4);
  ASSERT_EQ(images_.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(images_[i]->completed);
    EXPECT_TRUE(images_[i]->closed);
  }
  // The bad strips never reach the document.
  EXPECT_EQ(images_[0]->strips, 1);
  EXPECT_EQ(images_[1]->strips, 1);
  EXPECT_EQ(images_[2]->strips, 2);
  EXPECT_EQ(images_[3]->strips, 2);
  // Three failures are reported; the user's own cancel is not.
  EXPECT_EQ(messages_, QStringList(3, "Error transferring image."));
  EXPECT_TRUE(app_->exitAllowed);
  EXPECT_EQ(app_->MainFrame()->SessionState(), TwainState::kSourceEnabled);
}

TEST_F(TwainSessionTest, AutoSaveResultGoesBackToTheSource) {
  ASSERT_TRUE(Start("scan width=8 height=8 autosave=1 folder=/nowhere stem=one\n", false));
  Wait(1);
  ASSERT_EQ(images_.size(), 1u);
  EXPECT_TRUE(images_[0]->completed);
  EXPECT_TRUE(images_[0]->autoSaved);
  EXPECT_FALSE(images_[0]->closed);  // not saved: the document stays
  EXPECT_TRUE(Report().contains("autosave status=4 path=/nowhere/one.out")) << Report().join("|").toStdString();
}

TEST_F(TwainSessionTest, NativeOnlySourceDeliversABitmap) {
  ASSERT_TRUE(Start("offer native\nscan pixel=rgb depth=8 width=6 height=3\nscan pixel=rgb depth=16 width=6 height=3\n"));
  EXPECT_FALSE(app_->MainFrame()->MemoryTransfer());
  Wait(1);
  ASSERT_EQ(images_.size(), 1u);  // 48-bit RGB is not taken natively
  EXPECT_TRUE(images_[0]->native);
  EXPECT_TRUE(images_[0]->completed);
  EXPECT_EQ(images_[0]->dib.size(), 40u + 3 * 20);
}

TEST_F(TwainSessionTest, CloseRequestFromTheSourceClosesIt) {
  ASSERT_TRUE(Start("close\n"));
  QElapsedTimer timer;
  timer.start();
  while (app_->MainFrame()->SessionState() != TwainState::kPreSession && timer.elapsed() < 5000) QCoreApplication::processEvents();
  EXPECT_EQ(app_->MainFrame()->SessionState(), TwainState::kPreSession);
  EXPECT_FALSE(app_->sourceEnabled);
}

TEST_F(TwainSessionTest, EveryFailingStepShowsItsMessage) {
  struct Case {
    const char* fail;
    const char* message;
  } cases[] = {
      {"opendsm", "Could not open Twain Data Source Manager."},
      {"getfirst", "Could not open Orvax Scan 2.2 data source."},
      {"opends", "Could not open Orvax Scan 2.2 data source."},
      {"opends:5", nullptr},  // the source reported it itself
      {"enableds", "Could not show the user interface for the Orvax Scan data source."},
  };
  ASSERT_TRUE(Start(""));
  CMainFrame* frame = app_->MainFrame();
  frame->CloseSource();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fail);
    messages_.clear();
    qputenv("ORVAX_TWAIN_FAIL", c.fail);
    frame->OpenSource();
    EXPECT_EQ(messages_, c.message ? QStringList{c.message} : QStringList());
    EXPECT_EQ(frame->SessionState(), TwainState::kPreSession);
  }
  // Closing: the source, then the manager.
  for (const auto& [fail, message] : {std::pair{"closeds", "Could not close Orvax Scan data source."},
                                      std::pair{"closedsm", "Could not close Twain Data Source Manager."}}) {
    SCOPED_TRACE(fail);
    qunsetenv("ORVAX_TWAIN_FAIL");
    frame->OpenSource();
    ASSERT_EQ(frame->SessionState(), TwainState::kSourceEnabled);
    messages_.clear();
    qputenv("ORVAX_TWAIN_FAIL", fail);
    frame->CloseSource();
    EXPECT_EQ(messages_, QStringList{message});
    EXPECT_EQ(frame->SessionState(), std::string(fail) == "closeds" ? TwainState::kSourceOpen : TwainState::kManagerOpen);
    qunsetenv("ORVAX_TWAIN_FAIL");
    frame->CloseSource();
    EXPECT_EQ(frame->SessionState(), TwainState::kPreSession);
  }
  // Loading: no manager in the root.
  messages_.clear();
  qputenv("ORVAX_WINDOWS_DIR", dir_.filePath("empty").toLocal8Bit());
  frame->OpenSource();
  EXPECT_EQ(messages_, QStringList{"Could not load TWAIN_32.DLL."});
}

// The real application with real documents: pixels in the documents, auto-saves written and
// reopened, and a format code that saves nothing reported as status 4.
TEST_F(TwainSessionTest, EndToEndDocumentsAndAutomaticSaves) {
  const QString out = dir_.filePath("saved");
  QDir().mkpath(out);

  ASSERT_TRUE(Start(QString("scan pixel=gray depth=8 width=20 height=10 frame=ramps\n"
                            "scan pixel=cmyk width=20 height=10\n"
                            "scan width=20 height=10 autosave=1 folder=%1 stem=none\n"
                            "scan width=20 height=10 autosave=0 folder=%1 stem=roll\n"
                            "scan width=20 height=10 autosave=0 folder=%1 stem=roll\n"
                            "scan width=20 height=10 autosave=4 quality=3 folder=%1 stem=roll\n"
                            "scan width=20 height=10 autosave=2 folder=%1 stem=roll\n"
                            "scan width=20 height=10 autosave=129 quality=18 folder=%1 stem=roll\n")
                        .arg(out),
                    true, false));
  QElapsedTimer timer;
  timer.start();
  while (Report().size() < 6 && timer.elapsed() < 20000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();
  const QStringList report = Report();
  ASSERT_EQ(report.size(), 6) << report.join("|").toStdString();
  EXPECT_TRUE(report[0].startsWith("autosave status=4 path=")) << report[0].toStdString();
  const QStringList names = {"roll.tif", "D1_roll.tif", "roll.jpg", "roll.bmp", "roll.fpx"};
  for (int i = 0; i < names.size(); ++i) {
    const QString path = out + "/" + names[i];
    EXPECT_EQ(report[i + 1], "autosave status=0 path=" + path);
    TesseraClass reopened(static_cast<short>(0), static_cast<short>(2));
    const QByteArray native = QFile::encodeName(path);
    char* name = const_cast<char*>(native.constData());
    EXPECT_EQ(reopened.OpenImage(name, TesseraClass::m_s_EmptyTransform, nullptr, nullptr), 0) << names[i].toStdString();
  }
  EXPECT_EQ(QDir(out).entryList(QDir::Files).size(), names.size());  // nothing for format 1

  // The saved scans closed; the two plain ones and the unsaved one stay, holding the pixels.
  const QList<fw::CDocument*> docs = app_->DocManager()->Documents();
  ASSERT_EQ(docs.size(), 3);
  // The CMYK scan, which arrived inverted, holds the scanned samples. (With colour management
  // on, the image library keeps grey scans as RGB, so only CMYK is compared sample by sample.)
  const std::pair<int, short> kinds[] = {{TWPT_CMYK, 4}};
  for (const auto& [type, code] : kinds) {
    SCOPED_TRACE(code);
    CGessoDoc* found = nullptr;
    for (fw::CDocument* d : docs) {
      auto* doc = qobject_cast<CGessoDoc*>(d);
      short cs = -1;
      if (doc != nullptr && doc->Image() != nullptr && doc->Image()->GetColorSpace(&cs) == 0 && cs == code) found = doc;
    }
    ASSERT_NE(found, nullptr);
    EXPECT_FALSE(found->IsAcquiring());
    const auto expected = orvax::ds::Render(
        orvax::ds::BuiltInFrame(code == 0 ? orvax::ds::FrameKind::Ramps : orvax::ds::FrameKind::Chart, 20, 10), type, 8);
    std::vector<uint8_t> got(expected.data.size());
    tagTes_Tile_Desc tile{{0, 0, 20, 10}, expected.bytesPerRow, 0};
    ASSERT_EQ(found->Image()->GetData(tile, got.data()), 0);
    EXPECT_TRUE(got == expected.data);
  }
}

// Every pixel type the scanner offers, chunky and planar, lands in a document window holding
// exactly the scanned samples: without colour management each type keeps its own colour
// space; with it, the scanner's HSL and CMYK (inverted on the wire) keep theirs too.
TEST_F(TwainSessionTest, ScansBecomeDocumentsHoldingTheScannedSamples) {
  struct Case {
    const char* options;
    int type, bits;
    orvax::ds::FrameKind frame;
    short colorSpace;
  };
  const Case plain[] = {
      {"pixel=gray depth=8 frame=ramps", TWPT_GRAY, 8, orvax::ds::FrameKind::Ramps, TES_CS_GRAY8},
      {"pixel=gray depth=16 frame=scene", TWPT_GRAY, 16, orvax::ds::FrameKind::Scene, TES_CS_GRAY16},
      {"pixel=rgb depth=8 frame=chart", TWPT_RGB, 8, orvax::ds::FrameKind::Chart, TES_CS_RGB24},
      {"pixel=rgb depth=8 frame=scene planar=1", TWPT_RGB, 8, orvax::ds::FrameKind::Scene, TES_CS_RGB24},
      {"pixel=rgb depth=16 frame=scene", TWPT_RGB, 16, orvax::ds::FrameKind::Scene, TES_CS_RGB48},
      {"pixel=rgb depth=16 frame=ramps planar=1", TWPT_RGB, 16, orvax::ds::FrameKind::Ramps, TES_CS_RGB48},
  };
  const Case managed[] = {
      {"pixel=rgb depth=16 frame=chart planar=1", TWPT_RGB, 16, orvax::ds::FrameKind::Chart, TES_CS_RGB48},
      {"pixel=hsl frame=scene", 31, 16, orvax::ds::FrameKind::Scene, TES_CS_LCH48},
      {"pixel=hsl frame=ramps planar=1", 31, 16, orvax::ds::FrameKind::Ramps, TES_CS_LCH48},
      {"pixel=cmyk frame=scene", TWPT_CMYK, 8, orvax::ds::FrameKind::Scene, TES_CS_CMYK32},
  };
  for (const bool cms : {false, true}) {
    SCOPED_TRACE(cms ? "colour managed" : "plain");
    SetScannerSetting("Color/UseCMS", cms);
    const auto* cases = cms ? managed : plain;
    const int count = cms ? static_cast<int>(std::size(managed)) : static_cast<int>(std::size(plain));
    QString script;
    for (int i = 0; i < count; ++i) script += QString("scan width=131 height=37 strip=5 %1\n").arg(cases[i].options);
    ASSERT_TRUE(Start(script, true, false));
    const QList<CGessoDoc*> docs = WaitForDocuments(count);
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();
    ASSERT_EQ(docs.size(), count);
    EXPECT_EQ(DocumentWindows(), count);
    for (int i = 0; i < count; ++i) {
      SCOPED_TRACE(cases[i].options);
      EXPECT_EQ(ColorSpace(docs[i]), cases[i].colorSpace);
      EXPECT_TRUE(docs[i]->IsModified());
      const auto expected =
          orvax::ds::Render(orvax::ds::BuiltInFrame(cases[i].frame, 131, 37), cases[i].type, cases[i].bits);
      EXPECT_TRUE(Pixels(docs[i], 131, 37, expected.bytesPerRow) == expected.data);
    }
    Quit();
  }
}

// The user's cancel midway through a transfer leaves no document and no window behind; the
// next scan comes in as usual.
TEST_F(TwainSessionTest, CancelledTransferLeavesNoDocumentWindow) {
  ASSERT_TRUE(Start("scan width=40 height=40 strip=4 cancel-after=3\nscan width=40 height=40 strip=8\n", true, false));
  const QList<CGessoDoc*> docs = WaitForDocuments(1, "cancelled after 3 strips");
  EXPECT_TRUE(Report().contains("cancelled after 3 strips")) << Report().join("|").toStdString();
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();
  ASSERT_EQ(docs.size(), 1);
  EXPECT_EQ(DocumentWindows(), 1);
  const auto expected = orvax::ds::Render(orvax::ds::BuiltInFrame(orvax::ds::FrameKind::Chart, 40, 40), TWPT_RGB, 8);
  EXPECT_TRUE(Pixels(docs[0], 40, 40, expected.bytesPerRow) == expected.data);
  EXPECT_TRUE(app_->exitAllowed);
}

// A source that only transfers natively hands over a bottom-up bitmap; the documents are the
// right way up, pixel for pixel.
TEST_F(TwainSessionTest, NativeOnlySourceGivesUprightDocuments) {
  SetScannerSetting("Color/UseCMS", false);
  ASSERT_TRUE(Start("offer native\n"
                    "scan pixel=rgb depth=8 width=13 height=7 frame=scene\n"
                    "scan pixel=gray depth=8 width=13 height=7 frame=ramps\n",
                    true, false));
  const QList<CGessoDoc*> docs = WaitForDocuments(2);
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();
  ASSERT_EQ(docs.size(), 2);
  const struct {
    int type;
    orvax::ds::FrameKind frame;
    short colorSpace;
  } cases[] = {{TWPT_RGB, orvax::ds::FrameKind::Scene, TES_CS_RGB24}, {TWPT_GRAY, orvax::ds::FrameKind::Ramps, TES_CS_GRAY8}};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ColorSpace(docs[i]), cases[i].colorSpace);
    const auto expected = orvax::ds::Render(orvax::ds::BuiltInFrame(cases[i].frame, 13, 7), cases[i].type, 8);
    EXPECT_TRUE(Pixels(docs[i], 13, 7, expected.bytesPerRow) == expected.data);
  }
}

// The slide feeder runs through the film holder's files as one batch: one document each, in
// the folder's order, holding that slide's pixels.
TEST_F(TwainSessionTest, FeederScansEverySlideOfTheFilmHolderIntoDocuments) {
  const QString holder = dir_.filePath("holder");
  QDir().mkpath(holder);
  QStringList files;
  for (int i = 0; i < 4; ++i) {
    QImage image(9 + i, 5 + i, QImage::Format_RGB888);
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) image.setPixelColor(x, y, QColor(30 * i + x * 9, y * 30, 250 - i * 50));
    files << QString("%1/slide%2.bmp").arg(holder).arg(i);
    ASSERT_TRUE(image.save(files.back(), "BMP"));
  }
  ASSERT_TRUE(Start(QString("feeder 4 pixel=rgb depth=8 holder=%1\n").arg(holder), true, false));
  const QList<CGessoDoc*> docs = WaitForDocuments(4);
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();
  ASSERT_EQ(docs.size(), 4);
  EXPECT_EQ(DocumentWindows(), 4);
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    orvax::ds::Frame frame;
    ASSERT_TRUE(orvax::ds::LoadFrameFile(files[i], &frame));
    const auto expected = orvax::ds::Render(frame, TWPT_RGB, 8);
    EXPECT_TRUE(Pixels(docs[i], 9 + i, 5 + i, expected.bytesPerRow) == expected.data);
  }
  EXPECT_EQ(app_->MainFrame()->SessionState(), TwainState::kSourceEnabled);
}

// The application ending while the user keeps a scan's unsaved changes still closes the
// source and the manager, so that the next start finds them free.
TEST_F(TwainSessionTest, EndingWithUnsavedScanStillClosesTheSource) {
  ASSERT_TRUE(Start("scan width=8 height=8\n", true, false));
  ASSERT_EQ(WaitForDocuments(1).size(), 1);
  fw::SetMessageBoxHook([this](const QString& text, unsigned) {
    messages_ << text;
    return fw::IDCANCEL;
  });
  app_->ExitInstance();
  app_.reset();
  EXPECT_EQ(messages_, QStringList{"Save changes to Image1?"});
  messages_.clear();
  ASSERT_TRUE(Start(""));
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();
  EXPECT_EQ(app_->MainFrame()->SessionState(), TwainState::kSourceEnabled);
}

// What a person does: the scanner's own window opens with the source; Scan brings one frame
// into a new document, Scan Slides brings the film holder's slides as a batch, and Cancel
// while idle asks the application to close the source.
TEST_F(TwainSessionTest, ScanningFromTheScannersWindow) {
  const QString holder = dir_.filePath("holder");
  QDir().mkpath(holder);
  QStringList files;
  for (int i = 0; i < 3; ++i) {
    QImage image(7, 5, QImage::Format_RGB888);
    image.fill(QColor(60 * i, 255 - 60 * i, 90));
    files << QString("%1/%2.bmp").arg(holder).arg(QChar('a' + i));
    ASSERT_TRUE(image.save(files.back(), "BMP"));
  }
  ASSERT_TRUE(Start("", true, false));
  QWidget* window = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == "OrvaxScanWindow" && w->isVisible()) window = w;
  ASSERT_NE(window, nullptr);
  const auto child = [window](const char* name) { return window->findChild<QWidget*>(name); };

  // One frame: the scene in 24-bit RGB at 75 dpi (a 36 x 24 mm frame: 106 x 71 pixels).
  auto* space = qobject_cast<QComboBox*>(child("colorSpace"));
  ASSERT_NE(space, nullptr);
  space->setCurrentIndex(space->findText("24 bit RGB"));
  qobject_cast<QSpinBox*>(child("resolution"))->setValue(75);
  qobject_cast<QComboBox*>(child("slide"))->setCurrentIndex(2);
  qobject_cast<QPushButton*>(child("scan"))->click();
  QList<CGessoDoc*> docs = WaitForDocuments(1);
  ASSERT_EQ(docs.size(), 1);
  const auto scene = orvax::ds::Render(orvax::ds::BuiltInFrame(orvax::ds::FrameKind::Scene, 106, 71), TWPT_RGB, 8);
  EXPECT_TRUE(Pixels(docs[0], 106, 71, scene.bytesPerRow) == scene.data);

  // A batch from the film holder.
  qobject_cast<QComboBox*>(child("slide"))->setCurrentIndex(3);
  qobject_cast<QLineEdit*>(child("filmHolder"))->setText(holder);
  qobject_cast<QSpinBox*>(child("feederSlides"))->setValue(3);
  qobject_cast<QPushButton*>(child("scanSlides"))->click();
  docs = WaitForDocuments(4);
  ASSERT_EQ(docs.size(), 4);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    orvax::ds::Frame frame;
    ASSERT_TRUE(orvax::ds::LoadFrameFile(files[i], &frame));
    const auto expected = orvax::ds::Render(frame, TWPT_RGB, 8);
    EXPECT_TRUE(Pixels(docs[i + 1], 7, 5, expected.bytesPerRow) == expected.data);
  }
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();

  qobject_cast<QPushButton*>(child("cancel"))->click();
  QElapsedTimer timer;
  timer.start();
  while (app_->MainFrame()->SessionState() != TwainState::kPreSession && timer.elapsed() < 5000) QCoreApplication::processEvents();
  EXPECT_EQ(app_->MainFrame()->SessionState(), TwainState::kPreSession);
  EXPECT_EQ(DocumentWindows(), 4);
}

}  // namespace
