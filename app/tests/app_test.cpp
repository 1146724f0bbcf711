// Orvax Scan in-process and as real processes: start-up against a data source module that
// records its calls, preferences in an isolated settings folder, menus and command rules,
// the registered messages, and the hand-over between two instances.
#include "commands.h"
#include "framework/doc_manager.h"
#include "framework/doc_template.h"
#include "gesso_doc.h"
#include "main_frame.h"
#include "progress_pane.h"
#include "recent_file_list.h"
#include "registry_settings.h"
#include "scan_app.h"
#include "string_table.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "isolated_app_test.h"

#include <cmath>
#include <limits>

using namespace orvax::app;
namespace fw = orvax::framework;

namespace {

QStringList ReadLines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

class AppTest : public IsolatedAppTest {
 protected:
  void SetUp() override {
    // Settings, the instance socket and the module's log all live in this test's folder.
    Isolate(ORVAX_TEST_ROOT);
    qputenv("ORVAX_DS_CALL_LOG", CallLog().toLocal8Bit());
    qunsetenv("ORVAX_DS_PREFS_RESULT");
    fw::SetMessageBoxHook([this](const QString& text, unsigned style) {
      messages_ << text;
      return (style & 0xF) == fw::MB_YESNO || (style & 0xF) == fw::MB_YESNOCANCEL ? fw::IDNO : fw::IDOK;
    });
  }

  void TearDown() override {
    if (app_) app_->ExitInstance();
    app_.reset();
    fw::SetMessageBoxHook({});
  }

  QString CallLog() const { return dir_.filePath("calls.txt"); }
  QStringList Calls() const { return ReadLines(CallLog()); }
  void ClearCalls() { QFile::remove(CallLog()); }

  // Starts the application with ARGS; the result of InitInstance.
  bool Start(const QStringList& args = {}) {
    app_ = std::make_unique<CScanApp>();
    return app_->InitInstance(args);
  }

  CRegistrySettings Registry() const { return {}; }

  // The texts of the popup of the data source whose first id is FIRSTID.
  QStringList PopupTexts(int firstId) const {
    QStringList texts;
    for (QAction* a : app_->MainFrame()->SourcePopup(firstId)->actions())
      texts << (a->isSeparator() ? QStringLiteral("-") : a->text() + (a->isEnabled() ? "" : "(off)") +
                                                            (a->isChecked() ? "(x)" : ""));
    return texts;
  }

