// kroma-tool: header queries of a profile, and converting raw pixels between two profiles.
//   kroma-tool info PROFILE
//   kroma-tool apply SRC.icc DST.icc --in FORMAT --out FORMAT [--intent 0..3] [--engine 0|1] < in > out
// Formats: rgb8 rgb16 gray8 gray16 cmyk8 cmyk16 lab16 (interleaved, 16-bit little-endian).
// Outcomes are "status=CODE: reason"; argument errors print the usage line and exit 2.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "kroma.h"
#include "status_text.h"

#ifndef ORVAX_VERSION
#define ORVAX_VERSION "unknown"
#endif

namespace {

struct Format {
  const char* name;
  int channels, bits;
};
constexpr Format kFormats[] = {{"rgb8", 3, 8},   {"rgb16", 3, 16}, {"gray8", 1, 8}, {"gray16", 1, 16},
                               {"cmyk8", 4, 8},  {"cmyk16", 4, 16}, {"lab16", 3, 16}};

const Format* FindFormat(const std::string& name) {
  for (const Format& f : kFormats)
    if (name == f.name) return &f;
  return nullptr;
}

std::vector<std::string> FormatNames() {
  std::vector<std::string> names;
  for (const Format& f : kFormats) names.emplace_back(f.name);
  return names;
}

std::string SigText(uint32_t v) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) s[i] = char(v >> (24 - 8 * i));
  return s;
}

int Info(const char* path) {
  int16_t channels = 0, space = 0, pcs = 0;
  uint32_t cls = 0, intent = 0;
  int32_t white[3] = {};
  if (!DurovToolboxGetProfInfo(path, 0, &channels, 2) || !DurovToolboxGetProfInfo(path, 1, &cls, 4) ||
      !DurovToolboxGetProfInfo(path, 2, &space, 2) || !DurovToolboxGetProfInfo(path, 3, &pcs, 2) ||
      !DurovToolboxGetProfInfo(path, 4, &intent, 4) || !DurovToolboxGetProfInfo(path, 5, white, 12)) {
    std::printf("%s\n", orvax::tools::KromaStatusLine(KROMA_ERR_PROFILE_OPEN).c_str());
    return 1;
  }
  std::printf("channels=%d\nclass=%s\ncolorspace=%d\npcs=%d\nintent=%u\nilluminant=%.4f %.4f %.4f\n",
              channels, SigText(cls).c_str(), space, pcs, intent, white[0] / 65536.0,
              white[1] / 65536.0, white[2] / 65536.0);
  std::printf("%s\n", orvax::tools::KromaStatusLine(0).c_str());
  return 0;
}

struct ApplyArgs {
  std::string src, dst;
  int intent = 0, engine = 1;
  std::string in, out;
};

int Apply(const ApplyArgs& args) {
  std::string srcPath = args.src, dstPath = args.dst;
  char* src = srcPath.data();
  char* dst = dstPath.data();
  const int intent = args.intent, engine = args.engine;
  const Format* in = FindFormat(args.in);
  const Format* out = FindFormat(args.out);
  std::vector<uint8_t> data;
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) data.insert(data.end(), chunk, chunk + got);
  const size_t inPixel = size_t(in->channels) * (in->bits / 8);
  const size_t outPixel = size_t(out->channels) * (out->bits / 8);
  const size_t pixels = data.size() / inPixel;
  // One line per call, up to 65535 pixels wide, through several buffers.
  const uint32_t width = uint32_t(pixels < 4096 ? (pixels ? pixels : 1) : 4096);
  CMParam param{uint16_t(width), 1, uint32_t(width * inPixel), uint32_t(width * outPixel),
                uint16_t(in->bits), uint16_t(out->bits), 0};
  CMProfilePaths paths{&src, &dst};
  CColorMatcher* h = nullptr;
  int32_t rc = OXCMInit(&param, &paths, uint16_t(engine), intent, &h);
  std::vector<uint8_t> result(pixels * outPixel);
  for (size_t done = 0; rc == 0 && done < pixels;) {
    const size_t n = std::min<size_t>(width, pixels - done);
    if (n != width) rc = OXCMChangeImageWidth(int32_t(n), h);
    if (rc != 0) break;
    param.width = uint16_t(n);
    std::vector<uint8_t> line(data.begin() + done * inPixel, data.begin() + (done + n) * inPixel);
    CMBuffer s{line.data(), 1}, d{result.data() + done * outPixel, 1};
    rc = OXCMProc(&s, &d, h);
    done += n;
  }
  OXCMPostProc(h);
  if (rc != 0) {
    std::fprintf(stderr, "kroma-tool: %s\n", orvax::tools::KromaStatusLine(rc).c_str());
    return 1;
  }
  std::fwrite(result.data(), 1, result.size(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"kroma-tool: profile header queries, and raw pixels matched between two ICC profiles with the\n"
               "Kroma colour-matching library. Failures print \"status=CODE: reason\" and exit 1; argument\n"
               "errors exit 2.",
               "kroma-tool"};
  app.set_version_flag("--version", std::string("kroma-tool ") + ORVAX_VERSION);
  app.require_subcommand(1, 1);
  std::string profile;
  CLI::App* info = app.add_subcommand("info", "print a profile's channels, class, colour spaces, intent, illuminant");
  info->add_option("PROFILE", profile, "the ICC profile")->required();

  ApplyArgs args;
  CLI::App* apply = app.add_subcommand(
      "apply", "match raw interleaved pixels from standard input to standard output (16-bit little-endian)");
  apply->add_option("SRC", args.src, "source profile")->required();
  apply->add_option("DST", args.dst, "destination profile")->required();
  apply->add_option("--intent", args.intent, "rendering intent 0..3 (default 0)")->check(CLI::Range(0, 3));
  apply->add_option("--engine", args.engine, "interpolation engine 0 or 1 (default 1)")->check(CLI::Range(0, 1));
  apply->add_option("--in", args.in, "input pixel format")->required()->check(CLI::IsMember(FormatNames()));
  apply->add_option("--out", args.out, "output pixel format")->required()->check(CLI::IsMember(FormatNames()));
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "kroma-tool: %s\n%s\n", e.what(),
                 apply->parsed() ? "usage: kroma-tool apply SRC DST --in FMT --out FMT [--intent 0..3] [--engine 0|1]"
                 : info->parsed() ? "usage: kroma-tool info PROFILE"
                                  : "usage: kroma-tool info PROFILE | apply SRC DST --in FMT --out FMT [...]");
    return 2;
  }
  if (info->parsed()) return Info(profile.c_str());
  return Apply(args);
}
