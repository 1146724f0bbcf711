// tessera-tool: a command-line front to the image library.
#include <cstdio>
#include <cstring>
#include <string>

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
    "Each command takes --help. Failures print status=CODE and exit non-zero.\n";

// Starts the library for the tool's lifetime; profiles come from the Windows root.
struct LibrarySession {
  LibrarySession() {
    tagTes_Image_Info info{};
    info.size = sizeof info;
    std::strncpy(info.maker, "Orvax Corp.", sizeof info.maker - 1);
    char empty[] = "";
    char* none = empty;
    TesseraClass::InitMosaic(info, none, none, none, none, 1.0);
  }
  ~LibrarySession() { TesseraClass::CloseMosaic(); }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::string command = argv[1];
  const tool::Args args(argv + 2, argv + argc);
  LibrarySession session;
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
