// One Orvax Scan per user, with real processes of the built program (offscreen, each in a
// home and run-time folder of the test's own): many started at the same moment leave one,
// which opens every file; a crashed instance's socket and lock do not stop the next start.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <gtest/gtest.h>

#include "isolated_app_test.h"

#include "single_instance.h"

#include <memory>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using orvax::app::ClaimInstance;
using orvax::app::InstanceRole;
using orvax::app::InstanceSocketName;

namespace {

class SingleInstanceTest : public IsolatedAppTest {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  void TearDown() override {
    for (auto& p : processes_) {
      if (p->state() != QProcess::NotRunning) {
        p->kill();
        p->waitForFinished(5000);
      }
    }
  }

  // A fresh user: home, configuration and run-time folder of its own, and an empty log.
  void NewUser(const QString& name) {
    user_ = dir_.filePath(name);
    ASSERT_TRUE(QDir().mkpath(user_ + "/run"));
    QFile::setPermissions(user_ + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  QString RunFolder() const { return user_ + "/run"; }
  QString Log() const { return user_ + "/messages.txt"; }

  QProcess* Launch(const QStringList& args) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("ORVAX_WINDOWS_DIR", ORVAX_REAL_ROOT);
    env.insert("HOME", user_);
    env.insert("XDG_CONFIG_HOME", user_ + "/config");
    env.insert("XDG_RUNTIME_DIR", RunFolder());
    env.insert("ORVAX_SCAN_MESSAGE_LOG", Log());
    // Between finding no instance and listening, each start waits a little: without the
    // lock, starts at the same moment would then all listen.
    env.insert("ORVAX_SCAN_CLAIM_DELAY_MS", "300");
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->start(ORVAX_SCAN_EXE, args);
    processes_.push_back(std::move(process));
    return processes_.back().get();
  }

  // A file that is no image: opening it leaves one line naming it in the message log.
  QString NotAnImage(const QString& name) {
    const QString path = user_ + "/" + name;
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not an image\n");
    return path;
  }

  QStringList LogLines() const {
    QFile file(Log());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
  }

  // Waits until the log holds COUNT lines.
  QStringList WaitForLines(int count, int ms = 60000) {
    QElapsedTimer timer;
    timer.start();
    QStringList lines = LogLines();
    while (lines.size() < count && timer.elapsed() < ms) {
      QTest::qWait(50);
      lines = LogLines();
    }
    return lines;
  }

  // The number of log lines naming PATH.
  static int Mentions(const QStringList& lines, const QString& path) {
    int n = 0;
    for (const QString& line : lines) n += line.contains(" " + path + ".") ? 1 : 0;
    return n;
  }

  QString user_;
  std::vector<std::unique_ptr<QProcess>> processes_;
};

TEST_F(SingleInstanceTest, ManyStartsAtOnceLeaveOneInstanceThatOpensEveryFile) {
  constexpr int kStarts = 8;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    NewUser(QStringLiteral("round%1").arg(round));
    QStringList files;
    for (int i = 0; i < kStarts; ++i) files << NotAnImage(QStringLiteral("slide%1.jpg").arg(i));
    std::vector<QProcess*> started;
    for (const QString& file : files) started.push_back(Launch({file}));

    // All but one hand their file over and end at once, without a word.
    QElapsedTimer timer;
    timer.start();
    auto running = [&] {
      int n = 0;
      for (QProcess* p : started) n += p->state() != QProcess::NotRunning ? 1 : 0;
      return n;
    };
    while (running() > 1 && timer.elapsed() < 90000) QTest::qWait(50);
    ASSERT_EQ(running(), 1);
    for (QProcess* p : started) {
      if (p->state() == QProcess::NotRunning) {
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p->exitCode(), 0);
      }
    }
    // The one left opened every file once: its own and the seven handed to it.
    const QStringList lines = WaitForLines(kStarts);
    EXPECT_EQ(lines.size(), kStarts) << lines.join("\n").toStdString();
    for (const QString& file : files) EXPECT_EQ(Mentions(lines, file), 1) << file.toStdString();
    QTest::qWait(200);
    EXPECT_EQ(running(), 1);
    for (QProcess* p : started) p->kill();
    for (QProcess* p : started) p->waitForFinished(5000);
  }
}

TEST_F(SingleInstanceTest, ACrashedInstanceLeavesNothingThatStopsTheNext) {
  NewUser("crash");
  // An instance that is killed leaves its socket behind.
  const QString first = NotAnImage("first.jpg");
  QProcess* crashed = Launch({first});
  ASSERT_EQ(WaitForLines(1).size(), 1);
  crashed->kill();
  crashed->waitForFinished(5000);
  ASSERT_TRUE(QFile::exists(RunFolder() + "/OrvaxScan2"));

  // And a process that dies holding the instance lock leaves the lock file.
  const QString lockPath = RunFolder() + "/OrvaxScan2.lock";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    QLockFile lock(lockPath);
    ::_exit(lock.tryLock(0) ? 0 : 1);  // no unlock: gone as a crash would go
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(QFile::exists(lockPath));

  // The next start takes both over and runs; the one after it hands its file to it.
  const QString second = NotAnImage("second.jpg"), third = NotAnImage("third.jpg");
  QProcess* next = Launch({second});
  ASSERT_EQ(WaitForLines(2).size(), 2);
  QProcess* after = Launch({third});
  ASSERT_TRUE(after->waitForFinished(60000));
  EXPECT_EQ(after->exitCode(), 0);
  const QStringList lines = WaitForLines(3);
  EXPECT_EQ(Mentions(lines, second), 1) << lines.join("\n").toStdString();
  EXPECT_EQ(Mentions(lines, third), 1) << lines.join("\n").toStdString();
  EXPECT_EQ(next->state(), QProcess::Running);
  // It took the lock, rather than waiting for it in vain and going on without it.
  EXPECT_FALSE(next->readAllStandardError().contains("instance lock")) << "the stale lock was not taken over";
}

// An instance that takes a hand-over and ends before acting on it (it was closing): the
// sender starts over and, finding nobody, becomes the instance itself.
TEST_F(SingleInstanceTest, AHandOverToAnInstanceThatEndsStartsOver) {
  NewUser("ending");
  qputenv("XDG_RUNTIME_DIR", RunFolder().toLocal8Bit());
  const QByteArray path = QFile::encodeName(InstanceSocketName("OrvaxScan2"));
  ASSERT_EQ(path, QFile::encodeName(RunFolder() + "/OrvaxScan2"));
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  QByteArray received;
  std::thread ending([&] {
    const int peer = ::accept(listener, nullptr, nullptr);
    pollfd wait{peer, POLLIN, 0};
    char bytes[4096];
    while (::poll(&wait, 1, 500) > 0) {
      const ssize_t n = ::read(peer, bytes, sizeof bytes);
      if (n <= 0) break;
      received.append(bytes, static_cast<qsizetype>(n));
    }
    // Gone without an answer, and its socket with it.
    ::close(listener);
    ::unlink(path.constData());
    ::close(peer);
  });
  bool listened = false;
  const InstanceRole role =
      ClaimInstance("OrvaxScan2", {"/slides/a.jpg"}, "OrvaxDropFileOpen", [&] { return listened = true; });
  ending.join();
  qunsetenv("XDG_RUNTIME_DIR");
  EXPECT_TRUE(received.contains("/slides/a.jpg"));
  EXPECT_EQ(role, InstanceRole::First);
  EXPECT_TRUE(listened);
}

}  // namespace
