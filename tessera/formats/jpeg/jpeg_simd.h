// The hot loops of the codec behind one table of function pointers: a portable version of
// each, and SSE2/AVX2 versions chosen by what the processor offers (core/cpu_features.h,
// which also holds the switch that forces the portable versions). The vector paths produce
// exactly the bytes of the portable ones.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/cpu_features.h"

namespace tessera::jpeg {

struct HuffCodes;

struct KernelTable {
  // Encoder: luminance (level-shifted) of `width` RGB pixels.
  void (*lumaRow)(const uint8_t* rgb, int width, int32_t* y);
  // Encoder: Cb and Cr of `count` groups whose top-left pixels are `step` pixels apart.
  void (*chromaRow)(const uint8_t* rgb, int count, int step, int32_t* cb, int32_t* cr);
  // Encoder: scaled AAN transform and symmetric-rounding quantisation of one block whose
  // 8 rows of samples (-128..128) are `stride` values apart.
  void (*forwardFast)(const int32_t* samples, ptrdiff_t stride, const uint16_t* reciprocals, int16_t* out);
  // Decoder: accurate inverse transform of one block of quantised coefficients (natural
  // order) with its quantisation table, into 8 rows of 8 samples, `stride` apart.
  void (*inverse)(const int16_t* coef, const uint16_t* quant, uint8_t* out, ptrdiff_t stride);
  // Decoder: Y, Cb, Cr rows to RGB, chroma at full resolution or halved horizontally
  // (chromaShift 0 or 1).
  void (*yccRow)(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, int chromaShift, uint8_t* rgb);
  // Encoder: Huffman coding of one block of quantised terms (jpeg_huffman_coder.h).
  void (*codeBlock)(const int16_t* q, int& prediction, const HuffCodes& dc, const HuffCodes& ac,
                    uint64_t& bitBuffer, int& bitCount, uint8_t*& put);
};

// The table in use: vector versions when the processor has them, unless the portable
// versions are forced (ForcePortableKernels).
const KernelTable& Kernels();
using tessera::ForcePortableKernels;
// Uses the given vector table (from VectorKernelsOf) in place of the detected one; null
// returns to the detected one. For tests and benchmarks.
void UseVectorKernels(const KernelTable* table);
// The name of the detected vector level: "avx2", "sse2" or "none".
const char* VectorLevel();
// The vector table of a level ("sse2", "avx2") when this processor can run it, else null.
// For tests that compare every level with the portable versions.
const KernelTable* VectorKernelsOf(const char* level);

// The portable versions.
void LumaRowScalar(const uint8_t* rgb, int width, int32_t* y);
void ChromaRowScalar(const uint8_t* rgb, int count, int step, int32_t* cb, int32_t* cr);
void ForwardFastQuantizeScalar(const int32_t* samples, ptrdiff_t stride, const uint16_t* reciprocals, int16_t* out);
void InverseScalar(const int16_t* coef, const uint16_t* quant, uint8_t* out, ptrdiff_t stride);
void YccRowScalar(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, int chromaShift, uint8_t* rgb);

// A block whose only non-zero coefficient is the DC term is flat: the inverse transform
// reduces to (dc * q * 2^15 + 2^17) >> 18 = (dc * q + 4) >> 3, the samples InverseScalar
// gives for it.
void InverseDcOnly(int16_t dc, uint16_t q, uint8_t* out, ptrdiff_t stride);

// The 1024-entry range-limit table: 0..255 as is, 256..511 give 255, 512..1023 give 0.
extern const uint8_t kRangeLimit[1024];

}  // namespace tessera::jpeg
