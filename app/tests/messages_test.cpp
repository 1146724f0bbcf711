// What a person is told when an open or a save fails: the program's own message, and under
// it the reason and the status code. Bad files are made here by Pillow and tifffile (under
// Debian's /usr/bin/python3) and by hand; unwritable places are real ones. Also: the status
// bar's progress pane moves during a long open and save.
#include "framework/doc_manager.h"
#include "framework/win_app.h"
#include "atomic_save.h"
#include "gesso_doc.h"
#include "main_frame.h"
#include "progress_pane.h"
#include "scan_app.h"
#include "status_text.h"
#include "string_table.h"

#include <cstring>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

#include "isolated_app_test.h"

#include <cerrno>
#include <unistd.h>
#include <vector>

using namespace orvax::app;
namespace fw = orvax::framework;

namespace {

struct Shown {
  QString text;
  QString reason;
  QString codes;
};

// A W x H RGB image with a pattern, saved as FORMAT at PATH.
long WritePattern(const QString& path, int w, int h, uint32_t format) {
  tagTes_Image_Desc desc{};
  desc.width = w, desc.height = h, desc.colorSpace = TES_CS_RGB24, desc.resolution = 300.0;
  TesseraClass image(0, desc, TesseraClass::m_s_EmptyTransform);
  std::vector<uint8_t> data(static_cast<size_t>(w) * h * 3);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 1000);
  const tagTes_Tile_Desc tile{{0, 0, w, h}, w * 3, 0};
  if (const long status = image.SetData(tile, TesseraClass::m_s_EmptyTransform, data.data())) return status;
  const QByteArray name = QFile::encodeName(path);
  return image.Save({name.constData(), format, 0}, nullptr, nullptr, 0);
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
  file.write(bytes);
}

// Runs with the effective user of nobody while it lives, when the tests run as root (whom
// permissions do not stop); otherwise the user's own permissions already do.
class AsAnotherUser {
 public:
  AsAnotherUser() {
    if (::geteuid() == 0) switched_ = ::seteuid(65534) == 0;
  }
  ~AsAnotherUser() {
    if (switched_) {
      EXPECT_EQ(::seteuid(0), 0);
    }
  }

 private:
  bool switched_ = false;
};

class MessagesTest : public IsolatedAppTest {
 protected:
  void SetUp() override {
    Isolate(ORVAX_TEST_ROOT);
    qputenv("ORVAX_DS_CALL_LOG", dir_.filePath("calls.txt").toLocal8Bit());
    qputenv("ORVAX_DS_USECMS", "0");
    fw::SetMessageBoxDetailHook([this](const QString& text, unsigned, const fw::MessageDetail& detail) {
      shown_.push_back({text, detail.reason, detail.codes});
      return fw::IDOK;
    });
    app_ = std::make_unique<CScanApp>();
    ASSERT_TRUE(app_->InitInstance({QStringLiteral("--no-such-file-so-no-source")}));
    shown_.clear();
  }

  void TearDown() override {
    SetAtomicSaveTemporaryHook({});
    app_->ExitInstance();
    app_.reset();
    fw::SetMessageBoxDetailHook({});
    qunsetenv("ORVAX_DS_USECMS");
  }

  QString Path(const QString& name) const { return dir_.filePath(name); }
  CGessoDoc* Open(const QString& path) { return static_cast<CGessoDoc*>(app_->OpenDocumentFile(path)); }

