// What the virtual film scanner sees and how it turns it into samples: built-in frames (a
// colour chart, grey and colour ramps, a synthetic photographic scene) or the image files of
// a film-holder folder, held as 16-bit RGB, and the rendering of such a frame into the
// samples of a TWAIN pixel type and bit depth (rows top to bottom, samples interleaved,
// 16-bit samples in the machine's byte order, 1-bit pixels packed from the high bit).
#pragma once

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
// FrameKind from "chart", "ramps" or "scene"; false for another name.
bool ParseFrameKind(const QString& name, FrameKind* kind);

// The image files of FOLDER that can stand in the film holder, in name order.
QStringList FilmHolderFiles(const QString& folder);
// Reads PATH through the image library; false when it cannot be read.
bool LoadFrameFile(const QString& path, Frame* frame);

// Samples per pixel of a pixel type (0 for a type the scanner does not deliver).
int SamplesPerPixel(int pixelType);
// FRAME in PIXELTYPE at BITS a sample.
Raster Render(const Frame& frame, int pixelType, int bits);
// The 16-bit HSL of a 16-bit RGB pixel.
void RgbToHsl16(uint16_t r, uint16_t g, uint16_t b, uint16_t hsl[3]);

}  // namespace orvax::ds
