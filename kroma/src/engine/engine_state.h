// The built transform of one handle: input tables, grid and output tables of either engine,
// plus the derived index tables the pixel loops read.
#pragma once

#include <cstdint>
#include <vector>

#include "profile/icc_profile.h"

namespace kroma {

constexpr int kMaxChannels = 15;
constexpr int kInTable = 4096;    // entries of the input curves of both engines (16-bit)
constexpr int kOutTable = 65536;  // entries of the output curves: indexed by a 16-bit value
constexpr int kTetSteps3 = 256;   // fraction steps of the three-input simplex (chosen per pixel)
constexpr int kTetSteps4 = 5;     // and of the four-input ones

enum Engine : int { kTetrahedral = 0, kTrilinear = 1 };

// Where one input sample lands on one grid axis: the lower node already multiplied by the
// axis stride, and the position inside the cell. The trilinear engine keeps a 16-bit fraction
// (0..65536); the tetrahedral engine its part of the weight-table index (three and four
// inputs) or a 0..256 fraction (one input).
struct AxisEntry {
  uint32_t offset;
  uint32_t weight;
};

// Tetrahedral engine, four inputs: simplex for one combination of fraction steps (6^4 entries).
// Three inputs choose their simplex per pixel from the order of their fractions instead, which
// lets them keep 256 fraction steps.
struct WeightEntry {
  uint8_t step[4];  // fraction steps in descending order
  uint8_t order;    // which of the state's vertex-offset rows the simplex walks along
};

// The tetrahedral engine's grid is read eight bytes per node by the vector loops, so it keeps
// this many spare entries after the last node.
constexpr int kGridSlack = 4;

// Tetrahedral engine with a matrix/TRC destination: the grid holds linear light at this many
// units per full scale (values beyond 0..1 kept up to four times full scale either way); the
// interpolated value, kept 16 times finer, is clipped to 0 .. kLinTop and looked up in an output
// table that is exact below 1/16 of full scale and has steps of 32 above it.
constexpr int kLinScale = 8192;
constexpr int32_t kLinTop = kLinScale * 16;
constexpr int kLinFine = 8192;
constexpr int kLinCoarseShift = 5;
constexpr int kLinOutTable = kLinFine + (kLinTop >> kLinCoarseShift) - (kLinFine >> kLinCoarseShift) + 1;
constexpr int kTriOutFine = 4096;
constexpr int kTriOutTable = kTriOutFine + ((65535 - kTriOutFine + 8) >> 4) + 1;
__attribute__((always_inline)) inline uint32_t TriOutIndex(uint32_t v) {  // v in 0..65535
  const uint32_t lo = v < uint32_t(kTriOutFine) ? v : uint32_t(kTriOutFine);
  const uint32_t hi = v > uint32_t(kTriOutFine) ? v : uint32_t(kTriOutFine);
  return lo + ((hi - kTriOutFine + 8) >> 4);
}
__attribute__((always_inline)) inline uint32_t LinIndex(int32_t s) {
  const uint32_t u = uint32_t(s < 0 ? 0 : s > kLinTop ? kLinTop : s);
  const uint32_t lo = u < uint32_t(kLinFine) ? u : uint32_t(kLinFine);
  const uint32_t hi = u > uint32_t(kLinFine) ? u : uint32_t(kLinFine);
  return lo + (hi >> kLinCoarseShift) - (kLinFine >> kLinCoarseShift);
}

}  // namespace kroma

