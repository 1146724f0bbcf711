// Larkspur against the simulated bus: what the dialog and its device manager send, read
// back from the driver module's request log.
#include "feeder_dialog.h"
#include "resources.h"
#include "qt_test_environment.h"

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTimerEvent>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace fs = std::filesystem;
using namespace larkspur;
using Lines = std::vector<std::string>;

namespace {

// One line of the module's log.
std::string L(int fn, int dev, int dir, int len, bool cb, const std::string& cdb, const std::string& data = "") {
  return "fn=" + std::to_string(fn) + " dev=" + std::to_string(dev) + " dir=" + std::to_string(dir) +
         " len=" + std::to_string(len) + " cb=" + (cb ? "1" : "0") + " cdb=" + cdb + " data=" + data;
}
std::string TestUnitReady(int dev) { return L(3, dev, 0, 0, false, "00 00 00 00 00 00"); }
std::string ExecuteCmd(int dev) { return L(3, dev, 0, 0, true, "C1 00 00 00 00 00"); }
std::string Release(int dev) { return L(3, dev, 0, 0, false, "17 00 00 00 00 00"); }
std::string Abort(int dev) { return L(6, dev, 0, 0, false, "C0 00 00 00 00 00"); }
std::string MoveCmd(int dev, const std::string& parameters) {
  return L(3, dev, 1, 9, false, "E0 00 D5 00 00 00 00 00 09 00", parameters);
}
std::string DeselectCmd(int dev) {
  return L(3, dev, 1, 9, false, "E0 00 D0 00 00 00 00 00 00 00", "7F 00 00 00 00 00 00 00 00");
}
std::string Inquiry(int dev, const std::string& page, const std::string& length, int len) {
  return L(3, dev, 2, len, false, "12 01 " + page + " 00 " + length + " 00");
}

constexpr const char* kFeeder = "[device]\nvendor = ORVAX\nproduct = QV-7100\nrevision = 1.00\n";

class LarkspurTest : public orvax::testing::IsolatedQtTest {
 protected:
  void SetUp() override {
    Isolate();
    folder_ = dir_.path().toStdString();
    setenv(orvax::scsi::kLogEnv, (folder_ / "log.txt").c_str(), 1);
    setenv(orvax::scsi::kBusEnv, (folder_ / "bus.conf").c_str(), 1);
  }

  void TearDown() override {
    dialog_.reset();
    unsetenv(orvax::scsi::kLogEnv);
    unsetenv(orvax::scsi::kBusEnv);
  }

  // Starts the dialog over a bus with CONFIG; the result of Start.
  bool Start(const std::string& config) {
    std::ofstream(folder_ / "bus.conf") << config;
    dialog_ = std::make_unique<FeederDialog>();
    dialog_->showMessage = [this](const QString& text) { messages_.push_back(text); };
    return dialog_->Start();
  }

  // Starts the dialog and shows it, so that the mouse reaches its buttons.
  void StartShown(const std::string& config) {
    ASSERT_TRUE(Start(config));
    dialog_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
  }