  QAction* UpdatedAction(int id) {
    app_->MainFrame()->UpdateCommandUI();
    return app_->MainFrame()->Action(id);
  }
};

// ---------------------------------------------------------------------------------------

TEST(StringTable, TextsAndRangeMarkers) {
  const std::pair<int, const char*> cases[] = {
      {128, "Orvax Scan 2.2"},
      {57344, "Orvax Scan 2.2"},
      {1023, "Registry: 1024-4094"},
      {4095, "Twain: 4096-8190"},
      {16383, "Other: 16384-20478"},
      {20479, "Error Messages: 20480-????"},
      {1073, "File%d"},
      {4102, "Could not initialize TWAIN_32.DLL"},
      {8193, "TWAIN_32\\Orvax\\Orvax Scan 2.0\\"},
      {8194, "The file %1 could not be loaded."},
      {16417, "BMP Format\n.bmp"},
      {16496, "D%1_"},
      {20491,
       "Data is currently being retrieved for this document.  Please wait until the acquisition is complete "
       "before trying to close it."},
  };
  for (const auto& [id, text] : cases) EXPECT_EQ(LoadString(id), QString::fromUtf8(text)) << id;
  EXPECT_EQ(TemplateField(LoadString(129), 3), "Image (*.bmp;*.jpg;*.tif;*.fpx)");
  EXPECT_EQ(TemplateField(LoadString(129), 6), "Orvax Scan 2.2 Document");
  EXPECT_EQ(FormatString1(20480, "/a/%1.bmp"), "Error loading file /a/%1.bmp.");
  // Every text of the application's own ranges sits behind its range's marker.
  for (int id : StringIds()) {
    if (id < 1024 || id >= 57344) continue;
    const int marker = id >= 20480 ? 20479 : id >= 16384 ? 16383 : id >= 4096 ? 4095 : 1023;
    EXPECT_TRUE(HasString(marker)) << id;
  }
}

TEST(ProgressPane, Clamping) {
  const std::pair<double, double> cases[] = {
      {0.5, 0.5}, {0.0, 0.0}, {1.0, 1.0}, {1.5, 1.0}, {-0.25, 0.0},
      {std::numeric_limits<double>::quiet_NaN(), 0.0}, {-std::numeric_limits<double>::infinity(), 0.0},
      {std::numeric_limits<double>::infinity(), 1.0},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(CProgressPane::Clamp(in), out) << in;
}

TEST(Placement, ClampedToTheScreen) {
  struct Case {
    QRect stored;
    QRect expected;
  } cases[] = {
      {{100, 50, 5000, 400}, {0, 50, 1024, 400}},    // too wide: full width, left edge 0
      {{-30, -10, 600, 400}, {0, 0, 600, 400}},      // off the top-left corner
      {{900, 700, 600, 400}, {424, 368, 600, 400}},  // past the bottom-right edge
      {{10, 20, 600, 400}, {10, 20, 600, 400}},
  };
  for (const Case& c : cases) EXPECT_EQ(CMainFrame::ClampPlacement(c.stored, {1024, 768}), c.expected);
}

TEST(RecentFiles, Abbreviation) {
  EXPECT_EQ(CRegRecentFileList::Abbreviate("/home/ann/a.bmp", 30), "/home/ann/a.bmp");
  const QString shown = CRegRecentFileList::Abbreviate("/home/ann/scans/2024/march/roll-twelve.tif", 30);
  EXPECT_LE(shown.size(), 30);
  EXPECT_TRUE(shown.endsWith("/roll-twelve.tif")) << shown.toStdString();
  EXPECT_TRUE(shown.contains("...")) << shown.toStdString();
  EXPECT_EQ(CRegRecentFileList::Abbreviate("/x/" + QString(40, 'n') + ".bmp", 30).size(), 30);
}

// ---------------------------------------------------------------------------------------

TEST_F(AppTest, GeneralDefaultsWhenAbsent) {
  CRegistrySettings reg;
  EXPECT_EQ(reg.KeyPath(IDS_REG_GENERAL), "Software\\Orvax\\Orvax Scan\\2.0\\General");
  EXPECT_TRUE(GeneralSettings::AutoFitWindow(reg));
  EXPECT_EQ(GeneralSettings::LastDirectory(reg), "");
  EXPECT_EQ(GeneralSettings::SaveFormat(reg), ".bmp");
  EXPECT_EQ(GeneralSettings::WindowPosCode(reg, 3), 3);
  EXPECT_EQ(GeneralSettings::WindowLeft(reg), 0);
  EXPECT_EQ(GeneralSettings::WindowTop(reg), 0);
  EXPECT_EQ(GeneralSettings::WindowWidth(reg), 600);
  EXPECT_EQ(GeneralSettings::WindowHeight(reg), 400);
}

TEST_F(AppTest, StoredValuesOfTheWrongTypeOrRangeReadAsDefaults) {
  CRegistrySettings reg;
  struct Case {
    int valueId;
    QVariant stored;
    int expected;
  } cases[] = {
      {IDS_REG_WINDOWWIDTH, 800, 800},       {IDS_REG_WINDOWWIDTH, "wide", 600}, {IDS_REG_WINDOWWIDTH, 0, 600},
      {IDS_REG_WINDOWWIDTH, -5, 600},        {IDS_REG_WINDOWHEIGHT, 70000, 400}, {IDS_REG_WINDOWLEFT, -20, -20},
      {IDS_REG_WINDOWTOP, QStringList{"a", "b"}, 0}, {IDS_REG_WINDOWPOSCODE, 2, 1}, {IDS_REG_WINDOWPOSCODE, 0, 1},
      {IDS_REG_WINDOWPOSCODE, 3, 3},         {IDS_REG_WINDOWPOSCODE, 99, 1},
  };
  for (const Case& c : cases) {
    reg.Write(CRegistrySettings::kCurrentUser, IDS_REG_GENERAL, LoadString(c.valueId), c.stored);
    int read = 0;
    switch (c.valueId) {
      case IDS_REG_WINDOWWIDTH: read = GeneralSettings::WindowWidth(reg); break;
      case IDS_REG_WINDOWHEIGHT: read = GeneralSettings::WindowHeight(reg); break;
      case IDS_REG_WINDOWLEFT: read = GeneralSettings::WindowLeft(reg); break;
      case IDS_REG_WINDOWTOP: read = GeneralSettings::WindowTop(reg); break;
      case IDS_REG_WINDOWPOSCODE: read = GeneralSettings::WindowPosCode(reg, SW_SHOWNORMAL); break;
    }
    EXPECT_EQ(read, c.expected) << LoadString(c.valueId).toStdString() << " " << c.stored.toString().toStdString();
  }
  reg.Write(CRegistrySettings::kCurrentUser, IDS_REG_GENERAL, "AutoFitWindow", "x");
  EXPECT_TRUE(GeneralSettings::AutoFitWindow(reg));
  reg.Write(CRegistrySettings::kCurrentUser, IDS_REG_GENERAL, "AutoFitWindow", 0);
  EXPECT_FALSE(GeneralSettings::AutoFitWindow(reg));
}

TEST_F(AppTest, RecentFileListReadsAndWrites) {
  CRegistrySettings reg;
  reg.Write(CRegistrySettings::kCurrentUser, IDS_REG_RECENTFILELIST, "File1", "/scans/one.bmp");
  reg.Write(CRegistrySettings::kCurrentUser, IDS_REG_RECENTFILELIST, "File3", "/scans/three.tif");
  reg.Write(CRegistrySettings::kCurrentUser, IDS_REG_RECENTFILELIST, "File4", "/scans/four.jpg");
  CRegRecentFileList list(reg);
  list.ReadList();
  EXPECT_EQ(list[0], "/scans/one.bmp");
  EXPECT_EQ(list[1], "");
  EXPECT_EQ(list[2], "/scans/three.tif");
  // Writing stores the entries that are set and leaves the others as they are.
  list.Remove(2);  // three.tif out: one, -, four, -
  list.Add("/scans/new.fpx");  // new, one, -, four
  list.WriteList();
  EXPECT_EQ(reg.Read(CRegistrySettings::kCurrentUser, IDS_REG_RECENTFILELIST, "File1").toString(), "/scans/new.fpx");
  EXPECT_EQ(reg.Read(CRegistrySettings::kCurrentUser, IDS_REG_RECENTFILELIST, "File2").toString(), "/scans/one.bmp");
  EXPECT_EQ(reg.Read(CRegistrySettings::kCurrentUser, IDS_REG_RECENTFILELIST, "File3").toString(), "/scans/three.tif");
  EXPECT_EQ(reg.Read(CRegistrySettings::kCurrentUser, IDS_REG_RECENTFILELIST, "File4").toString(), "/scans/four.jpg");
}

TEST_F(AppTest, StartUpOrderThroughTheDataSourceModule) {
  ASSERT_TRUE(Start());
  QStringList calls;
  for (const QString& c : Calls()) {
    if (!c.startsWith("Get") || c.startsWith("GetMonitorProfile") || c.startsWith("GetPrinter") ||
        c.startsWith("GetCMYK") || c.startsWith("GetProfilePath"))
      calls << c;
  }
  // The frame exists when the module greets; then the profiles for the image library.
  ASSERT_GE(calls.size(), 5);
  EXPECT_EQ(calls.mid(0, 5), (QStringList{"ShowAbout 5 window", "GetMonitorProfile", "GetPrinterProfile",
                                         "GetCMYKProfile", "GetProfilePath"}));
  // Without arguments the data source is opened at once; there is no manager yet.
  EXPECT_EQ(messages_, QStringList{"Could not load TWAIN_32.DLL."});
  EXPECT_EQ(app_->MainFrame()->SessionState(), TwainState::kPreSession);
  EXPECT_FALSE(app_->sourceEnabled);
  const auto& id = app_->AppIdentity();
  EXPECT_STREQ(id.ProductName, "Orvax Scan 2.2 Application");
  EXPECT_STREQ(id.Version.Info, "2.2");
  EXPECT_EQ(uint32_t{id.SupportedGroups}, 3u);  // a copy: the field is not 4-byte aligned
  EXPECT_EQ(app_->MainFrame()->CurrentMenuSet(), IDR_MENU_NODOC);
  EXPECT_EQ(PopupTexts(ID_SETTINGS_FIRST), QStringList{"None(off)"});
}

TEST_F(AppTest, StartingWithAFileDoesNotOpenTheSource) {
  const QString file = dir_.filePath("not-an-image.bmp");
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("plain text");
  f.close();
  ASSERT_TRUE(Start({file}));
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_TRUE(messages_[0] == FormatString1(IDS_ERR_LOADFILE, file) ||
              messages_[0] == FormatString1(IDS_ERR_READFILE, file))
      << messages_[0].toStdString();
  EXPECT_TRUE(app_->DocManager()->Documents().isEmpty());
}

TEST_F(AppTest, StoredPlacementIsUsedAndMinimisedStartsNormal) {
  CRegistrySettings reg;
  GeneralSettings::SetPlacement(reg, SW_SHOWMINIMIZED, 100, 40, 5000, 300);
  ASSERT_TRUE(Start({dir_.filePath("missing.bmp")}));
  CMainFrame* frame = app_->MainFrame();
  EXPECT_FALSE(frame->isMinimized());
  EXPECT_FALSE(frame->isMaximized());
  const QSize screen = QGuiApplication::primaryScreen()->size();
  ASSERT_LT(screen.width(), 5000);
  EXPECT_EQ(frame->width(), screen.width());
  EXPECT_EQ(frame->pos().x(), 0);
  EXPECT_EQ(frame->pos().y(), 40);
  // The placement goes back on exit.
  frame->resize(500, 300);
  frame->move(20, 30);
  app_->ExitInstance();
  app_.reset();
  EXPECT_EQ(GeneralSettings::WindowWidth(reg), 500);
  EXPECT_EQ(GeneralSettings::WindowLeft(reg), 20);
  EXPECT_EQ(GeneralSettings::WindowPosCode(reg, 3), SW_SHOWNORMAL);
}

TEST_F(AppTest, MissingModuleReportsItsPath) {
  qputenv("ORVAX_WINDOWS_DIR", dir_.filePath("empty-root").toLocal8Bit());
  QDir().mkpath(dir_.filePath("empty-root"));
  EXPECT_FALSE(Start());
  const QString path = dir_.filePath("empty-root") + "\\TWAIN_32\\Orvax\\Orvax Scan 2.0\\Orvax Scan.ds";
  EXPECT_EQ(messages_, QStringList{"The file " + path + " could not be loaded."});
}

TEST_F(AppTest, ModuleWithoutAnExportIsRefusedAtStart) {
  qputenv("ORVAX_WINDOWS_DIR", ORVAX_TEST_ROOT "-incomplete");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(Start());
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("StartScan"), std::string::npos) << err;
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_TRUE(messages_[0].startsWith("The file ")) << messages_[0].toStdString();
  EXPECT_TRUE(messages_[0].endsWith("Orvax Scan.ds could not be loaded.")) << messages_[0].toStdString();
}

TEST_F(AppTest, ManagerWithoutEntryIsReported) {
  ASSERT_TRUE(Start({dir_.filePath("none.bmp")}));
  messages_.clear();
  // A root whose TWAIN_32.DLL lacks DSM_Entry, with the recording module beside it.
  qputenv("ORVAX_WINDOWS_DIR", ORVAX_TEST_ROOT "-brokendsm");
  app_->MainFrame()->RunCommand(ID_FILE_OPENSOURCE);
  EXPECT_EQ(messages_, QStringList{"Could not initialize TWAIN_32.DLL"});
  EXPECT_EQ(app_->MainFrame()->SessionState(), TwainState::kPreSession);
}

TEST_F(AppTest, RefreshMessageRebuildsTheSourceMenus) {
  ASSERT_TRUE(Start({dir_.filePath("none.bmp")}));
  app_->sourceEnabled = true;  // as in state 5
  ClearCalls();
  orvax::win::PostMessage(app_->MainFrame()->Handle(), app_->RefreshMenusMsg(), 0, 0);
  EXPECT_TRUE(Calls().isEmpty());  // delivered later, on the event loop
  QCoreApplication::processEvents();
  EXPECT_TRUE(Calls().contains("GetSettingsItem 0 256"));
  EXPECT_EQ(PopupTexts(ID_SETTINGS_FIRST), (QStringList{"Alpha(x)", "-", "Gamma(off)"}));
  EXPECT_EQ(PopupTexts(ID_COLORSPACE_FIRST), QStringList{"None(off)"});
  EXPECT_EQ(PopupTexts(ID_FILMTYPE_FIRST), (QStringList{"Negative", "Positive(x)"}));

  // Choosing an item goes to the module, whose refresh message rebuilds the menus again.
  ClearCalls();
  app_->MainFrame()->RunCommand(ID_FILMTYPE_FIRST + 0);
  EXPECT_TRUE(Calls().contains("SelectFilmTypeItem 0"));
  ClearCalls();
  QCoreApplication::processEvents();
  EXPECT_TRUE(Calls().contains("GetFilmTypeCount"));
}

TEST_F(AppTest, CommandEnableRules) {
  ASSERT_TRUE(Start({dir_.filePath("none.bmp")}));
  CMainFrame* frame = app_->MainFrame();
  // Data source not enabled.
  EXPECT_TRUE(UpdatedAction(ID_FILE_OPENSOURCE)->isEnabled());
  EXPECT_FALSE(UpdatedAction(ID_SOURCE_SLIDEFEEDER)->isEnabled());
  EXPECT_FALSE(UpdatedAction(ID_SOURCE_EJECT)->isEnabled());
  EXPECT_EQ(UpdatedAction(ID_SOURCE_EJECT)->text(), "Next Slide");
  EXPECT_TRUE(UpdatedAction(ID_SOURCE_PREFERENCES)->isEnabled());
  EXPECT_TRUE(UpdatedAction(ID_APP_ABOUT)->isEnabled());
  for (int id : {ID_EDIT_UNDO, ID_EDIT_CUT, ID_EDIT_PASTE, ID_FILE_NEW, ID_NEXT_PANE})
    EXPECT_FALSE(UpdatedAction(id)->isEnabled()) << id;
  EXPECT_TRUE(UpdatedAction(ID_WINDOW_AUTOFIT)->isChecked());
  frame->RunCommand(ID_WINDOW_AUTOFIT);
  EXPECT_FALSE(UpdatedAction(ID_WINDOW_AUTOFIT)->isChecked());
  // Enabled.
  app_->sourceEnabled = true;
  frame->RebuildSourceMenus();
  EXPECT_TRUE(UpdatedAction(ID_SOURCE_SLIDEFEEDER)->isEnabled());
  EXPECT_TRUE(UpdatedAction(ID_SOURCE_EJECT)->isEnabled());
  ClearCalls();
  frame->RunCommand(ID_SOURCE_EJECT);
  EXPECT_TRUE(Calls().contains("Eject"));
  // Exit is refused while a transfer runs.
  app_->exitAllowed = false;
  EXPECT_FALSE(UpdatedAction(ID_APP_EXIT)->isEnabled());
  app_->exitAllowed = true;
  // A command whose rule disables it does not run.
  app_->sourceEnabled = false;
  ClearCalls();
  frame->RunCommand(ID_SOURCE_EJECT);
  EXPECT_FALSE(Calls().contains("Eject"));
}

TEST_F(AppTest, PreferencesMessageReappliesTheGamma) {
  ASSERT_TRUE(Start({dir_.filePath("none.bmp")}));
  fw::CMultiDocTemplate* docTemplate = app_->DocManager()->Templates().front();
  auto* doc = qobject_cast<CGessoDoc*>(docTemplate->OpenDocumentFile(QString()));
  ASSERT_NE(doc, nullptr);
  tagTes_Image_Desc desc{};
  desc.width = 4;
  desc.height = 2;
  desc.colorSpace = 2;
  desc.bitsPerChannel[0] = desc.bitsPerChannel[1] = desc.bitsPerChannel[2] = 8;
  desc.resolution = 72;
  doc->SetImage(std::make_unique<TesseraClass>(static_cast<short>(0), desc, TesseraClass::m_s_EmptyTransform));
  EXPECT_EQ(app_->MainFrame()->CurrentMenuSet(), IDR_MENU_DOC);

  qputenv("ORVAX_DS_PREFS_RESULT", "1");
  ClearCalls();
  app_->MainFrame()->RunCommand(ID_SOURCE_PREFERENCES);  // the module posts the message
  EXPECT_TRUE(Calls().contains("ShowPreferences 0"));
  QCoreApplication::processEvents();
  const QStringList calls = Calls();
  EXPECT_TRUE(calls.contains("GetMonitorGamma")) << calls.join(",").toStdString();

  // Device page answering 1001 reopens the data source: here that ends at the manager.
  qputenv("ORVAX_DS_PREFS_RESULT", "1001");
  messages_.clear();
  app_->MainFrame()->RunCommand(ID_SOURCE_DEVICE);
  EXPECT_TRUE(Calls().contains("ShowPreferences 2"));
  EXPECT_EQ(messages_, QStringList{"Could not load TWAIN_32.DLL."});
}

TEST(GammaTable, MatchesTheExponent) {
  unsigned char table[256];
  short mode = 0;
  CGessoDoc::GammaTable(2.0, table, &mode);
  EXPECT_EQ(mode, 3);
  EXPECT_EQ(table[0], 0);
  EXPECT_EQ(table[64], static_cast<unsigned char>(std::floor(0.5 + 255.0 * std::sqrt(64 / 255.0))));
  EXPECT_EQ(table[255], 255);
  CGessoDoc::GammaTable(-1.0, table, &mode);
  EXPECT_EQ(mode, 2);
  EXPECT_EQ(table[100], 100);
}

TEST_F(AppTest, CopyDataKeepsTheWholePath) {
  ASSERT_TRUE(Start({dir_.filePath("none.bmp")}));
  const QString longPath = "/" + QString(400, 'd') + "/scan.bmp";
  QByteArray data = QFile::encodeName(longPath);
  data.append('\0');
  data.append("junk");
  EXPECT_EQ(app_->MainFrame()->OnCopyData(data), 1);
  EXPECT_EQ(app_->MainFrame()->PendingPath(), longPath);
  EXPECT_EQ(app_->MainFrame()->OnCopyData(QByteArray()), 0);
}

// ---------------------------------------------------------------------------------------

TEST_F(AppTest, SecondProcessHandsItsFilesToTheFirst) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("ORVAX_WINDOWS_DIR", ORVAX_REAL_ROOT);
  env.insert("XDG_RUNTIME_DIR", dir_.filePath("run"));
  env.insert("XDG_CONFIG_HOME", dir_.filePath("xdg"));
  env.insert("ORVAX_SCAN_MESSAGE_LOG", dir_.filePath("messages.txt"));

