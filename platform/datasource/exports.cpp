// The extra exports of "Orvax Scan.ds". The application loads the module by path and binds
// each of these by name; they all run on the application's user-interface thread.
#include "datasource/ds_exports.h"
#include "preferences_dialog.h"
#include "twain_source.h"
#include "virtual_scanner.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

#include <dlfcn.h>

#include <algorithm>
#include <cstring>

#define ORVAX_DS_EXPORT extern "C" __attribute__((visibility("default")))

using namespace orvax;
using namespace orvax::ds;

namespace {

VirtualScanner g_scanner;
TwainSource g_source(g_scanner);

// The module keeps itself loaded once loaded, as Qt does with its plugins: its windows,
// timers and connections hold code of this module that Qt may still run or destroy after
// the last FreeLibrary (a splash closing later, the application object ending).
const bool g_pinned = [] {
  Dl_info info{};
  if (dladdr(static_cast<void*>(&g_scanner), &info) == 0 || info.dli_fname == nullptr) return false;
  return dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}();

QWidget* WidgetOf(win::HWND window) {
  return window != nullptr && window != win::HWND_BROADCAST && win::IsWindow(window)
             ? static_cast<QWidget*>(window->widget)
             : nullptr;
}

// Tells every window of the application that the item lists have changed.
void PostToApplication(const char* message) {
  win::PostMessage(win::HWND_BROADCAST, win::RegisterWindowMessage(message), 0, 0);
}

int Count(ItemList list) { return static_cast<int>(g_scanner.Items(list).size()); }

// Why the ICC profile at PATH cannot serve where only the data colour spaces ALLOWED (ICC
// signatures such as "RGB ") will do; empty when it can.
QString ProfileRefusal(const QString& path, const QStringList& allowed) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QStringLiteral("it cannot be read (%1)").arg(file.errorString());
  const QByteArray header = file.read(40);
  if (header.size() < 40 || header.mid(36, 4) != "acsp") return QStringLiteral("it is not an ICC profile");
  const QString space = QString::fromLatin1(header.mid(16, 4));
  if (allowed.contains(space)) return {};
  QStringList names;
  for (const QString& a : allowed) names << a.trimmed();
  const QString last = names.takeLast();
  const QString wanted = names.isEmpty() ? last : names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
  return QStringLiteral("its color space is %1, and it must be %2").arg(space.trimmed(), wanted);
}

// Puts back a profile the user chose that cannot serve, and says why.
void RefuseUnusableProfiles(QWidget* parent, const QString& monitor, const QString& printer, const QString& cmyk) {
  struct Check {
    const char* what;
    QString previous;
    QString (VirtualScanner::*get)() const;
    void (VirtualScanner::*set)(const QString&);
    QStringList allowed;
  };
  // The screen and the device take RGB; a CMYK or grey printer is printed as a proof; the
  // CMYK colour space needs a CMYK profile.
  const Check checks[] = {
      {"monitor", monitor, &VirtualScanner::MonitorProfile, &VirtualScanner::SetMonitorProfile, {"RGB "}},
      {"printer", printer, &VirtualScanner::PrinterProfile, &VirtualScanner::SetPrinterProfile, {"RGB ", "CMYK", "GRAY"}},
      {"CMYK", cmyk, &VirtualScanner::CMYKProfile, &VirtualScanner::SetCMYKProfile, {"CMYK"}},
  };
  QStringList refusals;
  for (const Check& c : checks) {
    const QString chosen = (g_scanner.*c.get)();
    if (chosen == c.previous) continue;
    const QString why = ProfileRefusal(chosen, c.allowed);
    if (why.isEmpty()) continue;
    (g_scanner.*c.set)(c.previous);
    refusals << QStringLiteral("The %1 profile %2 cannot be used: %3. The profile %4 is kept.")
                    .arg(QString::fromLatin1(c.what), chosen, why, c.previous);
  }
  if (refusals.isEmpty()) return;
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Orvax Scan Preferences"), refusals.join(QStringLiteral("\n\n")),
                  QMessageBox::Ok, parent);
  box.setObjectName(QStringLiteral("OrvaxProfileRefusal"));
  box.exec();
}

int GetItem(ItemList list, int index, char* text, int size, int* checked) {
  const QList<Item> items = g_scanner.Items(list);
  const bool valid = index >= 0 && index < items.size();
  if (checked != nullptr) *checked = valid && items[index].checked ? 1 : 0;
  if (text != nullptr && size > 0) {
    const QByteArray bytes = valid ? items[index].text.toLocal8Bit() : QByteArray();
    const size_t length = std::min(static_cast<size_t>(bytes.size()), static_cast<size_t>(size - 1));
    std::memcpy(text, bytes.constData(), length);
    text[length] = '\0';
  }
  return valid ? items[index].code : kItemDisabled;
}

void SelectItem(ItemList list, int index) {
  if (!g_scanner.Select(list, index)) return;
  PostToApplication(kRefreshMenusMsg);
  // The scanner's window shows the same lists; another film type reads the preview anew.
  if (ScanWindow* window = g_source.Window()) {
    window->Refresh();
    if (list == ItemList::FilmType) window->Preview();
  }
}

}  // namespace

