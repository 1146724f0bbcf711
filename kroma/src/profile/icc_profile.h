// Reading ICC profiles: header, tag table and the tag types the transforms need, and turning
// one profile into one side of a transform (matrix/TRC, LUT or gray model).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kroma {

constexpr uint32_t Sig(const char (&s)[5]) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
         (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

constexpr uint32_t kSigXYZ = Sig("XYZ ");
constexpr uint32_t kSigLab = Sig("Lab ");
constexpr uint32_t kSigLch = Sig("Lch ");
constexpr uint32_t kSigGray = Sig("GRAY");

struct IccHeader {
  uint32_t size = 0, cmm = 0, version = 0, deviceClass = 0, colorSpace = 0, pcs = 0;
  uint16_t date[6] = {};
  uint32_t magic = 0, platform = 0, flags = 0, manufacturer = 0, model = 0;
  uint32_t attributes[2] = {};
  uint32_t intent = 0;
  int32_t illuminantRaw[3] = {};
  double illuminant[3] = {};
  uint32_t creator = 0;
};

struct TagEntry {
  uint32_t sig, offset, size;
};

// Colour-space code and channel count of a data colour space signature.
int16_t ColorSpaceCode(uint32_t sig);
int16_t ColorSpaceChannels(uint32_t sig);

// An open profile file: header and tag table in memory, the file kept open for tag reads.
// Every size read from the file is checked against the file's length before use.
class IccFile {
 public:
  IccFile() = default;
  IccFile(const IccFile&) = delete;
  IccFile& operator=(const IccFile&) = delete;
  ~IccFile();

  // False when the file cannot be opened or its header and tag table cannot be read whole.
  bool Open(const char* path);
  void Close();

  const IccHeader& header() const { return header_; }
  bool HasTag(uint32_t sig) const { return FindTag(sig) != nullptr; }
  const TagEntry* FindTag(uint32_t sig) const;

  // Reads `count` bytes at absolute offset; false on a short read or out-of-file range.
  bool ReadAt(uint64_t offset, void* out, uint64_t count);
  uint64_t length() const { return length_; }

 private:
  FILE* file_ = nullptr;
  uint64_t length_ = 0;
  IccHeader header_;
  std::vector<TagEntry> tags_;
};

enum class Model : uint8_t { None = 0, MatrixTrc = 1, Lut = 2, Gray = 3 };

// One processing element of a profile's LUT. Every element works on 16-bit codes, 65535 being
// full scale of its channel: curves (one table per channel, entries spread evenly over the
// codes), a 3 x 3 matrix with offsets on the codes as fractions of full scale (y = M x + o,
// held to 0..1), or a colour table (grid points per input axis, first axis slowest, outputs
// interleaved). 8-bit tables and entries are widened by 257 when read.
struct LutStage {
  enum Kind : uint8_t { Curves, Matrix, Clut };
  Kind kind = Curves;
  std::vector<std::vector<uint16_t>> curves;
  double matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  double offset[3] = {};
  unsigned inCh = 0, outCh = 0;
  uint8_t points[15] = {};
  std::vector<uint16_t> clut;
};

// Contents of a LUT tag: lut8 ("mft1"), lut16 ("mft2"), lutAtoBType ("mAB ") or lutBtoAType
// ("mBA "), as its elements in the order they apply. lut8 and lut16: input tables, the matrix
// (where the side's input is XYZ), the colour table and the output tables. lutAtoBType: A
// curves, colour table, M curves, matrix, B curves; lutBtoAType: B curves, matrix, M curves,
// colour table, A curves; each element there only when the tag has it.
struct LutTag {
  enum class Type : uint8_t { Lut8, Lut16, AToB, BToA };
  Type type = Type::Lut16;
  unsigned inCh = 0, outCh = 0;
  std::vector<LutStage> stages;
};

// Reading status of one side.
enum SideStatus : int { kSideOk = 0, kSideMissing = 1, kSideNoMemory = 4 };

// One profile read as a source (side 0) or destination (side 1) of a transform.
struct ProfileSide {
  Model model = Model::None;
  uint32_t dataSpace = 0, pcs = 0, deviceClass = 0;
  double illuminant[3] = {};
  double mediaWhite[3] = {};
  std::vector<uint16_t> curves[3];  // matrix/TRC: r, g, b; gray: curves[0]
  double matrix[9] = {};            // rows X, Y, Z; columns r, g, b (inverted on side 1)
  LutTag lut;
};

// Reads one side with the given ICC intent. Returns kSideOk, kSideMissing or kSideNoMemory.
int ReadSide(IccFile& file, int side, int iccIntent, ProfileSide& out);

// Tone-curve tables: forward (source side) and inverse (destination side, m entries; a
// destination side is read with kInverseEntries). The inverse fails (returns false) for a
// gamma of 0.
constexpr unsigned kInverseEntries = 65536;
std::vector<uint16_t> ForwardCurve(const std::vector<uint16_t>& entries);
bool InverseCurve(const std::vector<uint16_t>& entries, std::vector<uint16_t>& out, unsigned m = 1024);

// Inverts a 3x3 matrix; false when the determinant rounds to 0 in s15.16.
bool InvertMatrix(const double m[9], double inv[9]);

}  // namespace kroma
