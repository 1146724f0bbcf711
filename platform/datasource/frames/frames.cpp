#include "frames.h"

#include "datasource/ds_twain.h"

#include <tessera/tessera.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstring>

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

}  // namespace

bool ParseFrameKind(const QString& name, FrameKind* kind) {
  if (name == "chart") *kind = FrameKind::Chart;
  else if (name == "ramps") *kind = FrameKind::Ramps;
  else if (name == "scene") *kind = FrameKind::Scene;
  else return false;
  return true;
}

void BuiltInRow(FrameKind kind, int width, int height, int y, int x0, int count, uint16_t* rgb) {
  const double w = width, h = height;
  auto put = [&](int x, uint16_t r, uint16_t g, uint16_t b) {
    uint16_t* p = rgb + static_cast<size_t>(x - x0) * 3;
    p[0] = r;
    p[1] = g;
    p[2] = b;
  };
  for (int x = x0; x < x0 + count; ++x) {
    switch (kind) {
      case FrameKind::Chart: {
        // 6 x 4 patches with a dark border between them.
        const int col = std::min(5, static_cast<int>(x * 6 / w));
        const int row = std::min(3, static_cast<int>(y * 4 / h));
        const double fx = x * 6 / w - col, fy = y * 4 / h - row;
        if (fx < 0.08 || fy < 0.08) {
          put(x, 0x0800, 0x0800, 0x0800);
        } else {
          const uint8_t* c = kChart[row * 6 + col];
          put(x, c[0] * 257, c[1] * 257, c[2] * 257);
        }
        break;
      }
      case FrameKind::Ramps: {
        // A full-range grey ramp across the top half, red, green and blue ramps below.
        const uint16_t v = width > 1 ? static_cast<uint16_t>(static_cast<uint32_t>(x) * 65535u / (width - 1)) : 0;
        if (y < height / 2) {
          put(x, v, v, v);
        } else {
          const int band = std::min(2, static_cast<int>((y - height / 2) * 3 / std::max(1.0, h - height / 2)));
          put(x, band == 0 ? v : 0, band == 1 ? v : 0, band == 2 ? v : 0);
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
        put(x, Clamp16(r * 65535), Clamp16(g * 65535), Clamp16(b * 65535));
        break;
      }
    }
  }
}

Frame BuiltInFrame(FrameKind kind, int width, int height) {
  Frame f;
  f.width = std::max(1, width);
  f.height = std::max(1, height);
  f.rgb.assign(static_cast<size_t>(f.width) * f.height * 3, 0);
  for (int y = 0; y < f.height; ++y)
    BuiltInRow(kind, f.width, f.height, y, 0, f.width, &f.rgb[static_cast<size_t>(y) * f.width * 3]);
  return f;
}

bool ParseFilm(const QString& name, Film* film) {
  if (name == "positive") *film = Film::Positive;
  else if (name == "color-negative") *film = Film::ColorNegative;
  else if (name == "bw-negative") *film = Film::BwNegative;
  else return false;
  return true;
}

bool ParseFilmType(const QString& name, FilmType* type) {
  if (name == "color-negative") *type = FilmType::ColorNegative;
  else if (name == "color-positive") *type = FilmType::ColorPositive;
  else if (name == "bw-negative") *type = FilmType::BwNegative;
  else if (name == "bw-positive") *type = FilmType::BwPositive;
  else return false;
  return true;
}

namespace {
// The film stocks: the light the unexposed base lets through in red, green and blue (the
// orange mask of colour negative film; the grey base and fog of B&W film), and the part of
// it that the densest exposure still lets through.
constexpr double kColorBase[3] = {0.92, 0.58, 0.34};
constexpr double kBwBase[3] = {0.86, 0.86, 0.86};
constexpr double kDensity = 0.97;

void Negative(const double base[3], const double picture[3], uint16_t* out) {
  for (int c = 0; c < 3; ++c) out[c] = Clamp16(base[c] * (1.0 - kDensity * picture[c]) * 65535.0);
}
void Invert(const double base[3], const uint16_t* light, uint16_t* out) {
  for (int c = 0; c < 3; ++c) out[c] = Clamp16((1.0 - light[c] / 65535.0 / base[c]) / kDensity * 65535.0);
}
}  // namespace

void ExposeFilm(Film film, uint16_t* rgb, int count) {
  if (film == Film::Positive) return;
  for (int i = 0; i < count; ++i) {
    uint16_t* p = rgb + static_cast<size_t>(i) * 3;
    double picture[3];
    if (film == Film::BwNegative) {
      picture[0] = picture[1] = picture[2] = Luminance(p[0], p[1], p[2]) / 65535.0;
      Negative(kBwBase, picture, p);
    } else {
      for (int c = 0; c < 3; ++c) picture[c] = p[c] / 65535.0;
      Negative(kColorBase, picture, p);
    }
  }
}

void ReadFilm(FilmType type, uint16_t* rgb, int count) {
  if (type == FilmType::ColorPositive) return;
  for (int i = 0; i < count; ++i) {
    uint16_t* p = rgb + static_cast<size_t>(i) * 3;
    if (type == FilmType::ColorNegative) Invert(kColorBase, p, p);
    if (type == FilmType::BwNegative) Invert(kBwBase, p, p);
    if (type == FilmType::BwNegative || type == FilmType::BwPositive) p[0] = p[1] = p[2] = Luminance(p[0], p[1], p[2]);
  }
}

QRect AreaPixels(const QRectF& area, int width, int height) {
  width = std::max(1, width);
  height = std::max(1, height);
  if (!area.isValid() || area.isEmpty()) return {0, 0, width, height};
  auto span = [](double from, double to, int size, int* start, int* end) {
    *start = static_cast<int>(std::clamp(std::lround(from * size), 0L, static_cast<long>(size - 1)));
    *end = static_cast<int>(std::clamp(std::lround(to * size), static_cast<long>(*start + 1), static_cast<long>(size)));
  };
  int x0, x1, y0, y1;
  span(area.left(), area.right(), width, &x0, &x1);
  span(area.top(), area.bottom(), height, &y0, &y1);
  return {x0, y0, x1 - x0, y1 - y0};
}

Frame Crop(const Frame& frame, const QRect& part) {
  if (part == QRect(0, 0, frame.width, frame.height)) return frame;
  Frame out;
  out.width = part.width();
  out.height = part.height();
  out.rgb.resize(static_cast<size_t>(out.width) * out.height * 3);
  for (int y = 0; y < out.height; ++y)
    std::memcpy(&out.rgb[static_cast<size_t>(y) * out.width * 3],
                &frame.rgb[(static_cast<size_t>(part.top() + y) * frame.width + part.left()) * 3],
                static_cast<size_t>(out.width) * 3 * sizeof(uint16_t));
  return out;
}

QStringList FilmHolderFiles(const QString& folder, QStringList* skipped) {
  if (skipped != nullptr) skipped->clear();
  if (folder.isEmpty()) return {};
  QDir dir(folder);
  static const QStringList kSuffixes = {"bmp", "jpg", "jpeg", "tif", "tiff", "fpx"};
  QStringList paths;
  for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
    if (kSuffixes.contains(QFileInfo(name).suffix().toLower())) paths << dir.filePath(name);
    else if (skipped != nullptr) *skipped << name;
  }
  return paths;
}

