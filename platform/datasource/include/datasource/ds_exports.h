// The extra exports of the data source module "Orvax Scan.ds", as the application calls
// them: plain C functions looked up by name. Texts travel in CString, a small string
// object that the caller owns and the module fills.
#pragma once

#include "win/window_messages.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <string>

namespace orvax::ds {

// The string object the module fills. Header-only, so the application and the module
// agree on its layout; both sides use the process's one C++ run-time.
class CString {
 public:
  CString() = default;
  explicit CString(const char* text) { Assign(text); }
  void Assign(const char* text) { text_ = text != nullptr ? text : ""; }
  void Assign(const std::string& text) { text_ = text; }
  const char* c_str() const { return text_.c_str(); }
  const std::string& str() const { return text_; }
  size_t GetLength() const { return text_.size(); }
  bool IsEmpty() const { return text_.empty(); }
  void Empty() { text_.clear(); }

 private:
  std::string text_;
};

// Result of ShowPreferences when a change needs the data source reopened.
constexpr int kPreferencesReopen = 1001;
// ShowAbout modes: 5 at start-up (a passing splash), 0 from the About command (modal).
constexpr int kAboutStartup = 5;
constexpr int kAboutCommand = 0;
// ShowPreferences pages: 0 the preferences, 2 the device.
constexpr int kPagePreferences = 0;
constexpr int kPageDevice = 2;
// Item codes of the Get...Item exports.
constexpr int kItemSeparator = -1;
constexpr int kItemDisabled = -2;

// Names of the registered messages the module posts to the application's windows.
inline constexpr const char kRefreshMenusMsg[] = "OrvaxRefreshMenusMsg";
inline constexpr const char kUpdatePrefsMsg[] = "OrvaxUpdatePrefsMsg";

extern "C" {
using ShowAboutFn = void (*)(int mode, win::HWND window);
using ShowPreferencesFn = int (*)(win::HWND mainWindow, int page);
using IntQueryFn = int (*)();  // CanShowPreferences, UseCMS, the counts, CanFeed, CanEject
using GetTextFn = void (*)(CString* text);  // the three profile getters and GetProfilePath
using GetMonitorGammaFn = double (*)();
using GetItemFn = int (*)(int index, char* text, int size, int* checked);
using SelectItemFn = void (*)(int index);
using ActionFn = void (*)();  // Eject, StartScan
using SetAutoFeederFn = void (*)(int slides);
}

// Every extra export, in the order the application binds them.
inline constexpr std::array<const char*, 23> kExportNames = {
    "ShowAbout",          "ShowPreferences",     "CanShowPreferences", "UseCMS",
    "GetMonitorProfile",  "GetPrinterProfile",   "GetCMYKProfile",     "GetProfilePath",
    "GetMonitorGamma",    "GetSettingsCount",    "GetColorSpaceCount", "GetFilmTypeCount",
    "GetSettingsItem",    "GetColorSpaceItem",   "GetFilmTypeItem",    "SelectSettingsItem",
    "SelectColorSpaceItem", "SelectFilmTypeItem", "CanFeed",           "CanEject",
    "Eject",              "SetAutoFeeder",       "StartScan",
};

}  // namespace orvax::ds