// The grid is built and kept at 16 bits in both engines; the input curves are 16-bit tables
// of 4096 entries and the output curves 16-bit tables of 65536 entries indexed by the grid
// value itself, so no stage quantises linear light to fewer than 16 bits. The pixel loops read
// smaller copies derived from them: compact output tables, the tetrahedral engine's 16-bit
// interpolation grid (output curves folded in, or linear light for a matrix destination), and
// for matrix pairs the per-axis tables of the affine path.
struct KromaEngineState {
  int engine = kroma::kTrilinear;
  uint32_t srcSpace = 0, dstSpace = 0;
  uint8_t inCh = 0, outCh = 0;
  uint16_t gridPoints = 0;
  uint32_t stride[kroma::kMaxChannels] = {};
  int16_t status = 0;
  kroma::Model srcModel = kroma::Model::None, dstModel = kroma::Model::None;
  bool lchOut = false;  // grid holds Lab that pixels turn into LCh on the way out
  bool ready = false;   // the build completed; only then may pixels or 1-D tables use it

  // Node positions per input axis, in input-table units (0..1 of full scale), increasing.
  // A matrix/TRC source places them evenly in its own encoding (the tone curve at k/(g-1)),
  // so that cells are even to the eye while the matrix stays exact between nodes.
  std::vector<double> nodes;  // inCh x gridPoints
  // The encoding the nodes are even in, per axis: the input-table value (0..1) at 4096 even
  // steps of that encoding. The tetrahedral engine measures positions inside a cell in this
  // encoding, because its grid already holds output-encoded values.
  std::vector<double> encoding;  // inCh x 4096

  // Input curves: base tables from the profile, modified ones in use when the flag is set.
  std::vector<uint16_t> baseIn, modIn;  // inCh x 4096
  bool inModified = false;
  // Output curves (16-bit, and the trilinear engine's 8-bit form).
  std::vector<uint16_t> baseOut16, modOut16;  // outCh x 65536
  std::vector<uint8_t> baseOut8, modOut8;     // outCh x 65536 (trilinear engine)
  bool outModified = false;
  // The grid before the output curves, in 16-bit units (65535 = full scale). A matrix/TRC
  // destination keeps values outside 0..65535 (up to four times full scale either way), so
  // that interpolation stays exact where a cell crosses the gamut's edge; the pixel loops
  // clip after interpolating.
  std::vector<int32_t> grid;

  const uint16_t* In(int c) const {
    return (inModified ? modIn : baseIn).data() + size_t(c) * kroma::kInTable;
  }
  const uint16_t* Out16(int c) const {
    return (outModified ? modOut16 : baseOut16).data() + size_t(c) * kroma::kOutTable;
  }
  const uint8_t* Out8(int c) const {
    return (outModified ? modOut8 : baseOut8).data() + size_t(c) * kroma::kOutTable;
  }

  // Per-axis tables derived from the input curves in use. Trilinear engine: inCh x 4096,
  // indexed like the input curves. Tetrahedral engine: axis8 indexed by the 8-bit sample,
  // axisWide by the top 12 bits of a wider one.
  std::vector<kroma::AxisEntry> axis;      // trilinear
  std::vector<kroma::AxisEntry> axis8;     // both engines, inCh x 256, by 8-bit sample
  std::vector<kroma::AxisEntry> axisWide;  // tetrahedral, inCh x 4096
  std::vector<kroma::WeightEntry> weights;
  // Intermediate simplex vertices (offsets). Four inputs: one row per weight order. Three
  // inputs: one row per fraction order code (x >= y) | (y >= z) << 1 | (x >= z) << 2.
  uint32_t vertex[24][3] = {};
  uint32_t farOffset = 0;
  // Tetrahedral engine, the grid pixels interpolate in (plus kGridSlack spare entries):
  // - folded (tetLinear false): the grid through the output curves, in 1/64 of an 8-bit unit;
  //   values beyond the curves' ends continue them by reflection, pixels clip afterwards.
  // - linear (tetLinear, three inputs to a matrix/TRC destination): the grid in linear light,
  //   kLinScale per full scale; positions inside a cell are measured in linear light too, so
  //   the interpolation is exact for the matrix and the output curves (tetOut8/tetOut16, one
  //   table of kLinOutTable entries per channel) apply after clipping. Output curves are
  //   strongly bent near black, where folding them into a grid cannot follow them.
  bool tetLinear = false;
  std::vector<int16_t> tetGrid;

