// tessera-tool: a command-line front to the image library.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <string>

#include "win/windows_root.h"

#include "commands.h"

namespace {

const char kUsage[] =
    "usage: tessera-tool COMMAND [ARGS]\n"
    "commands:\n"
    "  info FILE                  identify an image file (key=value lines)\n"
    "  convert IN OUT --format F  read an image file and save it as bmp, jpeg, tiff, fpx or fpx-jpeg\n"
    "  dump IN OUT.ppm|.pgm       write the stored pixels of an image file as PNM\n"
    "  render IN OUT.ppm          draw an image file through Display into a PPM file\n"
    "  demo OUT.ppm [options]     build a test image, turn it and draw it into a PPM file\n"
    "Each command takes --help. Failures print status=CODE and exit non-zero.\n"
    "convert and render take --cms (colour-managed object: conversions and drawing through\n"
    "the colour-matching library), with --monitor, --printer and --cmyk PROFILE replacing\n"
    "the default profiles.\n";

// The first of the candidate profiles that exists.
std::string FirstExisting(std::initializer_list<std::string> candidates) {
  for (const std::string& path : candidates)
    if (!path.empty() && std::filesystem::exists(path)) return path;
  return *candidates.begin();
}

// Starts the library for the tool's lifetime. The library's own profiles come from the
// Windows root's colour folder; the monitor, printer and CMYK profiles from --monitor,
// --printer and --cmyk, else the defaults installed there (or Debian's own copies).
struct LibrarySession {
  explicit LibrarySession(const tool::Args& args) {
    const std::string system = orvax::win::SystemDirectory();
    color_ = system.empty() ? std::string() : system + "/COLOR";
    monitor_ = tool::Option(args, "--monitor",
                            FirstExisting({color_ + "/sRGB.icc", "/usr/share/color/icc/sRGB.icc", color_ + "/OXsRGB.icm"}));
    printer_ = tool::Option(args, "--printer", monitor_);
    cmyk_ = tool::Option(args, "--cmyk", FirstExisting({color_ + "/default_cmyk.icc",
                                                        "/usr/share/color/icc/ghostscript/default_cmyk.icc"}));
    tagTes_Image_Info info{};
    info.size = sizeof info;
    std::strncpy(info.maker, "Orvax Corp.", sizeof info.maker - 1);
    char *m = monitor_.data(), *p = printer_.data(), *k = cmyk_.data(), *d = color_.data();
    TesseraClass::InitMosaic(info, m, p, k, d, 1.0);
  }
  ~LibrarySession() { TesseraClass::CloseMosaic(); }

 private:
  std::string color_, monitor_, printer_, cmyk_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::string command = argv[1];
  const tool::Args args(argv + 2, argv + argc);
  LibrarySession session(args);
  try {
    if (command == "demo") return tool::CommandDemo(args);
    if (command == "info") return tool::CommandInfo(args);
    if (command == "convert") return tool::CommandConvert(args);
    if (command == "dump") return tool::CommandDump(args);
    if (command == "render") return tool::CommandRender(args);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tessera-tool: %s\n", e.what());
    return 2;
  }
  std::fprintf(stderr, "tessera-tool: unknown command '%s'\n%s", command.c_str(), kUsage);
  return 2;
}
