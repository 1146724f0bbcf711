// The Qt test environment of the programs' test suites: one QApplication for the test
// program, and per test a temporary folder that holds the settings, the runtime folder
// (where the single-instance sockets live) and whatever the test writes, so that no test
// touches the user's own configuration or reaches a program the user is running.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <cerrno>

namespace orvax::testing {

class IsolatedQtTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (qApp == nullptr) {
      static int argc = 1;
      static char* argv[] = {program_invocation_short_name, nullptr};
      new QApplication(argc, argv);
    }
  }

  // Points the settings and the runtime folder into this test's folder, and the Windows root
  // at WINDOWSROOT unless it is null.
  void Isolate(const char* windowsRoot = nullptr) {
    ASSERT_TRUE(dir_.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_.filePath("config"));
    QDir().mkpath(dir_.filePath("run"));
    QFile::setPermissions(dir_.filePath("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", dir_.filePath("run").toLocal8Bit());
    if (windowsRoot != nullptr) qputenv("ORVAX_WINDOWS_DIR", windowsRoot);
  }

  QTemporaryDir dir_;
};

}  // namespace orvax::testing