  Lines Log() const {
    std::ifstream in(folder_ / "log.txt");
    Lines lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  size_t Mark() const { return Log().size(); }
  Lines Since(size_t mark) const {
    Lines all = Log();
    return Lines(all.begin() + static_cast<std::ptrdiff_t>(std::min(mark, all.size())), all.end());
  }
  static size_t Count(const Lines& lines, const std::string& line) {
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
  }

  // Lets the dialog handle the messages its buttons posted.
  void Deliver() { QCoreApplication::sendPostedEvents(dialog_.get()); }

  // One tick of the repeat timer, as the event loop would deliver it.
  void Tick() {
    QTimer* timer = dialog_->repeatTimer();
    ASSERT_TRUE(timer->isActive());
    QTimerEvent tick(timer->timerId());
    QCoreApplication::sendEvent(timer, &tick);
  }

  fs::path folder_;  // this test's folder
  std::unique_ptr<FeederDialog> dialog_;
  std::vector<QString> messages_;
};

TEST_F(LarkspurTest, OnlyScannersWithTheFeederAreListed) {
  ASSERT_TRUE(Start(std::string(kFeeder) +
                    "[device]\nproduct = QV-7100\npage1 = Lamp\n"          // 2: page 1 is not "Feeder"
                    "[device]\nproduct = QV-7100\nadapter = no\n"          // 3: adapter bit clear
                    "[device]\nid = 3\nha = 1\nproduct = RX90417\n"        // 4: listed
                    "[device]\nproduct = QV-7200\n"                        // 5: another product
                    "[device]\nproduct = QV-7100\npage1 = Feeders\n"));    // 6: not exactly "Feeder"
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(dialog_->manager().Devices(), (std::vector<int32_t>{1, 4}));
  const QList<QAction*> items = dialog_->deviceMenu()->actions();
  ASSERT_EQ(items.size(), 2);  // the placeholder is gone
  // Each label keeps the target ID and host adapter apart.
  EXPECT_EQ(items[0]->text(), "ORVAX QV-7100 1.00, ID 0, HA 0");
  EXPECT_EQ(items[0]->data().toInt(), 20001);
  EXPECT_EQ(items[1]->text(), "ORVAX RX90417 1.00, ID 3, HA 1");
  EXPECT_EQ(items[1]->data().toInt(), 20002);
  EXPECT_EQ(dialog_->selectedIndex(), 0);
  EXPECT_EQ(dialog_->deviceButton()->DeviceText(), items[0]->text());

  // Only the accepted devices are reserved; the wrong product is not even asked for pages.
  const Lines log = Log();
  for (int dev = 1; dev <= 6; ++dev) {
    const bool accepted = dev == 1 || dev == 4;
    EXPECT_EQ(Count(log, L(3, dev, 0, 0, false, "16 00 00 00 00 00")), accepted ? 1u : 0u) << dev;
  }
  EXPECT_EQ(Count(log, Inquiry(5, "00", "04", 4)), 0u);
  EXPECT_EQ(Count(log, L(5, 7, 2, 64, false, "")), 1u);  // the enumeration ends at device 7
}

TEST_F(LarkspurTest, AcceptingADeviceReadsItsPagesThenReservesAndSelfTestsIt) {
  ASSERT_TRUE(Start(kFeeder));
  // Page 0 is three bytes long, so page 1 is first read with 7 bytes; its own length (7)
  // shows the text was cut short, and it is read again with 11.
  const Lines expected = {
      L(1, 0, 0, 0, false, ""),
      L(5, 1, 2, 64, false, ""),
      Inquiry(1, "00", "04", 4),
      Inquiry(1, "01", "07", 7),
      Inquiry(1, "01", "0B", 11),
      Inquiry(1, "E1", "04", 4),
      Inquiry(1, "E1", "20", 32),
      TestUnitReady(1),
      L(3, 1, 0, 0, false, "16 00 00 00 00 00"),
      L(3, 1, 0, 0, false, "1D 04 00 00 00 00"),
      L(5, 2, 2, 64, false, ""),
  };
  EXPECT_EQ(Log(), expected);
}

TEST_F(LarkspurTest, TestUnitReadyRules) {
  struct Case {
    const char* device;
    bool ready;
    size_t sent;
  } cases[] = {
      {"medium = no\n", true, 1},                             // medium not present counts as ready
      {"unit-attention = yes\n", true, 2},                    // asked once more after unit attention
      {"fail.00 = 02 04 01\n", false, 1},                     // becoming ready
      {"unit-attention = yes\nmedium = no\n", false, 2},      // the first reply decides
  };
  for (const Case& c : cases) {
    std::ofstream(folder_ / "bus.conf", std::ios::trunc) << "[device]\n" << c.device;
    DeviceManager manager;
    ASSERT_TRUE(manager.Open());
    const size_t mark = Mark();
    EXPECT_EQ(manager.TestUnitReady(1) == 0, c.ready) << c.device;
    EXPECT_EQ(Since(mark), Lines(c.sent, TestUnitReady(1))) << c.device;
    manager.Close();
  }
}

TEST_F(LarkspurTest, EachButtonSendsItsMoveThenExecute) {
  StartShown(kFeeder);
  struct Case {
    MoveType type;
    const char* parameters;
  } cases[] = {
      {kBack, "7F 00 00 00 0A 00 00 00 01"},
      {kFastBack, "7F 00 00 00 32 00 00 00 01"},
      {kForward, "7F 00 00 00 0A 00 00 00 00"},
      {kFastForward, "7F 00 00 00 32 00 00 00 00"},
  };
  for (const Case& c : cases) {
    const size_t mark = Mark();
    QTest::mouseClick(dialog_->moveButton(c.type), Qt::LeftButton);
    Deliver();
    EXPECT_EQ(Since(mark), (Lines{TestUnitReady(1), MoveCmd(1, c.parameters), ExecuteCmd(1)})) << c.type;
  }
}

TEST_F(LarkspurTest, HoldingRepeatsEveryTickAndOnRelease) {
  StartShown(kFeeder);
  MoveButton* forward = dialog_->moveButton(kForward);
  const std::string move = MoveCmd(1, "7F 00 00 00 0A 00 00 00 00");

  // Held for just over a second: two ticks, then the release.
  size_t mark = Mark();
  QTest::mousePress(forward, Qt::LeftButton);
  Deliver();
  EXPECT_TRUE(dialog_->repeatTimer()->isActive());
  EXPECT_EQ(dialog_->repeatTimer()->interval(), 500);
  EXPECT_TRUE(Since(mark).empty());  // pressing alone does not move
  Tick();
  EXPECT_EQ(Count(Since(mark), move), 1u);
  Tick();
  EXPECT_TRUE(dialog_->repeatTimer()->isActive());
  QTest::mouseRelease(forward, Qt::LeftButton);
  Deliver();
  EXPECT_FALSE(dialog_->repeatTimer()->isActive());
  EXPECT_EQ(Count(Since(mark), move), 3u);
  EXPECT_EQ(Count(Since(mark), ExecuteCmd(1)), 3u);

  // A click moves once.
  mark = Mark();
  QTest::mouseClick(forward, Qt::LeftButton);
  Deliver();
  EXPECT_EQ(Count(Since(mark), move), 1u);

  // Leaving the pressed button counts as the release; the later release adds nothing.
  mark = Mark();
  QTest::mousePress(forward, Qt::LeftButton);
  QTest::mouseMove(forward, QPoint(forward->width() + 20, forward->height() / 2));
  Deliver();
  EXPECT_FALSE(dialog_->repeatTimer()->isActive());
  EXPECT_EQ(Count(Since(mark), move), 1u);
  QTest::mouseRelease(forward, Qt::LeftButton, {}, QPoint(forward->width() + 20, forward->height() / 2));
  Deliver();
  EXPECT_EQ(Count(Since(mark), move), 1u);
}

TEST_F(LarkspurTest, DeviceLabels) {
  const std::pair<const char*, const char*> cases[] = {
      {"ORVAX QV-7100 1.00 ID=2HA=0", "ORVAX QV-7100 1.00, ID 2, HA 0"},
      {"ORVAX RX90417 1.00 ID=7HA=3", "ORVAX RX90417 1.00, ID 7, HA 3"},
      {"ORV   QV-7100 1.0  ID=1HA=1", "ORV QV-7100 1.0, ID 1, HA 1"},  // padded fields
      {"something else", "something else"},
  };
  for (const auto& [text, label] : cases) EXPECT_EQ(FeederDialog::DeviceLabel(text), label) << text;
}

TEST_F(LarkspurTest, TheWindowShowsTheFeedersMovement) {
  StartShown(std::string(kFeeder) + "[device]\nid = 4\nproduct = RX90417\nfail.E0D5 = 02 04 01\n");
  QLabel* line = dialog_->positionLabel();
  ASSERT_NE(line, nullptr);
  EXPECT_TRUE(line->isVisible());
  EXPECT_EQ(line->text(), "Feeder: 0 steps");

  QTest::mouseClick(dialog_->moveButton(kForward), Qt::LeftButton);
  Deliver();
  EXPECT_EQ(line->text(), "Feeder: +10 steps (forward 10)");
  QTest::mouseClick(dialog_->moveButton(kFastBack), Qt::LeftButton);
  Deliver();
  EXPECT_EQ(line->text(), "Feeder: -40 steps (back 50)");
  // Held: every tick moves, and the line follows each move.
  QTest::mousePress(dialog_->moveButton(kFastForward), Qt::LeftButton);
  Deliver();
  Tick();
  EXPECT_EQ(line->text(), "Feeder: +10 steps (forward 50)");
  Tick();
  EXPECT_EQ(dialog_->position(0), 60);
  QTest::mouseRelease(dialog_->moveButton(kFastForward), Qt::LeftButton);
  Deliver();
  EXPECT_EQ(line->text(), "Feeder: +110 steps (forward 50)");

  // The other device, whose feeder refuses to move: its own position, and no count for a
  // move that failed.
  dialog_->deviceMenu()->actions()[1]->trigger();
  EXPECT_EQ(line->text(), "Feeder: 0 steps");
  QTest::mouseClick(dialog_->moveButton(kForward), Qt::LeftButton);
  Deliver();
  EXPECT_EQ(line->text(), "Feeder: 0 steps (the last move failed)");
  EXPECT_EQ(dialog_->position(1), 0);
  dialog_->deviceMenu()->actions()[0]->trigger();
  EXPECT_EQ(line->text(), "Feeder: +110 steps");
}

TEST_F(LarkspurTest, ChoosingDevicesFromTheMenu) {
  StartShown(std::string(kFeeder) + "[device]\nid = 5\nproduct = RX90417\n");
  // Releasing the device button opens the menu under it.
  QTest::mouseClick(dialog_->deviceButton(), Qt::LeftButton);
  Deliver();
  EXPECT_TRUE(dialog_->deviceMenu()->isVisible());
  dialog_->deviceMenu()->hide();

  const QList<QAction*> items = dialog_->deviceMenu()->actions();
  ASSERT_EQ(items.size(), 2);
  size_t mark = Mark();
  items[0]->trigger();  // the selected one: nothing is sent
  EXPECT_TRUE(Since(mark).empty());
  EXPECT_EQ(dialog_->selectedIndex(), 0);

  mark = Mark();
  items[1]->trigger();  // another one: the first is deselected
  EXPECT_EQ(Since(mark), (Lines{TestUnitReady(1), DeselectCmd(1), ExecuteCmd(1)}));
  EXPECT_EQ(dialog_->selectedIndex(), 1);
  EXPECT_EQ(dialog_->deviceButton()->DeviceText(), items[1]->text());

  mark = Mark();
  QTest::mouseClick(dialog_->moveButton(kBack), Qt::LeftButton);
  Deliver();
  EXPECT_EQ(Since(mark), (Lines{TestUnitReady(2), MoveCmd(2, "7F 00 00 00 0A 00 00 00 01"), ExecuteCmd(2)}));
}

TEST_F(LarkspurTest, ExitMakesReadyOrAbortsThenDeselectsReleasesAndCloses) {
  // Device 2 stays not ready, so it is aborted and its deselect stops at test unit ready.
  ASSERT_TRUE(Start(std::string(kFeeder) + "[device]\nproduct = RX90417\nfail.00 = 02 04 01\n"));
  const size_t mark = Mark();
  dialog_->accept();
  const Lines expected = {
      TestUnitReady(1), TestUnitReady(1), DeselectCmd(1), ExecuteCmd(1), Release(1),
      TestUnitReady(2), Abort(2),         TestUnitReady(2), Release(2),
      L(2, 2, 0, 0, false, ""),
  };
  EXPECT_EQ(Since(mark), expected);
  EXPECT_FALSE(dialog_->manager().IsOpen());
  dialog_.reset();  // the sequence runs once
  EXPECT_EQ(Since(mark), expected);
}

TEST_F(LarkspurTest, ClosingTheWindowRunsTheExitSequence) {
  ASSERT_TRUE(Start(kFeeder));
  const size_t mark = Mark();
  dialog_->reject();
  const Lines log = Since(mark);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), L(2, 1, 0, 0, false, ""));
  EXPECT_EQ(Count(log, Release(1)), 1u);
}

