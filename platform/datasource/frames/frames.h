// What the virtual film scanner sees and how it turns it into samples: built-in frames (a
// colour chart, grey and colour ramps, a synthetic photographic scene) or the image files of
// a film-holder folder, held as 16-bit RGB; the film the picture is on (a slide, a colour
// negative over its orange base, a B&W negative) and how the scanner reads that film (its
// film type); and the rendering of such a frame into the samples of a TWAIN pixel type and
// bit depth (rows top to bottom, samples interleaved, 16-bit samples in the machine's byte
// order, 1-bit pixels packed from the high bit).
#pragma once

#include <QRect>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace orvax::ds {

enum class FrameKind { Chart, Ramps, Scene };

struct Frame {
  int width = 0;
  int height = 0;
  std::vector<uint16_t> rgb;  // 3 samples a pixel, 0..65535
  uint16_t At(int x, int y, int channel) const { return rgb[(static_cast<size_t>(y) * width + x) * 3 + channel]; }
};

struct Raster {
  int width = 0;
  int height = 0;
  int pixelType = 0;  // TWPT_*
  int bitsPerSample = 8;
  int samplesPerPixel = 1;
  int bytesPerRow = 0;  // of the interleaved rows
  std::vector<uint8_t> data;
};

Frame BuiltInFrame(FrameKind kind, int width, int height);
// COUNT pixels of row Y of KIND at WIDTH x HEIGHT, from column X0 on, 3 samples each.
void BuiltInRow(FrameKind kind, int width, int height, int y, int x0, int count, uint16_t* rgb);
// FrameKind from "chart", "ramps" or "scene"; false for another name.
bool ParseFrameKind(const QString& name, FrameKind* kind);

// The film a picture is on. A built-in frame or a holder file is the picture as taken: on a
// slide the light through the film is that picture; a colour negative holds it inverted over
// the film's orange base; a B&W negative holds its grey levels inverted over a grey base.
enum class Film { Positive, ColorNegative, BwNegative };
// Film from "positive", "color-negative" or "bw-negative"; false for another name.
bool ParseFilm(const QString& name, Film* film);

// How the scanner reads the film: the Film Type items, in the order of that list. A
// negative type inverts the light and takes the base of that kind of film out; a B&W type
// gives grey levels.
enum class FilmType { ColorNegative = 0, ColorPositive = 1, BwNegative = 2, BwPositive = 3 };
// FilmType from "color-negative", "color-positive", "bw-negative" or "bw-positive".
bool ParseFilmType(const QString& name, FilmType* type);

// The light through FILM carrying the picture's COUNT pixels, in place.
void ExposeFilm(Film film, uint16_t* rgb, int count);
// What the scanner makes of COUNT pixels of light in film type TYPE, in place.
void ReadFilm(FilmType type, uint16_t* rgb, int count);
// The grey level the scanner gives a pixel.
inline uint16_t Luminance(uint16_t r, uint16_t g, uint16_t b) {
  return static_cast<uint16_t>((r * 299u + g * 587u + b * 114u + 500u) / 1000u);
}

// The pixels of a frame of WIDTH x HEIGHT that AREA covers (fractions of the frame; an
// empty or invalid AREA is the whole frame). Always at least one pixel inside the frame.
QRect AreaPixels(const QRectF& area, int width, int height);
// PART of FRAME (PART lies inside it).
Frame Crop(const Frame& frame, const QRect& part);

// The image files of FOLDER that can stand in the film holder, in name order; SKIPPED, when
// given, receives the names of the folder's other files.
QStringList FilmHolderFiles(const QString& folder, QStringList* skipped = nullptr);
// The file of FILES the feeder stands at when it is at POSITION (it goes round); empty when
// there are none.
QString HolderSlide(const QStringList& files, int position);
// Reads PATH through the image library; false when it cannot be read, with the reason in
// WHY when given.
bool LoadFrameFile(const QString& path, Frame* frame, QString* why = nullptr);

// One slide in the scanner: a built-in frame at the size a scan gives it, or the picture of
// a holder file at its own size, on its film.
class Slide {
 public:
  static Slide BuiltIn(FrameKind kind, int width, int height, Film film);
  // False when PATH cannot be read, with the reason in WHY.
  static bool FromFile(const QString& path, Film film, Slide* slide, QString* why);

  int Width() const { return width_; }
  int Height() const { return height_; }
  // COUNT pixels of row Y from column X0 on, as the scanner reads them in TYPE.
  void ReadRow(FilmType type, int y, int x0, int count, uint16_t* rgb) const;
  // The whole slide read in TYPE at a low resolution: at most MAXWIDTH x MAXHEIGHT, with
  // the slide's proportions.
  Frame Preview(FilmType type, int maxWidth, int maxHeight) const;

 private:
  bool builtIn_ = true;
  FrameKind kind_ = FrameKind::Chart;
  Film film_ = Film::Positive;
  int width_ = 1, height_ = 1;
  Frame file_;
};

// Samples per pixel of a pixel type (0 for a type the scanner does not deliver).
int SamplesPerPixel(int pixelType);
// FRAME in PIXELTYPE at BITS a sample.
Raster Render(const Frame& frame, int pixelType, int bits);
// Bits a sample the scanner delivers PIXELTYPE in, asked for BITS.
int DeliveredBits(int pixelType, int bits);
// COUNT pixels of 16-bit RGB as one row of PIXELTYPE at DeliveredBits(PIXELTYPE, BITS); OUT
// holds the row's bytes and is overwritten.
void RenderRow(const uint16_t* rgb, int count, int pixelType, int bits, uint8_t* out);
// The 16-bit HSL of a 16-bit RGB pixel.
void RgbToHsl16(uint16_t r, uint16_t g, uint16_t b, uint16_t hsl[3]);

}  // namespace orvax::ds
