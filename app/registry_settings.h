// Preferences kept in the registry's manner: a value is addressed by a root, a section and
// a value name (the latter two as string-table numbers) under
// Software\<company>\<product>\<version>. QSettings in native format holds them: the
// registry itself on Windows, a configuration file elsewhere.
#pragma once

#include <QString>
#include <QVariant>

#include <functional>

namespace orvax::app {

class CRegistrySettings {
 public:
  enum Root { kLocalMachine = 0, kCurrentUser = 1 };

  void SetNames(const QString& company, const QString& product, const QString& version);

  // The key path "Software\company\product\version[\section]" for SECTIONID (0 = none).
  QString KeyPath(int sectionId) const;

  // A REG_DWORD value. A value that is absent, not a number, or refused by VALID reads as
  // DEFAULTVALUE.
  uint32_t GetDWord(Root root, int sectionId, int valueId, uint32_t defaultValue,
                    const std::function<bool(uint32_t)>& valid = {}) const;
  // A signed reading of a REG_DWORD (window positions may be negative).
  int32_t GetInt(Root root, int sectionId, int valueId, int32_t defaultValue,
                 const std::function<bool(int32_t)>& valid = {}) const;
  // A REG_SZ value; a value that is absent or not text reads as DEFAULTVALUE.
  QString GetString(Root root, int sectionId, int valueId, const QString& defaultValue) const;

  // Stores a value; failures are ignored, as a preference that cannot be written only
  // loses its memory.
  void SetDWord(Root root, int sectionId, int valueId, uint32_t value) const;
  void SetString(Root root, int sectionId, int valueId, const QString& value) const;

  // The same values addressed by name (for the numbered "File%d" entries).
  QVariant Read(Root root, int sectionId, const QString& valueName) const;
  void Write(Root root, int sectionId, const QString& valueName, const QVariant& value) const;

 private:
  QString company_ = QStringLiteral("Orvax");
  QString product_ = QStringLiteral("Orvax Scan");
  QString version_ = QStringLiteral("2.0");
};

// The eight values of the General section, read with their defaults and rules.
struct GeneralSettings {
  static bool AutoFitWindow(const CRegistrySettings& reg);
  static void SetAutoFitWindow(const CRegistrySettings& reg, bool on);
  static QString LastDirectory(const CRegistrySettings& reg);
  static void SetLastDirectory(const CRegistrySettings& reg, const QString& folder);
  static QString SaveFormat(const CRegistrySettings& reg);
  static void SetSaveFormat(const CRegistrySettings& reg, const QString& extension);
  // The show command: STARTCOMMAND when absent or not a show command; a stored 2
  // (minimised) and a stored 0 (hidden) read as 1 (normal).
  static int WindowPosCode(const CRegistrySettings& reg, int startCommand);
  static int WindowLeft(const CRegistrySettings& reg);
  static int WindowTop(const CRegistrySettings& reg);
  static int WindowWidth(const CRegistrySettings& reg);
  static int WindowHeight(const CRegistrySettings& reg);
  static void SetPlacement(const CRegistrySettings& reg, int showCommand, int left, int top, int width, int height);
};

// Show commands as Windows numbers them.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_MAX = 11;

}  // namespace orvax::app
