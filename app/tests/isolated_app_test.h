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
