// tessera-tool: a command-line front to the image library.
#include <cstdio>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "status_text.h"

#ifndef ORVAX_VERSION
#define ORVAX_VERSION "unknown"
#endif

namespace {

const char kUsage[] = "usage: tessera-tool info|convert|dump|render|demo ARGS... (tessera-tool --help)";

// The usage line of each command, printed with every argument error.
const char* CommandUsage(const std::string& command) {
  if (command == "info") return "usage: tessera-tool info FILE";
  if (command == "convert")
    return "usage: tessera-tool convert IN OUT --format F [options]\n"
           "       tessera-tool convert IN... --to DIR --format F [-j N] [options]";
  if (command == "dump") return "usage: tessera-tool dump IN OUT.pnm";
  if (command == "render") return "usage: tessera-tool render IN OUT.ppm [--zoom N:D] [--cms ...]";
  if (command == "demo") return "usage: tessera-tool demo OUT.ppm [--size WxH] [--colorspace 0..6] [...]";
  return kUsage;
}

// N:D with positive numbers.
bool ParseZoom(const std::string& text, int& num, int& den) {
  num = 1, den = 1;
  if (text.empty()) return true;
  char rest = 0;
  return std::sscanf(text.c_str(), "%d:%d%c", &num, &den, &rest) == 2 && num > 0 && den > 0;
}

const CLI::Validator kZoom(
    [](std::string& text) {
      int n, d;
      return ParseZoom(text, n, d) ? std::string() : "takes N:D with positive numbers, e.g. 1:2";
    },
    "N:D");

void AddProfiles(CLI::App* command, tool::Profiles& profiles) {
  command->add_option("--monitor", profiles.monitor, "monitor profile (default: sRGB)")->check(CLI::ExistingFile)->type_name("PROFILE");
  command->add_option("--printer", profiles.printer, "printer profile (default: the monitor's)")
      ->check(CLI::ExistingFile)->type_name("PROFILE");
  command->add_option("--cmyk", profiles.cmyk, "CMYK profile (default: Ghostscript's default_cmyk.icc)")
      ->check(CLI::ExistingFile)->type_name("PROFILE");
}

void AddTransforms(CLI::App* command, tool::Transforms& t) {
  command->add_option("--flip", t.flip, "mirror: h (left-right), v (top-bottom) or hv")
      ->check(CLI::IsMember({"h", "v", "hv"}));
  command->add_option("--rotate", t.rotate, "turn clockwise by DEG degrees (snapped to a quarter turn)")->type_name("DEG");
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "tessera-tool: identify, convert, dump and draw image files (BMP, JPEG, TIFF, FlashPix) with the\n"
      "Tessera image library. Every outcome is printed as \"status=CODE: reason\"; a failure exits 1,\n"
      "an argument error 2.",
      "tessera-tool"};
  app.set_version_flag("--version", std::string("tessera-tool ") + ORVAX_VERSION);
  app.require_subcommand(1, 1);
  app.fallthrough(false);

  tool::Profiles profiles;
  std::string in, out;

  CLI::App* info = app.add_subcommand("info", "identify an image file (key=value lines)");
  info->add_option("FILE", in, "the image file")->required();

  CLI::App* convert = app.add_subcommand(
      "convert", "read image files and save them as bmp, jpeg, tiff, fpx or fpx-jpeg; one file as OUT, or\n"
                 "many into a folder (--to) with worker processes");
  std::vector<std::string> files;
  std::string formatName, folder;
  int jobs = 1;
  tool::ConvertOptions options;
  convert->add_option("FILES", files, "IN OUT, or with --to the inputs")->required();
  convert->add_option("--format", formatName, "bmp, jpeg, tiff, fpx or fpx-jpeg")
      ->required()
      ->check(CLI::IsMember({"bmp", "jpeg", "jpg", "tiff", "tif", "fpx", "fpx-jpeg"}));
  convert->add_option("--to", folder, "convert every input into DIR as NAME.EXT (the batch form)")->type_name("DIR");
  CLI::Option* jobsOption = convert->add_option("-j,--jobs", jobs, "worker processes of the batch form (default 1)")
      ->check(CLI::Range(1, 256));
  convert->add_option("--quality", options.quality, "JPEG and FlashPix-JPEG level 1..5 (default 3)")
      ->check(CLI::Range(1, 5));
  convert->add_option("--colorspace", options.colorSpace,
                      "convert to colour space N first: 0 grey, 1 grey 16, 2 RGB, 3 RGB 48, 4 CMYK, 5 Lab, 6 LCh\n"
                      "(without it, 16-bit images are reduced to 8 bits for formats that hold 8)")
      ->check(CLI::Range(0, 6));
  convert->add_flag("--thumbnail", options.thumbnail, "embed a thumbnail (JPEG, TIFF)");
  convert->add_flag("--cms", options.managed, "use a colour-managed object (conversions through the profiles)");
  AddTransforms(convert, options.transforms);
  AddProfiles(convert, profiles);

