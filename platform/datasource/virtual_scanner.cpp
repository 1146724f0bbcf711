#include "virtual_scanner.h"

#include "display_profile.h"

#include "datasource/ds_exports.h"
#include "datasource/ds_twain.h"
#include "win/windows_root.h"

#include <QDir>
#include <QSettings>

#include <cmath>

namespace orvax::ds {

namespace {

// The module's own settings, apart from the application's.
QSettings Settings() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Orvax"),
                   QStringLiteral("Orvax Scan Data Source"));
}

const char* const kFilmTypes[] = {"Color Negative", "Color Positive", "B&W Negative", "B&W Positive"};
const char* const kSettings[] = {"Factory Defaults", "Last Used", nullptr, "Custom"};

bool IsBlackAndWhite(int filmType) { return filmType == 2 || filmType == 3; }
bool IsColourSpaceGrey(int index) {
  const QList<ColorSpaceEntry>& spaces = VirtualScanner::ColorSpaces();
  return index >= 0 && index < spaces.size() &&
         (spaces[index].pixelType == twain::TWPT_GRAY || spaces[index].pixelType == twain::TWPT_BW);
}

int ReadInt(const QString& key, int fallback, int low, int high) {
  bool ok = false;
  const int value = Settings().value(key).toInt(&ok);
  return ok && value >= low && value <= high ? value : fallback;
}

}  // namespace

const QList<ColorSpaceEntry>& VirtualScanner::ColorSpaces() {
  // The first six keep the places they have always had: the current one is stored by index.
  static const QList<ColorSpaceEntry> spaces = {
      {"8 bit Grayscale", twain::TWPT_GRAY, 8}, {"16 bit Grayscale", twain::TWPT_GRAY, 16}, {nullptr, 0, 0},
      {"24 bit RGB", twain::TWPT_RGB, 8},       {"48 bit RGB", twain::TWPT_RGB, 16},        {"48 bit HSL", TWPT_HSL, 16},
      {"32 bit CMYK", twain::TWPT_CMYK, 8},     {nullptr, 0, 0},                            {"Black and White", twain::TWPT_BW, 1},
  };
  return spaces;
}

QString VirtualScanner::ProfileFolder() {
  return QString::fromStdString(win::SystemDirectory()) + QStringLiteral("/COLOR/");
}
// The display's own profile where the desktop publishes one, else sRGB.
QString VirtualScanner::DefaultMonitorProfile() {
  const QString desktop = DesktopDisplayProfile();
  return desktop.isEmpty() ? ProfileFolder() + QStringLiteral("sRGB.icc") : desktop;
}
// Printers reached through CUPS, and PDF, take RGB; a CMYK printer profile the user chooses
// is proofed through sRGB by the image library.
QString VirtualScanner::DefaultPrinterProfile() { return ProfileFolder() + QStringLiteral("sRGB.icc"); }
QString VirtualScanner::DefaultCMYKProfile() { return ProfileFolder() + QStringLiteral("default_cmyk.icc"); }

bool VirtualScanner::UseCMS() const { return Settings().value("Color/UseCMS", true).toBool(); }
void VirtualScanner::SetUseCMS(bool on) { Settings().setValue("Color/UseCMS", on); }

double VirtualScanner::MonitorGamma() const {
  bool ok = false;
  const double gamma = Settings().value("Color/MonitorGamma").toDouble(&ok);
  // 2.2: the application turns it into the display encoding (1 / 2.2) of the matched,
  // linear-light values, which shows sRGB data as stored.
  return ok && std::isfinite(gamma) && gamma >= 0.1 && gamma <= 10.0 ? gamma : 2.2;
}
void VirtualScanner::SetMonitorGamma(double gamma) { Settings().setValue("Color/MonitorGamma", gamma); }

namespace {
QString StoredOr(const char* key, const QString& fallback) {
  const QString stored = Settings().value(key).toString();
  return stored.isEmpty() ? fallback : stored;
}
}  // namespace