QString HolderSlide(const QStringList& files, int position) {
  return files.isEmpty() ? QString() : files[std::max(0, position) % static_cast<int>(files.size())];
}

namespace {
// Why the image library could not read a slide, in words.
QString ReadFailure(long status) {
  QString why;
  if (status == TES_ERR_UNKNOWN_FORMAT) why = QStringLiteral("not an image this scanner reads");
  else if (status == TES_ERR_IN_OPEN) why = QStringLiteral("the file cannot be opened");
  else if (status == TES_ERR_IN_EOF) why = QStringLiteral("the file ends early (truncated)");
  else if (status == TES_ERR_IN_READ || status == TES_ERR_IN_SEEK) why = QStringLiteral("the file cannot be read");
  else if (status == TES_ERR_NO_MEMORY) why = QStringLiteral("not enough memory");
  else if (status == TES_ERR_BMP_DEPTH) why = QStringLiteral("a bit depth this scanner does not read");
  else if (status == TES_ERR_BMP_COMPRESSED || status == TES_ERR_TIFF_COMPRESSION)
    why = QStringLiteral("a compression this scanner does not read");
  else if (status == TES_ERR_BMP_HEADER || status == TES_ERR_BMP_COLORS_USED)
    why = QStringLiteral("a damaged or unusual BMP header");
  else if (status >= TES_ERR_JPEG_FIRST && status <= TES_ERR_JPEG_LAST) why = QStringLiteral("damaged JPEG data");
  else if (status >= TES_ERR_TIFF_FIRST && status <= TES_ERR_TIFF_LAST)
    why = QStringLiteral("a TIFF layout this scanner does not read");
  else if (status >= TES_ERR_FPX_COLOR_SPACE && status <= TES_ERR_FPX_UNKNOWN)
    why = QStringLiteral("a FlashPix file this scanner does not read");
  else why = QStringLiteral("the image library could not read it");
  return QStringLiteral("%1 (status %2)").arg(why).arg(status);
}
}  // namespace

