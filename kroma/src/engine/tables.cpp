// 1-D table arithmetic of both engines: resampling, index and weight tables, the folded
// output grid of the tetrahedral engine, and replacing or composing the per-channel tables.
#include <algorithm>
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

bool BuildTrilinearIndex(KromaEngineState& st) {
  try {
    st.cell.assign(kTriTable, 0);
    st.frac.assign(kTriTable, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  const uint32_t g = st.gridPoints;
  for (uint32_t p = 0; p < 4095; ++p) {
    const uint32_t s = p * (g - 1);
    st.cell[p] = uint16_t(s / 4095);
    st.frac[p] = uint32_t((uint64_t(s % 4095) * 65536) / 4095);
  }
  st.cell[4095] = uint16_t(g - 2);
  st.frac[4095] = 65536;
  return true;
}

bool BuildTetrahedralIndex(KromaEngineState& st) {
  const int n = st.inCh;
  try {
    st.axis.assign(size_t(n) * 256, AxisEntry{0, 0});
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (n == 1) {
    const uint32_t g = st.gridPoints;
    for (int v = 0; v < 256; ++v) {
      const uint32_t i = st.tetIn[v];
      uint32_t cell = i * (g - 1) / 255;
      uint32_t f = (((i * (g - 1)) % 255) * 256 + 128) / 255;
      if (cell >= g - 1) {
        cell = g - 2;
        f = 256;
      }
      st.axis[v] = {cell * st.stride[0], f};
    }
    st.farOffset = st.stride[0];
    return true;
  }
  const int intervals = n == 3 ? 32 : 20;
  const int steps = n == 3 ? 8 : 5;
  const int radix = steps + 1;
  uint32_t weightScale[4];
  for (int c = n - 1, w = 1; c >= 0; --c, w *= radix) weightScale[c] = uint32_t(w);
  for (int c = 0; c < n; ++c) {
    for (int v = 0; v < 256; ++v) {
      const int i = st.tetIn[c * 256 + v];
      const double d = double(intervals) * i / 255.0;
      int cell = int(std::floor(d));
      int step = int(std::floor(steps * (d - cell)));
      if (cell >= intervals) {
        cell = intervals - 1;
        step = steps;
      }
      st.axis[c * 256 + v] = {uint32_t(cell) * st.stride[c], uint32_t(step) * weightScale[c]};
    }
  }
  int combos = 1;
  for (int c = 0; c < n; ++c) combos *= radix;
  try {
    st.weights.assign(size_t(combos), WeightEntry{});
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int w = 0; w < combos; ++w) {
    int step[4], order[4];
    for (int c = n - 1, r = w; c >= 0; --c, r /= radix) step[c] = r % radix;
    for (int c = 0; c < n; ++c) order[c] = c;
    // Insertion sort by descending step; equal steps keep axis order.
    for (int i = 1; i < n; ++i)
      for (int j = i; j > 0 && step[order[j]] > step[order[j - 1]]; --j) std::swap(order[j], order[j - 1]);
    WeightEntry& e = st.weights[size_t(w)];
    uint32_t offset = 0;
    for (int k = 0; k < n; ++k) {
      offset += st.stride[order[k]];
      if (k < n - 1) e.vertex[k] = offset;
      e.step[k] = uint8_t(step[order[k]]);
    }
  }
  st.farOffset = 0;
  for (int c = 0; c < n; ++c) st.farOffset += st.stride[c];
  return true;
}

bool ApplyTetrahedralOutput(KromaEngineState& st, const uint8_t* tables) {
  const size_t total = st.rawGrid8.size();
  const int out = st.outCh;
  try {
    st.grid8.resize(total);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (size_t i = 0; i < total; i += size_t(out))
    for (int o = 0; o < out; ++o) st.grid8[i + o] = tables[o * 256 + st.rawGrid8[i + o]];
  if (st.lchOut)
    for (size_t i = 0; i < total; i += 3) {
      uint8_t lab[3];
      pcs::LCh8ToLab8(&st.grid8[i], lab);
      st.grid8[i] = lab[0], st.grid8[i + 1] = lab[1], st.grid8[i + 2] = lab[2];
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

void ChangeTrilinear(KromaEngineState& st, int side, uint32_t max, size_t n,
                     const uint16_t* const* tables, bool merge) {
  const int channels = side == 0 ? st.inCh : st.outCh;
  if (side == 0) {
    st.triModIn.resize(size_t(st.inCh) * kTriTable);
    for (int c = 0; c < channels; ++c) {
      uint16_t* dst = st.triModIn.data() + c * kTriTable;
      if (merge) {
        const std::vector<uint16_t> r = Resample(tables[c], n, kTriTable);
        const std::vector<uint16_t> idx = Normalise(r.data(), r.size(), max, kTriTable);
        const uint16_t* base = st.triBaseIn.data() + c * kTriTable;
        for (int j = 0; j < kTriTable; ++j) dst[j] = base[idx[j]];
      } else {
        const std::vector<uint16_t> norm = Normalise(tables[c], n, max, 65536);
        const std::vector<uint16_t> r = Resample(norm.data(), n, kTriTable);
        std::copy(r.begin(), r.end(), dst);
      }
    }
    st.triInModified = true;
    return;
  }
  st.triModOut16.resize(size_t(st.outCh) * kTriTable);
  st.triModOut8.resize(size_t(st.outCh) * kTriTable);
  for (int c = 0; c < channels; ++c) {
    uint16_t* d16 = st.triModOut16.data() + c * kTriTable;
    uint8_t* d8 = st.triModOut8.data() + c * kTriTable;
    if (merge) {
      const std::vector<uint16_t> r256 = Resample(tables[c], n, 256);
      const std::vector<uint16_t> t8 = Normalise(r256.data(), 256, max, 256);
      const std::vector<uint16_t> r4096 = Resample(tables[c], n, kTriTable);
      const std::vector<uint16_t> t16 = Normalise(r4096.data(), kTriTable, max, 65536);
      const uint16_t* b16 = st.triBaseOut16.data() + c * kTriTable;
      const uint8_t* b8 = st.triBaseOut8.data() + c * kTriTable;
      for (int k = 0; k < kTriTable; ++k) {
        d8[k] = uint8_t(t8[b8[k]]);
        d16[k] = t16[(uint32_t(b16[k]) * 4095 + 32768) >> 16];
      }
    } else {
      const std::vector<uint16_t> norm = Normalise(tables[c], n, max, 65536);
      const std::vector<uint16_t> r = Resample(norm.data(), n, kTriTable);
      for (int k = 0; k < kTriTable; ++k) {
        d16[k] = r[k];
        d8[k] = Narrow4096(r[k]);
      }
    }
  }
  st.triOutModified = true;
}

int ChangeTetrahedral(KromaEngineState& st, int side, uint32_t max, size_t n,
                      const uint16_t* const* tables, bool merge) {
  const int channels = side == 0 ? st.inCh : st.outCh;
  std::vector<uint8_t> curves(size_t(channels) * 256);
  for (int c = 0; c < channels; ++c) {
    const std::vector<uint16_t> norm = Normalise(tables[c], n, max, 65536);
    const std::vector<uint8_t> t = Resample8(norm.data(), n);
    const uint8_t* base = (side == 0 ? st.tetBaseIn : st.tetBaseOut).data() + c * 256;
    for (int j = 0; j < 256; ++j) curves[c * 256 + j] = merge ? base[t[j]] : t[j];
  }
  if (side == 0) {
    st.tetIn = std::move(curves);
    return BuildTetrahedralIndex(st) ? KROMA_OK : KROMA_ERR_BUILD;
  }
  return ApplyTetrahedralOutput(st, curves.data()) ? KROMA_OK : KROMA_ERR_BUILD;
}

}  // namespace

int ChangeTables(KromaEngineState& st, int side, int bits, size_t entries,
                 const uint16_t* const* tables, bool merge) {
  const uint32_t max = MaxForBits(bits);
  if (st.engine == kTrilinear) {
    ChangeTrilinear(st, side, max, entries, tables, merge);
    return KROMA_OK;
  }
  return ChangeTetrahedral(st, side, max, entries, tables, merge);
}

}  // namespace kroma
