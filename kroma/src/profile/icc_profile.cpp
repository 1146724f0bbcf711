#include "profile/icc_profile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace kroma {

namespace {

uint32_t BE32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
uint16_t BE16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
double S15(const uint8_t* p) { return int32_t(BE32(p)) / 65536.0; }

constexpr uint32_t kSigPara = Sig("para");
constexpr uint32_t kSigCurve = Sig("curv");
constexpr uint32_t kSigXYZType = Sig("XYZ ");
constexpr uint32_t kSigLut8 = Sig("mft1");
constexpr uint32_t kSigLut16 = Sig("mft2");
constexpr uint32_t kSigLutAToB = Sig("mAB ");
constexpr uint32_t kSigLutBToA = Sig("mBA ");
constexpr uint32_t kSigPrinter = Sig("prtr");
constexpr uint32_t kSigWtpt = Sig("wtpt");

// The largest grid a profile's LUT may ask for (entries, all outputs included).
constexpr uint64_t kMaxClutEntries = uint64_t(1) << 26;

}  // namespace

int16_t ColorSpaceCode(uint32_t sig) {
  switch (sig) {
    case Sig("GRAY"): return 0;
    case Sig("XYZ "): return 2;
    case Sig("Lab "): return 3;
    case Sig("Luv "): return 4;
    case Sig("YCbr"): return 5;
    case Sig("Yxy "): return 6;
    case Sig("RGB "): return 7;
    case Sig("HSV "): return 8;
    case Sig("HLS "): return 9;
    case Sig("CMY "): return 10;
    case Sig("3CLR"): return 11;
    case Sig("Lch "): return 12;
    case Sig("CMYK"): return 13;
    case Sig("4CLR"): return 14;
    case Sig("2CLR"): return 15;
    default: break;
  }
  if (sig >= Sig("5CLR") && sig <= Sig("9CLR") && (sig & 0xFFFFFF) == (Sig("5CLR") & 0xFFFFFF))
    return int16_t(16 + ((sig >> 24) - '5'));
  if (sig >= 0x3A434C52u && sig <= 0x3F434C52u && (sig & 0xFFFFFF) == 0x434C52u)
    return int16_t(21 + ((sig >> 24) - 0x3A));
  return 7;
}

int16_t ColorSpaceChannels(uint32_t sig) {
  const int16_t code = ColorSpaceCode(sig);
  if (code == 0) return 1;
  if (code == 7) return sig == Sig("RGB ") ? 3 : 0;
  if (code >= 2 && code <= 12) return 3;
  if (code == 13 || code == 14) return 4;
  if (code == 15) return 2;
  if (code >= 16 && code <= 20) return int16_t(code - 11);
  return int16_t(code - 11);  // 21..26 -> 10..15
}

// ---- file --------------------------------------------------------------------------------

IccFile::~IccFile() { Close(); }

void IccFile::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

bool IccFile::ReadAt(uint64_t offset, void* out, uint64_t count) {
  if (file_ == nullptr || offset > length_ || count > length_ - offset) return false;
  if (std::fseek(file_, long(offset), SEEK_SET) != 0) return false;
  return std::fread(out, 1, size_t(count), file_) == size_t(count);
}

