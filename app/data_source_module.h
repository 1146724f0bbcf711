// The data source module "Orvax Scan.ds", bound for its extra exports: loaded once at
// start-up, every export looked up at once, so that no call ever goes through an empty
// pointer.
#pragma once

#include "datasource/ds_exports.h"
#include "win/module_loader.h"

#include <QString>

namespace orvax::app {

struct DataSourceExports {
  ds::ShowAboutFn ShowAbout = nullptr;
  ds::ShowPreferencesFn ShowPreferences = nullptr;
  ds::IntQueryFn CanShowPreferences = nullptr;
  ds::IntQueryFn UseCMS = nullptr;
  ds::GetTextFn GetMonitorProfile = nullptr;
  ds::GetTextFn GetPrinterProfile = nullptr;
  ds::GetTextFn GetCMYKProfile = nullptr;
  ds::GetTextFn GetProfilePath = nullptr;
  ds::GetMonitorGammaFn GetMonitorGamma = nullptr;
  ds::IntQueryFn GetSettingsCount = nullptr;
  ds::IntQueryFn GetColorSpaceCount = nullptr;
  ds::IntQueryFn GetFilmTypeCount = nullptr;
  ds::GetItemFn GetSettingsItem = nullptr;
  ds::GetItemFn GetColorSpaceItem = nullptr;
  ds::GetItemFn GetFilmTypeItem = nullptr;
  ds::SelectItemFn SelectSettingsItem = nullptr;
  ds::SelectItemFn SelectColorSpaceItem = nullptr;
  ds::SelectItemFn SelectFilmTypeItem = nullptr;
  ds::IntQueryFn CanFeed = nullptr;
  ds::IntQueryFn CanEject = nullptr;
  ds::ActionFn Eject = nullptr;
  ds::SetAutoFeederFn SetAutoFeeder = nullptr;
  ds::ActionFn StartScan = nullptr;
};

class DataSourceModule {
 public:
  DataSourceModule() = default;
  ~DataSourceModule() { Free(); }
  DataSourceModule(const DataSourceModule&) = delete;
  DataSourceModule& operator=(const DataSourceModule&) = delete;

  // The module's path: the Windows directory, a "\" unless it ends in one, string 8193 and
  // string 8192.
  static QString ModulePath();

  // Loads PATH and binds every export. False when the module cannot be loaded or lacks an
  // export; MISSINGEXPORT then names the export (empty when the load itself failed). On
  // failure nothing stays loaded.
  bool Load(const QString& path, QString* missingExport);
  void Free();
  bool IsLoaded() const { return module_ != nullptr; }
  const DataSourceExports& operator*() const { return exports_; }
  const DataSourceExports* operator->() const { return &exports_; }

 private:
  win::HMODULE module_ = nullptr;
  DataSourceExports exports_;
};

}  // namespace orvax::app
