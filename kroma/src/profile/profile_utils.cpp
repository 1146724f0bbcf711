// The two exported profile utilities: finding a profile in the colour folder and answering
// header queries.
#include <cstdio>
#include <cstring>
#include <string>

#include "kroma.h"
#include "profile/icc_profile.h"
#include "win/windows_root.h"

namespace {

// Size of the caller's path buffer (the Windows MAX_PATH the callers were written for).
constexpr size_t kPathBuffer = 260;

}  // namespace

extern "C" KROMA_API int32_t DurovToolboxLocateProfile(const char* name, char* fullPath) {
  if (name == nullptr || fullPath == nullptr) return KROMA_ERR_ARGUMENT;
  try {
    std::string dir = orvax::win::SystemDirectory();
    if (dir.size() > 256) dir.resize(256);
    const std::string path = dir + "/COLOR/" + name;
    // A composed path that does not fit the caller's buffer is refused rather than written
    // past its end.
    if (path.size() >= kPathBuffer) {
      fullPath[0] = '\0';
      return KROMA_ERR_ARGUMENT;
    }
    std::memcpy(fullPath, path.c_str(), path.size() + 1);
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) return 0;
    std::fclose(f);
    return 1;
  } catch (...) {
    fullPath[0] = '\0';
    return KROMA_ERR_NO_MEMORY;
  }
}

extern "C" KROMA_API int32_t DurovToolboxGetProfInfo(const char* path, int32_t infoType, void* out,
                                                     int32_t outSize) {
  static constexpr int32_t kSizes[6] = {2, 4, 2, 2, 4, 12};
  if (path == nullptr || out == nullptr || infoType < 0 || infoType > 5 ||
      outSize != kSizes[infoType])
    return 0;
  try {
    kroma::IccFile f;
    if (!f.Open(path)) return 0;
    const kroma::IccHeader& h = f.header();
    switch (infoType) {
      case 0: {
        const int16_t v = kroma::ColorSpaceChannels(h.colorSpace);
        std::memcpy(out, &v, 2);
        break;
      }
      case 1: std::memcpy(out, &h.deviceClass, 4); break;
      case 2: {
        const int16_t v = kroma::ColorSpaceCode(h.colorSpace);
        std::memcpy(out, &v, 2);
        break;
      }
      case 3: {
        const int16_t v = kroma::ColorSpaceCode(h.pcs);
        std::memcpy(out, &v, 2);
        break;
      }
      case 4: std::memcpy(out, &h.intent, 4); break;
      case 5: std::memcpy(out, h.illuminantRaw, 12); break;
    }
    return 1;
  } catch (...) {
    return 0;
  }
}