  // Output curves indexed by a linear-light value kept 16 times finer than kLinScale (see
  // LinIndex), used by the tetrahedral engine's linear grid and by the affine path of both
  // engines: outCh x kLinOutTable each.
  std::vector<uint8_t> linOut8;
  std::vector<uint16_t> linOut16;

  // Three inputs to a matrix/TRC destination with no LCh step: when every grid node is the
  // corner value plus one term per input axis (which the matrices of both profiles make so,
  // unless a value had to be clamped), interpolating the grid in either engine gives exactly
  // the sum of the per-axis terms at the interpolated positions, and the loops add three table
  // entries instead of reading the cell's corners. The entries keep each engine's own cells and
  // fractions, in units of kLinTop per full scale; four lanes per entry, the last one zero.
  bool affine = false;

  // Trilinear engine: the output curves in use (Out16, Out8), one entry per 16-bit value below
  // 4096 and one per 16 values above (nearest, full scale exact): outCh x kTriOutTable each,
  // a tenth of the full tables, so that they stay in the cache. See TriOutIndex.
  std::vector<uint16_t> triOut16;
  std::vector<uint8_t> triOut8;

  std::vector<int32_t> affine8;     // 3 x 256 x 4, indexed by the 8-bit sample
  std::vector<int32_t> affineWide;  // 3 x 4096 x 4, indexed like the input curves

  // The pixel loop (kroma::Kernel) chosen once for the colour matcher's depths and layout when
  // it is set up, with those depths and layout; null while none is chosen. Anything that
  // changes what the choice depends on (the 1-D tables) chooses again.
  void (*loop)(const KromaEngineState& st, const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t lines,
               int layout) = nullptr;
  uint16_t loopInBits = 0, loopOutBits = 0, loopLayout = 0;
};

namespace kroma {

// ---- table helpers (tables.cpp) -------------------------------------------------------------

// Resamples n entries to m (16-bit).
std::vector<uint16_t> Resample(const uint16_t* src, size_t n, size_t m);
// Resamples n 16-bit entries to 256 8-bit entries.
std::vector<uint8_t> Resample8(const uint16_t* src, size_t n);
// 8-bit form of a 16-bit table entry.
inline uint8_t Narrow16(uint32_t v) { return uint8_t((v * 255 + 32768) >> 16); }
inline uint8_t Narrow257(uint32_t v) { return uint8_t((v + 128) / 257); }

// Index of a sample of the given depth into a 4096-entry input curve. Full scale reads the
// last entry at every depth (8-bit v: v * 4095 / 255 = 16v + v / 16), so white stays white.
template <int Bits>
__attribute__((always_inline)) inline uint32_t InIndex(uint32_t v) {
  if constexpr (Bits == 8) return (v << 4) + (v >> 4);
  else if constexpr (Bits == 10) return ((v >> 6) << 2) + (v >> 14);
  else if constexpr (Bits == 12) return v >> 4;
  else return (v * 4095 + 32768) >> 16;
}

// Derived tables of each engine from the input curves in use; false when memory runs out.
bool BuildAxisTables(KromaEngineState& st);
constexpr int kFoldScale = 64;  // folded grid units per 8-bit unit
// The tetrahedral engine's interpolation grid: the grid through per-channel 16-bit tables
// (outCh x 65536), in folded units, converted to Lab for an LCh destination.
bool ApplyTetrahedralOutput(KromaEngineState& st, const uint16_t* tables);
// The trilinear engine's compact output tables (and the linear-light ones of its affine path)
// from the output curves in use.
void TrilinearOutputTables(KromaEngineState& st);

// Replaces (merge = false) or composes with (merge = true) the 1-D tables of one side.
// tables holds one table of `entries` values (0..max for `bits`) per channel of that side.
int ChangeTables(KromaEngineState& st, int side, int bits, size_t entries,
                 const uint16_t* const* tables, bool merge);

}  // namespace kroma
