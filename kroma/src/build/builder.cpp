// The transform builder: one pipeline for every pairing of source and destination model in
// both engines. Each grid node runs through a source stage (node value to the source's
// connection space), a connection stage (to the destination's connection space, with the
// media-white scaling of absolute colorimetric) and a destination stage (to grid values).
// The stages are chosen once per build from the two models and the engine.
#include "build/builder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "build/pcs.h"

namespace kroma {
namespace {

using pcs::Space;

constexpr uint64_t kMaxGridEntries = uint64_t(1) << 26;

// Full scale of the grid's samples (KromaEngineState::grid), in both engines.
constexpr uint32_t kGridMax = 65535;

// A profile LUT's colour table ready for interpolation at one precision.
struct Clut {
  std::vector<uint16_t> data;
  unsigned inCh = 0, outCh = 0;
  unsigned points[kMaxChannels] = {};
  uint32_t stride[kMaxChannels] = {};
  bool lchToLab = false;  // entries turned from LCh into Lab
};

struct Ctx {
  const ProfileSide* src = nullptr;
  const ProfileSide* dst = nullptr;
  Space srcOut = Space::XYZ;  // space the source stage delivers
  Space dstIn = Space::XYZ;   // space the destination stage takes
  double white[3] = {};       // reference white of Lab/LCh conversions
  double mwScale[3] = {};     // source / destination media white
  bool lchOut = false;
  pcs::Coding srcCoding = pcs::Coding::Legacy16;  // connection-space coding of each side's LUT
  pcs::Coding dstCoding = pcs::Coding::Legacy16;
  // The colour tables of each side's LUT, one per element (empty for other elements), and the
  // elements evaluated at grid nodes: the source's after its first curves (which the input
  // tables apply), the destination's before its last curves (which the output tables apply).
  std::vector<Clut> srcCluts, dstCluts;
  size_t srcFirst = 0, dstEnd = 0;
  std::vector<double> nodeLin;         // matrix/TRC node values, inCh x points
  std::vector<uint32_t> nodeCode;      // LUT and gray node values (16-bit)
  unsigned points = 0;
  bool tetrahedral = false;
  mutable std::vector<int64_t> scratch;
};

using SourceFn = void (*)(const Ctx&, const uint32_t* k, double out[3]);
using ConnectFn = void (*)(const Ctx&, const double in[3], double out[3]);

// ---- LUT arithmetic -------------------------------------------------------------------------

// How a LUT's connection-space side is encoded: an 8-bit table's values, widened by 257, span
// the whole 16-bit range (L 255 = 100), unlike a 16-bit table's legacy encoding.
pcs::Coding LutCoding(const LutTag& lut) {
  return lut.type == LutTag::Type::Lut16 ? pcs::Coding::Legacy16 : pcs::Coding::Full16;
}

// Linear interpolation in a table of n 16-bit entries at a 16-bit position.
uint32_t ApplyTable(const uint16_t* t, unsigned n, uint32_t v) {
  const uint64_t pos = uint64_t(v) * (n - 1);
  uint64_t j = pos / 65535, f = pos % 65535;
  if (j >= n - 1) {
    j = n - 2;
    f = 65535;
  }
  return uint32_t((t[j] * (65535 - f) + t[j + 1] * f + 32767) / 65535);
}

// Multilinear interpolation, last input axis first; Shift 16 for 16-bit values with 16-bit
// fractions, 8 for 8-bit values with 0..256 fractions.
template <int Shift>
void InterpClut(const Clut& c, const uint32_t* in, uint32_t* out, std::vector<int64_t>& scratch) {
  const unsigned n = c.inCh, outCh = c.outCh;
  constexpr uint64_t kFull = Shift == 16 ? 65535 : 255;
  constexpr int64_t kHalf = int64_t(1) << (Shift - 1);
  uint32_t cell[kMaxChannels];
  int64_t f[kMaxChannels];
  uint32_t base = 0;
  for (unsigned a = 0; a < n; ++a) {
    const unsigned N = c.points[a];
    const uint64_t s = uint64_t(in[a]) * (N - 1);
    uint64_t cl = s / kFull;
    uint64_t fr = ((s % kFull) * (uint64_t(1) << Shift) + kFull / 2 + 1) / kFull;
    if (cl >= N - 1) {
      cl = N - 2;
      fr = uint64_t(1) << Shift;
    }
    cell[a] = uint32_t(cl);
    f[a] = int64_t(fr);
    base += cell[a] * c.stride[a];
  }
  const size_t corners = size_t(1) << n;
  scratch.resize(corners * outCh);
  for (size_t corner = 0; corner < corners; ++corner) {
    uint32_t off = base;
    for (unsigned a = 0; a < n; ++a)
      if ((corner >> (n - 1 - a)) & 1) off += c.stride[a];
    for (unsigned o = 0; o < outCh; ++o) scratch[corner * outCh + o] = c.data[off + o];
  }
  size_t count = corners;
  for (int a = int(n) - 1; a >= 0; --a) {
    count /= 2;
    for (size_t j = 0; j < count; ++j)
      for (unsigned o = 0; o < outCh; ++o) {
        const int64_t lo = scratch[2 * j * outCh + o], hi = scratch[(2 * j + 1) * outCh + o];
        scratch[j * outCh + o] = lo + (((hi - lo) * f[a] + kHalf) >> Shift);
      }
  }
  for (unsigned o = 0; o < outCh; ++o) out[o] = uint32_t(scratch[o]);
}

// A LUT's colour table ready for interpolation; LCh entries turned into Lab when asked.
void PrepareClut(const LutStage& st, bool lchToLab, pcs::Coding coding, Clut& c) {
  c.inCh = st.inCh;
  c.outCh = st.outCh;
  std::copy(st.points, st.points + st.inCh, c.points);
  c.stride[st.inCh - 1] = st.outCh;
  for (int a = int(st.inCh) - 2; a >= 0; --a) c.stride[a] = c.stride[a + 1] * st.points[a + 1];
  c.data = st.clut;
  c.lchToLab = lchToLab && st.outCh == 3;
  if (!c.lchToLab) return;
  for (size_t i = 0; i + 2 < c.data.size(); i += 3) {
    double lch[3], lab[3];
    uint16_t v[3] = {c.data[i], c.data[i + 1], c.data[i + 2]};
    pcs::Decode(Space::LCh, coding, v, lch);
    pcs::LChToLab(lch, lab);
    pcs::Encode(Space::Lab, coding, lab, v);
    c.data[i] = v[0], c.data[i + 1] = v[1], c.data[i + 2] = v[2];
  }
}

std::vector<Clut> PrepareCluts(const LutTag& lut, bool lchToLab, pcs::Coding coding) {
  std::vector<Clut> cluts(lut.stages.size());
  for (size_t i = 0; i < lut.stages.size(); ++i)
    if (lut.stages[i].kind == LutStage::Clut) PrepareClut(lut.stages[i], lchToLab, coding, cluts[i]);
  return cluts;
}

// Runs 16-bit codes through the LUT's elements [from, to). With `lchBack`, a colour table
// whose entries were turned into Lab gives LCh again in `lchCoding`.
void RunStages(const LutTag& lut, const std::vector<Clut>& cluts, size_t from, size_t to, uint32_t* v,
               bool lchBack, pcs::Coding lchCoding, std::vector<int64_t>& scratch) {
  for (size_t i = from; i < to; ++i) {
    const LutStage& st = lut.stages[i];
    switch (st.kind) {
      case LutStage::Curves:
        for (unsigned ch = 0; ch < st.inCh; ++ch)
          v[ch] = ApplyTable(st.curves[ch].data(), unsigned(st.curves[ch].size()), v[ch]);
        break;
      case LutStage::Matrix: {
        double x[3];
        for (int k = 0; k < 3; ++k) x[k] = v[k] / 65535.0;
        for (int r = 0; r < 3; ++r) {
          const double y = st.matrix[r * 3] * x[0] + st.matrix[r * 3 + 1] * x[1] + st.matrix[r * 3 + 2] * x[2] + st.offset[r];
          v[r] = uint32_t(pcs::Clamp(y, 0, 1) * 65535.0 + 0.5);
        }
        break;
      }
      case LutStage::Clut: {
        uint32_t out[kMaxChannels];
        InterpClut<16>(cluts[i], v, out, scratch);
        if (lchBack && cluts[i].lchToLab) {
          const uint16_t lab[3] = {uint16_t(out[0]), uint16_t(out[1]), uint16_t(out[2])};
          uint16_t lch[3];
          pcs::LabCodesToLCh(lchCoding, lab, lch);
          out[0] = lch[0], out[1] = lch[1], out[2] = lch[2];
        }
        std::copy(out, out + st.outCh, v);
        break;
      }
    }
  }
}

// ---- source stages ----------------------------------------------------------------------------

void SourceMatrix(const Ctx& c, const uint32_t* k, double out[3]) {
  const double rgb[3] = {c.nodeLin[k[0]], c.nodeLin[c.points + k[1]], c.nodeLin[2 * c.points + k[2]]};
  const double* m = c.src->matrix;
  for (int r = 0; r < 3; ++r) out[r] = m[r * 3] * rgb[0] + m[r * 3 + 1] * rgb[1] + m[r * 3 + 2] * rgb[2];
}

// The gray curve's output spans 0..1 of L/100 (Lab, LCh) or of each illuminant component (XYZ).
void SourceGray(const Ctx& c, const uint32_t* k, double out[3]) {
  const double y = c.nodeCode[k[0]] / double(kGridMax);
  if (c.src->pcs == kSigXYZ) {
    for (int i = 0; i < 3; ++i) out[i] = y * c.src->illuminant[i];
    return;
  }
  const double lab[3] = {y * 100.0, 0.0, 0.0};
  pcs::LabToXYZ(lab, c.white, out);
}

void SourceLut(const Ctx& c, const uint32_t* k, double out[3]) {
  const LutTag& lut = c.src->lut;
  uint32_t v[kMaxChannels];
  for (unsigned a = 0; a < lut.inCh; ++a) v[a] = c.nodeCode[k[a]];
  RunStages(lut, c.srcCluts, c.srcFirst, lut.stages.size(), v, true, c.srcCoding, c.scratch);
  const uint16_t enc[3] = {uint16_t(v[0]), uint16_t(v[1]), uint16_t(v[2])};
  pcs::Decode(c.srcOut, c.srcCoding, enc, out);
}

// ---- connection -------------------------------------------------------------------------------

void ConnectRelative(const Ctx& c, const double in[3], double out[3]) {
  pcs::Convert(c.srcOut, c.dstIn, in, out, c.white);
}

void ConnectAbsolute(const Ctx& c, const double in[3], double out[3]) {
  double xyz[3];
  pcs::Convert(c.srcOut, Space::XYZ, in, xyz, c.white);
  for (int i = 0; i < 3; ++i) xyz[i] *= c.mwScale[i];
  pcs::Convert(Space::XYZ, c.dstIn, xyz, out, c.white);
}

// ---- destination stages -----------------------------------------------------------------------

// Out-of-gamut values are kept (within four times full scale) and clipped per pixel after
// interpolation, so that a cell crossing the gamut's edge interpolates the matrix exactly.
void DestMatrix(const Ctx& c, const double xyz[3], int32_t* out) {
  const double* m = c.dst->matrix;
  for (int r = 0; r < 3; ++r) {
    const double v = m[r * 3] * xyz[0] + m[r * 3 + 1] * xyz[1] + m[r * 3 + 2] * xyz[2];
    out[r] = int32_t(std::lround((v == v ? std::clamp(v, -4.0, 4.0) : 0.0) * kGridMax));
  }
}

void DestGray(const Ctx& c, const double v[3], int32_t* out) {
  const double y = c.dstIn == Space::XYZ ? v[1] : v[0] / 100.0;
  out[0] = int32_t(pcs::Clamp(y, 0, 1) * kGridMax + 0.5);
}

void DestLut(const Ctx& c, const double v[3], int32_t* out) {
  const LutTag& lut = c.dst->lut;
  uint16_t enc[3] = {};
  pcs::Encode(c.dstIn, c.dstCoding, v, enc);
  uint32_t res[kMaxChannels] = {enc[0], enc[1], enc[2]};
  RunStages(lut, c.dstCluts, 0, c.dstEnd, res, false, c.dstCoding, c.scratch);
  if (c.tetrahedral && c.lchOut) {
    // The tetrahedral grid keeps the LUT's own LCh values so that its output curves apply
    // to them when they are folded in.
    const uint16_t lab[3] = {uint16_t(res[0]), uint16_t(res[1]), uint16_t(res[2])};
    uint16_t lch[3];
    pcs::Lab16ToLCh16(lab, lch);
    res[0] = lch[0], res[1] = lch[1], res[2] = lch[2];
  }
  for (unsigned o = 0; o < lut.outCh; ++o) out[o] = int32_t(res[o]);
}

// ---- tables from the sides --------------------------------------------------------------------

std::vector<std::vector<uint16_t>> InputCurves(const ProfileSide& s) {
  switch (s.model) {
    case Model::MatrixTrc: return {s.curves[0], s.curves[1], s.curves[2]};
    case Model::Gray: return {s.curves[0]};
    default: break;
  }
  // A LUT's first curves, else none.
  if (s.lut.stages.front().kind == LutStage::Curves) return s.lut.stages.front().curves;
  return std::vector<std::vector<uint16_t>>(s.lut.inCh, std::vector<uint16_t>{0, 65535});
}

std::vector<std::vector<uint16_t>> OutputCurves(const ProfileSide& s) {
  switch (s.model) {
    case Model::MatrixTrc: return {s.curves[0], s.curves[1], s.curves[2]};
    case Model::Gray: return {s.curves[0]};
    default: break;
  }
  // A LUT's last curves, else none.
  if (s.lut.stages.back().kind == LutStage::Curves) return s.lut.stages.back().curves;
  return std::vector<std::vector<uint16_t>>(s.lut.outCh, std::vector<uint16_t>{0, 65535});
}

unsigned Channels(const ProfileSide& s, bool input) {
  switch (s.model) {
    case Model::MatrixTrc: return 3;
    case Model::Gray: return 1;
    case Model::Lut: return input ? s.lut.inCh : s.lut.outCh;
    default: return 0;
  }
}

// A forward tone-curve table (n entries over 0..1) at x, interpolated, as 0..1.
double CurveAt(const std::vector<uint16_t>& t, double x) {
  const double pos = x * double(t.size() - 1);
  size_t j = size_t(pos);
  if (j >= t.size() - 1) return t.back() / 65535.0;
  const double f = pos - double(j);
  return (t[j] * (1.0 - f) + t[j + 1] * f) / 65535.0;
}

// ---- the pipeline -----------------------------------------------------------------------------

struct Pipeline {
  using DestFn = void (*)(const Ctx&, const double v[3], int32_t* out);