  // Makes the files of the Python script SCRIPT (run with the folder as its argument).
  void MakeWithPython(const char* script) {
    QProcess python;
    python.start("/usr/bin/python3", {"-c", script, dir_.path()});
    ASSERT_TRUE(python.waitForFinished(60000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
  }

  std::vector<Shown> shown_;
};

TEST_F(MessagesTest, EveryBadFileSaysWhy) {
  MakeWithPython(R"(
import sys, io
from PIL import Image
import numpy, tifffile
d = sys.argv[1] + '/'
im = Image.new('RGB', (96, 64), (115, 82, 68))
buf = io.BytesIO(); im.save(buf, 'JPEG', quality=90); whole = buf.getvalue()
open(d + 'truncated.jpg', 'wb').write(whole[:len(whole) // 2])
Image.new('1', (64, 64)).save(d + 'fax.tif', compression='group4')
tifffile.imwrite(d + 'signed.tif', numpy.zeros((16, 16), numpy.int16))
tifffile.imwrite(d + 'oldjpeg.tif', numpy.zeros((16, 16), numpy.uint8), extratags=[(512, 'H', 1, 1, False)])
im.save(d + 'png.tif', 'PNG')
)");
  WriteBytes(Path("text.jpg"), "These are the notes of roll 12, not a picture.\n");
  WriteBytes(Path("empty.tif"), {});
  // An arithmetic-coded frame (SOF9) and a BMP of 7 bits per pixel.
  WriteBytes(Path("arithmetic.jpg"), QByteArray::fromHex("ffd8ffc9000b08001000100101110000ffd9"));
  WriteBytes(Path("seven.bmp"), BmpHeaderOnly(4, 4, 7));
  ASSERT_TRUE(QDir().mkpath(Path("folder.jpg")));
  ASSERT_EQ(WritePattern(Path("locked.bmp"), 8, 8, TES_FILE_BMP), 0);
  ASSERT_TRUE(QFile::setPermissions(Path("locked.bmp"), {}));

  struct Case {
    const char* name;
    int message;
    int reason;
    long status;
  } cases[] = {
      {"text.jpg", IDS_ERR_READFILE, IDS_WHY_NOT_IMAGE, 1013},
      {"png.tif", IDS_ERR_READFILE, IDS_WHY_NOT_IMAGE, 1013},
      {"truncated.jpg", IDS_ERR_READFILE, IDS_WHY_TRUNCATED, 1103},
      {"empty.tif", IDS_ERR_READFILE, IDS_WHY_EMPTY, 1013},
      {"arithmetic.jpg", IDS_ERR_READFILE, IDS_WHY_JPEG_KIND, 1302},
      {"seven.bmp", IDS_ERR_BITDEPTH, IDS_WHY_BMP_DEPTH, 1502},
      {"fax.tif", IDS_ERR_READFILE, IDS_WHY_DEPTH_COMPRESSION, 1406},
      {"signed.tif", IDS_ERR_READFILE, IDS_WHY_DEPTH_COMPRESSION, 1406},
      {"oldjpeg.tif", IDS_ERR_READFILE, IDS_WHY_TIFF_FEATURE, 1412},
      {"missing.jpg", IDS_ERR_LOADFILE, IDS_WHY_NO_FILE, 1100},
      {"folder.jpg", IDS_ERR_READFILE, IDS_WHY_IS_FOLDER, 1102},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    shown_.clear();
    const QString path = Path(c.name);
    EXPECT_EQ(Open(path), nullptr);
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_EQ(shown_[0].text, FormatString1(c.message, path));
    EXPECT_EQ(shown_[0].reason, LoadString(c.reason));
    EXPECT_EQ(shown_[0].codes, QStringLiteral("Status code %1").arg(c.status));
  }

  // A file this user may not read: the system's word for it goes into the small print.
  shown_.clear();
  {
    AsAnotherUser nobody;
    EXPECT_EQ(Open(Path("locked.bmp")), nullptr);
  }
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].text, FormatString1(IDS_ERR_LOADFILE, Path("locked.bmp")));
  EXPECT_EQ(shown_[0].reason, LoadString(IDS_WHY_NOT_READABLE));
  EXPECT_TRUE(shown_[0].codes.startsWith(QStringLiteral("Status code 1100; system error %1 (").arg(EACCES)))
      << shown_[0].codes.toStdString();
  EXPECT_TRUE(app_->DocManager()->Documents().isEmpty());
}

TEST_F(MessagesTest, EveryUnwritablePlaceSaysWhy) {
  ASSERT_EQ(WritePattern(Path("scan.bmp"), 40, 30, TES_FILE_BMP), 0);
  CGessoDoc* doc = Open(Path("scan.bmp"));
  ASSERT_NE(doc, nullptr);
  WriteBytes(Path("notes.txt"), "a file, not a folder");
  ASSERT_TRUE(QDir().mkpath(Path("taken.bmp")));

  struct Case {
    QString path;
    int message;
    QString reason;
    int error;
  } cases[] = {
      {Path("gone/scan.bmp"), IDS_ERR_SAVEFILE, FormatString1(IDS_WHY_NO_FOLDER, Path("gone")), ENOENT},
      {Path("notes.txt/scan.bmp"), IDS_ERR_SAVEFILE, FormatString1(IDS_WHY_NOT_A_FOLDER, Path("notes.txt")),
       ENOTDIR},
      {Path("notes.txt/deeper/scan.bmp"), IDS_ERR_SAVEFILE,
       FormatString1(IDS_WHY_NOT_A_FOLDER, Path("notes.txt")), ENOTDIR},
      {"/proc/scan.bmp", IDS_ERR_SAVEFILE, FormatString1(IDS_WHY_NO_NEW_FILES, "/proc"), ENOENT},
      {Path("taken.bmp"), IDS_ERR_SAVEFILE, LoadString(IDS_WHY_FOLDER_IN_WAY), EISDIR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.toStdString());
    shown_.clear();
    EXPECT_FALSE(doc->DoSave(c.path, true));
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_EQ(shown_[0].text, FormatString1(c.message, c.path));
    EXPECT_EQ(shown_[0].reason, c.reason);
    EXPECT_TRUE(shown_[0].codes.startsWith(QStringLiteral("Status code 1200; system error %1 (").arg(c.error)))
        << shown_[0].codes.toStdString();
  }
  EXPECT_TRUE(QFileInfo(Path("taken.bmp")).isDir());

  // A folder this user may not write in.
  ASSERT_TRUE(QDir().mkpath(Path("shelf")));
  ASSERT_TRUE(QFile::setPermissions(Path("shelf"), QFile::ReadOwner | QFile::ExeOwner));
  shown_.clear();
  {
    AsAnotherUser nobody;
    EXPECT_FALSE(doc->DoSave(Path("shelf/scan.bmp"), true));
  }
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].reason, FormatString1(IDS_WHY_NOT_WRITABLE, Path("shelf")));
  EXPECT_TRUE(shown_[0].codes.startsWith(QStringLiteral("Status code 1200; system error %1 (").arg(EACCES)));

