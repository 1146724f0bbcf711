#include "icc_writer.h"

#include <cmath>
#include <cstdio>

namespace iccw {
namespace {

constexpr double kPi = 3.14159265358979323846;

void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
}
void Put16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(uint8_t(v >> 8));
  b.push_back(uint8_t(v));
}
void PutS15(std::vector<uint8_t>& b, double v) { Put32(b, uint32_t(int32_t(std::lround(v * 65536.0)))); }
void Set32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (24 - 8 * i));
}

uint16_t Clamp16(double v) { return uint16_t(v <= 0 ? 0 : v >= 65535 ? 65535 : std::lround(v)); }

}  // namespace

std::vector<uint8_t> CurveBytes(const std::vector<uint16_t>& entries) {
  std::vector<uint8_t> d;
  Put32(d, Sig("curv"));
  Put32(d, 0);
  Put32(d, uint32_t(entries.size()));
  for (uint16_t e : entries) Put16(d, e);
  return d;
}

std::vector<uint8_t> V4LutBytes(const V4Lut& lut) {
  std::vector<uint8_t> d;
  Put32(d, Sig(lut.aToB ? "mAB " : "mBA "));
  Put32(d, 0);
  d.push_back(uint8_t(lut.in));
  d.push_back(uint8_t(lut.out));
  Put16(d, 0);
  for (int i = 0; i < 5; ++i) Put32(d, 0);  // offsets B, matrix, M, CLUT, A
  auto align = [&] {
    while (d.size() % 4) d.push_back(0);
  };
  auto curves = [&](const std::vector<std::vector<uint8_t>>& set, size_t slot) {
    if (set.empty()) return;
    Set32(d, 12 + 4 * slot, uint32_t(d.size()));
    for (const auto& c : set) {
      d.insert(d.end(), c.begin(), c.end());
      align();
    }
  };
  curves(lut.a, 4);
  if (!lut.grid.empty()) {
    Set32(d, 24, uint32_t(d.size()));
    for (int i = 0; i < 16; ++i) d.push_back(i < int(lut.grid.size()) ? lut.grid[i] : 0);
    d.push_back(uint8_t(lut.precision));
    d.insert(d.end(), 3, 0);
    for (uint16_t v : lut.clut) {
      if (lut.precision == 1) d.push_back(uint8_t(v));
      else Put16(d, v);
    }
    align();
  }
  curves(lut.m, 2);
  if (!lut.matrix.empty()) {
    Set32(d, 16, uint32_t(d.size()));
    for (double v : lut.matrix) PutS15(d, v);
  }
  curves(lut.b, 0);
  return d;
}

void Profile::AddCurve(uint32_t sig, const std::vector<uint16_t>& entries) {
  std::vector<uint8_t> d;
  Put32(d, Sig("curv"));
  Put32(d, 0);
  Put32(d, uint32_t(entries.size()));
  for (uint16_t e : entries) Put16(d, e);
  tags_.push_back({sig, d});
}

void Profile::AddXYZ(uint32_t sig, double x, double y, double z) {
  std::vector<uint8_t> d;
  Put32(d, Sig("XYZ "));
  Put32(d, 0);
  PutS15(d, x);
  PutS15(d, y);
  PutS15(d, z);
  tags_.push_back({sig, d});
}

void Profile::AddLut(uint32_t sig, const Lut& lut) {
  std::vector<uint8_t> d;
  Put32(d, Sig(lut.bits == 8 ? "mft1" : "mft2"));
  Put32(d, 0);
  d.push_back(uint8_t(lut.in));
  d.push_back(uint8_t(lut.out));
  d.push_back(uint8_t(lut.grid));
  d.push_back(0);
  for (double m : lut.matrix) PutS15(d, m);
  auto put = [&](const std::vector<uint16_t>& v) {
    for (uint16_t x : v) {
      if (lut.bits == 8) d.push_back(uint8_t(x));
      else Put16(d, x);
    }
  };
  if (lut.bits != 8) {
    Put16(d, uint16_t(lut.inEntries));
    Put16(d, uint16_t(lut.outEntries));
  }
  put(lut.inTables);
  put(lut.clut);
  put(lut.outTables);
  tags_.push_back({sig, d});
}

void Profile::AddText(uint32_t sig, const std::string& text) {
  std::vector<uint8_t> d;
  Put32(d, Sig("text"));
  Put32(d, 0);
  d.insert(d.end(), text.begin(), text.end());
  d.push_back(0);
  tags_.push_back({sig, d});
}