bool IccFile::Open(const char* path) {
  Close();
  tags_.clear();
  file_ = std::fopen(path, "rb");
  if (file_ == nullptr) return false;
  if (std::fseek(file_, 0, SEEK_END) != 0) return false;
  const long end = std::ftell(file_);
  if (end < 0) return false;
  length_ = uint64_t(end);

  uint8_t h[132];
  if (!ReadAt(0, h, sizeof h)) return false;
  IccHeader& hd = header_;
  hd.size = BE32(h + 0);
  hd.cmm = BE32(h + 4);
  hd.version = BE32(h + 8);
  hd.deviceClass = BE32(h + 12);
  hd.colorSpace = BE32(h + 16);
  hd.pcs = BE32(h + 20);
  for (int i = 0; i < 6; ++i) hd.date[i] = BE16(h + 24 + 2 * i);
  hd.magic = BE32(h + 36);
  hd.platform = BE32(h + 40);
  hd.flags = BE32(h + 44);
  hd.manufacturer = BE32(h + 48);
  hd.model = BE32(h + 52);
  hd.attributes[0] = BE32(h + 56);
  hd.attributes[1] = BE32(h + 60);
  hd.intent = BE32(h + 64);
  for (int i = 0; i < 3; ++i) {
    hd.illuminantRaw[i] = int32_t(BE32(h + 68 + 4 * i));
    hd.illuminant[i] = hd.illuminantRaw[i] / 65536.0;
  }
  hd.creator = BE32(h + 80);

  const uint32_t count = BE32(h + 128);
  // The whole table must lie inside the file before anything is allocated for it.
  if (uint64_t(count) * 12 > length_ - 132) return false;
  std::vector<uint8_t> raw(size_t(count) * 12);
  if (count != 0 && !ReadAt(132, raw.data(), raw.size())) return false;
  tags_.resize(count);
  for (uint32_t i = 0; i < count; ++i)
    tags_[i] = {BE32(&raw[12 * i]), BE32(&raw[12 * i + 4]), BE32(&raw[12 * i + 8])};
  return true;
}

const TagEntry* IccFile::FindTag(uint32_t sig) const {
  for (const TagEntry& t : tags_)
    if (t.sig == sig) return &t;
  return nullptr;
}

// ---- tags --------------------------------------------------------------------------------

