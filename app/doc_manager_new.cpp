#include "doc_manager_new.h"

#include "dlg_file_save.h"
#include "framework/win_app.h"
#include "registry_settings.h"
#include "scan_app.h"
#include "string_table.h"

#include <QDir>
#include <QFileInfo>
#include <QMainWindow>

namespace orvax::app {

namespace {
CDocManagerNew::SaveDialogHook g_saveHook;

const CRegistrySettings& Registry() {
  static const CRegistrySettings fallback;
  return CScanApp::Instance() != nullptr ? CScanApp::Instance()->Registry() : fallback;
}
}  // namespace

void CDocManagerNew::SetSaveDialogHook(SaveDialogHook hook) { g_saveHook = std::move(hook); }

QStringList CDocManagerNew::ExtensionAliases(const QString& ext) const {
  if (ext == QLatin1String("jpg")) return {QStringLiteral("jpeg"), QStringLiteral("jpe"), QStringLiteral("jfif")};
  if (ext == QLatin1String("tif")) return {QStringLiteral("tiff")};
  if (ext == QLatin1String("bmp")) return {QStringLiteral("dib")};
  return {};
}

QStringList CDocManagerNew::DoPromptFileName(const QString& name, int titleId, bool open, bool multi,
                                             framework::CMultiDocTemplate* docTemplate) {
  QWidget* parent = framework::AfxGetApp() != nullptr ? framework::AfxGetApp()->m_pMainWnd : nullptr;
  if (open) {
    // The open dialog starts in the last folder used, or the current one.
    const QString last = GeneralSettings::LastDirectory(Registry()).trimmed();
    const QString start = QFileInfo(name).isDir() || name.isEmpty() ? (last.isEmpty() ? QDir::currentPath() : last)
                                                                     : name;
    return framework::CDocManager::DoPromptFileName(start, titleId, true, multi, docTemplate);
  }
  // A bare name starts in the last folder.
  QString initial = name;
  if (!name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'))) {
    const QString last = GeneralSettings::LastDirectory(Registry()).trimmed();
    if (!last.isEmpty() && QFileInfo(last).isDir()) initial = QDir(last).filePath(name);
  }
  CDlgFileSave dialog(CDlgFileSave::s_formatMask, QString(), initial, 0, QString(), parent);
  dialog.setWindowTitle(LoadString(titleId));
  const bool ok = g_saveHook ? g_saveHook(dialog) : dialog.exec() == QDialog::Accepted;
  if (!ok) return {};
  const QString path = dialog.Accept();
  if (path.isEmpty()) return {};
  GeneralSettings::SetLastDirectory(Registry(), QFileInfo(path).absolutePath());
  return {path};
}

}  // namespace orvax::app
