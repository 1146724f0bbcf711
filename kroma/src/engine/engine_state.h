// The built transform of one handle: input tables, grid and output tables of either engine,
// plus the derived index tables the pixel loops read.
#pragma once

#include <cstdint>
#include <vector>

#include "profile/icc_profile.h"

namespace kroma {

constexpr int kMaxChannels = 15;
constexpr int kTriTable = 4096;  // entries of the trilinear engine's 1-D tables
constexpr int kTetTable = 256;   // entries of the tetrahedral engine's 1-D tables

enum Engine : int { kTetrahedral = 0, kTrilinear = 1 };

// Tetrahedral engine: what one 8-bit input value contributes on one axis.
struct AxisEntry {
  uint32_t offset;  // lower grid node on this axis, already multiplied by the axis stride
  uint32_t weight;  // this axis's part of the weight-table index (3/4 inputs) or the
                    // 0..256 fraction (1 input)
};

// Tetrahedral engine: simplex for one combination of fraction steps.
struct WeightEntry {
  uint32_t vertex[3];  // offsets of the intermediate simplex vertices from the base node
  uint8_t step[4];     // fraction steps in descending order
};

}  // namespace kroma

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

  // Trilinear engine. Base tables come from the profiles; the modified ones are in use when
  // the side's flag is set.
  std::vector<uint16_t> triBaseIn, triModIn;  // inCh x 4096
  bool triInModified = false;
  std::vector<uint16_t> triBaseOut16, triModOut16;  // outCh x 4096
  std::vector<uint8_t> triBaseOut8, triModOut8;     // outCh x 4096
  bool triOutModified = false;
  std::vector<uint16_t> cell;   // 4096: lower grid index of a 12-bit position
  std::vector<uint32_t> frac;   // 4096: position inside the cell, 0..65536
  std::vector<uint16_t> grid16;

  const uint16_t* TriIn(int c) const {
    return (triInModified ? triModIn : triBaseIn).data() + c * kroma::kTriTable;
  }
  const uint16_t* TriOut16(int c) const {
    return (triOutModified ? triModOut16 : triBaseOut16).data() + c * kroma::kTriTable;
  }
  const uint8_t* TriOut8(int c) const {
    return (triOutModified ? triModOut8 : triBaseOut8).data() + c * kroma::kTriTable;
  }

  // Tetrahedral engine.
  std::vector<uint8_t> tetBaseIn, tetIn;  // inCh x 256 input curves (base and in use)
  std::vector<kroma::AxisEntry> axis;     // inCh x 256, indexed by the raw input byte
  std::vector<kroma::WeightEntry> weights;
  uint32_t farOffset = 0;
  std::vector<uint8_t> tetBaseOut;        // outCh x 256
  std::vector<uint8_t> rawGrid8, grid8;
};

namespace kroma {

// ---- table helpers (tables.cpp) -------------------------------------------------------------

// Resamples n entries to m (16-bit).
std::vector<uint16_t> Resample(const uint16_t* src, size_t n, size_t m);
// Resamples n 16-bit entries to 256 8-bit entries.
std::vector<uint8_t> Resample8(const uint16_t* src, size_t n);
// 8-bit form of a 16-bit table entry.
inline uint8_t Narrow4096(uint16_t v) { return uint8_t((uint32_t(v) * 255 + 32768) >> 16); }
inline uint8_t Narrow257(uint32_t v) { return uint8_t((v + 128) / 257); }

// Derived tables of each engine; false when memory runs out.
bool BuildTrilinearIndex(KromaEngineState& st);
bool BuildTetrahedralIndex(KromaEngineState& st);
// Interpolation grid of the tetrahedral engine from the raw grid through per-channel tables
// (outCh x 256), converted to Lab for an LCh destination.
bool ApplyTetrahedralOutput(KromaEngineState& st, const uint8_t* tables);

// Replaces (merge = false) or composes with (merge = true) the 1-D tables of one side.
// tables holds one table of `entries` values (0..max for `bits`) per channel of that side.
int ChangeTables(KromaEngineState& st, int side, int bits, size_t entries,
                 const uint16_t* const* tables, bool merge);

}  // namespace kroma