namespace {

// Reads the tag's type signature; false when the tag is absent or cannot be read.
bool TagType(IccFile& f, uint32_t sig, const TagEntry*& entry, uint32_t& type) {
  entry = f.FindTag(sig);
  if (entry == nullptr) return false;
  uint8_t b[4];
  if (!f.ReadAt(entry->offset, b, 4)) return false;
  type = BE32(b);
  return true;
}

// A parametric curve ("para") at `at`, sampled at `points` points (4096 unless said), as a
// table of 16-bit entries.
// The function types 0 to 4 and their parameters are those of the ICC format; any other
// function type counts as a missing tag. `bytes` receives the curve's length in the file.
int ReadParametricAt(IccFile& f, uint64_t at, uint64_t limit, std::vector<uint16_t>& out, uint64_t& bytes,
                     unsigned points = 4096) {
  static constexpr int kParams[5] = {1, 3, 4, 5, 7};
  uint8_t b[4 + 7 * 4];
  if (at + 12 > limit || !f.ReadAt(at + 8, b, 4)) return kSideMissing;
  const unsigned type = BE16(b);
  if (type > 4) return kSideMissing;
  bytes = 12 + uint64_t(kParams[type]) * 4;
  if (at + bytes > limit || !f.ReadAt(at + 12, b + 4, uint64_t(kParams[type]) * 4)) return kSideMissing;
  double p[7] = {1, 1, 0, 0, 0, 0, 0};  // g a b c d e f
  for (int i = 0; i < kParams[type]; ++i) p[i] = S15(b + 4 + 4 * i);
  const double g = p[0], a = p[1], bb = p[2], c = p[3], d = p[4], ee = p[5], ff = p[6];
  auto power = [&](double x) {
    const double base = a * x + bb;
    return base > 0 ? std::pow(base, g) : 0.0;
  };
  try {
    out.resize(points);
  } catch (const std::bad_alloc&) {
    return kSideNoMemory;
  }
  for (unsigned i = 0; i < points; ++i) {
    const double x = i / double(points - 1);
    double y;
    switch (type) {
      case 0: y = std::pow(x, g); break;
      case 1: y = (a != 0 && x >= -bb / a) ? power(x) : 0.0; break;
      case 2: y = (a != 0 && x >= -bb / a) ? power(x) + c : c; break;
      case 3: y = x >= d ? power(x) : c * x; break;
      default: y = x >= d ? power(x) + ee : c * x + ff; break;
    }
    if (!(y >= 0)) y = 0;  // NaN counts as 0
    out[i] = uint16_t(std::lround(std::min(y, 1.0) * 65535.0));
  }
  return kSideOk;
}

// A "curv" (entries as stored, none for n = 0) or "para" curve at `at`, ending before `limit`.
int ReadCurveAt(IccFile& f, uint64_t at, uint64_t limit, std::vector<uint16_t>& out, uint64_t& bytes,
                unsigned paraPoints = 4096) {
  uint8_t b[12];
  if (at > limit || limit - at < 12 || !f.ReadAt(at, b, 12)) return kSideMissing;
  const uint32_t type = BE32(b);
  if (type == kSigPara) return ReadParametricAt(f, at, limit, out, bytes, paraPoints);
  if (type != kSigCurve) return kSideMissing;
  const uint32_t n = BE32(b + 8);
  const uint64_t data = uint64_t(n) * 2;
  if (data > limit - at - 12) return kSideMissing;
  bytes = 12 + data;
  std::vector<uint8_t> raw;
  try {
    raw.resize(size_t(data));
    out.resize(n);
  } catch (const std::bad_alloc&) {
    return kSideNoMemory;
  }
  if (n != 0 && !f.ReadAt(at + 12, raw.data(), data)) return kSideMissing;
  for (uint32_t i = 0; i < n; ++i) out[i] = BE16(&raw[2 * i]);
  return kSideOk;
}

// A "curv" tag (entries left empty for n = 0) or a "para" tag.
int ReadCurve(IccFile& f, uint32_t sig, std::vector<uint16_t>& out) {
  const TagEntry* e;
  uint32_t type;
  if (!TagType(f, sig, e, type)) return kSideMissing;
  uint64_t bytes = 0;
  return ReadCurveAt(f, e->offset, f.length(), out, bytes);
}

// The first XYZ number of an "XYZ " tag.
int ReadXYZ(IccFile& f, uint32_t sig, double xyz[3]) {
  const TagEntry* e;
  uint32_t type;
  if (!TagType(f, sig, e, type) || type != kSigXYZType) return kSideMissing;
  if (e->size < 20) return kSideMissing;
  uint8_t b[12];
  if (!f.ReadAt(uint64_t(e->offset) + 8, b, 12)) return kSideMissing;
  for (int i = 0; i < 3; ++i) xyz[i] = S15(b + 4 * i);
  return kSideOk;
}

// A colour table of `outCh` outputs over `points` (one count per input axis); entries of
// `width` bytes (1 or 2) at `at`, ending before `limit`.
int ReadClut(IccFile& f, uint64_t at, uint64_t limit, unsigned inCh, unsigned outCh, const uint8_t* points,
             unsigned width, LutStage& st) {
  st.kind = LutStage::Clut;
  st.inCh = inCh;
  st.outCh = outCh;
  uint64_t entries = outCh;
  for (unsigned i = 0; i < inCh; ++i) {
    if (points[i] < 2) return kSideMissing;
    st.points[i] = points[i];
    entries *= points[i];
    if (entries > kMaxClutEntries) return kSideNoMemory;
  }
  const uint64_t bytes = entries * width;
  if (at > limit || bytes > limit - at) return kSideMissing;
  std::vector<uint8_t> raw;
  try {
    raw.resize(size_t(bytes));
    st.clut.resize(size_t(entries));
  } catch (const std::bad_alloc&) {
    return kSideNoMemory;
  }
  if (!f.ReadAt(at, raw.data(), bytes)) return kSideMissing;
  for (size_t i = 0; i < st.clut.size(); ++i)
    st.clut[i] = width == 2 ? BE16(&raw[2 * i]) : uint16_t(raw[i] * 257);
  return kSideOk;
}

// lut8 and lut16. The matrix applies where the side's input is XYZ (`xyzInput`).
int ReadLutV2(IccFile& f, const TagEntry* e, bool is16, bool xyzInput, LutTag& lut) {
  const uint64_t base = e->offset;
  uint8_t h[52];
  if (!f.ReadAt(base, h, is16 ? 52 : 48)) return kSideMissing;
  lut.type = is16 ? LutTag::Type::Lut16 : LutTag::Type::Lut8;
  lut.inCh = h[8];
  lut.outCh = h[9];
  const unsigned grid = h[10];
  const unsigned inEntries = is16 ? BE16(h + 48) : 256;
  const unsigned outEntries = is16 ? BE16(h + 50) : 256;
  if (lut.inCh < 1 || lut.inCh > 15 || lut.outCh < 1 || lut.outCh > 15 || grid < 2 || inEntries < 2 ||
      outEntries < 2)
    return kSideMissing;
  const uint64_t width = is16 ? 2 : 1;
  const uint64_t start = base + (is16 ? 52 : 48);
  auto readCurves = [&](uint64_t at, unsigned channels, unsigned n, LutStage& st) {
    const uint64_t bytes = uint64_t(channels) * n * width;
    if (at > f.length() || bytes > f.length() - at) return int(kSideMissing);
    std::vector<uint8_t> raw;
    try {
      raw.resize(size_t(bytes));
      st.curves.assign(channels, std::vector<uint16_t>(n));
    } catch (const std::bad_alloc&) {
      return int(kSideNoMemory);
    }
    if (!f.ReadAt(at, raw.data(), bytes)) return int(kSideMissing);
    for (unsigned c = 0; c < channels; ++c)
      for (unsigned i = 0; i < n; ++i) {
        const size_t k = size_t(c) * n + i;
        st.curves[c][i] = is16 ? BE16(&raw[2 * k]) : uint16_t(raw[k] * 257);
      }
    st.kind = LutStage::Curves;
    st.inCh = st.outCh = channels;
    return int(kSideOk);
  };
  try {
    lut.stages.resize(xyzInput && lut.inCh == 3 ? 4 : 3);
  } catch (const std::bad_alloc&) {
    return kSideNoMemory;
  }
  LutStage& in = lut.stages.front();
  LutStage& clut = lut.stages[lut.stages.size() - 2];
  LutStage& out = lut.stages.back();
  if (int st = readCurves(start, lut.inCh, inEntries, in); st != kSideOk) return st;
  if (lut.stages.size() == 4) {
    LutStage& m = lut.stages[1];
    m.kind = LutStage::Matrix;
    m.inCh = m.outCh = 3;
    for (int i = 0; i < 9; ++i) m.matrix[i] = S15(h + 12 + 4 * i);
  }
  uint8_t points[15];
  std::fill(points, points + 15, uint8_t(grid));
  const uint64_t clutAt = start + uint64_t(lut.inCh) * inEntries * width;
  if (int st = ReadClut(f, clutAt, f.length(), lut.inCh, lut.outCh, points, unsigned(width), clut); st != kSideOk)
    return st;
  return readCurves(clutAt + clut.clut.size() * width, lut.outCh, outEntries, out);
}

// lutAtoBType and lutBtoAType: every element's offset and size is checked against the tag.
int ReadLutV4(IccFile& f, const TagEntry* e, bool aToB, LutTag& lut) {
  const uint64_t base = e->offset;
  const uint64_t limit = std::min<uint64_t>(f.length(), base + e->size);
  uint8_t h[32];
  if (base + 32 > limit || !f.ReadAt(base, h, 32)) return kSideMissing;
  lut.type = aToB ? LutTag::Type::AToB : LutTag::Type::BToA;
  lut.inCh = h[8];
  lut.outCh = h[9];
  if (lut.inCh < 1 || lut.inCh > 15 || lut.outCh < 1 || lut.outCh > 15) return kSideMissing;
  const uint32_t offB = BE32(h + 12), offMatrix = BE32(h + 16), offM = BE32(h + 20), offClut = BE32(h + 24),
                 offA = BE32(h + 28);
  if (offClut == 0 && lut.inCh != lut.outCh) return kSideMissing;

  auto curves = [&](uint32_t offset, unsigned channels) {
    LutStage st;
    st.kind = LutStage::Curves;
    st.inCh = st.outCh = channels;
    st.curves.resize(channels);
    uint64_t at = base + offset;
    for (unsigned c = 0; c < channels; ++c) {
      uint64_t bytes = 0;
      // Parametric curves and gammas are sampled at every 16-bit code: in a B2A table they
      // often rise steeply from black, where fewer samples would lose the shadows.
      if (int r = ReadCurveAt(f, at, limit, st.curves[c], bytes, 65536); r != kSideOk) return r;
      if (st.curves[c].empty()) {
        st.curves[c] = {0, 65535};
      } else if (st.curves[c].size() == 1) {
        const double gamma = st.curves[c][0] / 256.0;
        st.curves[c].resize(65536);
        for (int k = 0; k < 65536; ++k) st.curves[c][k] = uint16_t(65535.0 * std::pow(k / 65535.0, gamma) + 0.5);
      }
      at += (bytes + 3) & ~uint64_t(3);  // each curve starts on a four-byte boundary
    }
    lut.stages.push_back(std::move(st));
    return int(kSideOk);
  };
  auto matrix = [&](uint32_t offset) {
    uint8_t m[48];
    if (base + offset + 48 > limit || !f.ReadAt(base + offset, m, 48)) return int(kSideMissing);
    LutStage st;
    st.kind = LutStage::Matrix;
    st.inCh = st.outCh = 3;
    for (int i = 0; i < 9; ++i) st.matrix[i] = S15(m + 4 * i);
    for (int i = 0; i < 3; ++i) st.offset[i] = S15(m + 36 + 4 * i);
    lut.stages.push_back(st);
    return int(kSideOk);
  };
  auto clut = [&](uint32_t offset) {
    uint8_t c[20];
    if (base + offset + 20 > limit || !f.ReadAt(base + offset, c, 20)) return int(kSideMissing);
    if (c[16] != 1 && c[16] != 2) return int(kSideMissing);
    LutStage st;
    if (int r = ReadClut(f, base + offset + 20, limit, lut.inCh, lut.outCh, c, c[16], st); r != kSideOk) return r;
    lut.stages.push_back(std::move(st));
    return int(kSideOk);
  };
  // Each element in the order it applies; the matrix needs three channels where it stands.
  int r = kSideOk;
  try {
    if (aToB) {
      if (offMatrix != 0 && lut.outCh != 3) return kSideMissing;
      if (offA != 0) r = curves(offA, lut.inCh);
      if (r == kSideOk && offClut != 0) r = clut(offClut);
      if (r == kSideOk && offM != 0) r = curves(offM, lut.outCh);
      if (r == kSideOk && offMatrix != 0) r = matrix(offMatrix);
      if (r == kSideOk && offB != 0) r = curves(offB, lut.outCh);
    } else {
      if (offMatrix != 0 && lut.inCh != 3) return kSideMissing;
      if (offB != 0) r = curves(offB, lut.inCh);
      if (r == kSideOk && offMatrix != 0) r = matrix(offMatrix);
      if (r == kSideOk && offM != 0) r = curves(offM, lut.inCh);
      if (r == kSideOk && offClut != 0) r = clut(offClut);
      if (r == kSideOk && offA != 0) r = curves(offA, lut.outCh);
    }
  } catch (const std::bad_alloc&) {
    return kSideNoMemory;
  }
  if (r == kSideOk && lut.stages.empty()) return kSideMissing;
  return r;
}

int ReadLut(IccFile& f, uint32_t sig, bool xyzInput, LutTag& lut) {
  const TagEntry* e;
  uint32_t type;
  if (!TagType(f, sig, e, type)) return kSideMissing;
  lut = LutTag{};
  if (type == kSigLut8 || type == kSigLut16) return ReadLutV2(f, e, type == kSigLut16, xyzInput, lut);
  if (type == kSigLutAToB || type == kSigLutBToA) return ReadLutV4(f, e, type == kSigLutAToB, lut);
  return kSideMissing;
}

// Illuminant from the header; media white from "wtpt" when it is there.
int ReadWhite(IccFile& f, ProfileSide& s) {
  for (int i = 0; i < 3; ++i) s.illuminant[i] = s.mediaWhite[i] = f.header().illuminant[i];
  if (!f.HasTag(kSigWtpt)) return kSideOk;
  return ReadXYZ(f, kSigWtpt, s.mediaWhite);
}

int CurveForSide(IccFile& f, uint32_t sig, int side, std::vector<uint16_t>& table) {
  std::vector<uint16_t> entries;
  if (int st = ReadCurve(f, sig, entries); st != kSideOk) return st;
  try {
    if (side == 0) {
      table = ForwardCurve(entries);
      return kSideOk;
    }
    // Inverted at one entry per 16-bit value, so that steep starts (a pure power has no
    // linear toe) keep their precision in the output tables.
    return InverseCurve(entries, table, kInverseEntries) ? kSideOk : kSideMissing;
  } catch (const std::bad_alloc&) {
    return kSideNoMemory;
  }
}

uint32_t LutTagSig(int side, uint32_t deviceClass, int iccIntent) {
  char n = '0';
  if (deviceClass == kSigPrinter) {
    if (iccIntent == 1 || iccIntent == 3) n = '1';
    else if (iccIntent == 2) n = '2';
  }
  const uint32_t prefix = side == 0 ? Sig("A2B0") : Sig("B2A0");
  return (prefix & 0xFFFFFF00u) | uint8_t(n);
}

// A position in a 16-bit table, rounded and held to the table: a curve that is not
// monotonic puts the interpolation outside its two entries (or divides by a zero step).
uint16_t TableCode(double x) {
  if (!(x > 0.0)) return 0;
  if (x >= 65535.0) return 65535;
  return uint16_t(x + 0.5);
}

}  // namespace