QString VirtualScanner::MonitorProfile() const { return StoredOr("Color/MonitorProfile", DefaultMonitorProfile()); }
QString VirtualScanner::PrinterProfile() const { return StoredOr("Color/PrinterProfile", DefaultPrinterProfile()); }
QString VirtualScanner::CMYKProfile() const { return StoredOr("Color/CMYKProfile", DefaultCMYKProfile()); }
void VirtualScanner::SetMonitorProfile(const QString& path) { Settings().setValue("Color/MonitorProfile", path); }
void VirtualScanner::SetPrinterProfile(const QString& path) { Settings().setValue("Color/PrinterProfile", path); }
void VirtualScanner::SetCMYKProfile(const QString& path) { Settings().setValue("Color/CMYKProfile", path); }

int VirtualScanner::Current(ItemList list) const {
  switch (list) {
    case ItemList::Settings: return ReadInt("Items/Settings", 0, 0, 1);
    case ItemList::ColorSpace: {
      const int index = ReadInt("Items/ColorSpace", 3, 0, static_cast<int>(ColorSpaces().size()) - 1);
      return ColorSpaces()[index].text != nullptr ? index : 3;
    }
    case ItemList::FilmType: return ReadInt("Items/FilmType", 1, 0, 3);
  }
  return 0;
}

QList<Item> VirtualScanner::Items(ItemList list) const {
  QList<Item> items;
  const int current = Current(list);
  auto add = [&](const char* const* texts, int count) {
    for (int i = 0; i < count; ++i) {
      if (texts[i] == nullptr) {
        items.push_back({QString(), kItemSeparator, false});
      } else {
        items.push_back({QString::fromUtf8(texts[i]), 0, i == current});
      }
    }
  };
  switch (list) {
    case ItemList::Settings:
      add(kSettings, 4);
      items[3].code = kItemDisabled;  // no custom settings have been saved
      break;
    case ItemList::ColorSpace: {
      const QList<ColorSpaceEntry>& spaces = ColorSpaces();
      for (int i = 0; i < spaces.size(); ++i) {
        if (spaces[i].text == nullptr) items.push_back({QString(), kItemSeparator, false});
        else items.push_back({QString::fromUtf8(spaces[i].text), 0, i == current});
      }
      if (!offeredSpaces_.isEmpty())
        for (int i = 0; i < spaces.size(); ++i)
          if (spaces[i].text != nullptr && !offeredSpaces_.contains({spaces[i].pixelType, spaces[i].bits}))
            items[i].code = kItemDisabled;
      // Black-and-white film scans in grey only.
      if (IsBlackAndWhite(Current(ItemList::FilmType))) {
        for (int i = 0; i < spaces.size(); ++i)
          if (spaces[i].text != nullptr && !IsColourSpaceGrey(i)) items[i].code = kItemDisabled;
      }
      break;
    }
    case ItemList::FilmType: add(kFilmTypes, 4); break;
  }
  return items;
}

bool VirtualScanner::Select(ItemList list, int index) {
  const QList<Item> items = Items(list);
  if (index < 0 || index >= items.size() || items[index].code < 0) return false;
  QSettings settings = Settings();
  switch (list) {
    case ItemList::Settings: settings.setValue("Items/Settings", index); break;
    case ItemList::ColorSpace: settings.setValue("Items/ColorSpace", index); break;
    case ItemList::FilmType:
      settings.setValue("Items/FilmType", index);
      if (IsBlackAndWhite(index) && !IsColourSpaceGrey(Current(ItemList::ColorSpace)))
        settings.setValue("Items/ColorSpace", 0);
      break;
  }
  return true;
}

