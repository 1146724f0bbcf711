// The scripted mode of the virtual film scanner, for tests and demos without a user: the
// file named by $ORVAX_DS_SCRIPT holds one action a line, run in order once the source is
// enabled, each after the previous one has finished.
//
//   scan [options]          scan one frame and announce it to the application
//   feeder N [options]      scan N slides from the slide feeder as one batch
//   close                   ask the application to close the source
//   quit                    end the application's event loop
//   offer native|memory|both   transfer mechanisms offered from the next opening on
//   device NAME             scan from then on with NAME: virtual, or a SANE device such as test:0
//
// Options (name=value): pixel=bw|gray|rgb|cmyk|hsl, depth=1|8|16, width=, height=, dpi=,
// frame=chart|ramps|scene, holder=FOLDER (slides are that folder's image files),
// area=X,Y,W,H (the part of the frame to scan, in fractions of its width and height, e.g.
// area=0.25,0.25,0.5,0.5; the whole frame without it), film=positive|color-negative|
// bw-negative (the film the picture is on), filmtype=color-negative|color-positive|
// bw-negative|bw-positive (how the scanner reads it; the current Film Type without it), planar=1,
// native=1 (deliver through a native transfer), strip=ROWS (rows a strip),
// cancel-after=N (the user cancels after N strips), fail-strip=N (strip N fails),
// bad-strip=outside|oversize (strip 2 is reported outside the image or larger than the
// buffer), autosave=CODE (ask for auto-save with that format code), folder=, stem=,
// quality=. Lines starting with '#' are comments.
#pragma once

#include "frames.h"

#include <QList>
#include <QRectF>
#include <QString>

#include <optional>

namespace orvax::ds {

struct ScanJob {
  int pixelType = 2;  // TWPT_RGB
  int bits = 8;
  int width = 64;
  int height = 48;
  int dpi = 300;
  bool planar = false;
  bool native = false;
  int stripRows = 16;
  FrameKind frame = FrameKind::Chart;
  QString holder;  // film-holder folder; empty: the built-in frame
  QRectF area;     // fractions of the frame; empty: the whole frame
  Film film = Film::Positive;
  std::optional<FilmType> filmType;  // none: the scanner's current film type
  int count = 1;   // slides in the batch
  int cancelAfter = 0;
  int failStrip = 0;
  enum class BadStrip { None, Outside, Oversize } badStrip = BadStrip::None;
  bool autoSaveSet = false;  // the script decides about auto-save, not the preferences
  int autoSaveFormat = -1;   // -1: no auto-save
  QString autoSaveFolder;
  QString autoSaveStem = QStringLiteral("scan");
  int autoSaveQuality = 3;
};

struct ScriptAction {
  enum class Kind { Scan, Close, Quit, Offer, Device } kind = Kind::Scan;
  ScanJob job;
  QString offer;  // native, memory or both
  QString device;
};

// Parses TEXT; on a malformed line returns nothing and sets ERROR to "line N: why".
std::optional<QList<ScriptAction>> ParseScript(const QString& text, QString* error);

}  // namespace orvax::ds