bool LoadFrameFile(const QString& path, Frame* frame, QString* why) {
  auto fail = [why](const QString& reason) {
    if (why != nullptr) *why = reason;
    return false;
  };
  // A plain object (no colour management, no engines): the slide's samples as they are.
  TesseraClass image(static_cast<short>(0), static_cast<short>(TES_CS_RGB24));
  const QByteArray native = QFile::encodeName(path);
  char* name = const_cast<char*>(native.constData());
  if (const long status = image.OpenImage(name, TesseraClass::m_s_EmptyTransform, nullptr, nullptr); status != 0)
    return fail(ReadFailure(status));
  tagTes_Image_Desc desc{};
  if (const long status = image.GetImageDesc(&desc); status != 0) return fail(ReadFailure(status));
  if (desc.width <= 0 || desc.height <= 0) return fail(QStringLiteral("the image is empty"));
  const bool known = desc.colorSpace == TES_CS_GRAY8 || desc.colorSpace == TES_CS_GRAY16 ||
                     desc.colorSpace == TES_CS_RGB24 || desc.colorSpace == TES_CS_RGB48;
  if (!known) {
    if (const long status = image.SetColorSpace(TES_CS_RGB24, nullptr); status != 0) return fail(ReadFailure(status));
    if (const long status = image.GetImageDesc(&desc); status != 0) return fail(ReadFailure(status));
  }
  const bool grey = desc.colorSpace == TES_CS_GRAY8 || desc.colorSpace == TES_CS_GRAY16;
  const bool wide = desc.colorSpace == TES_CS_GRAY16 || desc.colorSpace == TES_CS_RGB48;
  const int samples = grey ? 1 : 3;
  const int bytes = wide ? 2 : 1;
  const int rowBytes = desc.width * samples * bytes;
  std::vector<uint8_t> buffer(static_cast<size_t>(rowBytes) * desc.height);
  tagTes_Tile_Desc tile{{0, 0, desc.width, desc.height}, rowBytes, 0};
  if (const long status = image.GetData(tile, buffer.data()); status != 0) return fail(ReadFailure(status));
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

Slide Slide::BuiltIn(FrameKind kind, int width, int height, Film film) {
  Slide slide;
  slide.kind_ = kind;
  slide.film_ = film;
  slide.width_ = std::max(1, width);
  slide.height_ = std::max(1, height);
  return slide;
}

bool Slide::FromFile(const QString& path, Film film, Slide* slide, QString* why) {
  Slide loaded;
  if (!LoadFrameFile(path, &loaded.file_, why)) return false;
  loaded.builtIn_ = false;
  loaded.film_ = film;
  loaded.width_ = loaded.file_.width;
  loaded.height_ = loaded.file_.height;
  *slide = std::move(loaded);
  return true;
}

void Slide::ReadRow(FilmType type, int y, int x0, int count, uint16_t* rgb) const {
  if (builtIn_) BuiltInRow(kind_, width_, height_, y, x0, count, rgb);
  else std::memcpy(rgb, &file_.rgb[(static_cast<size_t>(y) * width_ + x0) * 3], static_cast<size_t>(count) * 6);
  ExposeFilm(film_, rgb, count);
  ReadFilm(type, rgb, count);
}

Frame Slide::Preview(FilmType type, int maxWidth, int maxHeight) const {
  const double scale = std::min({1.0, static_cast<double>(maxWidth) / width_, static_cast<double>(maxHeight) / height_});
  Frame out;
  out.width = std::max(1, static_cast<int>(std::lround(width_ * scale)));
  out.height = std::max(1, static_cast<int>(std::lround(height_ * scale)));
  out.rgb.resize(static_cast<size_t>(out.width) * out.height * 3);
  std::vector<uint16_t> row(static_cast<size_t>(width_) * 3);
  for (int y = 0; y < out.height; ++y) {
    uint16_t* dst = &out.rgb[static_cast<size_t>(y) * out.width * 3];
    if (builtIn_) {
      // A built-in frame is drawn afresh at the preview's size.
      BuiltInRow(kind_, out.width, out.height, y, 0, out.width, dst);
      ExposeFilm(film_, dst, out.width);
      ReadFilm(type, dst, out.width);
      continue;
    }
    const int sy = std::min(height_ - 1, static_cast<int>((y + 0.5) * height_ / out.height));
    ReadRow(type, sy, 0, width_, row.data());
    for (int x = 0; x < out.width; ++x) {
      const int sx = std::min(width_ - 1, static_cast<int>((x + 0.5) * width_ / out.width));
      std::memcpy(dst + x * 3, &row[static_cast<size_t>(sx) * 3], 6);
    }
  }
  return out;
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

int DeliveredBits(int pixelType, int bits) { return pixelType == twain::TWPT_BW ? 1 : bits == 16 ? 16 : 8; }

void RenderRow(const uint16_t* rgb, int count, int pixelType, int bits, uint8_t* row) {
  const int samples = SamplesPerPixel(pixelType);
  bits = DeliveredBits(pixelType, bits);
  std::memset(row, 0, static_cast<size_t>((count * samples * bits + 7) / 8));
  for (int x = 0; x < count; ++x) {
    const uint16_t r = rgb[x * 3], g = rgb[x * 3 + 1], b = rgb[x * 3 + 2];
    const uint16_t grey = Luminance(r, g, b);
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
    for (int c = 0; c < samples; ++c) {
      if (bits == 16) {
        std::memcpy(row + (static_cast<size_t>(x) * samples + c) * 2, &s[c], 2);
      } else {
        row[static_cast<size_t>(x) * samples + c] = static_cast<uint8_t>(s[c] >> 8);
      }
    }
  }
}

Raster Render(const Frame& frame, int pixelType, int bits) {
  Raster out;
  out.width = frame.width;
  out.height = frame.height;
  out.pixelType = pixelType;
  out.samplesPerPixel = SamplesPerPixel(pixelType);
  out.bitsPerSample = DeliveredBits(pixelType, bits);
  out.bytesPerRow = (out.width * out.samplesPerPixel * out.bitsPerSample + 7) / 8;
  out.data.assign(static_cast<size_t>(out.bytesPerRow) * out.height, 0);
  for (int y = 0; y < frame.height; ++y)
    RenderRow(&frame.rgb[static_cast<size_t>(y) * frame.width * 3], frame.width, pixelType, bits,
              out.data.data() + static_cast<size_t>(y) * out.bytesPerRow);
  return out;
}

}  // namespace orvax::ds
