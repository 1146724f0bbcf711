// A data source module for tests: every export appends a line naming the call to the file
// $ORVAX_DS_CALL_LOG. Its item lists are fixed; selecting an item posts the refresh message
// as the real module does. Built once more without StartScan, to test a module that lacks an
// export.
#include "datasource/ds_exports.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#define EXPORT extern "C" __attribute__((visibility("default")))

using namespace orvax;

namespace {

void Log(const std::string& line) {
  const char* path = std::getenv("ORVAX_DS_CALL_LOG");
  if (path == nullptr) return;
  if (FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

struct FixedItem {
  const char* text;
  int code;
  int checked;
};
const FixedItem kSettings[] = {{"Alpha", 0, 1}, {"", -1, 0}, {"Gamma", -2, 0}};
const FixedItem kFilm[] = {{"Negative", 0, 0}, {"Positive", 0, 1}};

int Item(const FixedItem* items, int count, int index, char* text, int size, int* checked) {
  if (index < 0 || index >= count) return -2;
  if (text != nullptr && size > 0) {
    std::strncpy(text, items[index].text, static_cast<size_t>(size - 1));
    text[size - 1] = '\0';
  }
  if (checked != nullptr) *checked = items[index].checked;
  return items[index].code;
}

void Refresh() {
  win::PostMessage(win::HWND_BROADCAST, win::RegisterWindowMessage(ds::kRefreshMenusMsg), 0, 0);
}

}  // namespace

EXPORT void ShowAbout(int mode, win::HWND window) {
  Log("ShowAbout " + std::to_string(mode) + (win::IsWindow(window) ? " window" : " nowindow"));
}
EXPORT int ShowPreferences(win::HWND window, int page) {
  Log("ShowPreferences " + std::to_string(page));
  win::PostMessage(window, win::RegisterWindowMessage(ds::kUpdatePrefsMsg), 0, 0);
  const char* result = std::getenv("ORVAX_DS_PREFS_RESULT");
  return result != nullptr ? std::atoi(result) : 1;
}
EXPORT int CanShowPreferences() { Log("CanShowPreferences"); return 1; }
EXPORT int UseCMS() {
  Log("UseCMS");
  const char* cms = std::getenv("ORVAX_DS_USECMS");
  return cms != nullptr ? std::atoi(cms) : 1;
}
EXPORT void GetMonitorProfile(ds::CString* s) { Log("GetMonitorProfile"); s->Assign("/profiles/monitor.icc"); }
EXPORT void GetPrinterProfile(ds::CString* s) { Log("GetPrinterProfile"); s->Assign("/profiles/printer.icc"); }
EXPORT void GetCMYKProfile(ds::CString* s) { Log("GetCMYKProfile"); s->Assign("/profiles/cmyk.icc"); }
EXPORT void GetProfilePath(ds::CString* s) { Log("GetProfilePath"); s->Assign("/profiles/"); }
EXPORT double GetMonitorGamma() {
  Log("GetMonitorGamma");
  const char* gamma = std::getenv("ORVAX_DS_GAMMA");
  return gamma != nullptr ? std::atof(gamma) : 2.0;
}
EXPORT int GetSettingsCount() { Log("GetSettingsCount"); return 3; }
EXPORT int GetColorSpaceCount() { Log("GetColorSpaceCount"); return 0; }
EXPORT int GetFilmTypeCount() { Log("GetFilmTypeCount"); return 2; }
EXPORT int GetSettingsItem(int i, char* t, int n, int* c) { Log("GetSettingsItem " + std::to_string(i) + " " + std::to_string(n)); return Item(kSettings, 3, i, t, n, c); }
EXPORT int GetColorSpaceItem(int i, char* t, int n, int* c) { Log("GetColorSpaceItem " + std::to_string(i)); return -2; }
EXPORT int GetFilmTypeItem(int i, char* t, int n, int* c) { Log("GetFilmTypeItem " + std::to_string(i) + " " + std::to_string(n)); return Item(kFilm, 2, i, t, n, c); }
EXPORT void SelectSettingsItem(int i) { Log("SelectSettingsItem " + std::to_string(i)); Refresh(); }
EXPORT void SelectColorSpaceItem(int i) { Log("SelectColorSpaceItem " + std::to_string(i)); Refresh(); }
EXPORT void SelectFilmTypeItem(int i) { Log("SelectFilmTypeItem " + std::to_string(i)); Refresh(); }
EXPORT int CanFeed() { Log("CanFeed"); return 1; }
EXPORT int CanEject() { Log("CanEject"); return 1; }
EXPORT void Eject() { Log("Eject"); }
EXPORT void SetAutoFeeder(int n) { Log("SetAutoFeeder " + std::to_string(n)); }
#ifndef ORVAX_DS_WITHOUT_START_SCAN
EXPORT void StartScan() { Log("StartScan"); }
#endif
