// The data source's default monitor profile follows the _ICC_PROFILE property of the X root
// window, set here on a private Xvfb server the way colord sets it.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <string>

#include "display_profile.h"
#include "virtual_scanner.h"

namespace {

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// An Xvfb server on a free display number (it reports the number through -displayfd).
class XServer : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      // -noreset: the properties outlive the clients that set them, as on a desktop.
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-noreset", "-nolisten", "tcp", "-screen", "0", "64x64x24",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    char number[16] = {};
    ssize_t n = 0, got;
    while (n < 15 && (got = read(fds[0], number + n, 1)) == 1 && number[n] != '\n') ++n;
    close(fds[0]);
    number[n] = '\0';
    ASSERT_GT(n, 0) << "Xvfb did not start";
    display_ = std::string(":") + number;
  }
  static void TearDownTestSuite() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  void SetUp() override {
    ASSERT_TRUE(cache_.isValid());
    setenv("DISPLAY", display_.c_str(), 1);
    setenv("XDG_CACHE_HOME", cache_.path().toLocal8Bit().constData(), 1);
    SetRootProperty(nullptr);
  }

  // Sets (or with null deletes) the root window's _ICC_PROFILE property.
  static void SetRootProperty(const QByteArray* bytes) {
    xcb_connection_t* c = xcb_connect(display_.c_str(), nullptr);
    ASSERT_EQ(xcb_connection_has_error(c), 0);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 12, "_ICC_PROFILE"), nullptr);
    ASSERT_NE(atom, nullptr);
    if (bytes != nullptr)
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, screen->root, atom->atom, XCB_ATOM_CARDINAL, 8,
                          uint32_t(bytes->size()), bytes->constData());
    else
      xcb_delete_property(c, screen->root, atom->atom);
    free(atom);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // a round trip: the change is done
    xcb_disconnect(c);
  }

  static pid_t pid_;
  static std::string display_;
  QTemporaryDir cache_;
};
pid_t XServer::pid_ = -1;
std::string XServer::display_;

using orvax::ds::DesktopDisplayProfile;
using orvax::ds::VirtualScanner;

TEST_F(XServer, TheDisplaysProfileIsTheDefaultMonitorProfile) {
  const QString sRGB = VirtualScanner::ProfileFolder() + "sRGB.icc";
  EXPECT_EQ(DesktopDisplayProfile(), QString());
  EXPECT_EQ(VirtualScanner::DefaultMonitorProfile(), sRGB);

  const QByteArray profile = ReadFile("/usr/share/color/icc/colord/AdobeRGB1998.icc");
  ASSERT_FALSE(profile.isEmpty());
  SetRootProperty(&profile);
  const QString path = VirtualScanner::DefaultMonitorProfile();
  EXPECT_TRUE(path.startsWith(cache_.path())) << path.toStdString();
  EXPECT_EQ(ReadFile(path), profile);

  // A changed property replaces the kept file; a removed one brings sRGB back.
  const QByteArray other = ReadFile("/usr/share/color/icc/colord/ProPhotoRGB.icc");
  SetRootProperty(&other);
  EXPECT_EQ(ReadFile(DesktopDisplayProfile()), other);
  SetRootProperty(nullptr);
  EXPECT_EQ(VirtualScanner::DefaultMonitorProfile(), sRGB);
}

TEST_F(XServer, APropertyThatIsNotAProfileIsIgnoredWithANote) {
  const QByteArray profile = ReadFile("/usr/share/color/icc/colord/sRGB.icc");
  QByteArray noSignature = profile, shortened = profile.left(profile.size() / 2), text("not a profile");
  noSignature[36] = 'x';
  for (const QByteArray* bad : {&noSignature, &shortened, &text}) {
    SetRootProperty(bad);
    testing::internal::CaptureStderr();
    EXPECT_EQ(VirtualScanner::DefaultMonitorProfile(), VirtualScanner::ProfileFolder() + "sRGB.icc");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("_ICC_PROFILE property is not an ICC profile"), std::string::npos);
  }
}

TEST(DisplayProfile, NoDisplayMeansNoDesktopProfile) {
  unsetenv("DISPLAY");
  EXPECT_EQ(DesktopDisplayProfile(), QString());
  setenv("DISPLAY", ":999999", 1);  // no such server
  EXPECT_EQ(DesktopDisplayProfile(), QString());
}

}  // namespace
