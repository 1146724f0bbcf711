// Writing ICC profiles (version 2 layout, and the version-4 LUT types): the library's own Lab, LCh and sRGB profiles and
// the small profiles the tests need.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace iccw {

constexpr uint32_t Sig(const char (&s)[5]) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
         (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

constexpr double kD50[3] = {0.9642, 1.0, 0.8249};

// A lut8 (bits 8) or lut16 (bits 16) tag's contents.
struct Lut {
  int bits = 16;
  unsigned in = 3, out = 3, grid = 2;
  double matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  unsigned inEntries = 2, outEntries = 2;
  std::vector<uint16_t> inTables, clut, outTables;
};

// A lutAtoBType ("mAB ", aToB) or lutBtoAType ("mBA ") tag's contents. Each element is there
// when it is not empty: curve sets as one whole curve ("curv" or "para", type signature
// included) per channel, the matrix as 9 entries and 3 offsets, the colour table as grid
// points per input, precision (1 or 2 bytes) and entries (first input slowest).
struct V4Lut {
  bool aToB = true;
  unsigned in = 3, out = 3;
  std::vector<std::vector<uint8_t>> a, m, b;
  std::vector<double> matrix;
  std::vector<uint8_t> grid;
  unsigned precision = 2;
  std::vector<uint16_t> clut;
};
// The tag's bytes, elements stored in the order A, colour table, M, matrix, B.
std::vector<uint8_t> V4LutBytes(const V4Lut& lut);
// A "curv" curve's bytes (n = 0: identity, n = 1: gamma as u8.8).
std::vector<uint8_t> CurveBytes(const std::vector<uint16_t>& entries);

class Profile {
 public:
  uint32_t deviceClass = Sig("mntr");
  uint32_t colorSpace = Sig("RGB ");
  uint32_t pcs = Sig("XYZ ");
  uint32_t magic = Sig("acsp");
  uint32_t intent = 0;
  uint32_t version = 0x02100000;
  double illuminant[3] = {kD50[0], kD50[1], kD50[2]};

  void AddCurve(uint32_t sig, const std::vector<uint16_t>& entries);
  void AddXYZ(uint32_t sig, double x, double y, double z);
  void AddLut(uint32_t sig, const Lut& lut);
  void AddText(uint32_t sig, const std::string& text);
  // A tag whose bytes are given whole (type signature included).
  void AddRaw(uint32_t sig, const std::vector<uint8_t>& bytes);
  // A tag table entry that points at `offset` instead of at data written here.
  void AddDangling(uint32_t sig, uint32_t offset, uint32_t size);

  std::vector<uint8_t> Bytes() const;
  bool Write(const std::string& path) const;

 private:
  struct Tag {
    uint32_t sig;
    std::vector<uint8_t> data;
    bool dangling = false;
    uint32_t offset = 0, size = 0;
  };
  std::vector<Tag> tags_;
};

// Identity tables and grids.
std::vector<uint16_t> Ramp(unsigned entries, uint16_t top = 65535);
// Fills lut.clut: f gets each node's inputs (0..1 of full scale) and writes the outputs
// (0..1 of full scale).
void FillClut(Lut& lut, const std::function<void(const double* in, double* out)>& f);

// The sRGB curve sampled at n points.
std::vector<uint16_t> SRGBCurve(unsigned n);

// A matrix/TRC RGB profile from D50-relative colorant XYZs and one curve for all channels.
Profile MatrixRgb(const double r[3], const double g[3], const double b[3],
                  const std::vector<uint16_t>& curve, const double white[3] = kD50);

// The library's own profiles.
Profile OXsRGB();
Profile OXLab();
Profile OXLch();

}  // namespace iccw
