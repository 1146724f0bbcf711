// Small helpers shared by the Kroma tests: a temporary folder of profiles made on the spot,
// a handle that closes itself, and typical profiles.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "icc_writer.h"
#include "kroma.h"

namespace kt {

inline std::string ColorDir() {
  const char* root = std::getenv("ORVAX_WINDOWS_DIR");
  if (root != nullptr) return std::string(root) + "/SYSTEM/COLOR/";
  const auto bin = std::filesystem::canonical("/proc/self/exe").parent_path();
  return (bin.parent_path() / "windows" / "SYSTEM" / "COLOR").string() + "/";
}
inline std::string OwnProfile(const char* name) { return ColorDir() + name; }

class TempDir {
 public:
  TempDir() {
    std::string t = (std::filesystem::temp_directory_path() / "kroma-XXXXXX").string();
    path_ = mkdtemp(t.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string Write(const std::string& name, const iccw::Profile& p) const {
    const std::string path = path_ + "/" + name;
    EXPECT_TRUE(p.Write(path));
    return path;
  }
  std::string WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string path = path_ + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A matrix/TRC profile whose matrix is the identity (XYZ = RGB) with one-entry gamma curves.
inline iccw::Profile LinearRgb(uint16_t gamma = 256) {
  static constexpr double r[3] = {1, 0, 0}, g[3] = {0, 1, 0}, b[3] = {0, 0, 1};
  return iccw::MatrixRgb(r, g, b, {gamma});
}

inline iccw::Profile GrayProfile(uint16_t gamma = 256, uint32_t pcs = iccw::Sig("XYZ ")) {
  iccw::Profile p;
  p.colorSpace = iccw::Sig("GRAY");
  p.pcs = pcs;
  p.AddXYZ(iccw::Sig("wtpt"), iccw::kD50[0], iccw::kD50[1], iccw::kD50[2]);
  p.AddCurve(iccw::Sig("kTRC"), {gamma});
  return p;
}

// A simple CMYK printer profile with Lab connection: A2B0 and B2A0 as lut16.
inline iccw::Profile CmykProfile(bool withB2A = true) {
  iccw::Profile p;
  p.deviceClass = iccw::Sig("prtr");
  p.colorSpace = iccw::Sig("CMYK");
  p.pcs = iccw::Sig("Lab ");
  p.AddXYZ(iccw::Sig("wtpt"), iccw::kD50[0], iccw::kD50[1], iccw::kD50[2]);
  iccw::Lut a2b;
  a2b.in = 4;
  a2b.grid = 5;
  a2b.inTables = iccw::Ramp(2);
  for (int i = 0; i < 3; ++i) a2b.inTables.insert(a2b.inTables.end(), {0, 65535});
  a2b.outTables = a2b.inTables;
  a2b.outTables.resize(6);
  iccw::FillClut(a2b, [](const double* in, double* out) {
    const double L = 100.0 * (1 - in[3]) * (1 - 0.25 * (in[0] + in[1] + in[2]));
    out[0] = L * 652.8 / 65535.0;
    out[1] = (128.0 + 40 * (in[1] - in[0])) * 256.0 / 65535.0;
    out[2] = (128.0 + 40 * (in[1] - in[2])) * 256.0 / 65535.0;
  });
  p.AddLut(iccw::Sig("A2B0"), a2b);
  if (withB2A) {
    iccw::Lut b2a;
    b2a.out = 4;
    b2a.grid = 9;
    b2a.inTables = {0, 65535, 0, 65535, 0, 65535};
    b2a.outTables = {0, 65535, 0, 65535, 0, 65535, 0, 65535};
    iccw::FillClut(b2a, [](const double* in, double* out) {
      const double L = std::fmin(in[0] * 65535.0 / 652.8, 100.0) / 100.0;
      out[0] = out[1] = out[2] = (1 - L) * 0.5;
      out[3] = (1 - L) * 0.5;
    });
    p.AddLut(iccw::Sig("B2A0"), b2a);
  }
  return p;
}

// A handle that is released when it goes out of scope.
struct Handle {
  CColorMatcher* h = nullptr;
  Handle() = default;
  Handle(const Handle&) = delete;
  ~Handle() { OXCMPostProc(h); }
  operator CColorMatcher*() const { return h; }
  CColorMatcher* operator->() const { return h; }
};

inline CMParam Param(uint16_t width, uint16_t lines, int inCh, int outCh, uint16_t inBits = 8,
                     uint16_t outBits = 8, uint16_t layout = 0, uint16_t bufferLines = 0) {
  if (bufferLines == 0) bufferLines = lines;
  const uint32_t inBytes = inBits == 8 ? 1 : 2, outBytes = outBits == 8 ? 1 : 2;
  return CMParam{width, lines, uint32_t(width) * bufferLines * inCh * inBytes,
                 uint32_t(width) * bufferLines * outCh * outBytes, inBits, outBits, layout};
}

inline int32_t Open(Handle& h, const CMParam& param, std::string src, std::string dst,
                    uint16_t engine = 1, int32_t intent = 1) {
  char* s = src.data();
  char* d = dst.data();
  CMProfilePaths paths{&s, &d};
  return OXCMInit(&param, &paths, engine, intent, &h.h);
}

// Converts a whole buffer through an open handle into a new buffer of outBytes.
inline std::vector<uint8_t> Convert(Handle& h, std::vector<uint8_t> in, uint16_t lines, size_t outBytes,
                                int32_t* rc = nullptr) {
  std::vector<uint8_t> out(outBytes, 0xAB);
  CMBuffer s{in.data(), lines}, d{out.data(), lines};
  const int32_t r = OXCMProc(&s, &d, h);
  if (rc != nullptr) *rc = r;
  else EXPECT_EQ(r, 0);
  return out;
}

inline std::vector<uint8_t> Words(const std::vector<uint16_t>& v) {
  std::vector<uint8_t> b(v.size() * 2);
  for (size_t i = 0; i < v.size(); ++i) b[2 * i] = uint8_t(v[i]), b[2 * i + 1] = uint8_t(v[i] >> 8);
  return b;
}
inline uint16_t Word(const std::vector<uint8_t>& b, size_t i) {
  return uint16_t(b[2 * i] | (b[2 * i + 1] << 8));
}

}  // namespace kt
