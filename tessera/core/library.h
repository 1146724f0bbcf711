// Process-wide state of the library: the start-up count, the default metadata record, the
// profile paths and the display gamma tables. Used from one thread at a time.
#pragma once

#include <cstdint>

#include "tessera/tessera.h"

namespace tessera {

inline constexpr int kPathBytes = 260;

enum ProfileSlot { kProfileSrgb = 0, kProfileLab = 1, kProfileLch = 2, kProfileCmyk = 3, kProfilePrinter = 4, kProfileMonitor = 5 };

struct LibraryState {
  int useCount = 0;
  tagTes_Image_Info defaultInfo{};
  char profiles[6][kPathBytes] = {};
  uint8_t gamma8[256] = {};
  uint8_t gamma12[4096] = {};
};

LibraryState& Library();

// Builds the 8-bit and 12-bit display gamma tables: entry i = 255 * (i / max)^gamma.
void BuildGammaTables(double gamma, uint8_t* gamma8, uint8_t* gamma12);

// Copies a path into a slot, cut to fit the slot's 260 bytes with its terminating zero.
void StorePath(char* slot, const char* path);
// The library's own profile path: directory, one path separator unless it is empty or
// already ends in one, then the file name.
void ComposeProfilePath(char* slot, const char* directory, const char* fileName);

}  // namespace tessera
