#include "data_source_module.h"

#include "string_table.h"
#include "win/windows_root.h"

#include <cstring>

namespace orvax::app {

QString DataSourceModule::ModulePath() {
  QString path = QString::fromStdString(win::WindowsDirectory());
  if (!path.endsWith(QLatin1Char('\\'))) path += QLatin1Char('\\');
  return path + LoadString(IDS_DS_MODULEFOLDER) + LoadString(IDS_DS_MODULENAME);
}

bool DataSourceModule::Load(const QString& path, QString* missingExport) {
  Free();
  if (missingExport) missingExport->clear();
  module_ = win::LoadLibrary(path.toStdString());
  if (module_ == nullptr) return false;
  // The record holds one function pointer per export, in the order of kExportNames.
  static_assert(sizeof(DataSourceExports) == ds::kExportNames.size() * sizeof(void*));
  for (size_t i = 0; i < ds::kExportNames.size(); ++i) {
    void* address = win::GetProcAddress(module_, ds::kExportNames[i]);
    std::memcpy(reinterpret_cast<char*>(&exports_) + i * sizeof(void*), &address, sizeof(void*));
    if (address == nullptr) {
      if (missingExport) *missingExport = QString::fromLatin1(ds::kExportNames[i]);
      Free();
      return false;
    }
  }
  return true;
}

void DataSourceModule::Free() {
  if (module_ != nullptr) win::FreeLibrary(module_);
  module_ = nullptr;
  exports_ = DataSourceExports{};
}

}  // namespace orvax::app
