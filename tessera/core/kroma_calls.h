// The colour-matching calls the colour-managed pipeline makes, reached through one table so
// that tests can put a recording layer between the image library and the matcher.
#pragma once

#include "kroma.h"

namespace tessera {

struct KromaCalls {
  int32_t (*init)(const CMParam*, const CMProfilePaths*, uint16_t, int32_t, CColorMatcher**);
  int32_t (*proc)(CMBuffer*, CMBuffer*, CColorMatcher*);
  void (*postProc)(CColorMatcher*);
  int32_t (*resetMatchingParam)(const CMParam*, const CMProfilePaths*, int32_t, int32_t, CColorMatcher*);
  int32_t (*change1DLut)(const CM1DLutSpec*, uint16_t, CColorMatcher*);
  int32_t (*merge1DLut)(const CM1DLutSpec*, uint16_t, CColorMatcher*);
};

// The table in use; it starts out pointing at the colour-matching library itself.
KromaCalls& Kroma();

}  // namespace tessera