  static SourceFn ChooseSource(Model m) {
    switch (m) {
      case Model::MatrixTrc: return &SourceMatrix;
      case Model::Lut: return &SourceLut;
      default: return &SourceGray;
    }
  }
  static DestFn ChooseDest(Model m) {
    switch (m) {
      case Model::MatrixTrc: return &DestMatrix;
      case Model::Lut: return &DestLut;
      default: return &DestGray;
    }
  }

  // Node values of every axis. Matrix/TRC source: the linear-light value of the tone curve
  // at k / (g - 1), so nodes are even in the source's own encoding (a curve that does not
  // rise steadily falls back to even steps of a 2.2 power). LUT source: the 16-bit code
  // (g / 2 + k * 65535) / (g - 1). Gray source: the 16-bit code of the 8-bit value k.
  static void NodeValues(Ctx& c, const ProfileSide& src, KromaEngineState& st) {
    const unsigned g = st.gridPoints;
    c.points = g;
    st.nodes.assign(size_t(st.inCh) * g, 0.0);
    st.encoding.assign(size_t(st.inCh) * 4096, 0.0);
    for (unsigned a = 0; a < st.inCh; ++a)
      for (int i = 0; i < 4096; ++i) st.encoding[size_t(a) * 4096 + i] = i / 4095.0;
    if (src.model == Model::MatrixTrc) {
      c.nodeLin.assign(size_t(3) * g, 0.0);
      for (int ch = 0; ch < 3; ++ch) {
        double* n = &c.nodeLin[size_t(ch) * g];
        const std::vector<uint16_t>& curve = src.curves[ch];
        bool rising = true;
        for (unsigned k = 0; k < g; ++k) {
          n[k] = CurveAt(curve, double(k) / (g - 1));
          if (k > 0 && !(n[k] > n[k - 1] + 1e-6)) rising = false;
        }
        double* enc = &st.encoding[size_t(ch) * 4096];
        for (int i = 1; i < 4095 && rising; ++i) {
          enc[i] = CurveAt(curve, i / 4095.0);
          if (!(enc[i] > enc[i - 1])) rising = false;
        }
        if (!rising) {
          for (unsigned k = 0; k < g; ++k) n[k] = std::pow(double(k) / (g - 1), 2.2);
          for (int i = 0; i < 4096; ++i) enc[i] = std::pow(i / 4095.0, 2.2);
        }
        n[0] = 0.0;
        n[g - 1] = 1.0;
        std::copy(n, n + g, &st.nodes[size_t(ch) * g]);
      }
      return;
    }
    c.nodeCode.resize(g);
    for (unsigned k = 0; k < g; ++k) {
      if (src.model == Model::Gray) c.nodeCode[k] = (128 + k * 65535) / 255;
      else c.nodeCode[k] = (g / 2 + k * 65535) / (g - 1);
    }
    for (unsigned a = 0; a < st.inCh; ++a)
      for (unsigned k = 0; k < g; ++k) st.nodes[size_t(a) * g + k] = c.nodeCode[k] / 65535.0;
  }

