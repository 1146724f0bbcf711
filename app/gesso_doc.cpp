#include "gesso_doc.h"

#include "commands.h"
#include "framework/win_app.h"
#include "scan_app.h"
#include "string_table.h"

#include <QApplication>
#include <QFile>

#include <cmath>

namespace orvax::app {

using framework::AfxMessageBox;

CGessoDoc::CGessoDoc() = default;
CGessoDoc::~CGessoDoc() = default;

void CGessoDoc::SetImage(std::unique_ptr<TesseraClass> image) { image_ = std::move(image); }

namespace {
long OpenProgress(long total, long done, void* user) {
  if (CScanApp* app = CScanApp::Instance(); app != nullptr && total > 0)
    app->SetProgress(static_cast<double>(done) / static_cast<double>(total));
  return 0;
}
}  // namespace

bool CGessoDoc::OnOpenDocument(const QString& path) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  SetModifiedFlag(false);
  CScanApp* app = CScanApp::Instance();
  const bool cms = app != nullptr && app->UseCMS();
  auto image = std::make_unique<TesseraClass>(static_cast<short>(cms ? 15 : 0), static_cast<short>(2));
  const QByteArray native = QFile::encodeName(path);
  char* name = const_cast<char*>(native.constData());
  const long result = image->OpenImage(name, TesseraClass::m_s_EmptyTransform, &OpenProgress, this);
  if (app != nullptr) app->SetProgress(0.0);
  acquiring_ = false;
  QApplication::restoreOverrideCursor();
  if (result == 0) {
    image_ = std::move(image);
    ApplyMonitorGamma(false);
    return true;
  }
  int message = IDS_ERR_READFILE;
  if (result == 1100 || result == 1101) message = IDS_ERR_LOADFILE;
  else if (result == 1416) message = IDS_ERR_TIFFLZW;
  else if (result == 1502) message = IDS_ERR_BITDEPTH;
  else if (result == 1012 && !cms) message = IDS_ERR_CMSOFF;
  AfxMessageBox(FormatString1(message, path), framework::MB_OK | framework::MB_ICONEXCLAMATION);
  return false;
}

void CGessoDoc::GammaTable(double g, unsigned char table[256], short* mode) {
  double e = 1.0 / g;
  *mode = 3;
  if (!(e > 0.0) || !std::isfinite(e)) {
    e = 1.0;
    *mode = 2;
  }
  for (int i = 0; i < 256; ++i)
    table[i] = static_cast<unsigned char>(std::floor(0.5 + 255.0 * std::pow(i / 255.0, e)));
}

void CGessoDoc::ApplyMonitorGamma(bool redraw) {
  CScanApp* app = CScanApp::Instance();
  if (app == nullptr || !app->UseCMS() || !image_) return;
  unsigned char table[256];
  short mode = 3;
  GammaTable(app->MonitorGamma(), table, &mode);
  for (short channel = 0; channel < 3; ++channel) image_->SetLUT(table, channel, mode);
  if (redraw) UpdateAllViews(nullptr, 4);
}

bool CGessoDoc::OnUpdateCommand(framework::CCmdUI& ui) {
  // Closing is refused while a scan is arriving; the close path reports it.
  if (ui.m_nID == ID_FILE_CLOSE) {
    ui.Enable(true);
    return true;
  }
  return false;
}

}  // namespace orvax::app