bool VirtualScanner::FeederAttached() const { return Settings().value("Device/FeederAttached", true).toBool(); }
void VirtualScanner::SetFeederAttached(bool attached) { Settings().setValue("Device/FeederAttached", attached); }
int VirtualScanner::SlidesLoaded() const { return ReadInt("Device/SlidesLoaded", 50, 0, 1000); }
void VirtualScanner::SetSlidesLoaded(int slides) { Settings().setValue("Device/SlidesLoaded", std::max(0, slides)); }
bool VirtualScanner::MediaLoaded() const { return Settings().value("Device/MediaLoaded", true).toBool(); }
void VirtualScanner::SetMediaLoaded(bool loaded) { Settings().setValue("Device/MediaLoaded", loaded); }

void VirtualScanner::Eject() {
  if (CanFeed()) {
    SetSlidesLoaded(SlidesLoaded() - 1);
  } else {
    SetMediaLoaded(false);
  }
}

int VirtualScanner::AutoFeederCount() const { return ReadInt("Device/AutoFeederCount", 0, 0, 1000); }
void VirtualScanner::SetAutoFeederCount(int slides) {
  Settings().setValue("Device/AutoFeederCount", std::clamp(slides, 0, 1000));
}
int VirtualScanner::ScanRequests() const { return ReadInt("Device/ScanRequests", 0, 0, INT32_MAX); }
void VirtualScanner::RequestScan() { Settings().setValue("Device/ScanRequests", ScanRequests() + 1); }

QString VirtualScanner::FilmHolderFolder() const { return Settings().value("Device/FilmHolderFolder").toString(); }
void VirtualScanner::SetFilmHolderFolder(const QString& folder) { Settings().setValue("Device/FilmHolderFolder", folder); }
Film VirtualScanner::LoadedFilm() const {
  return static_cast<Film>(ReadInt("Device/Film", static_cast<int>(Film::Positive), 0, 2));
}
void VirtualScanner::SetLoadedFilm(Film film) { Settings().setValue("Device/Film", static_cast<int>(film)); }
int VirtualScanner::SlidePosition() const { return ReadInt("Device/SlidePosition", 0, 0, INT32_MAX); }
void VirtualScanner::SetSlidePosition(int position) { Settings().setValue("Device/SlidePosition", std::max(0, position)); }

bool VirtualScanner::AutoSaveEnabled() const { return Settings().value("AutoSave/Enabled", false).toBool(); }
void VirtualScanner::SetAutoSaveEnabled(bool on) { Settings().setValue("AutoSave/Enabled", on); }
QString VirtualScanner::AutoSaveFolder() const { return StoredOr("AutoSave/Folder", QDir::homePath()); }
void VirtualScanner::SetAutoSaveFolder(const QString& folder) { Settings().setValue("AutoSave/Folder", folder); }
QString VirtualScanner::AutoSaveStem() const { return StoredOr("AutoSave/Stem", QStringLiteral("scan")); }
void VirtualScanner::SetAutoSaveStem(const QString& stem) { Settings().setValue("AutoSave/Stem", stem); }
int VirtualScanner::AutoSaveFormat() const {
  const int format = ReadInt("AutoSave/Format", 0, -32768, 32767);
  return format == 0 || format == 2 || format == 4 || format == 129 ? format : 0;
}
void VirtualScanner::SetAutoSaveFormat(int format) { Settings().setValue("AutoSave/Format", format); }
int VirtualScanner::AutoSaveQuality() const { return ReadInt("AutoSave/Quality", 3, 1, 21); }
void VirtualScanner::SetAutoSaveQuality(int quality) { Settings().setValue("AutoSave/Quality", quality); }

QRect VirtualScanner::WindowPlacement() const { return Settings().value("Window/Placement").toRect(); }
void VirtualScanner::SetWindowPlacement(const QRect& placement) { Settings().setValue("Window/Placement", placement); }
QVariant VirtualScanner::WindowSetting(const char* name, const QVariant& fallback) const {
  return Settings().value(QStringLiteral("Window/") + QLatin1String(name), fallback);
}
void VirtualScanner::SetWindowSetting(const char* name, const QVariant& value) {
  Settings().setValue(QStringLiteral("Window/") + QLatin1String(name), value);
}

}  // namespace orvax::ds