ORVAX_DS_EXPORT void ShowAbout(int mode, win::HWND window) {
  const QString text = QStringLiteral("Orvax Scan 2.2\nTWAIN data source for the Orvax film scanner\nVersion %1.%2")
                           .arg(kVersionMajor)
                           .arg(kVersionMinor);
  if (mode == kAboutStartup) {
    // A passing splash that closes itself.
    auto* splash = new QLabel(text, nullptr, Qt::SplashScreen | Qt::FramelessWindowHint);
    splash->setObjectName("OrvaxSplash");
    splash->setAttribute(Qt::WA_DeleteOnClose);
    splash->setAlignment(Qt::AlignCenter);
    splash->setMargin(24);
    splash->setFrameStyle(QFrame::Box);
    splash->show();
    QTimer::singleShot(1500, splash, &QWidget::close);
  } else if (mode == kAboutCommand) {
    QMessageBox::about(WidgetOf(window), QStringLiteral("About Orvax Scan"), text);
  }
}

ORVAX_DS_EXPORT int ShowPreferences(win::HWND mainWindow, int page) {
  PreferencesDialog dialog(g_scanner, page, WidgetOf(mainWindow));
  if (dialog.exec() != QDialog::Accepted) return 2;  // IDCANCEL
  // What the open documents show depends on these; any change is announced.
  const auto colourSettings = [] {
    return QStringList{g_scanner.UseCMS() ? QStringLiteral("1") : QStringLiteral("0"),
                       QString::number(g_scanner.MonitorGamma(), 'g', 17), g_scanner.MonitorProfile(),
                       g_scanner.PrinterProfile(), g_scanner.CMYKProfile()};
  };
  const QStringList before = colourSettings();
  bool gammaChanged = false;
  const bool reopen = dialog.Apply(&gammaChanged);
  RefuseUnusableProfiles(WidgetOf(mainWindow), before[2], before[3], before[4]);
  if (gammaChanged || colourSettings() != before) {
    const win::UINT msg = win::RegisterWindowMessage(kUpdatePrefsMsg);
    if (!win::PostMessage(mainWindow, msg, 0, 0)) win::PostMessage(win::HWND_BROADCAST, msg, 0, 0);
  }
  if (reopen) return kPreferencesReopen;
  PostToApplication(kRefreshMenusMsg);  // the device page may have changed the feeder
  return 1;                             // IDOK
}

ORVAX_DS_EXPORT int CanShowPreferences() { return 1; }
ORVAX_DS_EXPORT int UseCMS() { return g_scanner.UseCMS() ? 1 : 0; }
ORVAX_DS_EXPORT void GetMonitorProfile(CString* text) {
  if (text) text->Assign(g_scanner.MonitorProfile().toStdString());
}
ORVAX_DS_EXPORT void GetPrinterProfile(CString* text) {
  if (text) text->Assign(g_scanner.PrinterProfile().toStdString());
}
ORVAX_DS_EXPORT void GetCMYKProfile(CString* text) {
  if (text) text->Assign(g_scanner.CMYKProfile().toStdString());
}
ORVAX_DS_EXPORT void GetProfilePath(CString* text) {
  if (text) text->Assign(VirtualScanner::ProfileFolder().toStdString());
}
ORVAX_DS_EXPORT double GetMonitorGamma() { return g_scanner.MonitorGamma(); }

ORVAX_DS_EXPORT int GetSettingsCount() { return Count(ItemList::Settings); }
ORVAX_DS_EXPORT int GetColorSpaceCount() { return Count(ItemList::ColorSpace); }
ORVAX_DS_EXPORT int GetFilmTypeCount() { return Count(ItemList::FilmType); }
ORVAX_DS_EXPORT int GetSettingsItem(int index, char* text, int size, int* checked) {
  return GetItem(ItemList::Settings, index, text, size, checked);
}
ORVAX_DS_EXPORT int GetColorSpaceItem(int index, char* text, int size, int* checked) {
  return GetItem(ItemList::ColorSpace, index, text, size, checked);
}
ORVAX_DS_EXPORT int GetFilmTypeItem(int index, char* text, int size, int* checked) {
  return GetItem(ItemList::FilmType, index, text, size, checked);
}
ORVAX_DS_EXPORT void SelectSettingsItem(int index) { SelectItem(ItemList::Settings, index); }
ORVAX_DS_EXPORT void SelectColorSpaceItem(int index) { SelectItem(ItemList::ColorSpace, index); }
ORVAX_DS_EXPORT void SelectFilmTypeItem(int index) { SelectItem(ItemList::FilmType, index); }

ORVAX_DS_EXPORT int CanFeed() { return g_scanner.CanFeed() ? 1 : 0; }
ORVAX_DS_EXPORT int CanEject() { return g_scanner.CanEject() ? 1 : 0; }
ORVAX_DS_EXPORT void Eject() {
  g_scanner.Eject();
  PostToApplication(kRefreshMenusMsg);
}
ORVAX_DS_EXPORT void SetAutoFeeder(int slides) { g_scanner.SetAutoFeederCount(slides); }
ORVAX_DS_EXPORT void StartScan() {
  g_scanner.RequestScan();
  g_source.StartFeeder();
}

// The TWAIN entry: every triplet the data source manager forwards.
ORVAX_DS_EXPORT twain::TW_UINT16 DS_Entry(twain::TW_IDENTITY* origin, twain::TW_UINT32 dg, twain::TW_UINT16 dat,
                                          twain::TW_UINT16 msg, twain::TW_MEMREF data) {
  return g_source.Entry(origin, dg, dat, msg, data);
}
