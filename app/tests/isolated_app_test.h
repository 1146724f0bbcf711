// The base of the application's test fixtures: the shared Qt test environment, the
// application under test, and the texts of the message boxes it showed.
#pragma once

#include "framework/doc_manager.h"
#include "framework/document.h"
#include "framework/win_app.h"
#include "scan_app.h"
#include "qt_test_environment.h"

#include <QFile>
#include <QStringList>

#include <cstdint>
#include <cstring>
#include <memory>

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

class IsolatedAppTest : public orvax::testing::IsolatedQtTest {
 protected:
  // The set-up of the fixtures that start the application on the real Windows root:
  // isolated, without a scanner script, collecting message boxes.
  void IsolateOnRealRoot() {
    Isolate(ORVAX_REAL_ROOT);
    qunsetenv("ORVAX_DS_SCRIPT");
    CollectMessages();
  }

  // Hands SCRIPT to the scanner in a new file each time (the scanner reads a script once and
  // carries on with it when the same file is named again), then makes the application.
  // False when the script could not be written.
  bool PrepareScriptedStart(const QString& script) {
    const QString path = dir_.filePath(QString("script%1.txt").arg(++scripts_));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(script.toUtf8()) != script.toUtf8().size()) return false;
    file.close();
    qputenv("ORVAX_DS_SCRIPT", path.toLocal8Bit());
    app_ = std::make_unique<orvax::app::CScanApp>();
    return true;
  }

  // Answers every message box with OK and keeps its text.
  void CollectMessages() {
    orvax::framework::SetMessageBoxHook([this](const QString& text, unsigned) {
      messages_ << text;
      return orvax::framework::IDOK;
    });
  }

  // Ends the application, dropping the unsaved changes of its documents.
  void Quit() {
    if (!app_) return;
    for (orvax::framework::CDocument* d : app_->DocManager()->Documents()) d->SetModifiedFlag(false);
    app_->ExitInstance();
    app_.reset();
  }

  std::unique_ptr<orvax::app::CScanApp> app_;
  QStringList messages_;
  int scripts_ = 0;
};
