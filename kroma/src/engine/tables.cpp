// 1-D table arithmetic of both engines: resampling, index and weight tables, the folded
// output grid of the tetrahedral engine, and replacing or composing the per-channel tables.
#include <algorithm>
#include <cstdint>
#include <cmath>
#include <new>

#include "build/pcs.h"
#include "engine/engine_state.h"
#include "kroma.h"

namespace kroma {

std::vector<uint16_t> Resample(const uint16_t* src, size_t n, size_t m) {
  std::vector<uint16_t> out(m);
  for (size_t i = 0; i < m; ++i) {
    const uint64_t s = uint64_t(i) * (n - 1);
    uint64_t j = s / (m - 1), d = s % (m - 1);
    if (j + 1 >= n) {
      j = n - 2;
      d = m - 1;
    }
    out[i] = uint16_t((m / 2 + (m - 1 - d) * src[j] + d * src[j + 1]) / (m - 1));
  }
  return out;
}

std::vector<uint8_t> Resample8(const uint16_t* src, size_t n) {
  std::vector<uint8_t> out(256);
  for (size_t i = 0; i < 256; ++i) {
    const uint64_t s = uint64_t(i) * (n - 1);
    uint64_t j = s / 255, b = s % 255;
    if (j + 1 >= n) {
      j = n - 2;
      b = 255;
    }
    out[i] = uint8_t((src[j] * (255 - b) + src[j + 1] * b + 32768) / 65535);
  }
  return out;
}

namespace {

// Where position x (0..1) lies on an axis with the given increasing nodes: the cell (0 ..
// points - 2) and the position inside it (0..1). Positions beyond the ends stay on them.
void Locate(const double* nodes, unsigned points, double x, unsigned& cell, double& t) {
  const double* hi = std::upper_bound(nodes, nodes + points, x);
  if (hi == nodes) {
    cell = 0, t = 0.0;
    return;
  }
  if (hi == nodes + points) {
    cell = points - 2, t = 1.0;
    return;
  }
  cell = unsigned(hi - nodes) - 1;
  t = (x - nodes[cell]) / (nodes[cell + 1] - nodes[cell]);
}

// One axis entry of the tetrahedral engine. `steps` is the number of fraction steps (16 or 5
// for the simplex tables, 256 for one input); the fraction is rounded to the nearest step, a
// full step moving on to the next cell except in the last one. A folded grid holds
// output-encoded values, so positions are measured in the encoding the nodes are even in; a
// linear grid is measured in linear light, like the trilinear engine.
AxisEntry TetEntry(const KromaEngineState& st, int c, uint32_t value, unsigned steps,
                   uint32_t weightScale) {
  const unsigned g = st.gridPoints;
  unsigned cell;
  double t;
  if (st.tetLinear) {
    Locate(&st.nodes[size_t(c) * g], g, value / 65535.0, cell, t);
  } else {
    unsigned j;
    Locate(&st.encoding[size_t(c) * 4096], 4096, value / 65535.0, j, t);
    const double d = (j + t) / 4095.0 * (g - 1);
    cell = std::min(unsigned(d), g - 2);
    t = d - cell;
  }
  unsigned step = unsigned(t * steps + 0.5);
  if (step >= steps && cell + 2 < g) ++cell, step = 0;
  return {cell * st.stride[c], step * weightScale};
}

bool BuildTrilinearAxes(KromaEngineState& st) {
  const unsigned g = st.gridPoints;
  st.axis.assign(size_t(st.inCh) * kInTable, AxisEntry{0, 0});
  for (int c = 0; c < st.inCh; ++c) {
    const uint16_t* in = st.In(c);
    const double* nodes = &st.nodes[size_t(c) * g];
    for (int j = 0; j < kInTable; ++j) {
      unsigned cell;
      double t;
      Locate(nodes, g, in[j] / 65535.0, cell, t);
      st.axis[size_t(c) * kInTable + j] = {cell * st.stride[c], uint32_t(t * 65536.0 + 0.5)};
    }
  }
  st.axis8.resize(size_t(st.inCh) * 256);
  for (int c = 0; c < st.inCh; ++c)
    for (uint32_t v = 0; v < 256; ++v) st.axis8[size_t(c) * 256 + v] = st.axis[size_t(c) * kInTable + InIndex<8>(v)];
  return true;
}

bool BuildTetrahedralAxes(KromaEngineState& st) {
  const int n = st.inCh;
  st.axis8.assign(size_t(n) * 256, AxisEntry{0, 0});
  st.axisWide.assign(size_t(n) * kInTable, AxisEntry{0, 0});
  const unsigned steps = n == 1 ? 256 : n == 3 ? kTetSteps3 : kTetSteps4;
  const unsigned radix = steps + 1;
  // Four inputs: each axis's part of the weight-table index; otherwise the fraction itself.
  uint32_t weightScale[kMaxChannels];
  for (int c = n - 1, w = 1; c >= 0; --c, w *= int(radix)) weightScale[c] = n == 4 ? uint32_t(w) : 1;
  for (int c = 0; c < n; ++c) {
    const uint16_t* in = st.In(c);
    for (int j = 0; j < kInTable; ++j)
      st.axisWide[size_t(c) * kInTable + j] = TetEntry(st, c, in[j], steps, weightScale[c]);
    for (uint32_t v = 0; v < 256; ++v)
      st.axis8[size_t(c) * 256 + v] = st.axisWide[size_t(c) * kInTable + InIndex<8>(v)];
  }
  st.farOffset = 0;
  for (int c = 0; c < n; ++c) st.farOffset += st.stride[c];
  st.weights.clear();
  if (n == 1) return true;
  if (n == 3) {
    // Fraction order code (x >= y) | (y >= z) << 1 | (x >= z) << 2: the vertex one step along
    // the largest fraction's axis, then one more along the middle one. Codes 3 and 4 cannot
    // occur; they keep the x, y, z walk.
    const uint32_t sx = st.stride[0], sy = st.stride[1], sz = st.stride[2];
    const uint32_t first[8] = {sz, sz, sy, sx, sx, sx, sy, sx};
    const uint32_t second[8] = {sy, sx, sz, sy, sy, sz, sx, sy};
    for (int code = 0; code < 8; ++code) {
      st.vertex[code][0] = first[code];
      st.vertex[code][1] = first[code] + second[code];
      st.vertex[code][2] = 0;
    }
    return true;
  }

  size_t combos = 1;
  for (int c = 0; c < n; ++c) combos *= radix;
  st.weights.assign(combos, WeightEntry{});
  int orders = 0;
  for (size_t w = 0; w < combos; ++w) {
    int step[4], order[4];
    size_t r = w;
    for (int c = n - 1; c >= 0; --c, r /= radix) step[c] = int(r % radix);
    for (int c = 0; c < n; ++c) order[c] = c;
    // Insertion sort by descending step; equal steps keep axis order.
    for (int i = 1; i < n; ++i)
      for (int j = i; j > 0 && step[order[j]] > step[order[j - 1]]; --j) std::swap(order[j], order[j - 1]);
    WeightEntry& e = st.weights[w];
    uint32_t offset = 0, vertex[3] = {};
    for (int k = 0; k < n; ++k) {
      offset += st.stride[order[k]];
      if (k < n - 1) vertex[k] = offset;
      e.step[k] = uint8_t(step[order[k]]);
    }
    // The vertex offsets depend only on the order of the axes: one row per order.
    int row = 0;
    while (row < orders && !std::equal(vertex, vertex + 3, st.vertex[row])) ++row;
    if (row == orders) std::copy(vertex, vertex + 3, st.vertex[orders++]);
    e.order = uint8_t(row);
  }
  return true;
}

}  // namespace

// The affine path (see KromaEngineState::affine): the corner value and each axis's terms read
// off the grid, checked against every node, then summed per input-table index at the cell and
// fraction the engine's own axis tables give.
static void BuildAffine(KromaEngineState& st) {
  st.affine = false;
  st.affine8.clear();
  st.affineWide.clear();
  if (st.inCh != 3 || st.outCh != 3 || st.dstModel != Model::MatrixTrc || st.lchOut) return;
  const unsigned g = st.gridPoints;
  const int32_t* grid = st.grid.data();
  // term[a][n][c]: the grid one node n along axis a from the corner, minus the corner.
  std::vector<double> term(size_t(3) * g * 3);
  for (int a = 0; a < 3; ++a)
    for (unsigned n = 0; n < g; ++n)
      for (int c = 0; c < 3; ++c) term[(size_t(a) * g + n) * 3 + c] = double(grid[n * st.stride[a] + c]) - grid[c];
  for (unsigned i = 0; i < g; ++i)
    for (unsigned j = 0; j < g; ++j)
      for (unsigned k = 0; k < g; ++k) {
        const int32_t* node = grid + i * st.stride[0] + j * st.stride[1] + k * st.stride[2];
        for (int c = 0; c < 3; ++c) {
          const double sum = grid[c] + term[(size_t(0) * g + i) * 3 + c] + term[(size_t(1) * g + j) * 3 + c] +
                             term[(size_t(2) * g + k) * 3 + c];
          if (std::abs(sum - node[c]) > 2.0) return;  // rounding of three terms at most
        }
      }
  const bool tri = st.engine == kTrilinear;
  const AxisEntry* axes = tri ? st.axis.data() : st.axisWide.data();
  const double fullFraction = tri ? 65536.0 : double(kTetSteps3);
  st.affineWide.assign(size_t(3) * kInTable * 4, 0);
  st.affine8.assign(size_t(3) * 256 * 4, 0);
  for (int a = 0; a < 3; ++a)
    for (int j = 0; j < kInTable; ++j) {
      const AxisEntry e = axes[size_t(a) * kInTable + j];
      const unsigned cell = e.offset / st.stride[a];
      const double f = e.weight / fullFraction;
      for (int c = 0; c < 3; ++c) {
        const double lo = term[(size_t(a) * g + cell) * 3 + c], hi = term[(size_t(a) * g + cell + 1) * 3 + c];
        const double v = (a == 0 ? grid[c] : 0.0) + lo + f * (hi - lo);
        st.affineWide[(size_t(a) * kInTable + j) * 4 + c] = int32_t(std::lround(v * kLinTop / 65535.0));
      }
    }
  for (int a = 0; a < 3; ++a)
    for (uint32_t v = 0; v < 256; ++v)
      std::copy_n(&st.affineWide[(size_t(a) * kInTable + InIndex<8>(v)) * 4], 4, &st.affine8[(size_t(a) * 256 + v) * 4]);
  st.affine = true;
}

bool BuildAxisTables(KromaEngineState& st) {
  try {
    if (!(st.engine == kTrilinear ? BuildTrilinearAxes(st) : BuildTetrahedralAxes(st))) return false;
    BuildAffine(st);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

namespace {

// A 16-bit table at a grid value that may lie outside 0..65535: beyond either end the curve
// continues as its own reflection through the end point, so it stays continuous and keeps
// its slope there.
int32_t Fold(const uint16_t* t, int32_t v) {
  if (v < 0) return 2 * int32_t(t[0]) - t[std::min<int32_t>(-v, 65535)];
  if (v > 65535) return 2 * int32_t(t[65535]) - t[std::max<int32_t>(2 * 65535 - v, 0)];
  return t[v];
}

int16_t ToFold(double v16) {
  const double v = v16 * (255.0 * kFoldScale) / 65535.0;
  return int16_t(std::lround(std::clamp(v, -32768.0, 32767.0)));
}

// The output curve at the linear value each linear-table entry stands for (the middle of its
// step): 16-bit entries interpolated in the 65536-entry table, 8-bit entries from the 8-bit
// table when the engine keeps one (else rounded from the 16-bit curve).
void LinearOutputTables(KromaEngineState& st, const uint16_t* tables, const uint8_t* tables8) {
  st.linOut8.resize(size_t(st.outCh) * kLinOutTable);
  st.linOut16.resize(size_t(st.outCh) * kLinOutTable);
  for (int o = 0; o < st.outCh; ++o) {
    const uint16_t* t = tables + size_t(o) * kOutTable;
    for (int idx = 0; idx < kLinOutTable; ++idx) {
      double u = idx;
      if (idx >= kLinFine) {
        const double first = double(idx - kLinFine + (kLinFine >> kLinCoarseShift)) * (1 << kLinCoarseShift);
        u = std::min(first + ((1 << kLinCoarseShift) - 1) / 2.0, double(kLinTop));
      }
      const double x = u / kLinTop * 65535.0;
      const size_t j = std::min<size_t>(size_t(x), 65534);
      const double f = x - double(j);
      const double v = t[j] * (1.0 - f) + t[j + 1] * f;
      st.linOut16[size_t(o) * kLinOutTable + idx] = uint16_t(std::lround(v));
      st.linOut8[size_t(o) * kLinOutTable + idx] =
          tables8 ? tables8[size_t(o) * kOutTable + size_t(std::lround(x))] : uint8_t(std::lround(v * 255.0 / 65535.0));
    }
  }
}

}  // namespace

void TrilinearOutputTables(KromaEngineState& st) {
  st.triOut16.resize(size_t(st.outCh) * kTriOutTable);
  st.triOut8.resize(size_t(st.outCh) * kTriOutTable);
  for (int o = 0; o < st.outCh; ++o)
    for (int idx = 0; idx < kTriOutTable; ++idx) {
      const int v = idx <= kTriOutFine ? idx : std::min(kTriOutFine + 16 * (idx - kTriOutFine), 65535);
      st.triOut16[size_t(o) * kTriOutTable + idx] = st.Out16(o)[v];
      st.triOut8[size_t(o) * kTriOutTable + idx] = st.Out8(o)[v];
    }
  if (st.affine) LinearOutputTables(st, st.Out16(0), st.Out8(0));
}

bool ApplyTetrahedralOutput(KromaEngineState& st, const uint16_t* tables) {
  const size_t total = st.grid.size();
  const int out = st.outCh;
  try {
    st.tetGrid.assign(total + kGridSlack, 0);
    if (st.tetLinear) {
      for (size_t i = 0; i < total; ++i)
        st.tetGrid[i] = int16_t(std::clamp<long>(std::lround(st.grid[i] * double(kLinScale) / 65535.0), -32767, 32767));
      LinearOutputTables(st, tables, nullptr);
      return true;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (size_t i = 0; i < total; i += size_t(out)) {
    if (st.lchOut) {
      // The output curves apply to the LCh values; pixels interpolate the Lab equivalent.
      uint16_t lch16[3];
      for (int o = 0; o < 3; ++o)
        lch16[o] = tables[size_t(o) * kOutTable + std::clamp<int32_t>(st.grid[i + o], 0, 65535)];
      double lch[3], lab[3];
      pcs::Decode16(pcs::Space::LCh, lch16, lch);
      pcs::LChToLab(lch, lab);
      st.tetGrid[i] = ToFold(lch16[0]);  // L keeps the data encoding's full scale
      for (int o = 1; o < 3; ++o)
        st.tetGrid[i + o] = ToFold((std::clamp(lab[o], -128.0, 127.0) + 128.0) * 65535.0 / 255.0);
      continue;
    }
    for (int o = 0; o < out; ++o) st.tetGrid[i + o] = ToFold(Fold(tables + size_t(o) * kOutTable, st.grid[i + o]));
  }
  return true;
}

namespace {

uint32_t MaxForBits(int bits) {
  switch (bits) {
    case 10: return 1023;
    case 12: return 4095;
    case 16: return 65535;
    default: return 255;
  }
}

// Every entry becomes min(e * S / max, S - 1).
std::vector<uint16_t> Normalise(const uint16_t* t, size_t n, uint32_t max, uint32_t s) {
  std::vector<uint16_t> out(n);
  for (size_t i = 0; i < n; ++i)
    out[i] = uint16_t(std::min<uint64_t>(uint64_t(t[i]) * s / max, s - 1));
  return out;
}

// The input curves of either engine: replaced by the caller's tables, or the caller's curve
// followed by the profile's.
bool ChangeInput(KromaEngineState& st, uint32_t max, size_t n, const uint16_t* const* tables,
                 bool merge) {
  st.modIn.resize(size_t(st.inCh) * kInTable);
  for (int c = 0; c < st.inCh; ++c) {
    uint16_t* dst = st.modIn.data() + size_t(c) * kInTable;
    if (merge) {
      const std::vector<uint16_t> r = Resample(tables[c], n, kInTable);
      const std::vector<uint16_t> idx = Normalise(r.data(), r.size(), max, kInTable);
      const uint16_t* base = st.baseIn.data() + size_t(c) * kInTable;
      for (int j = 0; j < kInTable; ++j) dst[j] = base[idx[j]];
    } else {
      const std::vector<uint16_t> norm = Normalise(tables[c], n, max, 65536);
      const std::vector<uint16_t> r = Resample(norm.data(), n, kInTable);
      std::copy(r.begin(), r.end(), dst);
    }
  }
  st.inModified = true;
  return BuildAxisTables(st);
}

bool ChangeOutput(KromaEngineState& st, uint32_t max, size_t n, const uint16_t* const* tables,
                  bool merge) {
  const bool tri = st.engine == kTrilinear;
  std::vector<uint16_t> out16(size_t(st.outCh) * kOutTable);
  if (tri) st.modOut8.resize(size_t(st.outCh) * kOutTable);
  for (int c = 0; c < st.outCh; ++c) {
    uint16_t* d16 = out16.data() + size_t(c) * kOutTable;
    const uint16_t* b16 = st.baseOut16.data() + size_t(c) * kOutTable;
    if (merge) {
      const std::vector<uint16_t> r = Resample(tables[c], n, kOutTable);
      const std::vector<uint16_t> t16 = Normalise(r.data(), kOutTable, max, 65536);
      // Trilinear engine, and a tetrahedral grid of linear light: the profile's curve, then
      // the caller's, so the caller's curve works on output values (on linear light an 8-bit
      // curve would crush the shadows). A folded tetrahedral grid: the caller's curve on the
      // grid value, then the profile's.
      const bool afterProfile = tri || st.tetLinear;
      for (int k = 0; k < kOutTable; ++k) d16[k] = afterProfile ? t16[b16[k]] : b16[t16[k]];
      if (tri) {
        const std::vector<uint16_t> r256 = Resample(tables[c], n, 256);
        const std::vector<uint16_t> t8 = Normalise(r256.data(), 256, max, 256);
        const uint8_t* b8 = st.baseOut8.data() + size_t(c) * kOutTable;
        uint8_t* d8 = st.modOut8.data() + size_t(c) * kOutTable;
        for (int k = 0; k < kOutTable; ++k) d8[k] = uint8_t(t8[b8[k]]);
      }
    } else {
      const std::vector<uint16_t> norm = Normalise(tables[c], n, max, 65536);
      const std::vector<uint16_t> r = Resample(norm.data(), n, kOutTable);
      std::copy(r.begin(), r.end(), d16);
      if (tri)
        for (int k = 0; k < kOutTable; ++k) st.modOut8[size_t(c) * kOutTable + k] = Narrow16(d16[k]);
    }
  }
  if (!tri) return ApplyTetrahedralOutput(st, out16.data());
  st.modOut16 = std::move(out16);
  st.outModified = true;
  TrilinearOutputTables(st);
  return true;
}

}  // namespace

int ChangeTables(KromaEngineState& st, int side, int bits, size_t entries,
                 const uint16_t* const* tables, bool merge) {
  const uint32_t max = MaxForBits(bits);
  const bool ok = side == 0 ? ChangeInput(st, max, entries, tables, merge)
                            : ChangeOutput(st, max, entries, tables, merge);
  return ok ? KROMA_OK : KROMA_ERR_BUILD;
}

}  // namespace kroma
