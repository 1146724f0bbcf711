#include "scan_app.h"

#include "doc_manager_new.h"

#include "commands.h"
#include "dlg_slide_feeder.h"
#include "framework/doc_manager.h"
#include "framework/doc_template.h"
#include "gesso_doc.h"
#include "gesso_view.h"
#include "main_frame.h"
#include "progress_pane.h"
#include "single_instance.h"
#include "string_table.h"
#include "twain/containers.h"

#include <tessera/tessera.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLocalServer>
#include <QMdiArea>
#include <QScreen>

#include <cstdio>
#include <cstring>
#include <utility>

namespace orvax::app {

using framework::AfxMessageBox;
using framework::CCmdUI;

namespace {
CScanApp* g_scanApp = nullptr;

// Copies TEXT into a fixed text field of SIZE bytes, always zero-terminated.
template <size_t N>
void CopyField(char (&field)[N], const QString& text) {
  twain::CopyText(field, text.toLatin1().toStdString());
}
}  // namespace

CScanApp::CScanApp() { g_scanApp = this; }

CScanApp::~CScanApp() {
  frame_.reset();
  server_.reset();
  if (g_scanApp == this) g_scanApp = nullptr;
}

CScanApp* CScanApp::Instance() { return g_scanApp; }

QMdiArea* CScanApp::MdiClient() const { return frame_ ? frame_->MdiArea() : nullptr; }

void CScanApp::FillIdentity() {
  identity_ = {};
  identity_.Version.MajorNum = 1;
  identity_.Version.MinorNum = 0;
  identity_.Version.Language = twain::TWLG_USA;
  identity_.Version.Country = twain::TWCY_USA;
  CopyField(identity_.Version.Info, LoadString(IDS_TW_VERSIONINFO));
  identity_.ProtocolMajor = 1;
  identity_.ProtocolMinor = 5;
  identity_.SupportedGroups = twain::DG_CONTROL | twain::DG_IMAGE;
  CopyField(identity_.Manufacturer, LoadString(IDS_TW_MANUFACTURER));
  CopyField(identity_.ProductFamily, LoadString(IDS_TW_PRODUCTFAMILY));
  CopyField(identity_.ProductName, LoadString(IDS_TW_PRODUCTNAME));
}

bool CScanApp::RegisterWindowClass() {
  className_ = QStringLiteral("OrvaxScan2");
  // Hand-overs are queued on the frame's message queue, in the order they arrive; those that
  // come before the frame exists wait for it.
  server_.reset(ListenForInstances(className_, [this](HandOverRecord type, const QByteArray& data) {
    if (!frame_) {
      earlyRecords_.emplace_back(type, data);
      return;
    }
    OnHandOverRecord(type, data);
  }));
  if (!server_) className_.clear();
  return server_ != nullptr;
}

void CScanApp::OnHandOverRecord(HandOverRecord type, const QByteArray& data) {
  CMainFrame* frame = frame_.get();
  switch (type) {
    case HandOverRecord::Raise:
      if (frame->isMinimized()) frame->showNormal();
      frame->raise();
      frame->activateWindow();
      if (QWidget* popup = QApplication::activeModalWidget()) popup->raise();
      break;
    case HandOverRecord::CopyData:
      QMetaObject::invokeMethod(
          &frame->MessageQueue(), [frame, data] { frame->OnCopyData(data); }, Qt::QueuedConnection);
      break;
    case HandOverRecord::Message: {
      const QByteArray name = data + '\0';
      win::PostMessage(frame->Handle(), win::RegisterWindowMessage(name.constData()), 0, 0);
      break;
    }
    case HandOverRecord::End: break;
  }
}

void CScanApp::UnregisterWindowClass() {
  if (server_) server_->close();
  server_.reset();
  className_.clear();
}

bool CScanApp::InitInstance(const QStringList& args) {
  // 1. The registered messages.
  refreshMsg_ = win::RegisterWindowMessage(ds::kRefreshMenusMsg);
  updatePrefsMsg_ = win::RegisterWindowMessage(ds::kUpdatePrefsMsg);
  dropFileMsg_ = win::RegisterWindowMessage("OrvaxDropFileOpen");
  FillIdentity();

  // 2 and 3, as one step under the instance lock: a running instance takes the arguments
  // over, or this one starts listening under the window class's name.
  switch (ClaimInstance(QStringLiteral("OrvaxScan2"), args, QStringLiteral("OrvaxDropFileOpen"),
                        [this] { return RegisterWindowClass(); })) {
    case InstanceRole::HandedOver: handedOver_ = true; return false;
    case InstanceRole::Failed: return false;
    case InstanceRole::First: break;
  }

  // 4. Registry names, the recent files and AutoFitWindow.
  registry_.SetNames(LoadString(IDS_REG_COMPANY), LoadString(IDS_REG_PRODUCT), LoadString(IDS_REG_VERSION));
  recentFiles_.ReadList();
  autoFit_ = GeneralSettings::AutoFitWindow(registry_);

  // 5. The document template, under the application's document manager.
  SetDocManager(std::make_unique<CDocManagerNew>());
  DocManager()->AddDocTemplate(std::make_unique<framework::CMultiDocTemplate>(
      IDR_MENU_DOC, [] { return new CGessoDoc; }, [] { return new CChildFrame; },
      [](framework::CDocument* doc) { return new CGessoView(static_cast<CGessoDoc*>(doc)); }));

  // 6. The main frame.
  frame_ = std::make_unique<CMainFrame>(*this);
  m_pMainWnd = frame_.get();
  QScreen* screen = QGuiApplication::primaryScreen();
  const int show = frame_->LoadFrame(screen != nullptr ? screen->size() : QSize(1024, 768));
  if (show == SW_SHOWMAXIMIZED) frame_->showMaximized();
  else frame_->showNormal();
  for (const auto& [type, data] : std::exchange(earlyRecords_, {})) OnHandOverRecord(type, data);

  // 7. The GUI font.
  CreateGuiFont();

  // 8. The data source module and its exports.
  const QString path = DataSourceModule::ModulePath();
  QString missing;
  if (!module_.Load(path, &missing)) {
    if (!missing.isEmpty())
      std::fprintf(stderr, "orvax-scan: %s lacks the export %s\n", path.toLocal8Bit().constData(),
                   missing.toLatin1().constData());
    AfxMessageBox(FormatString1(IDS_DS_ERR_LOADMODULE, path), framework::MB_OK | framework::MB_ICONERROR);
    return false;
  }
  frame_->RebuildSourceMenus();

  // 9. The data source's greeting.
  module_->ShowAbout(ds::kAboutStartup, frame_->Handle());

  // 10. The image library.
  InitImageLibrary();

  // 11. The files named on the command line, or the scanner's window.
  if (!args.isEmpty()) {
    for (const QString& arg : args) OpenDocumentFile(arg);
  } else {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    sourceEnabled = false;
    frame_->OpenSource();
    QApplication::restoreOverrideCursor();
  }
  frame_->UpdateCommandUI();
  return true;
}

void CScanApp::CreateGuiFont() {
  QFont base = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  if (base.family().isEmpty()) {
    base = QFont(QStringLiteral("System"));
    base.setPixelSize(10);
  }
  guiFont_ = base;
  guiFont_.setWeight(QFont::Normal);  // 400
  textHeight_ = QFontMetrics(guiFont_).boundingRect(QStringLiteral("A")).height();
}

void CScanApp::InitImageLibrary() {
  tagTes_Image_Info info{};
  info.size = sizeof(tagTes_Image_Info);
  CopyField(info.maker, LoadString(IDS_TW_MANUFACTURER));
  ds::CString monitor, printer, cmyk, folder;
  module_->GetMonitorProfile(&monitor);
  module_->GetPrinterProfile(&printer);
  module_->GetCMYKProfile(&cmyk);
  module_->GetProfilePath(&folder);
  char* monitorPath = const_cast<char*>(monitor.c_str());
  char* printerPath = const_cast<char*>(printer.c_str());
  char* cmykPath = const_cast<char*>(cmyk.c_str());
  char* folderPath = const_cast<char*>(folder.c_str());
  const double gamma = 1.0;
  TesseraClass::InitMosaic(info, monitorPath, printerPath, cmykPath, folderPath, gamma);
  mosaicStarted_ = true;
}

void CScanApp::ExitInstance() {
  // From here on a later start finds nobody listening and runs on its own, rather than
  // handing its files to an instance that will not open them.
  if (server_) server_->close();
  if (frame_) {
    frame_->close();
    frame_.reset();
  }
  m_pMainWnd = nullptr;
  if (mosaicStarted_) TesseraClass::CloseMosaic();
  mosaicStarted_ = false;
  if (!className_.isEmpty()) {
    module_.Free();
    GeneralSettings::SetAutoFitWindow(registry_, autoFit_);
    recentFiles_.WriteList();
    UnregisterWindowClass();
  }
}

framework::CDocument* CScanApp::OpenDocumentFile(const QString& path) {
  framework::CDocument* doc = framework::CWinApp::OpenDocumentFile(path);
  if (frame_) frame_->UpdateCommandUI();
  return doc;
}

void CScanApp::AddToRecentFileList(const QString& path) {
  recentFiles_.Add(path);
  if (frame_) frame_->RebuildRecentFiles();
}

bool CScanApp::UseCMS() const { return module_.IsLoaded() && module_->UseCMS() != 0; }
double CScanApp::MonitorGamma() const { return module_.IsLoaded() ? module_->GetMonitorGamma() : 1.0; }
bool CScanApp::CanFeed() const { return module_.IsLoaded() && module_->CanFeed() != 0; }

void CScanApp::SetProgress(double fraction) {
  if (frame_ && frame_->ProgressPane()) frame_->ProgressPane()->SetProgress(fraction);
}

void CScanApp::ReopenSource() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  sourceEnabled = false;
  if (frame_) frame_->OpenSource();
  QApplication::restoreOverrideCursor();
}

