// icc-make: writes the library's own profiles OXsRGB.icm, OXLab.icm and OXLch.icm into a
// folder (the colour folder of a Windows root at build time).
#include <cstdio>
#include <string>

#include "icc_writer.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: icc-make OUTPUT_FOLDER\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  const struct {
    const char* name;
    iccw::Profile profile;
  } profiles[] = {{"OXsRGB.icm", iccw::OXsRGB()}, {"OXLab.icm", iccw::OXLab()}, {"OXLch.icm", iccw::OXLch()}};
  for (const auto& p : profiles) {
    if (!p.profile.Write(dir + p.name)) {
      std::fprintf(stderr, "icc-make: cannot write %s%s\n", dir.c_str(), p.name);
      return 1;
    }
  }
  return 0;
}
