// The base of the application's test fixtures: one QApplication for the test program, and
// per test a temporary folder that holds the settings, the single-instance socket folder
// and whatever the test writes, so that no test touches the user's own configuration.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdint>
#include <cstring>

// The headers of a BMP file of the given size and depth, with zeroed pixels behind them: for
// files of a depth no reader takes.
inline QByteArray BmpHeaderOnly(int32_t width, int32_t height, uint16_t bits) {
  QByteArray bmp(54 + width * height * 4, '\0');
  const auto put = [&](int at, auto value) { std::memcpy(bmp.data() + at, &value, sizeof value); };
  bmp[0] = 'B', bmp[1] = 'M';
  put(2, static_cast<uint32_t>(bmp.size()));
  put(10, uint32_t{54});
  put(14, uint32_t{40});
  put(18, width);
  put(22, height);
  put(26, uint16_t{1});
  put(28, bits);
  return bmp;
}

class IsolatedAppTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (qApp == nullptr) {
      static int argc = 1;
      static char name[] = "orvax_scan_tests";
      static char* argv[] = {name, nullptr};
      new QApplication(argc, argv);
    }
  }

  // Points settings and the runtime folder into this test's folder and the Windows root at
  // the given one.
  void Isolate(const char* windowsRoot) {
    ASSERT_TRUE(dir_.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_.filePath("config"));
    QDir().mkpath(dir_.filePath("run"));
    QFile::setPermissions(dir_.filePath("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", dir_.filePath("run").toLocal8Bit());
    qputenv("ORVAX_WINDOWS_DIR", windowsRoot);
  }

  QTemporaryDir dir_;
};
