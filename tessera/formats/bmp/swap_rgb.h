// Exchanges the first and third byte of every three-byte pixel in place: BMP rows hold
// blue, green, red; the image store holds red, green, blue. This is most of the BMP reader's
// and writer's own work, so on x86-64 with SSSE3 four pixels go at once through one byte
// shuffle (chosen through core/cpu_features.h).
#pragma once

#include <cstdint>

#include "core/cpu_features.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tessera {

inline void SwapRedBlueScalar(uint8_t* p, int32_t from, int32_t pixels) {
  for (int32_t x = from; x < pixels; ++x) {
    const uint8_t first = p[3 * x];
    p[3 * x] = p[3 * x + 2];
    p[3 * x + 2] = first;
  }
}

#if defined(__x86_64__)
// Each step loads 16 bytes, turns the 4 whole pixels in the first 12 and stores just those
// 12, so that no load overlaps an earlier store; it stops while 16 bytes are still inside
// the row.
__attribute__((target("ssse3"))) inline int32_t SwapRedBlueShuffle(uint8_t* p, int32_t pixels) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15);
  int32_t x = 0;
  for (; x + 6 <= pixels; x += 4) {
    uint8_t* at = p + 3 * x;
    const __m128i turned = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), order);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at), turned);
    const int32_t last = _mm_cvtsi128_si32(_mm_srli_si128(turned, 8));
    __builtin_memcpy(at + 8, &last, 4);
  }
  return x;
}
#endif

// Whether SwapRedBlue may take the shuffle.
inline bool CanSwapRedBlueShuffle() {
  return CpuCan(kCpuSsse3);
}

inline void SwapRedBlue(uint8_t* p, int32_t pixels) {
  int32_t done = 0;
#if defined(__x86_64__)
  if (CanSwapRedBlueShuffle()) done = SwapRedBlueShuffle(p, pixels);
#endif
  SwapRedBlueScalar(p, done, pixels);
}

}  // namespace tessera