  CLI::App* dump = app.add_subcommand(
      "dump", "write the stored pixels unchanged: grey as PGM, RGB, Lab and LCh as PPM, CMYK as PAM;\n"
              "16-bit samples as 16-bit PNM");
  dump->add_option("IN", in, "the image file")->required();
  dump->add_option("OUT", out, "the PNM file to write")->required();
  AddProfiles(dump, profiles);

  CLI::App* render = app.add_subcommand(
      "render", "draw an image file through the display pipeline into a memory device context and write\n"
                "it as a PPM file");
  std::string zoom;
  bool managed = false;
  render->add_option("IN", in, "the image file")->required();
  render->add_option("OUT", out, "the PPM file to write")->required();
  render->add_option("--zoom", zoom, "draw at N/D of the image's size")->check(kZoom);
  render->add_flag("--cms", managed, "draw through the colour-matching library and the monitor profile");
  AddProfiles(render, profiles);

  CLI::App* demo = app.add_subcommand(
      "demo", "build a test image in memory, turn it and draw it through the display pipeline into a PPM");
  std::string size = "640x400", pattern = "chart";
  int colorSpace = 2;
  tool::Transforms transforms;
  demo->add_option("OUT", out, "the PPM file to write")->required();
  demo->add_option("--size", size, "WxH (default 640x400)")
      ->check(CLI::Validator(
          [](std::string& text) {
            int w = 0, h = 0;
            char rest = 0;
            return std::sscanf(text.c_str(), "%dx%d%c", &w, &h, &rest) == 2 && w > 0 && h > 0 && w <= 65535 &&
                           h <= 65535
                       ? std::string()
                       : std::string("takes WxH with positive numbers, e.g. 640x400");
          },
          "WxH"));
  demo->add_option("--colorspace", colorSpace, "colour space 0..6 (default 2, RGB)")->check(CLI::Range(0, 6));
  demo->add_option("--pattern", pattern, "chart or gradient")->check(CLI::IsMember({"chart", "gradient"}));
  demo->add_option("--zoom", zoom, "draw at N/D of the image's size")->check(kZoom);
  AddTransforms(demo, transforms);

  try {
    app.parse(argc, argv);
    if (convert->parsed()) {
      if (folder.empty() && files.size() != 2)
        throw CLI::ValidationError("FILES", "without --to, convert takes exactly IN and OUT");
      if (folder.empty() && jobsOption->count() > 0) throw CLI::ValidationError("-j", "applies to the batch form (--to DIR)");
    }
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::string command;
    for (const CLI::App* sub : app.get_subcommands()) command = sub->get_name();
    std::fprintf(stderr, "tessera-tool: %s\n%s\n", e.what(), CommandUsage(command));
    return 2;
  }

  if (convert->parsed()) {
    options.format = tool::FormatCode(formatName);
    if (!folder.empty()) return tool::CommandConvertBatch(files, folder, options, profiles, jobs);
  }
  tool::LibrarySession session(profiles);
  if (session.status() != 0) {
    std::printf("%s (starting the library)\n", orvax::tools::TesseraStatusLine(session.status()).c_str());
    return 1;
  }
  int num = 1, den = 1;
  ParseZoom(zoom, num, den);
  if (info->parsed()) return tool::CommandInfo(in);
  if (convert->parsed()) return tool::CommandConvert(files[0], files[1], options);
  if (dump->parsed()) return tool::CommandDump(in, out);
  if (render->parsed()) return tool::CommandRender(in, out, num, den, managed);
  int w = 640, h = 400;
  std::sscanf(size.c_str(), "%dx%d", &w, &h);
  return tool::CommandDemo(out, w, h, colorSpace, pattern, transforms, num, den);
}
