#include "commands.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "status_text.h"
#include "win/file_replacement.h"
#include "win/gdi.h"
#include "win/windows_root.h"

namespace tool {

namespace {

// The first of the candidate profiles that exists.
std::string FirstExisting(std::initializer_list<std::string> candidates) {
  for (const std::string& path : candidates)
    if (!path.empty() && std::filesystem::exists(path)) return path;
  return *candidates.begin();
}

}  // namespace

LibrarySession::LibrarySession(const Profiles& profiles) {
  const std::string system = orvax::win::SystemDirectory();
  color_ = system.empty() ? std::string() : system + "/COLOR";
  monitor_ = !profiles.monitor.empty()
                 ? profiles.monitor
                 : FirstExisting({color_ + "/sRGB.icc", "/usr/share/color/icc/sRGB.icc", color_ + "/OXsRGB.icm"});
  printer_ = !profiles.printer.empty() ? profiles.printer : monitor_;
  cmyk_ = !profiles.cmyk.empty() ? profiles.cmyk
                                 : FirstExisting({color_ + "/default_cmyk.icc",
                                                  "/usr/share/color/icc/ghostscript/default_cmyk.icc"});
  tagTes_Image_Info info{};
  info.size = sizeof info;
  std::strncpy(info.maker, "Orvax Corp.", sizeof info.maker - 1);
  char *m = monitor_.data(), *p = printer_.data(), *k = cmyk_.data(), *d = color_.data();
  status_ = TesseraClass::InitMosaic(info, m, p, k, d, 1.0);
}

LibrarySession::~LibrarySession() { TesseraClass::CloseMosaic(); }

// ---------------------------------------------------------------------------------------
// Writing without losing what was there

namespace {

// The temporary file being written, removed if the tool is interrupted.
char g_temporary[4096];

void RemoveTemporaryAndExit(int signal) {
  if (g_temporary[0] != '\0') ::unlink(g_temporary);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

long WriteAtomically(const std::string& name, const std::function<long(const std::string&)>& write) {
  namespace fs = std::filesystem;
  // A symbolic link stays as it is: the file it points to is the one replaced.
  std::error_code linkError;
  const std::string path = fs::is_symlink(name, linkError) && fs::exists(name, linkError)
                               ? fs::canonical(name, linkError).string()
                               : name;
  const fs::path target(path);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string temporary = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  if (temporary.size() >= sizeof g_temporary) return TES_ERR_OUT_CREATE;
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return errno == ENOSPC ? TES_ERR_DISK_FULL : TES_ERR_OUT_CREATE;
  std::memcpy(g_temporary, temporary.c_str(), temporary.size() + 1);
  static const bool handlers = [] {
    for (int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, RemoveTemporaryAndExit);
    return true;
  }();
  (void)handlers;
  ::fchmod(fd, orvax::win::ReplacementMode(path.c_str()));
  ::close(fd);

  long status = write(temporary);
  if (status == 0)
    if (const int failed = orvax::win::CommitReplacement(temporary.c_str(), path.c_str()))
      status = failed == ENOSPC ? TES_ERR_DISK_FULL : TES_ERR_OUT_CREATE;
  if (status != 0) ::unlink(temporary.c_str());
  g_temporary[0] = '\0';
  return status;
}

// ---------------------------------------------------------------------------------------
// Pixels

namespace {

int ChannelsOf(int cs) { return cs <= 1 ? 1 : cs == 4 ? 4 : 3; }
int BitsOf(int cs) { return (cs == 0 || cs == 2 || cs == 4) ? 8 : 16; }

const char* ColorSpaceName(int cs) {
  static const char* const names[] = {"8-bit grey", "16-bit grey", "24-bit RGB", "48-bit RGB",
                                      "32-bit CMYK", "48-bit Lab", "48-bit LCh"};
  return cs >= 0 && cs <= 6 ? names[cs] : "unknown";
}

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

namespace {

long ApplyTransforms(TesseraClass& image, const Transforms& t) {
  if (t.flip == "h" || t.flip == "hv")
    if (const long status = image.FlipH()) return status;
  if (t.flip == "v" || t.flip == "hv")
    if (const long status = image.FlipV()) return status;
  if (t.rotate)
    if (const long status = image.Rotate(*t.rotate)) return status;
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
  return WriteAtomically(path, [&](const std::string& temporary) -> long {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << "P6\n" << w << " " << h << "\n255\n";
    out.write(reinterpret_cast<const char*>(dc.pixels().data()), static_cast<std::streamsize>(dc.pixels().size()));
    out.close();
    return out.good() ? 0L : static_cast<long>(TES_ERR_OUT_WRITE);
  });
}

int Report(long status) {
  std::printf("%s\n", orvax::tools::TesseraStatusLine(status).c_str());
  return status == 0 ? 0 : 1;
}

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

// The TIFF/Exif Orientation (tag 274) of a TIFF file or of a JPEG file's Exif segment, or 1
// when the file has none. The library applies it as it reads and keeps the upright result;
// info reports it beside the sizes.
int FileOrientation(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> head(65536 + 4);
  in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(in.gcount()));
  // Where the TIFF structure starts: the file itself, or the Exif segment of a JPEG.
  size_t tiff = std::string::npos;
  if (head.size() >= 8 && (std::memcmp(head.data(), "II*\0", 4) == 0 || std::memcmp(head.data(), "MM\0*", 4) == 0)) {
    tiff = 0;
  } else if (head.size() >= 4 && head[0] == 0xFF && head[1] == 0xD8) {
    for (size_t at = 2; at + 4 <= head.size() && head[at] == 0xFF;) {
      const uint8_t marker = head[at + 1];
      const size_t length = size_t(head[at + 2]) << 8 | head[at + 3];
      if (marker == 0xDA || marker == 0xD9 || length < 2) break;
      if (marker == 0xE1 && at + 10 <= head.size() && std::memcmp(&head[at + 4], "Exif\0\0", 6) == 0) {
        tiff = at + 10;
        break;
      }
      at += 2 + length;
    }
  }
  if (tiff == std::string::npos || tiff + 8 > head.size()) return 1;
  const bool little = head[tiff] == 'I';
  auto u16 = [&](size_t at) -> uint32_t {
    if (at + 2 > head.size()) return 0;
    return little ? head[at] | head[at + 1] << 8 : head[at] << 8 | head[at + 1];
  };
  auto u32 = [&](size_t at) -> uint32_t { return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2); };
  const size_t ifd = tiff + u32(tiff + 4);
  const uint32_t count = u16(ifd);
  for (uint32_t i = 0; i < count; ++i) {
    const size_t entry = ifd + 2 + 12 * size_t(i);
    if (entry + 12 > head.size()) break;
    if (u16(entry) == 274) {
      const uint32_t value = u16(entry + 8);
      return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
  }
  return 1;
}

// The images (pages) of a TIFF file: the IFDs its chain of next-IFD offsets reaches, classic
// or BigTIFF. The library reads the first; info reports how many there are. A chain that
// loops or leaves the file ends the count; 1 for any other kind of file.
uint32_t TiffPages(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  uint8_t head[16] = {};
  if (!in.read(reinterpret_cast<char*>(head), 16) && in.gcount() < 8) return 1;
  const bool little = head[0] == 'I' && head[1] == 'I', big = head[0] == 'M' && head[1] == 'M';
  if (!little && !big) return 1;
  auto value = [&](const uint8_t* b, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t{b[little ? i : bytes - 1 - i]} << (8 * i);
    return v;
  };
  const uint64_t version = value(head + 2, 2);
  if (version != 42 && version != 43) return 1;
  const bool wide = version == 43;  // BigTIFF: 8-byte counts and offsets, 20-byte entries
  const int countBytes = wide ? 8 : 2, entryBytes = wide ? 20 : 12, offsetBytes = wide ? 8 : 4;
  uint64_t next = wide ? value(head + 8, 8) : value(head + 4, 4);
  std::vector<uint64_t> seen;
  uint32_t pages = 0;
  while (next != 0 && pages < 100000 &&
         std::find(seen.begin(), seen.end(), next) == seen.end()) {
    seen.push_back(next);
    uint8_t b[8];
    if (!in.seekg(static_cast<std::streamoff>(next)) || !in.read(reinterpret_cast<char*>(b), countBytes)) break;
    const uint64_t entries = value(b, countBytes);
    if (entries == 0) break;
    const uint64_t link = next + countBytes + entries * entryBytes;
    if (!in.seekg(static_cast<std::streamoff>(link)) || !in.read(reinterpret_cast<char*>(b), offsetBytes)) break;
    ++pages;
    next = value(b, offsetBytes);
  }
  return std::max<uint32_t>(pages, 1);
}

// Opens a file into a new object. A file whose colour space only a colour-managed object
// may hold (CMYK, Lab, LCh) is opened into one.
std::unique_ptr<TesseraClass> OpenFile(const std::string& path, bool managed, bool quiet, long& status) {
  std::string name = path;
  char* p = name.data();
  char label[] = "reading";
  for (;;) {
    auto image = std::make_unique<TesseraClass>(managed ? kManagedFlags : 0, TES_CS_RGB24);
    status = image->OpenImage(p, TesseraClass::m_s_EmptyTransform, quiet ? nullptr : &ProgressBar, label);
    if (status == TES_ERR_NOT_PERMITTED && !managed) {
      managed = true;
      continue;
    }
    return image;
  }
}

}  // namespace

uint32_t FormatCode(const std::string& name) {
  if (name == "bmp") return TES_FILE_BMP;
  if (name == "jpeg" || name == "jpg") return TES_FILE_JPEG;
  if (name == "tiff" || name == "tif") return TES_FILE_TIFF;
  if (name == "fpx") return TES_FILE_FPX;
  if (name == "fpx-jpeg") return TES_FILE_FPX_JPEG;
  return 0;
}

const char* FormatExtension(uint32_t code) {
  switch (code) {
    case TES_FILE_BMP: return ".bmp";
    case TES_FILE_JPEG: return ".jpg";
    case TES_FILE_TIFF: return ".tif";
    default: return ".fpx";
  }
}

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
  return WriteAtomically(path, [&](const std::string& temporary) -> long {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
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
  });
}

// ---------------------------------------------------------------------------------------
// Commands

int CommandDemo(const std::string& out, int width, int height, int cs, const std::string& pattern,
                const Transforms& transforms, int zoomNum, int zoomDen) {
  TesseraClass image(cs > TES_CS_RGB48 ? kManagedFlags : 0, static_cast<short>(cs));
  long status = MakeTestImage(image, width, height, cs, pattern);
  if (status == 0) status = ApplyTransforms(image, transforms);
  if (status == 0) status = RenderToPpm(image, out, zoomNum, zoomDen);
  return Report(status);
}

int CommandInfo(const std::string& file) {
  std::string name = file;
  char* p = name.data();
  tagTes_Image_Desc stored{};
  short type = 0, thumbnail = 0;
  long status = TesseraClass::TestFile(p, &stored, &type, &thumbnail);
  if (status != 0) return Report(status);
  // The size as dump and convert see it comes from reading the image as they do: the
  // file's orientation may turn it.
  std::unique_ptr<TesseraClass> image = OpenFile(file, false, false, status);
  tagTes_Image_Desc seen = stored;
  if (status == 0) status = image->GetImageDesc(&seen);
  std::printf("format=%d\nformat_name=%s\n", type, FormatName(type));
  if (status == 0) std::printf("width=%d\nheight=%d\n", seen.width, seen.height);
  std::printf("stored_width=%d\nstored_height=%d\n", stored.width, stored.height);
  std::printf("orientation=%d\n", type == TES_FILE_JPEG || type == TES_FILE_TIFF ? FileOrientation(file) : 1);
  std::printf("pages=%u\n", type == TES_FILE_TIFF ? TiffPages(file) : 1u);
  std::printf("colorspace=%d\ncolorspace_name=%s\nbits=%u,%u,%u,%u\nresolution=%g\nthumbnail=%d\n",
              stored.colorSpace, ColorSpaceName(stored.colorSpace), stored.bitsPerChannel[0],
              stored.bitsPerChannel[1], stored.bitsPerChannel[2], stored.bitsPerChannel[3], stored.resolution,
              thumbnail);
  return Report(status);
}

long ConvertFile(const std::string& in, const std::string& out, const ConvertOptions& options,
                 std::vector<std::string>& notes, bool quiet) {
  // Converting to CMYK, Lab or LCh needs a colour-managed object; --cms asks for one always.
  const bool managed = options.managed || (options.colorSpace && *options.colorSpace > TES_CS_RGB48);
  long status;
  std::unique_ptr<TesseraClass> image = OpenFile(in, managed, quiet, status);
  if (status == 0) status = ApplyTransforms(*image, options.transforms);
  if (status != 0) return status;
  if (options.colorSpace) {
    status = image->SetColorSpace(static_cast<short>(*options.colorSpace), nullptr);
  } else {
    // A format that holds 8 bits a channel gets 16-bit grey and 48-bit RGB reduced to 8.
    unsigned long formats = 0;
    short cs = 0;
    image->GetFormats(&formats);
    image->GetColorSpace(&cs);
    if ((formats & options.format) == 0 && (cs == TES_CS_GRAY16 || cs == TES_CS_RGB48)) {
      const short reduced = static_cast<short>(cs - 1);
      status = image->SetColorSpace(reduced, nullptr);
      if (status == 0)
        notes.push_back(std::string("reduced ") + ColorSpaceName(cs) + " to " + ColorSpaceName(reduced) + ": " +
                        FormatName(static_cast<int>(options.format)) + " holds 8 bits a channel");
    }
  }
  if (status != 0) return status;
  return WriteAtomically(out, [&](const std::string& temporary) {
    const tagTes_File_Spec spec{temporary.c_str(), options.format, options.quality};
    char label[] = "writing";
    return image->Save(spec, quiet ? nullptr : &ProgressBar, label, options.thumbnail ? 1 : 0);
  });
}

int CommandConvert(const std::string& in, const std::string& out, const ConvertOptions& options) {
  std::vector<std::string> notes;
  const long status = ConvertFile(in, out, options, notes, false);
  for (const std::string& note : notes) std::fprintf(stderr, "tessera-tool: %s: %s\n", in.c_str(), note.c_str());
  return Report(status);
}

int CommandDump(const std::string& in, const std::string& out) {
  long status;
  std::unique_ptr<TesseraClass> image = OpenFile(in, false, false, status);
  if (status == 0) status = DumpPnm(*image, out);
  return Report(status);
}

int CommandRender(const std::string& in, const std::string& out, int zoomNum, int zoomDen, bool managed) {
  long status;
  std::unique_ptr<TesseraClass> image = OpenFile(in, managed, false, status);
  if (status == 0) status = RenderToPpm(*image, out, zoomNum, zoomDen);
  return Report(status);
}

}  // namespace tool