void CScanApp::OnFileOpen() {
  const QString last = GeneralSettings::LastDirectory(registry_).trimmed();
  const QStringList files =
      DocManager()->DoPromptFileName(last.isEmpty() ? QDir::currentPath() : last, AFX_IDS_OPENFILE, true, true,
                                     nullptr);
  if (files.isEmpty()) return;
  GeneralSettings::SetLastDirectory(registry_, QFileInfo(files.front()).absolutePath());
  for (const QString& file : files) {
    if (OpenDocumentFile(file) == nullptr) break;
  }
}

bool CScanApp::OnUpdateCommand(CCmdUI& ui) {
  const int id = ui.m_nID;
  const bool loaded = module_.IsLoaded();
  switch (id) {
    case ID_APP_ABOUT:
    case ID_FILE_OPEN:
    case ID_FILE_PRINT_SETUP: ui.Enable(); return true;
    case ID_APP_EXIT: ui.Enable(exitAllowed); return true;
    case ID_WINDOW_AUTOFIT: ui.Enable(); ui.SetCheck(autoFit_); return true;
    case ID_SOURCE_PREFERENCES:
    case ID_SOURCE_DEVICE: ui.Enable(loaded && module_->CanShowPreferences() != 0); return true;
    case ID_SOURCE_SLIDEFEEDER: ui.Enable(sourceEnabled && CanFeed()); return true;
    case ID_SOURCE_EJECT:
      if (CanFeed()) {
        ui.SetText(LoadString(IDS_MENU_NEXTSLIDE));
        ui.Enable(sourceEnabled);
      } else {
        ui.SetText(LoadString(IDS_MENU_EJECT));
        ui.Enable(sourceEnabled && loaded && module_->CanEject() != 0);
      }
      return true;
    default: break;
  }
  ds::GetItemFn item = nullptr;
  if (id >= ID_SETTINGS_FIRST && id <= ID_SETTINGS_LAST) item = loaded ? module_->GetSettingsItem : nullptr;
  else if (id >= ID_COLORSPACE_FIRST && id <= ID_COLORSPACE_LAST) item = loaded ? module_->GetColorSpaceItem : nullptr;
  else if (id >= ID_FILMTYPE_FIRST && id <= ID_FILMTYPE_LAST) item = loaded ? module_->GetFilmTypeItem : nullptr;
  else return false;
  if (!sourceEnabled || item == nullptr) {
    ui.Enable(false);
    return true;
  }
  const int first = id >= ID_FILMTYPE_FIRST ? ID_FILMTYPE_FIRST
                    : id >= ID_COLORSPACE_FIRST ? ID_COLORSPACE_FIRST
                                                : ID_SETTINGS_FIRST;
  char text[2] = {};
  int checked = 0;
  ui.Enable(item(id - first, text, sizeof text, &checked) >= 0);
  return true;
}

