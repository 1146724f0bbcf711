#include "registry_settings.h"

#include "string_table.h"

#include <QSettings>

#include <limits>
#include <memory>

namespace orvax::app {

namespace {

// Opens the product's key: QSettings' organisation and application are the company and
// the product; the version and the section are groups below them.
std::unique_ptr<QSettings> Open(CRegistrySettings::Root root, const QString& company, const QString& product) {
  return std::make_unique<QSettings>(QSettings::NativeFormat,
                                     root == CRegistrySettings::kLocalMachine ? QSettings::SystemScope
                                                                              : QSettings::UserScope,
                                     company, product);
}

QString GroupOf(const QString& version, int sectionId) {
  return sectionId != 0 ? version + QLatin1Char('/') + LoadString(sectionId) : version;
}

// A number stored as a DWORD: native integers, or (in text-based stores, which keep every
// value as text) a text that is a whole decimal number. Anything else is of another type.
std::optional<int64_t> AsNumber(const QVariant& value) {
  switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong: {
      bool ok = false;
      const qlonglong n = value.toLongLong(&ok);
      if (ok) return n;
      return std::nullopt;
    }
    case QMetaType::QString: {
      bool ok = false;
      const qlonglong n = value.toString().trimmed().toLongLong(&ok, 10);
      if (ok) return n;
      return std::nullopt;
    }
    default: return std::nullopt;
  }
}

}  // namespace

void CRegistrySettings::SetNames(const QString& company, const QString& product, const QString& version) {
  company_ = company;
  product_ = product;
  version_ = version;
}

QString CRegistrySettings::KeyPath(int sectionId) const {
  QString path = QStringLiteral("Software\\") + company_ + QLatin1Char('\\') + product_ + QLatin1Char('\\') + version_;
  if (sectionId != 0) path += QLatin1Char('\\') + LoadString(sectionId);
  return path;
}

QVariant CRegistrySettings::Read(Root root, int sectionId, const QString& valueName) const {
  auto settings = Open(root, company_, product_);
  settings->beginGroup(GroupOf(version_, sectionId));
  return settings->value(valueName);
}

void CRegistrySettings::Write(Root root, int sectionId, const QString& valueName, const QVariant& value) const {
  auto settings = Open(root, company_, product_);
  settings->beginGroup(GroupOf(version_, sectionId));
  settings->setValue(valueName, value);
  settings->endGroup();
  settings->sync();
}

uint32_t CRegistrySettings::GetDWord(Root root, int sectionId, int valueId, uint32_t defaultValue,
                                     const std::function<bool(uint32_t)>& valid) const {
  const std::optional<int64_t> n = AsNumber(Read(root, sectionId, LoadString(valueId)));
  if (!n || *n < 0 || *n > std::numeric_limits<uint32_t>::max()) return defaultValue;
  const auto value = static_cast<uint32_t>(*n);
  return !valid || valid(value) ? value : defaultValue;
}

int32_t CRegistrySettings::GetInt(Root root, int sectionId, int valueId, int32_t defaultValue,
                                  const std::function<bool(int32_t)>& valid) const {
  const std::optional<int64_t> n = AsNumber(Read(root, sectionId, LoadString(valueId)));
  if (!n || *n < std::numeric_limits<int32_t>::min() || *n > std::numeric_limits<uint32_t>::max())
    return defaultValue;
  // A DWORD above 0x7FFFFFFF is a negative number written unsigned.
  const auto value = static_cast<int32_t>(static_cast<uint32_t>(*n));
  return !valid || valid(value) ? value : defaultValue;
}

QString CRegistrySettings::GetString(Root root, int sectionId, int valueId, const QString& defaultValue) const {
  const QVariant value = Read(root, sectionId, LoadString(valueId));
  return value.typeId() == QMetaType::QString ? value.toString() : defaultValue;
}

void CRegistrySettings::SetDWord(Root root, int sectionId, int valueId, uint32_t value) const {
  Write(root, sectionId, LoadString(valueId), QVariant::fromValue<uint>(value));
}

void CRegistrySettings::SetString(Root root, int sectionId, int valueId, const QString& value) const {
  Write(root, sectionId, LoadString(valueId), value);
}

// ---------------------------------------------------------------------------------------