  static void Run(Ctx& c, KromaEngineState& st, int32_t* grid, uint64_t nodes,
                  ConnectFn connect) {
    const SourceFn source = ChooseSource(st.srcModel);
    const DestFn dest = ChooseDest(st.dstModel);
    uint32_t k[kMaxChannels] = {};
    const int n = st.inCh;
    for (uint64_t node = 0; node < nodes; ++node) {
      double a[3], b[3];
      source(c, k, a);
      connect(c, a, b);
      dest(c, b, grid + node * st.outCh);
      for (int ax = n - 1; ax >= 0; --ax) {
        if (++k[ax] < st.gridPoints) break;
        k[ax] = 0;
      }
    }
  }
};

bool Build(const ProfileSide& src, const ProfileSide& dst, bool absolute, KromaEngineState& st) {
  Ctx c;
  c.src = &src;
  c.dst = &dst;
  c.tetrahedral = st.engine == kTetrahedral;
  c.srcOut = src.model == Model::Lut ? pcs::SpaceOf(src.pcs) : Space::XYZ;
  c.dstIn = dst.model == Model::MatrixTrc ? Space::XYZ : pcs::SpaceOf(dst.pcs);
  for (int i = 0; i < 3; ++i) {
    c.white[i] = src.illuminant[i];
    c.mwScale[i] = dst.mediaWhite[i] != 0.0 ? src.mediaWhite[i] / dst.mediaWhite[i] : 1.0;
  }
  c.lchOut = st.lchOut;

  if (src.model == Model::Lut) {
    c.srcCoding = LutCoding(src.lut);
    c.srcCluts = PrepareCluts(src.lut, src.pcs == kSigLch, c.srcCoding);
    c.srcFirst = src.lut.stages.front().kind == LutStage::Curves ? 1 : 0;
  }
  if (dst.model == Model::Lut) {
    c.dstCoding = LutCoding(dst.lut);
    // The device side's LCh values keep the 16-bit data encoding the pixels use.
    c.dstCluts = PrepareCluts(dst.lut, st.lchOut, pcs::Coding::Legacy16);
    c.dstEnd = dst.lut.stages.size() - (dst.lut.stages.back().kind == LutStage::Curves ? 1 : 0);
  }
  Pipeline::NodeValues(c, src, st);

  const uint64_t entries = uint64_t(st.stride[0]) * st.gridPoints;
  const uint64_t nodes = entries / st.outCh;
  st.grid.assign(size_t(entries), 0);
  Pipeline::Run(c, st, st.grid.data(), nodes, absolute ? &ConnectAbsolute : &ConnectRelative);

  // Input curves at 4096 entries, output curves at one entry per 16-bit grid value.
  const auto inCurves = InputCurves(src);
  const auto outCurves = OutputCurves(dst);
  st.baseIn.resize(size_t(st.inCh) * kInTable);
  for (unsigned ch = 0; ch < st.inCh; ++ch) {
    const auto r = Resample(inCurves[ch].data(), inCurves[ch].size(), kInTable);
    std::memcpy(&st.baseIn[ch * kInTable], r.data(), kInTable * 2);
  }
  st.baseOut16.resize(size_t(st.outCh) * kOutTable);
  for (unsigned ch = 0; ch < st.outCh; ++ch) {
    const auto r = Resample(outCurves[ch].data(), outCurves[ch].size(), kOutTable);
    std::memcpy(&st.baseOut16[size_t(ch) * kOutTable], r.data(), size_t(kOutTable) * 2);
  }
  if (!BuildAxisTables(st)) return false;
  if (st.engine == kTrilinear) {
    st.baseOut8.resize(st.baseOut16.size());
    for (size_t i = 0; i < st.baseOut16.size(); ++i) st.baseOut8[i] = Narrow16(st.baseOut16[i]);
    TrilinearOutputTables(st);
    return true;
  }
  return ApplyTetrahedralOutput(st, st.baseOut16.data());
}

}  // namespace

bool BuildTransform(const ProfileSide& src, const ProfileSide& dst, bool absolute,
                    KromaEngineState& st) {
  try {
    st.srcModel = src.model;
    st.dstModel = dst.model;
    st.srcSpace = src.dataSpace;
    st.dstSpace = dst.dataSpace;
    const unsigned inCh = Channels(src, true), outCh = Channels(dst, false);
    // The source must deliver three connection-space values and the destination take three.
    if (inCh == 0 || outCh == 0) return false;
    if (src.model == Model::Lut && src.lut.outCh != 3) return false;
    if (dst.model == Model::Lut && dst.lut.inCh != 3) return false;
    // The tetrahedral engine's simplex tables exist for one, three and four inputs only.
    if (st.engine == kTetrahedral && inCh != 1 && inCh != 3 && inCh != 4) return false;
    st.inCh = uint8_t(inCh);
    st.outCh = uint8_t(outCh);
    // An LCh destination interpolates in Lab when its LUT has a colour table to convert.
    st.lchOut = dst.model == Model::Lut && dst.dataSpace == kSigLch && outCh == 3 &&
                std::any_of(dst.lut.stages.begin(), dst.lut.stages.end(),
                            [](const LutStage& s) { return s.kind == LutStage::Clut; });
    st.tetLinear = st.engine == kTetrahedral && inCh == 3 && dst.model == Model::MatrixTrc;

    const bool tri = st.engine == kTrilinear;
    if (src.model == Model::Gray) st.gridPoints = 256;
    else if (inCh == 3) st.gridPoints = tri ? 32 : 33;
    else st.gridPoints = tri ? 16 : 21;

    uint64_t stride = outCh;
    for (int a = int(inCh) - 1; a >= 0; --a) {
      st.stride[a] = uint32_t(stride);
      stride *= st.gridPoints;
      if (stride > kMaxGridEntries) {
        st.status = kSideNoMemory;
        return false;
      }
    }
    return Build(src, dst, absolute, st);
  } catch (const std::bad_alloc&) {
    st.status = kSideNoMemory;
    return false;
  }
}

}  // namespace kroma
