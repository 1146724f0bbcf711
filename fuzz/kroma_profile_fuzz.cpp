// A fuzzed ICC profile as the source and as the destination of a transform against a fixed
// partner, with both engines, then one buffer converted through whatever was built.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "kroma.h"
#include "memory_file.h"

namespace {

std::string Partner() {
  const char* root = std::getenv("ORVAX_WINDOWS_DIR");
  return std::string(root ? root : "build-fuzz/windows") + "/SYSTEM/COLOR/OXsRGB.icm";
}

void Convert(const char* source, const char* destination, uint16_t engine, uint16_t inBits) {
  const int width = 16, lines = 4;
  const uint32_t bytes = width * lines * 4 * (inBits == 8 ? 1 : 2);
  CMParam param{width, lines, bytes, width * lines * 4 * 2u, inBits, 16, 0};
  char* s = const_cast<char*>(source);
  char* d = const_cast<char*>(destination);
  CMProfilePaths paths{&s, &d};
  CColorMatcher* handle = nullptr;
  if (OXCMInit(&param, &paths, engine, 0, &handle) == 0) {
    std::vector<uint8_t> in(bytes), out(width * lines * 4 * 2);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 37);
    CMBuffer src{in.data(), lines}, dst{out.data(), 0};
    OXCMProc(&src, &dst, handle);
  }
  OXCMPostProc(handle);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  static const std::string partner = Partner();
  file.Set(data, size);
  // Building a transform is the costly part: one engine and one side per input, chosen by
  // the input's length, so that every combination is reached across the corpus.
  const uint16_t engine = size % 2;
  if ((size / 2) % 2 == 0)
    Convert(file.path().c_str(), partner.c_str(), engine, 8);
  else
    Convert(partner.c_str(), file.path().c_str(), engine, 16);
  return 0;
}