  // Two files that are not images, one of them behind a path far longer than 260 bytes.
  const QString deep = dir_.filePath(QString(120, 'a') + "/" + QString(120, 'b'));
  ASSERT_TRUE(QDir().mkpath(deep));
  const QString first = dir_.filePath("first.bmp");
  const QString second = deep + "/second.jpg";
  ASSERT_GT(second.toLocal8Bit().size(), 260);
  for (const QString& path : {first, second}) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not an image");
  }

  QProcess one;
  one.setProcessEnvironment(env);
  one.start(ORVAX_SCAN_EXE, {});
  ASSERT_TRUE(one.waitForStarted());
  const QString socket = dir_.filePath("run/OrvaxScan2");
  for (int i = 0; i < 200 && !QFile::exists(socket); ++i) QTest::qWait(50);
  ASSERT_TRUE(QFile::exists(socket));

  QProcess two;
  two.setProcessEnvironment(env);
  two.start(ORVAX_SCAN_EXE, {first, second});
  ASSERT_TRUE(two.waitForFinished(10000));
  EXPECT_EQ(two.exitCode(), 0);

  QStringList messages;
  for (int i = 0; i < 200; ++i) {
    messages = ReadLines(dir_.filePath("messages.txt"));
    if (messages.size() >= 2) break;
    QTest::qWait(50);
  }
  EXPECT_EQ(one.state(), QProcess::Running);
  one.kill();
  one.waitForFinished();
  // The first process opened the scanner without a word; then each handed-over file was
  // opened in turn.
  ASSERT_EQ(messages.size(), 2) << messages.join("\n").toStdString();
  EXPECT_TRUE(messages[0].contains(first)) << messages[0].toStdString();
  EXPECT_TRUE(messages[1].contains(second)) << messages[1].toStdString();
}

// A script that ends in "quit" ends the program, whether or not it closed the source first.
TEST_F(AppTest, ScriptedQuitEndsTheProgram) {
  for (const char* script : {"quit\n", "close\nquit\n"}) {
    SCOPED_TRACE(script);
    const QString path = dir_.filePath("script");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(script);
    f.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("ORVAX_WINDOWS_DIR", ORVAX_REAL_ROOT);
    env.insert("XDG_RUNTIME_DIR", dir_.filePath("run"));
    env.insert("XDG_CONFIG_HOME", dir_.filePath("xdg"));
    env.insert("ORVAX_DS_SCRIPT", path);
    QProcess scan;
    scan.setProcessEnvironment(env);
    scan.start(ORVAX_SCAN_EXE, {});
    ASSERT_TRUE(scan.waitForStarted());
    const bool ended = scan.waitForFinished(20000);
    if (!ended) scan.kill(), scan.waitForFinished();
    EXPECT_TRUE(ended);
    EXPECT_EQ(scan.exitCode(), 0);
  }
}

}  // namespace