bool CScanApp::OnCommand(int id) {
  switch (id) {
    case ID_APP_ABOUT: module_->ShowAbout(ds::kAboutCommand, frame_->Handle()); return true;
    case ID_WINDOW_AUTOFIT: autoFit_ = !autoFit_; return true;
    case ID_SOURCE_PREFERENCES:
    case ID_SOURCE_DEVICE: {
      const int page = id == ID_SOURCE_PREFERENCES ? ds::kPagePreferences : ds::kPageDevice;
      if (module_->ShowPreferences(frame_->Handle(), page) == ds::kPreferencesReopen) {
        if (frame_) frame_->CloseSource();
        ReopenSource();
      }
      return true;
    }
    case ID_SOURCE_SLIDEFEEDER: {
      CDlgSlideFeeder dialog(frame_.get());
      if (dialog.exec() == QDialog::Accepted) {
        module_->SetAutoFeeder(dialog.m_nSlides);
        module_->StartScan();
      }
      return true;
    }
    case ID_SOURCE_EJECT:
      if (sourceEnabled) module_->Eject();
      return true;
    case ID_FILE_OPEN: OnFileOpen(); return true;
    case ID_FILE_PRINT_SETUP: OnFilePrintSetup(); return true;
    case ID_APP_EXIT:
      if (frame_) frame_->close();
      return true;
    default: break;
  }
  if (id >= ID_SETTINGS_FIRST && id <= ID_SETTINGS_LAST) module_->SelectSettingsItem(id - ID_SETTINGS_FIRST);
  else if (id >= ID_COLORSPACE_FIRST && id <= ID_COLORSPACE_LAST)
    module_->SelectColorSpaceItem(id - ID_COLORSPACE_FIRST);
  else if (id >= ID_FILMTYPE_FIRST && id <= ID_FILMTYPE_LAST) module_->SelectFilmTypeItem(id - ID_FILMTYPE_FIRST);
  else return false;
  return true;
}

}  // namespace orvax::app
