#include "frames.h"

#include "datasource/ds_twain.h"

#include <tessera/tessera.h>

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cmath>

namespace orvax::ds {

namespace {

// 24 patches in the manner of a colour rendition chart, 8-bit sRGB.
constexpr uint8_t kChart[24][3] = {
    {115, 82, 68},   {194, 150, 130}, {98, 122, 157},  {87, 108, 67},   {133, 128, 177}, {103, 189, 170},
    {214, 126, 44},  {80, 91, 166},   {193, 90, 99},   {94, 60, 108},   {157, 188, 64},  {224, 163, 46},
    {56, 61, 150},   {70, 148, 73},   {175, 54, 60},   {231, 199, 31},  {187, 86, 149},  {8, 133, 161},
    {243, 243, 242}, {200, 200, 200}, {160, 160, 160}, {122, 122, 121}, {85, 85, 85},    {52, 52, 52},
};

uint16_t Clamp16(double v) { return static_cast<uint16_t>(std::clamp(std::lround(v), 0L, 65535L)); }

void Put(Frame& f, int x, int y, uint16_t r, uint16_t g, uint16_t b) {
  uint16_t* p = &f.rgb[(static_cast<size_t>(y) * f.width + x) * 3];
  p[0] = r;
  p[1] = g;
  p[2] = b;
}

}  // namespace

bool ParseFrameKind(const QString& name, FrameKind* kind) {
  if (name == "chart") *kind = FrameKind::Chart;
  else if (name == "ramps") *kind = FrameKind::Ramps;
  else if (name == "scene") *kind = FrameKind::Scene;
  else return false;
  return true;
}

Frame BuiltInFrame(FrameKind kind, int width, int height) {
  Frame f;
  f.width = std::max(1, width);
  f.height = std::max(1, height);
  f.rgb.assign(static_cast<size_t>(f.width) * f.height * 3, 0);
  const double w = f.width, h = f.height;
  for (int y = 0; y < f.height; ++y) {
    for (int x = 0; x < f.width; ++x) {
      switch (kind) {
        case FrameKind::Chart: {
          // 6 x 4 patches with a dark border between them.
          const int col = std::min(5, static_cast<int>(x * 6 / w));
          const int row = std::min(3, static_cast<int>(y * 4 / h));
          const double fx = x * 6 / w - col, fy = y * 4 / h - row;
          if (fx < 0.08 || fy < 0.08) {
            Put(f, x, y, 0x0800, 0x0800, 0x0800);
          } else {
            const uint8_t* c = kChart[row * 6 + col];
            Put(f, x, y, c[0] * 257, c[1] * 257, c[2] * 257);
          }
          break;
        }
        case FrameKind::Ramps: {
          // A full-range grey ramp across the top half, red, green and blue ramps below.
          const uint16_t v = f.width > 1 ? static_cast<uint16_t>(static_cast<uint32_t>(x) * 65535u / (f.width - 1)) : 0;
          if (y < f.height / 2) {
            Put(f, x, y, v, v, v);
          } else {
            const int band = std::min(2, static_cast<int>((y - f.height / 2) * 3 / std::max(1.0, h - f.height / 2)));
            Put(f, x, y, band == 0 ? v : 0, band == 1 ? v : 0, band == 2 ? v : 0);
          }
          break;
        }
        case FrameKind::Scene: {
          // Sky fading towards the horizon, a sun, rolling hills and a field.
          const double u = x / w, t = y / h;
          const double hill = 0.62 + 0.06 * std::sin(u * 9.0) + 0.03 * std::sin(u * 23.0 + 1.0);
          const double sun = std::hypot(u - 0.72, (t - 0.22) * h / w);
          double r, g, b;
          if (t < hill) {
            r = 0.35 + 0.5 * t;
            g = 0.55 + 0.35 * t;
            b = 0.95 - 0.2 * t;
            if (sun < 0.07) r = 1.0, g = 0.93, b = 0.7;
            else if (sun < 0.12) r += (0.12 - sun) * 6, g += (0.12 - sun) * 4;
          } else {
            const double d = (t - hill) / (1.0 - hill + 1e-9);
            r = 0.22 + 0.25 * d + 0.05 * std::sin(u * 80.0);
            g = 0.45 - 0.15 * d;
            b = 0.12 + 0.05 * d;
          }
          Put(f, x, y, Clamp16(r * 65535), Clamp16(g * 65535), Clamp16(b * 65535));
          break;
        }
      }
    }
  }
  return f;
}

QStringList FilmHolderFiles(const QString& folder) {
  if (folder.isEmpty()) return {};
  QDir dir(folder);
  const QStringList names = dir.entryList({"*.bmp", "*.jpg", "*.jpeg", "*.tif", "*.tiff", "*.fpx", "*.BMP", "*.JPG",
                                           "*.JPEG", "*.TIF", "*.TIFF", "*.FPX"},
                                          QDir::Files, QDir::Name);
  QStringList paths;
  for (const QString& name : names) paths << dir.filePath(name);
  paths.removeDuplicates();
  return paths;
}

bool LoadFrameFile(const QString& path, Frame* frame) {
  TesseraClass image(static_cast<short>(0), static_cast<short>(2));
  const QByteArray native = QFile::encodeName(path);
  char* name = const_cast<char*>(native.constData());
  if (image.OpenImage(name, TesseraClass::m_s_EmptyTransform, nullptr, nullptr) != 0) return false;
  tagTes_Image_Desc desc{};
  if (image.GetImageDesc(&desc) != 0 || desc.width <= 0 || desc.height <= 0) return false;
  if (desc.colorSpace > 3) {
    if (image.SetColorSpace(2, nullptr) != 0 || image.GetImageDesc(&desc) != 0) return false;
  }
  const bool grey = desc.colorSpace <= 1;
  const bool wide = desc.colorSpace == 1 || desc.colorSpace == 3;
  const int samples = grey ? 1 : 3;
  const int bytes = wide ? 2 : 1;
  const int rowBytes = desc.width * samples * bytes;
  std::vector<uint8_t> buffer(static_cast<size_t>(rowBytes) * desc.height);
  tagTes_Tile_Desc tile{{0, 0, desc.width, desc.height}, rowBytes, 0};
  if (image.GetData(tile, buffer.data()) != 0) return false;
  frame->width = desc.width;
  frame->height = desc.height;
  frame->rgb.assign(static_cast<size_t>(desc.width) * desc.height * 3, 0);
  for (int y = 0; y < desc.height; ++y) {
    const uint8_t* row = buffer.data() + static_cast<size_t>(y) * rowBytes;
    for (int x = 0; x < desc.width; ++x) {
      for (int c = 0; c < 3; ++c) {
        const int s = grey ? 0 : c;
        uint16_t v;
        if (wide) {
          uint16_t raw;
          std::memcpy(&raw, row + (static_cast<size_t>(x) * samples + s) * 2, 2);
          v = raw;
        } else {
          v = static_cast<uint16_t>(row[static_cast<size_t>(x) * samples + s] * 257);
        }
        frame->rgb[(static_cast<size_t>(y) * desc.width + x) * 3 + c] = v;
      }
    }
  }
  return true;
}

int SamplesPerPixel(int pixelType) {
  switch (pixelType) {
    case twain::TWPT_BW:
    case twain::TWPT_GRAY: return 1;
    case twain::TWPT_RGB:
    case TWPT_HSL: return 3;
    case twain::TWPT_CMYK: return 4;
    default: return 0;
  }
}

void RgbToHsl16(uint16_t r16, uint16_t g16, uint16_t b16, uint16_t hsl[3]) {
  const double r = r16 / 65535.0, g = g16 / 65535.0, b = b16 / 65535.0;
  const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
  const double l = (mx + mn) / 2, d = mx - mn;
  double h = 0, s = 0;
  if (d > 0) {
    s = l > 0.5 ? d / (2 - mx - mn) : d / (mx + mn);
    if (mx == r) h = (g - b) / d + (g < b ? 6 : 0);
    else if (mx == g) h = (b - r) / d + 2;
    else h = (r - g) / d + 4;
    h /= 6;
  }
  hsl[0] = Clamp16(h * 65535);
  hsl[1] = Clamp16(s * 65535);
  hsl[2] = Clamp16(l * 65535);
}

Raster Render(const Frame& frame, int pixelType, int bits) {
  Raster out;
  out.width = frame.width;
  out.height = frame.height;
  out.pixelType = pixelType;
  out.samplesPerPixel = SamplesPerPixel(pixelType);
  out.bitsPerSample = pixelType == twain::TWPT_BW ? 1 : bits == 16 ? 16 : 8;
  out.bytesPerRow = (out.width * out.samplesPerPixel * out.bitsPerSample + 7) / 8;
  out.data.assign(static_cast<size_t>(out.bytesPerRow) * out.height, 0);
  for (int y = 0; y < frame.height; ++y) {
    uint8_t* row = out.data.data() + static_cast<size_t>(y) * out.bytesPerRow;
    for (int x = 0; x < frame.width; ++x) {
      const uint16_t r = frame.At(x, y, 0), g = frame.At(x, y, 1), b = frame.At(x, y, 2);
      const uint16_t grey = static_cast<uint16_t>((r * 299u + g * 587u + b * 114u + 500u) / 1000u);
      uint16_t s[4] = {0, 0, 0, 0};
      switch (pixelType) {
        case twain::TWPT_BW:
          if (grey >= 32768) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
          continue;
        case twain::TWPT_GRAY: s[0] = grey; break;
        case twain::TWPT_RGB: s[0] = r, s[1] = g, s[2] = b; break;
        case TWPT_HSL: RgbToHsl16(r, g, b, s); break;
        case twain::TWPT_CMYK: {
          const int r8 = r >> 8, g8 = g >> 8, b8 = b >> 8;
          const int k = 255 - std::max({r8, g8, b8});
          auto part = [k](int v) { return k == 255 ? 0 : (255 - v - k) * 255 / (255 - k); };
          // Stored as 8-bit values in the high byte, so that the 8-bit reduction below keeps them.
          s[0] = static_cast<uint16_t>(part(r8) << 8);
          s[1] = static_cast<uint16_t>(part(g8) << 8);
          s[2] = static_cast<uint16_t>(part(b8) << 8);
          s[3] = static_cast<uint16_t>(k << 8);
          break;
        }
        default: break;
      }
      for (int c = 0; c < out.samplesPerPixel; ++c) {
        if (out.bitsPerSample == 16) {
          std::memcpy(row + (static_cast<size_t>(x) * out.samplesPerPixel + c) * 2, &s[c], 2);
        } else {
          row[static_cast<size_t>(x) * out.samplesPerPixel + c] = static_cast<uint8_t>(s[c] >> 8);
        }
      }
    }
  }
  return out;
}

}  // namespace orvax::ds