TEST_F(LarkspurTest, FailureMessages) {
  const QString cannotOpen = "Cannot Open SCSI Driver. ";
  const QString noFeeder = "There's no QV-7100 with RA-310 Feeder adapter equipped.";
  struct Case {
    const char* config;
    QString message;
  } cases[] = {
      {"", noFeeder},                                        // an empty bus
      {"[device]\nproduct = QV-7100\nadapter = no\n", noFeeder},  // nothing acceptable
      {"[device]\nbogus = 1\n", cannotOpen},                 // the module cannot open its bus
  };
  for (const Case& c : cases) {
    messages_.clear();
    EXPECT_FALSE(Start(c.config)) << c.config;
    EXPECT_EQ(messages_, std::vector<QString>{c.message}) << c.config;
    EXPECT_FALSE(dialog_->manager().IsOpen());
  }

  // No module in the Windows directory.
  const std::string saved = std::getenv("ORVAX_WINDOWS_DIR") ? std::getenv("ORVAX_WINDOWS_DIR") : "";
  setenv("ORVAX_WINDOWS_DIR", folder_.c_str(), 1);
  messages_.clear();
  fs::remove(folder_ / "log.txt");
  const bool started = Start(kFeeder);
  if (saved.empty()) unsetenv("ORVAX_WINDOWS_DIR"); else setenv("ORVAX_WINDOWS_DIR", saved.c_str(), 1);
  EXPECT_FALSE(started);
  EXPECT_EQ(messages_, std::vector<QString>{cannotOpen});
  EXPECT_TRUE(Log().empty());
}