// ---- curves and matrices -----------------------------------------------------------------

std::vector<uint16_t> ForwardCurve(const std::vector<uint16_t>& entries) {
  if (entries.empty()) return {0, 65535};
  if (entries.size() >= 2) return entries;
  const double gamma = entries[0] / 256.0;
  std::vector<uint16_t> t(1024);
  double x = 0.0;
  for (int k = 0; k < 1024; ++k) {
    t[k] = uint16_t(65535.0 * std::pow(x, gamma) + 0.5);
    x += 1.0 / 1023.0;
  }
  return t;
}

bool InverseCurve(const std::vector<uint16_t>& e, std::vector<uint16_t>& t, unsigned m) {
  if (e.empty()) {
    t = {0, 65535};
    return true;
  }
  const int last = int(m) - 1;
  t.assign(m, 0);
  const size_t n = e.size();
  if (n == 1) {
    const double gamma = e[0] / 256.0;
    if (gamma == 0.0) return false;
    for (int k = 0; k <= last; ++k) {
      double v = 65535.0 * std::pow(double(k) / last, 1.0 / gamma) + 0.5;
      t[k] = uint16_t(v > 65535.0 ? 65535.0 : v);
    }
    return true;
  }
  const double scale = 65535.0 / double(n - 1);
  const double stepV = 65535.0 / last;
  if (e[0] <= e[n - 1]) {
    size_t i = 0;
    double v = 0.0;
    for (int k = 0; k <= last; ++k, v += stepV) {
      if (v <= e[0]) {
        t[k] = 0;
      } else if (v >= e[n - 1]) {
        t[k] = 65535;
      } else {
        while (i < n - 2 && v > e[i + 1]) ++i;
        const double t0 = (v - e[i]) / double(e[i + 1] - e[i]);
        t[k] = TableCode(((1 - t0) * double(i) + t0 * double(i + 1)) * scale);
      }
    }
  } else {
    size_t j = n - 1;
    double v = 65535.0;
    for (int k = last; k >= 0; --k, v -= stepV) {
      if (v <= e[n - 1]) {
        t[k] = 65535;
      } else if (v >= e[0]) {
        t[k] = 0;
      } else {
        while (j > 1 && v > e[j - 1]) --j;
        const double t0 = (v - e[j]) / double(e[j - 1] - e[j]);
        t[k] = TableCode(((1 - t0) * double(j) + t0 * double(j - 1)) * scale);
      }
    }
  }
  return true;
}

