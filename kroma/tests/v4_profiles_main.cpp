// kroma-v4-profiles: writes the version-4 test profiles into a folder.
//   kroma-v4-profiles FOLDER             the RGB profiles and a version-4 copy of default_cmyk.icc
//   kroma-v4-profiles --copy IN OUT      a version-4 copy of one version-2 LUT profile
#include <cstdio>
#include <cstring>
#include <string>

#include "v4_profiles.h"

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--copy") == 0) {
    if (v4p::CopyAsV4(argv[2], argv[3])) return 0;
    std::fprintf(stderr, "kroma-v4-profiles: cannot copy %s to %s as version 4\n", argv[2], argv[3]);
    return 1;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: kroma-v4-profiles FOLDER | --copy IN OUT\n");
    return 2;
  }
  const std::string dir = argv[1];
  const std::string cmyk = "/usr/share/color/icc/ghostscript/default_cmyk.icc";
  if (!v4p::WriteRgbProfiles(dir) || !v4p::CopyAsV4(cmyk, dir + "/default_cmyk-v4.icc")) {
    std::fprintf(stderr, "kroma-v4-profiles: cannot write the profiles into %s\n", dir.c_str());
    return 1;
  }
  return 0;
}