void Profile::AddRaw(uint32_t sig, const std::vector<uint8_t>& bytes) { tags_.push_back({sig, bytes}); }

void Profile::AddDangling(uint32_t sig, uint32_t offset, uint32_t size) {
  tags_.push_back({sig, {}, true, offset, size});
}

std::vector<uint8_t> Profile::Bytes() const {
  std::vector<uint8_t> b(128, 0);
  Set32(b, 8, version);
  Set32(b, 12, deviceClass);
  Set32(b, 16, colorSpace);
  Set32(b, 20, pcs);
  Set32(b, 36, magic);
  Set32(b, 64, intent);
  for (int i = 0; i < 3; ++i) Set32(b, 68 + 4 * i, uint32_t(int32_t(std::lround(illuminant[i] * 65536.0))));
  Put32(b, uint32_t(tags_.size()));
  const size_t table = b.size();
  b.resize(table + 12 * tags_.size());
  for (size_t i = 0; i < tags_.size(); ++i) {
    const Tag& t = tags_[i];
    uint32_t offset = t.offset, size = t.size;
    if (!t.dangling) {
      while (b.size() % 4 != 0) b.push_back(0);
      offset = uint32_t(b.size());
      size = uint32_t(t.data.size());
      b.insert(b.end(), t.data.begin(), t.data.end());
    }
    Set32(b, table + 12 * i, t.sig);
    Set32(b, table + 12 * i + 4, offset);
    Set32(b, table + 12 * i + 8, size);
  }
  while (b.size() % 4 != 0) b.push_back(0);
  Set32(b, 0, uint32_t(b.size()));
  return b;
}

bool Profile::Write(const std::string& path) const {
  const std::vector<uint8_t> b = Bytes();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
  return std::fclose(f) == 0 && ok;
}

std::vector<uint16_t> Ramp(unsigned entries, uint16_t top) {
  std::vector<uint16_t> r(entries);
  for (unsigned i = 0; i < entries; ++i) r[i] = uint16_t(std::lround(double(top) * i / (entries - 1)));
  return r;
}

void FillClut(Lut& lut, const std::function<void(const double* in, double* out)>& f) {
  size_t nodes = 1;
  for (unsigned i = 0; i < lut.in; ++i) nodes *= lut.grid;
  lut.clut.assign(nodes * lut.out, 0);
  const double full = lut.bits == 8 ? 255.0 : 65535.0;
  std::vector<double> in(lut.in), out(lut.out);
  for (size_t n = 0; n < nodes; ++n) {
    size_t r = n;
    for (int a = int(lut.in) - 1; a >= 0; --a) {
      in[a] = double(r % lut.grid) / (lut.grid - 1);
      r /= lut.grid;
    }
    f(in.data(), out.data());
    for (unsigned o = 0; o < lut.out; ++o) {
      const double v = std::lround(out[o] * full);
      lut.clut[n * lut.out + o] = uint16_t(v < 0 ? 0 : v > full ? full : v);
    }
  }
}

std::vector<uint16_t> SRGBCurve(unsigned n) {
  std::vector<uint16_t> c(n);
  for (unsigned i = 0; i < n; ++i) {
    const double x = double(i) / (n - 1);
    const double y = x <= 0.04045 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
    c[i] = Clamp16(y * 65535.0);
  }
  return c;
}

Profile MatrixRgb(const double r[3], const double g[3], const double b[3],
                  const std::vector<uint16_t>& curve, const double white[3]) {
  Profile p;
  p.AddText(Sig("desc"), "RGB");
  p.AddXYZ(Sig("wtpt"), white[0], white[1], white[2]);
  p.AddXYZ(Sig("rXYZ"), r[0], r[1], r[2]);
  p.AddXYZ(Sig("gXYZ"), g[0], g[1], g[2]);
  p.AddXYZ(Sig("bXYZ"), b[0], b[1], b[2]);
  p.AddCurve(Sig("rTRC"), curve);
  p.AddCurve(Sig("gTRC"), curve);
  p.AddCurve(Sig("bTRC"), curve);
  return p;
}

Profile OXsRGB() {
  static constexpr double r[3] = {0.4360747, 0.2225045, 0.0139322};
  static constexpr double g[3] = {0.3850649, 0.7168786, 0.0971045};
  static constexpr double b[3] = {0.1430804, 0.0606169, 0.7141733};
  Profile p = MatrixRgb(r, g, b, SRGBCurve(1024));
  p.AddText(Sig("cprt"), "No copyright, use freely");
  return p;
}

