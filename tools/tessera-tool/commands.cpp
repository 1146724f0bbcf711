#include "commands.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <vector>

#include <unistd.h>

#include "win/gdi.h"

namespace tool {

std::string Option(const Args& args, const std::string& name, const std::string& fallback) {
  for (size_t i = 0; i + 1 < args.size(); ++i)
    if (args[i] == name) return args[i + 1];
  return fallback;
}

bool HasFlag(const Args& args, const std::string& name) {
  for (const auto& a : args)
    if (a == name) return true;
  return false;
}

namespace {

int ChannelsOf(int cs) { return cs <= 1 ? 1 : cs == 4 ? 4 : 3; }
int BitsOf(int cs) { return (cs == 0 || cs == 2 || cs == 4) ? 8 : 16; }

// One sample of the chart at (x, y), channel c, as a fraction 0..1.
double ChartSample(const std::string& pattern, int x, int y, int w, int h, int c, int channels) {
  const double u = w > 1 ? double(x) / (w - 1) : 0.0, v = h > 1 ? double(y) / (h - 1) : 0.0;
  if (pattern == "gradient") {
    if (channels == 1) return u;
    return c == 0 ? u : c == 1 ? v : c == 2 ? 1.0 - u : u * v;
  }
  // Chart: a one-pixel frame, eight colour bars in the top half, grey steps below.
  if (x == 0 || y == 0 || x == w - 1 || y == h - 1) return 1.0;
  if (y < h / 2) {
    const int bar = x * 8 / w;
    if (channels == 1) return 1.0 - bar / 7.0;
    if (channels == 4) return c == 3 ? 0.0 : ((bar >> c) & 1) ? 0.0 : 1.0;  // CMY bars
    const int bits = 7 - bar;  // white, yellow, cyan, green, magenta, red, blue, black
    return ((bits >> (2 - c)) & 1) ? 1.0 : 0.0;
  }
  const int step = x * 11 / w;
  if (channels == 4) return c == 3 ? step / 10.0 : 0.0;
  return step / 10.0;
}

}  // namespace

long MakeTestImage(TesseraClass& image, int width, int height, int cs, const std::string& pattern) {
  const int channels = ChannelsOf(cs), bits = BitsOf(cs);
  tagTes_Image_Desc desc{width, height, static_cast<int16_t>(cs), {0, 0, 0, 0}, 300.0};
  if (const long status = image.SetImageDesc(desc, TesseraClass::m_s_EmptyTransform)) return status;
  const int bpp = channels * bits / 8;
  const int strip = 128;
  std::vector<uint8_t> buffer(static_cast<size_t>(width) * bpp * strip);
  for (int y0 = 0; y0 < height; y0 += strip) {
    const int rows = std::min(strip, height - y0);
    for (int y = 0; y < rows; ++y) {
      uint8_t* row = buffer.data() + static_cast<size_t>(y) * width * bpp;
      for (int x = 0; x < width; ++x)
        for (int c = 0; c < channels; ++c) {
          const double s = ChartSample(pattern, x, y0 + y, width, height, c, channels);
          if (bits == 8) {
            row[x * bpp + c] = static_cast<uint8_t>(s * 255.0 + 0.5);
          } else {
            uint16_t v = static_cast<uint16_t>(s * 65535.0 + 0.5);
            if (cs == 5 && c == 0) v = static_cast<uint16_t>(s * 0xFF00);  // L* 0..100
            if (cs == 5 && c > 0) v = static_cast<uint16_t>(0x8000 + (s - 0.5) * 0x4000);
            std::memcpy(row + x * bpp + 2 * c, &v, 2);
          }
        }
    }
    tagTes_Tile_Desc tile{{0, y0, width, rows}, width * bpp, 0};
    if (const long status = image.SetData(tile, TesseraClass::m_s_EmptyTransform, buffer.data())) return status;
  }
  return 0;
}

long ApplyTransforms(TesseraClass& image, const Args& args) {
  const std::string flip = Option(args, "--flip");
  if (flip == "h" || flip == "hv")
    if (const long status = image.FlipH()) return status;
  if (flip == "v" || flip == "hv")
    if (const long status = image.FlipV()) return status;
  const std::string rotate = Option(args, "--rotate");
  if (!rotate.empty()) {
    const double angle = std::stod(rotate);
    if (const long status = image.Rotate(angle)) return status;
  }
  return 0;
}

long RenderToPpm(const TesseraClass& image, const std::string& path, int zoomNum, int zoomDen) {
  tagTes_Image_Desc desc{};
  image.GetImageDesc(&desc);
  const int w = static_cast<int>(static_cast<long long>(desc.width) * zoomNum / zoomDen);
  const int h = static_cast<int>(static_cast<long long>(desc.height) * zoomNum / zoomDen);
  if (w <= 0 || h <= 0) return TES_ERR_NO_IMAGE;
  orvax::win::MemoryDC dc(w, h);
  tagTes_Output_Info info{&dc, 0, 0, w, h, 0, 0, w, h};
  if (const long status = image.Display(info)) return status;
  std::ofstream out(path, std::ios::binary);
  out << "P6\n" << w << " " << h << "\n255\n";
  out.write(reinterpret_cast<const char*>(dc.pixels().data()), static_cast<std::streamsize>(dc.pixels().size()));
  return out.good() ? 0L : static_cast<long>(TES_ERR_OUT_WRITE);
}

namespace {

bool ParseZoom(const std::string& text, int& num, int& den) {
  num = 1, den = 1;
  if (text.empty()) return true;
  return std::sscanf(text.c_str(), "%d:%d", &num, &den) == 2 && num > 0 && den > 0;
}

int Report(long status) {
  std::printf("status=%ld\n", status);
  return status == 0 ? 0 : 1;
}

}  // namespace

int CommandDemo(const Args& args) {
  if (HasFlag(args, "--help") || args.empty()) {
    std::puts(
        "usage: tessera-tool demo OUT.ppm [--size WxH] [--colorspace 0..3] [--pattern chart|gradient]\n"
        "                         [--rotate DEG] [--flip h|v|hv] [--zoom N:D]\n"
        "Builds a test image in memory, turns it, and draws it through Display into OUT.ppm.");
    return args.empty() ? 2 : 0;
  }
  int w = 640, h = 400, num, den;
  std::sscanf(Option(args, "--size", "640x400").c_str(), "%dx%d", &w, &h);
  const int cs = std::stoi(Option(args, "--colorspace", "2"));
  if (!ParseZoom(Option(args, "--zoom"), num, den)) {
    std::fprintf(stderr, "tessera-tool: --zoom takes N:D with positive numbers\n");
    return 2;
  }
  TesseraClass image(0, static_cast<short>(cs));
  long status = MakeTestImage(image, w, h, cs, Option(args, "--pattern", "chart"));
  if (status == 0) status = ApplyTransforms(image, args);
  if (status == 0) status = RenderToPpm(image, args[0], num, den);
  return Report(status);
}

namespace {

const char* FormatName(int code) {
  switch (code) {
    case TES_FILE_TIFF: return "tiff";
    case TES_FILE_TIFF_COMPRESSED: return "tiff-compressed";
    case TES_FILE_JPEG: return "jpeg";
    case TES_FILE_BMP: return "bmp";
    case TES_FILE_FPX: return "fpx";
    case TES_FILE_FPX_JPEG: return "fpx-jpeg";
    default: return "unknown";
  }
}

// The file-type code for a --format name, or 0.
uint32_t FormatCode(const std::string& name) {
  if (name == "bmp") return TES_FILE_BMP;
  if (name == "jpeg" || name == "jpg") return TES_FILE_JPEG;
  if (name == "tiff" || name == "tif") return TES_FILE_TIFF;
  if (name == "fpx") return TES_FILE_FPX;
  if (name == "fpx-jpeg") return TES_FILE_FPX_JPEG;
  return 0;
}

bool WantsHelp(const Args& args, size_t needed) { return HasFlag(args, "--help") || args.size() < needed; }

int Usage(const Args& args, const char* text) {
  std::fputs(text, HasFlag(args, "--help") ? stdout : stderr);
  return HasFlag(args, "--help") ? 0 : 2;
}

// Opens a file into a new object, with the progress bar.
long OpenFile(TesseraClass& image, const std::string& path) {
  std::string name = path;
  char* p = name.data();
  char label[] = "reading";
  return image.OpenImage(p, TesseraClass::m_s_EmptyTransform, &ProgressBar, label);
}

}  // namespace

long ProgressBar(long total, long done, void* user) {
  static const bool terminal = ::isatty(2) != 0;
  if (!terminal || total <= 0) return 0;
  const int width = 40;
  const long shown = std::min(total, done + 1);
  const int filled = static_cast<int>(static_cast<long long>(shown) * width / total);
  std::fprintf(stderr, "\r%-8s [%.*s%*s] %3lld%%", user ? static_cast<const char*>(user) : "", filled,
               "########################################", width - filled, "",
               static_cast<long long>(shown) * 100 / total);
  if (shown >= total) std::fputc('\n', stderr);
  std::fflush(stderr);
  return 0;
}

long DumpPnm(const TesseraClass& image, const std::string& path) {
  tagTes_Image_Desc desc{};
  image.GetImageDesc(&desc);
  const int channels = ChannelsOf(desc.colorSpace), bits = BitsOf(desc.colorSpace);
  const int bytes = channels * bits / 8;
  if (desc.width <= 0 || desc.height <= 0) return TES_ERR_NO_IMAGE;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return TES_ERR_OUT_CREATE;
  const int maxval = bits == 8 ? 255 : 65535;
  if (channels == 4)
    out << "P7\nWIDTH " << desc.width << "\nHEIGHT " << desc.height << "\nDEPTH 4\nMAXVAL " << maxval
        << "\nTUPLTYPE CMYK\nENDHDR\n";
  else
    out << (channels == 1 ? "P5" : "P6") << "\n" << desc.width << " " << desc.height << "\n" << maxval << "\n";
  std::vector<uint8_t> row(static_cast<size_t>(desc.width) * bytes);
  for (int y = 0; y < desc.height; ++y) {
    const tagTes_Tile_Desc tile{{0, y, desc.width, 1}, static_cast<int32_t>(row.size()), 0};
    if (const long status = image.GetData(tile, row.data())) return status;
    if (bits == 16)  // stored little-endian, PNM wants the most significant byte first
      for (size_t i = 0; i + 1 < row.size(); i += 2) std::swap(row[i], row[i + 1]);
    out.write(reinterpret_cast<const char*>(row.data()), static_cast<std::streamsize>(row.size()));
  }
  out.close();
  return out.good() ? 0L : static_cast<long>(TES_ERR_OUT_WRITE);
}

int CommandInfo(const Args& args) {
  if (WantsHelp(args, 1))
    return Usage(args,
                 "usage: tessera-tool info FILE\n"
                 "Identifies FILE without loading its pixels and prints key=value lines: format (the\n"
                 "file-type code and its name), width, height, colorspace, bits, resolution, thumbnail.\n");
  std::string name = args[0];
  char* p = name.data();
  tagTes_Image_Desc desc{};
  short type = 0, thumbnail = 0;
  const long status = TesseraClass::TestFile(p, &desc, &type, &thumbnail);
  if (status == 0) {
    std::printf("format=%d\nformat_name=%s\nwidth=%d\nheight=%d\ncolorspace=%d\nbits=%u,%u,%u,%u\n", type,
                FormatName(type), desc.width, desc.height, desc.colorSpace, desc.bitsPerChannel[0],
                desc.bitsPerChannel[1], desc.bitsPerChannel[2], desc.bitsPerChannel[3]);
    std::printf("resolution=%g\nthumbnail=%d\n", desc.resolution, thumbnail);
  }
  return Report(status);
}

int CommandConvert(const Args& args) {
  static const char usage[] =
      "usage: tessera-tool convert IN OUT --format bmp|jpeg|tiff|fpx|fpx-jpeg [--quality 1..5]\n"
      "                            [--rotate DEG] [--flip h|v|hv] [--colorspace N] [--thumbnail]\n"
      "Reads IN, flips and turns it, converts it to colour space N if asked, and saves it as OUT.\n"
      "--quality is the JPEG and FlashPix-JPEG level (default 3); --thumbnail embeds a thumbnail\n"
      "(JPEG, TIFF). A format this build cannot write answers its status.\n";
  if (WantsHelp(args, 2)) return Usage(args, usage);
  const uint32_t code = FormatCode(Option(args, "--format"));
  if (code == 0) {
    std::fprintf(stderr, "tessera-tool: --format must be bmp, jpeg, tiff, fpx or fpx-jpeg\n%s", usage);
    return 2;
  }
  const int quality = std::stoi(Option(args, "--quality", "3"));
  if (quality < 1 || quality > 5) {
    std::fprintf(stderr, "tessera-tool: --quality takes 1 to 5\n");
    return 2;
  }
  const std::string colorSpace = Option(args, "--colorspace");
  // Converting between colour spaces needs a colour-managed object.
  const short flags = colorSpace.empty() ? 0 : TES_FLAG_COLOR_MANAGED | TES_FLAG_DISPLAY_ENGINE |
                                                   TES_FLAG_PRINT_ENGINE | TES_FLAG_CONVERT_ENGINE;
  TesseraClass image(flags, TES_CS_RGB24);
  long status = OpenFile(image, args[0]);
  if (status == 0) status = ApplyTransforms(image, args);
  if (status == 0 && !colorSpace.empty()) status = image.SetColorSpace(static_cast<short>(std::stoi(colorSpace)), nullptr);
  if (status == 0) {
    const tagTes_File_Spec spec{args[1].c_str(), code, quality};
    char label[] = "writing";
    status = image.Save(spec, &ProgressBar, label, HasFlag(args, "--thumbnail") ? 1 : 0);
  }
  return Report(status);
}

int CommandDump(const Args& args) {
  if (WantsHelp(args, 2))
    return Usage(args,
                 "usage: tessera-tool dump IN OUT.ppm|OUT.pgm\n"
                 "Writes the stored pixels of IN unchanged: grey as PGM, RGB (and Lab, LCh) as PPM, CMYK as\n"
                 "PAM; 16-bit samples as 16-bit PNM.\n");
  TesseraClass image(0, TES_CS_RGB24);
  long status = OpenFile(image, args[0]);
  if (status == 0) status = DumpPnm(image, args[1]);
  return Report(status);
}

int CommandRender(const Args& args) {
  if (WantsHelp(args, 2))
    return Usage(args,
                 "usage: tessera-tool render IN OUT.ppm [--zoom N:D]\n"
                 "Reads IN and draws it through Display into a memory device context at the zoom N/D,\n"
                 "then writes the drawing as OUT.ppm.\n");
  int num, den;
  if (!ParseZoom(Option(args, "--zoom"), num, den)) {
    std::fprintf(stderr, "tessera-tool: --zoom takes N:D with positive numbers\n");
    return 2;
  }
  TesseraClass image(0, TES_CS_RGB24);
  long status = OpenFile(image, args[0]);
  if (status == 0) status = RenderToPpm(image, args[1], num, den);
  return Report(status);
}

}  // namespace tool