TEST_F(LarkspurTest, ExecuteWaitIsBoundedAndWaitsForALateCompletion) {
  ASSERT_TRUE(Start(std::string(kFeeder) + "delay.C1 = never\n[device]\nproduct = RX90417\ndelay.C1 = 30\n"));
  DeviceManager& manager = dialog_->manager();
  manager.SetExecuteTimeout(50);
  size_t mark = Mark();
  EXPECT_EQ(manager.Move(1, 10, 1), kStatusExecuteTimedOut);
  // The command that never completes is aborted, and the utility carries on.
  EXPECT_EQ(Since(mark), (Lines{TestUnitReady(1), MoveCmd(1, "7F 00 00 00 0A 00 00 00 01"), ExecuteCmd(1), Abort(1)}));
  EXPECT_EQ(manager.Move(1, 10, 1), kStatusExecuteTimedOut);

  // A completion that comes later than the call's return is waited for.
  manager.SetExecuteTimeout(DeviceManager::kDefaultExecuteTimeoutMs);
  mark = Mark();
  EXPECT_EQ(manager.Move(2, 50, 0), 0u);
  EXPECT_EQ(Count(Since(mark), Abort(2)), 0u);
  manager.SetExecuteTimeout(50);  // device 1 never completes the deselect at exit either
}