// Lab data: L 0..65535 means 0..100 and a, b = v / 256 - 128. The connection space inside the
// LUTs is the lut16 Lab encoding (L 0..65280 = 0..100), so the L tables rescale.
namespace {
constexpr double kLDataToPcs = 65280.0 / 65535.0;

std::vector<uint16_t> LToPcs() { return {0, 65280}; }
std::vector<uint16_t> LFromPcs() {
  std::vector<uint16_t> t(257);
  for (unsigned k = 0; k < 257; ++k) t[k] = Clamp16(k * 65535.0 / 256.0 / kLDataToPcs);
  return t;
}
std::vector<uint16_t> Concat(std::initializer_list<std::vector<uint16_t>> parts) {
  std::vector<uint16_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
void Identity(const double* in, double* out) {
  for (int i = 0; i < 3; ++i) out[i] = in[i];
}
}  // namespace

Profile OXLab() {
  Profile p;
  p.deviceClass = Sig("spac");
  p.colorSpace = Sig("Lab ");
  p.pcs = Sig("Lab ");
  p.AddText(Sig("desc"), "OX Lab");
  p.AddXYZ(Sig("wtpt"), kD50[0], kD50[1], kD50[2]);
  Lut a2b;
  a2b.inEntries = 2;
  a2b.inTables = Concat({LToPcs(), Ramp(2), Ramp(2)});
  FillClut(a2b, Identity);
  a2b.outEntries = 2;
  a2b.outTables = Concat({Ramp(2), Ramp(2), Ramp(2)});
  p.AddLut(Sig("A2B0"), a2b);
  Lut b2a;
  b2a.inEntries = 2;
  b2a.inTables = Concat({Ramp(2), Ramp(2), Ramp(2)});
  FillClut(b2a, Identity);
  b2a.outEntries = 257;
  b2a.outTables = Concat({LFromPcs(), Ramp(257), Ramp(257)});
  p.AddLut(Sig("B2A0"), b2a);
  return p;
}

// LCh data: L as for Lab data, C = v / 256, h = v * 2pi / 65536.
Profile OXLch() {
  Profile p;
  p.deviceClass = Sig("spac");
  p.colorSpace = Sig("Lch ");
  p.pcs = Sig("Lab ");
  p.AddText(Sig("desc"), "OX LCh");
  p.AddXYZ(Sig("wtpt"), kD50[0], kD50[1], kD50[2]);
  Lut a2b;
  a2b.grid = 33;
  a2b.inEntries = 2;
  a2b.inTables = Concat({Ramp(2), Ramp(2), Ramp(2)});
  FillClut(a2b, [](const double* in, double* out) {
    const double L = in[0] * 100.0, C = in[1] * 65535.0 / 256.0, h = in[2] * 65535.0 / 65536.0 * 2 * kPi;
    const double a = C * std::cos(h), b = C * std::sin(h);
    out[0] = L * 652.80 / 65535.0;
    out[1] = (std::fmin(std::fmax(a, -128.0), 32767.0 / 256.0) + 128.0) * 256.0 / 65535.0;
    out[2] = (std::fmin(std::fmax(b, -128.0), 32767.0 / 256.0) + 128.0) * 256.0 / 65535.0;
  });
  a2b.outEntries = 2;
  a2b.outTables = Concat({Ramp(2), Ramp(2), Ramp(2)});
  p.AddLut(Sig("A2B0"), a2b);
  Lut b2a;
  b2a.grid = 33;
  b2a.inEntries = 2;
  b2a.inTables = Concat({Ramp(2), Ramp(2), Ramp(2)});
  FillClut(b2a, [](const double* in, double* out) {
    const double a = in[1] * 65535.0 / 256.0 - 128.0, b = in[2] * 65535.0 / 256.0 - 128.0;
    double h = std::atan2(b, a);
    if (h < 0) h += 2 * kPi;
    out[0] = in[0];  // stays in the lut16 L scale; the output table rescales it
    out[1] = std::sqrt(a * a + b * b) * 256.0 / 65535.0;
    out[2] = std::fmin(h / (2 * kPi) * 65536.0, 65535.0) / 65535.0;
  });
  b2a.outEntries = 257;
  b2a.outTables = Concat({LFromPcs(), Ramp(257), Ramp(257)});
  p.AddLut(Sig("B2A0"), b2a);
  return p;
}

}  // namespace iccw
