// The application object: start-up and exit, the data source module's extra exports, the
// preferences in the registry, the recent-file list and the commands that speak to the data
// source.
#pragma once

#include "data_source_module.h"
#include "framework/win_app.h"
#include "recent_file_list.h"
#include "registry_settings.h"
#include "single_instance.h"
#include "twain.h"

#include <QFont>
#include <QStringList>

#include <memory>
#include <utility>
#include <vector>

class QLocalServer;

namespace orvax::app {

class CMainFrame;

class CScanApp : public framework::CWinApp {
 public:
  CScanApp();
  ~CScanApp() override;

  static CScanApp* Instance();

  // Start-up; ARGS are the command-line arguments without the program name. False when the
  // program must end (a second instance handed over, or a step failed).
  bool InitInstance(const QStringList& args);
  // Exit: CloseMosaic, then the module, AutoFitWindow and the window class.
  void ExitInstance();

  QMdiArea* MdiClient() const override;
  CMainFrame* MainFrame() const { return frame_.get(); }
  framework::CDocument* OpenDocumentFile(const QString& path) override;
  void AddToRecentFileList(const QString& path) override;

  const CRegistrySettings& Registry() const { return registry_; }
  CRegRecentFileList& RecentFiles() { return recentFiles_; }
  const DataSourceModule& Module() const { return module_; }
  const twain::TW_IDENTITY& AppIdentity() const { return identity_; }
  const QFont& GuiFont() const { return guiFont_; }
  int TextHeight() const { return textHeight_; }
  bool AutoFitWindow() const { return autoFit_; }
  bool sourceEnabled = false;
  bool exitAllowed = true;
  // True when start-up ended because a running instance took the arguments.
  bool HandedOver() const { return handedOver_; }

  // The registered message numbers.
  win::UINT RefreshMenusMsg() const { return refreshMsg_; }
  win::UINT UpdatePrefsMsg() const { return updatePrefsMsg_; }
  win::UINT DropFileOpenMsg() const { return dropFileMsg_; }

  // The data source's answers, safe while the module is not loaded.
  bool UseCMS() const;
  double MonitorGamma() const;
  bool CanFeed() const;
  void SetProgress(double fraction);

  // Reopening: wait cursor, sourceEnabled cleared, OpenSource.
  void ReopenSource();
  // The multi-select Open command.
  void OnFileOpen();

  bool OnCommand(int id) override;
  bool OnUpdateCommand(framework::CCmdUI& ui) override;

  // The show command the program was started with (normal on this platform).
  int m_nCmdShow = SW_SHOWNORMAL;

 private:
  // Starts listening for later instances (the single-instance socket stands for the
  // window class); false when the name cannot be taken.
  bool RegisterWindowClass();
  void OnHandOverRecord(HandOverRecord type, const QByteArray& data);
  void UnregisterWindowClass();
  void CreateGuiFont();
  void InitImageLibrary();
  void FillIdentity();

  CRegistrySettings registry_;
  CRegRecentFileList recentFiles_{registry_};
  DataSourceModule module_;
  std::unique_ptr<CMainFrame> frame_;
  std::unique_ptr<QLocalServer> server_;
  std::vector<std::pair<HandOverRecord, QByteArray>> earlyRecords_;  // hand-overs before the frame
  twain::TW_IDENTITY identity_{};
  QString className_;
  QFont guiFont_;
  int textHeight_ = 0;
  bool autoFit_ = true;
  bool mosaicStarted_ = false;
  bool handedOver_ = false;
  win::UINT refreshMsg_ = 0, updatePrefsMsg_ = 0, dropFileMsg_ = 0;
};

}  // namespace orvax::app