  // A full disk, for the file's data.
  ASSERT_TRUE(QFile::link("/dev/full", Path("full-disk")));
  SetAtomicSaveTemporaryHook([&](const QString&) { return Path("full-disk"); });
  shown_.clear();
  EXPECT_FALSE(doc->DoSave(Path("roll.bmp"), true));
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].text, FormatString1(IDS_ERR_DISKFULL, Path("roll.bmp")));
  EXPECT_EQ(shown_[0].reason, LoadString(IDS_WHY_DISK_FULL));
  EXPECT_TRUE(shown_[0].codes.startsWith(QStringLiteral("Status code 1204; system error %1 (").arg(ENOSPC)));
  SetAtomicSaveTemporaryHook({});

  // An automatic save that fails says so too, and the scan stays open.
  shown_.clear();
  const CGessoDoc::AutoSaveResult result = doc->AutoSave(2, 0, Path("gone"), "roll");
  EXPECT_FALSE(result.saved);
  EXPECT_EQ(result.status, 1200);
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].text, FormatString1(IDS_ERR_SAVEFILE, Path("gone/roll.bmp")));
  EXPECT_EQ(shown_[0].reason, FormatString1(IDS_WHY_NO_FOLDER, Path("gone")));
  EXPECT_EQ(app_->DocManager()->Documents().size(), 1);

  // A save that works says nothing.
  shown_.clear();
  EXPECT_TRUE(doc->DoSave(Path("roll.bmp"), true));
  EXPECT_TRUE(shown_.empty());
}

TEST_F(MessagesTest, TheMessageLogRecordsTheDetail) {
  fw::SetMessageBoxDetailHook({});
  const QString log = Path("messages.txt");
  qputenv("ORVAX_SCAN_MESSAGE_LOG", log.toLocal8Bit());
  WriteBytes(Path("empty.tif"), {});
  EXPECT_EQ(Open(Path("empty.tif")), nullptr);
  qunsetenv("ORVAX_SCAN_MESSAGE_LOG");
  QFile file(log);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
  const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 1);
  EXPECT_EQ(lines[0], "30 " + FormatString1(IDS_ERR_READFILE, Path("empty.tif")) + "\t" + LoadString(IDS_WHY_EMPTY) +
                          "\tStatus code 1013");
}

// The pane's paints during a long open and a long save, read where they happen: inside the
// call, while no event loop runs.
class PaintRecorder : public QObject {
 public:
  explicit PaintRecorder(CProgressPane* pane) : pane_(pane) { pane->installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && recording) fractions.push_back(pane_->Progress());
    return false;
  }
  bool recording = false;
  std::vector<double> fractions;

 private:
  CProgressPane* pane_;
};

TEST_F(MessagesTest, TheProgressPaneMovesDuringALongOpenAndSave) {
  const QString big = Path("big.bmp");
  ASSERT_EQ(WritePattern(big, 600, 4000, TES_FILE_BMP), 0);
  CProgressPane* pane = app_->MainFrame()->ProgressPane();
  ASSERT_NE(pane, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(app_->MainFrame()));
  ASSERT_TRUE(pane->isVisible());
  PaintRecorder recorder(pane);

  const auto expectMoving = [&](const char* what) {
    SCOPED_TRACE(what);
    const std::vector<double>& f = recorder.fractions;
    // The bar grows in visible steps, and the pane is empty again at the end.
    ASSERT_GE(f.size(), 10u);
    EXPECT_EQ(f.back(), 0.0);
    for (size_t i = 1; i + 1 < f.size(); ++i) EXPECT_GT(f[i], f[i - 1]) << i;
    EXPECT_GT(f[f.size() - 2], 0.9);
    // At most one paint for each pixel of the bar, however often the progress is reported.
    EXPECT_LE(f.size(), static_cast<size_t>(pane->width()) + 2);
  };

  recorder.recording = true;
  CGessoDoc* doc = Open(big);
  recorder.recording = false;
  ASSERT_NE(doc, nullptr);
  expectMoving("open");

  recorder.fractions.clear();
  recorder.recording = true;
  EXPECT_TRUE(doc->DoSave(Path("copy.bmp"), true));
  recorder.recording = false;
  expectMoving("save");
  EXPECT_TRUE(shown_.empty());

  // Reported far more often than the bar has pixels, it paints once for each width the bar
  // takes, 0 to the whole pane.
  const int before = pane->PaintCount();
  for (int i = 1; i <= 4000; ++i) pane->SetProgress(i / 4000.0);
  EXPECT_EQ(pane->PaintCount() - before, pane->width() + 1);
  pane->SetProgress(0.0);
}

}  // namespace