bool InvertMatrix(const double m[9], double inv[9]) {
  // Cofactors C[r][c] of m.
  double c[9];
  c[0] = m[4] * m[8] - m[5] * m[7];
  c[1] = -(m[3] * m[8] - m[5] * m[6]);
  c[2] = m[3] * m[7] - m[4] * m[6];
  c[3] = -(m[1] * m[8] - m[2] * m[7]);
  c[4] = m[0] * m[8] - m[2] * m[6];
  c[5] = -(m[0] * m[7] - m[1] * m[6]);
  c[6] = m[1] * m[5] - m[2] * m[4];
  c[7] = -(m[0] * m[5] - m[2] * m[3]);
  c[8] = m[0] * m[4] - m[1] * m[3];
  const double det = m[0] * c[0] + m[1] * c[1] + m[2] * c[2];
  if (!std::isfinite(det) || int64_t(det * 65536.0 + 0.5) == 0) return false;
  for (int r = 0; r < 3; ++r)
    for (int col = 0; col < 3; ++col) inv[r * 3 + col] = c[col * 3 + r] / det;
  return true;
}

// ---- one side ----------------------------------------------------------------------------

int ReadSide(IccFile& f, int side, int iccIntent, ProfileSide& s) {
  const IccHeader& h = f.header();
  s = ProfileSide{};
  s.dataSpace = h.colorSpace;
  s.pcs = h.pcs;
  s.deviceClass = h.deviceClass;
  if (h.pcs != kSigLab && h.pcs != kSigLch && h.pcs != kSigXYZ) return kSideMissing;

  if (h.colorSpace == kSigGray) {
    s.model = Model::Gray;
    if (int st = ReadWhite(f, s); st != kSideOk) return st;
    return CurveForSide(f, Sig("kTRC"), side, s.curves[0]);
  }

  s.model = Model::Lut;
  if (int st = ReadWhite(f, s); st != kSideOk) return st;
  const uint32_t lutSig = LutTagSig(side, h.deviceClass, iccIntent);
  // The matrix of a lut8 or lut16 applies to XYZ input: the data of a source, the PCS of a
  // destination.
  const bool xyzInput = (side == 0 ? h.colorSpace : h.pcs) == kSigXYZ;
  int lutStatus = ReadLut(f, lutSig, xyzInput, s.lut);
  // A printer profile without the intent's own table uses its intent-0 table, as every
  // profile must carry that one.
  const uint32_t lut0 = (lutSig & 0xFFFFFF00u) | uint8_t('0');
  if (lutStatus == kSideMissing && lutSig != lut0) lutStatus = ReadLut(f, lut0, xyzInput, s.lut);
  if (lutStatus == kSideOk) return kSideOk;
  if (lutStatus == kSideNoMemory) return kSideNoMemory;
  s.lut = LutTag{};

  s.model = Model::MatrixTrc;
  if (int st = ReadWhite(f, s); st != kSideOk) return st;
  const uint32_t trc[3] = {Sig("rTRC"), Sig("gTRC"), Sig("bTRC")};
  const uint32_t col[3] = {Sig("rXYZ"), Sig("gXYZ"), Sig("bXYZ")};
  for (int i = 0; i < 3; ++i)
    if (int st = CurveForSide(f, trc[i], side, s.curves[i]); st != kSideOk) return st;
  double m[9];
  for (int c = 0; c < 3; ++c) {
    double xyz[3];
    if (int st = ReadXYZ(f, col[c], xyz); st != kSideOk) return st;
    for (int r = 0; r < 3; ++r) m[r * 3 + c] = xyz[r];
  }
  if (side == 0) {
    std::memcpy(s.matrix, m, sizeof m);
    return kSideOk;
  }
  return InvertMatrix(m, s.matrix) ? kSideOk : kSideMissing;
}

}  // namespace kroma