TEST_F(LarkspurTest, DialogLayoutFontAndAbout) {
  ASSERT_TRUE(Start(kFeeder));
  EXPECT_EQ(dialog_->size(), QSize(284, 149));
  struct Place {
    QWidget* widget;
    QPoint at;
  } places[] = {
      {dialog_->deviceButton(), {20, 30}},      {dialog_->moveButton(kFastBack), {40, 92}},
      {dialog_->moveButton(kBack), {74, 92}},   {dialog_->moveButton(kForward), {108, 92}},
      {dialog_->moveButton(kFastForward), {140, 92}}, {dialog_->stripPicture(), {20, 92}},
      {dialog_->okButton(), {227, 83}},        {dialog_->positionLabel(), {20, 62}},
  };
  for (const Place& p : places) {
    EXPECT_EQ(p.widget->pos(), p.at);
    EXPECT_TRUE(QRect(QPoint(0, 0), dialog_->size()).contains(p.widget->geometry())) << p.at.x();
  }
  // The position line lies clear of every control.
  for (QWidget* control : std::initializer_list<QWidget*>{dialog_->deviceButton(), dialog_->moveButton(kFastBack),
                                                           dialog_->moveButton(kFastForward), dialog_->stripPicture(),
                                                           dialog_->okButton()})
    EXPECT_FALSE(dialog_->positionLabel()->geometry().intersects(control->geometry())) << control->pos().x();
  EXPECT_EQ(dialog_->deviceButton()->id(), IDC_DEVICE);
  EXPECT_EQ(dialog_->moveButton(kFastForward)->id(), IDC_FAST_FORWARD);

  const QFont& font = dialog_->deviceButton()->DeviceFont();
  EXPECT_EQ(font.family(), "Courie New");
  EXPECT_DOUBLE_EQ(font.pointSizeF(), DeviceButton::DevicePointSize(dialog_->deviceButton()->fontMetrics().height()));
  EXPECT_DOUBLE_EQ(DeviceButton::DevicePointSize(18), 7.2);
  EXPECT_DOUBLE_EQ(DeviceButton::DevicePointSize(19), 6.0);

  const QList<QAction*> system = dialog_->systemMenu()->actions();
  ASSERT_GE(system.size(), 2);
  EXPECT_TRUE(system[system.size() - 2]->isSeparator());
  EXPECT_EQ(system.back()->text(), QString::fromUtf8("ﾊﾞｰｼﾞｮﾝ情報(Larkspur) (&A)..."));
  EXPECT_EQ(system.back()->data().toInt(), 16);
  std::unique_ptr<QDialog> about(FeederDialog::CreateAboutBox(nullptr));
  EXPECT_EQ(about->windowTitle(), QString::fromUtf8("ﾊﾞｰｼﾞｮﾝ情報 Larkspur"));
  auto* line = about->findChild<QLabel*>("version");
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->text(), "Larkspur Version 1.0.0.3000");
}

}  // namespace
