// The state of the virtual film scanner behind the data source module: the item lists of
// its menus, colour management and profiles, and the slide feeder. Everything is kept with
// QSettings under the module's own name, so it outlives a run like a real driver's settings.
#pragma once

#include "frames.h"

#include <QRect>
#include <QVariant>
#include <QString>
#include <QStringList>

namespace orvax::ds {

// One of the three item lists the application shows as menus.
enum class ItemList { Settings, ColorSpace, FilmType };

struct Item {
  QString text;
  int code = 0;  // 0 normal, kItemSeparator, kItemDisabled
  bool checked = false;
};

// One entry of the Scan Color Space list: its text (null for a separator) and what a scan
// in it delivers.
struct ColorSpaceEntry {
  const char* text;
  int pixelType;
  int bits;
};

class VirtualScanner {
 public:
  // The Scan Color Space list, in its order: the one list the application's menu and the
  // scanner's window both show.
  static const QList<ColorSpaceEntry>& ColorSpaces();

  // The profile folder: the system directory's COLOR folder, with a trailing '/'.
  static QString ProfileFolder();
  static QString DefaultMonitorProfile();
  static QString DefaultPrinterProfile();
  static QString DefaultCMYKProfile();

  // Colour management.
  bool UseCMS() const;
  void SetUseCMS(bool on);
  double MonitorGamma() const;  // always > 0
  void SetMonitorGamma(double gamma);
  QString MonitorProfile() const;  // stored path, or the default when none is stored
  QString PrinterProfile() const;
  QString CMYKProfile() const;
  void SetMonitorProfile(const QString& path);
  void SetPrinterProfile(const QString& path);
  void SetCMYKProfile(const QString& path);

  // Item lists.
  QList<Item> Items(ItemList list) const;
  // Makes item INDEX of LIST current; false when it is out of range, a separator or
  // disabled.
  bool Select(ItemList list, int index);
  // The colour spaces (pixel type and depth) the chosen device and the application agree
  // on; the others are disabled in the Color Space list. Empty: every one.
  void SetOfferedColorSpaces(const QList<QPair<int, int>>& offered) { offeredSpaces_ = offered; }
  // The current item of the colour space and film type lists.
  int CurrentColorSpace() const { return Current(ItemList::ColorSpace); }
  FilmType CurrentFilmType() const { return static_cast<FilmType>(Current(ItemList::FilmType)); }

  // Device: the slide feeder and the medium in the holder.
  bool FeederAttached() const;
  void SetFeederAttached(bool attached);
  int SlidesLoaded() const;
  void SetSlidesLoaded(int slides);
  bool MediaLoaded() const;
  void SetMediaLoaded(bool loaded);
  bool CanFeed() const { return FeederAttached() && SlidesLoaded() > 0; }
  bool CanEject() const { return MediaLoaded(); }
  // With the feeder, moves to the next slide; else takes the medium out.
  void Eject();
  // Slides to scan in the next feeder run (0 or more).
  int AutoFeederCount() const;
  void SetAutoFeederCount(int slides);
  // Number of scans asked for by StartScan so far; the scan itself belongs to the TWAIN
  // session of the module.
  int ScanRequests() const;
  void RequestScan();
  // The film holder: a folder whose image files are the slides; empty for the built-in
  // frames.
  QString FilmHolderFolder() const;
  void SetFilmHolderFolder(const QString& folder);
  // The film the slides are on.
  Film LoadedFilm() const;
  void SetLoadedFilm(Film film);
  // The slide the feeder stands at (counts up with every slide fed).
  int SlidePosition() const;
  void SetSlidePosition(int position);

  // Auto-save: whether the source asks the application to save each scan, and how.
  bool AutoSaveEnabled() const;
  void SetAutoSaveEnabled(bool on);
  QString AutoSaveFolder() const;  // the home folder when none is stored
  void SetAutoSaveFolder(const QString& folder);
  QString AutoSaveStem() const;  // "scan" when none is stored
  void SetAutoSaveStem(const QString& stem);
  int AutoSaveFormat() const;  // 0 TIFF, 2 BMP, 4 JPEG, 129 FlashPix
  void SetAutoSaveFormat(int format);
  int AutoSaveQuality() const;
  void SetAutoSaveQuality(int quality);

  // Where the scanner's window was last: the position of its frame and its size; an empty
  // rectangle the first time.
  QRect WindowPlacement() const;
  void SetWindowPlacement(const QRect& placement);
  // What the window was set to (resolution, slide, area), kept over a reopened source.
  QVariant WindowSetting(const char* name, const QVariant& fallback) const;
  void SetWindowSetting(const char* name, const QVariant& value);

 private:
  int Current(ItemList list) const;

  QList<QPair<int, int>> offeredSpaces_;
};

}  // namespace orvax::ds