namespace {
constexpr auto kUser = CRegistrySettings::kCurrentUser;
// Windows keeps coordinates within 16 bits of device space; anything beyond is not a
// placement this program wrote.
bool PlausibleCoordinate(int32_t v) { return v >= -32768 && v <= 32767; }
bool PlausibleExtent(int32_t v) { return v > 0 && v <= 32767; }
}  // namespace

bool GeneralSettings::AutoFitWindow(const CRegistrySettings& reg) {
  return reg.GetDWord(kUser, IDS_REG_GENERAL, IDS_REG_AUTOFITWINDOW, 1) != 0;
}
void GeneralSettings::SetAutoFitWindow(const CRegistrySettings& reg, bool on) {
  reg.SetDWord(kUser, IDS_REG_GENERAL, IDS_REG_AUTOFITWINDOW, on ? 1 : 0);
}
QString GeneralSettings::LastDirectory(const CRegistrySettings& reg) {
  return reg.GetString(kUser, IDS_REG_GENERAL, IDS_REG_LASTDIRECTORY, QString());
}
void GeneralSettings::SetLastDirectory(const CRegistrySettings& reg, const QString& folder) {
  reg.SetString(kUser, IDS_REG_GENERAL, IDS_REG_LASTDIRECTORY, folder);
}
QString GeneralSettings::SaveFormat(const CRegistrySettings& reg) {
  const QString fallback = TemplateField(LoadString(IDS_FORMAT_BMP), 1);  // ".bmp"
  return reg.GetString(kUser, IDS_REG_GENERAL, IDS_REG_SAVEFORMAT, fallback);
}
void GeneralSettings::SetSaveFormat(const CRegistrySettings& reg, const QString& extension) {
  reg.SetString(kUser, IDS_REG_GENERAL, IDS_REG_SAVEFORMAT, extension);
}
int GeneralSettings::WindowPosCode(const CRegistrySettings& reg, int startCommand) {
  const auto code = static_cast<int>(reg.GetDWord(kUser, IDS_REG_GENERAL, IDS_REG_WINDOWPOSCODE,
                                                  static_cast<uint32_t>(startCommand),
                                                  [](uint32_t v) { return v <= SW_MAX; }));
  // Never start minimised, and never hidden: the user would see no window at all.
  return code == SW_SHOWMINIMIZED || code == SW_HIDE ? SW_SHOWNORMAL : code;
}
int GeneralSettings::WindowLeft(const CRegistrySettings& reg) {
  return reg.GetInt(kUser, IDS_REG_GENERAL, IDS_REG_WINDOWLEFT, 0, PlausibleCoordinate);
}
int GeneralSettings::WindowTop(const CRegistrySettings& reg) {
  return reg.GetInt(kUser, IDS_REG_GENERAL, IDS_REG_WINDOWTOP, 0, PlausibleCoordinate);
}
int GeneralSettings::WindowWidth(const CRegistrySettings& reg) {
  return reg.GetInt(kUser, IDS_REG_GENERAL, IDS_REG_WINDOWWIDTH, 600, PlausibleExtent);
}
int GeneralSettings::WindowHeight(const CRegistrySettings& reg) {
  return reg.GetInt(kUser, IDS_REG_GENERAL, IDS_REG_WINDOWHEIGHT, 400, PlausibleExtent);
}
void GeneralSettings::SetPlacement(const CRegistrySettings& reg, int showCommand, int left, int top, int width,
                                   int height) {
  reg.SetDWord(kUser, IDS_REG_GENERAL, IDS_REG_WINDOWPOSCODE, static_cast<uint32_t>(showCommand));
  reg.SetDWord(kUser, IDS_REG_GENERAL, IDS_REG_WINDOWLEFT, static_cast<uint32_t>(left));
  reg.SetDWord(kUser, IDS_REG_GENERAL, IDS_REG_WINDOWTOP, static_cast<uint32_t>(top));
  reg.SetDWord(kUser, IDS_REG_GENERAL, IDS_REG_WINDOWWIDTH, static_cast<uint32_t>(width));
  reg.SetDWord(kUser, IDS_REG_GENERAL, IDS_REG_WINDOWHEIGHT, static_cast<uint32_t>(height));
}

}  // namespace orvax::app
