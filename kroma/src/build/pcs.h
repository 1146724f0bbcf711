// Connection-space arithmetic: XYZ, CIELab and CIELCh conversions and their 16-bit and 8-bit
// encodings. Used while building grids (never per pixel, except the LCh output conversion).
#pragma once

#include <cmath>
#include <cstdint>

namespace kroma::pcs {

constexpr double kPi = 3.1415926535;
constexpr double kTwoPi = 6.283185307;

enum class Space : uint8_t { XYZ, Lab, LCh };

inline double Clamp(double v, double lo, double hi) {
  if (!(v >= lo)) return lo;  // NaN counts as below
  return v > hi ? hi : v;
}
inline uint16_t Round16(double v) { return uint16_t(v + 0.5); }
inline uint8_t Round8(double v) { return uint8_t(v + 0.5); }

// ---- Lab <-> XYZ, Lab <-> LCh -------------------------------------------------------------

inline double LabF(double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0; }

inline void XYZToLab(const double xyz[3], const double white[3], double lab[3]) {
  const double t = xyz[1] / white[1];
  const double fy = LabF(t);
  lab[0] = t > 0.008856 ? 116.0 * fy - 16.0 : 903.3 * t;
  lab[1] = 500.0 * (LabF(xyz[0] / white[0]) - fy);
  lab[2] = 200.0 * (fy - LabF(xyz[2] / white[2]));
}

inline double LabFInv(double f, double white) {
  return f > 0.2068927064827586 ? white * f * f * f : white * (f - 16.0 / 116.0) / 7.787;
}

inline void LabToXYZ(const double lab[3], const double white[3], double xyz[3]) {
  double fy;
  if (lab[0] > 7.9996248) {
    fy = (lab[0] + 16.0) / 116.0;
    xyz[1] = white[1] * fy * fy * fy;
  } else {
    fy = 7.787 * (lab[0] / 903.3) + 16.0 / 116.0;
    xyz[1] = white[1] * lab[0] / 903.3;
  }
  xyz[0] = LabFInv(fy + lab[1] / 500.0, white[0]);
  xyz[2] = LabFInv(fy - lab[2] / 200.0, white[2]);
}

inline void LabToLCh(const double lab[3], double lch[3]) {
  lch[0] = lab[0];
  const double c = std::sqrt(lab[1] * lab[1] + lab[2] * lab[2]);
  lch[1] = c > 255.99609375 ? 255.99609375 : c;
  lch[2] = std::atan2(lab[2], lab[1]);
}

inline void LChToLab(const double lch[3], double lab[3]) {
  lab[0] = lch[0];
  lab[1] = lch[1] * std::cos(lch[2]);
  lab[2] = lch[1] * std::sin(lch[2]);
}

// Converts a value between connection spaces, white = reference white for Lab and LCh.
inline void Convert(Space from, Space to, const double in[3], double out[3], const double white[3]) {
  double tmp[3];
  if (from == to) {
    out[0] = in[0], out[1] = in[1], out[2] = in[2];
    return;
  }
  switch (from) {
    case Space::XYZ:
      if (to == Space::Lab) {
        XYZToLab(in, white, out);
      } else {
        XYZToLab(in, white, tmp);
        LabToLCh(tmp, out);
      }
      return;
    case Space::Lab:
      if (to == Space::XYZ) LabToXYZ(in, white, out);
      else LabToLCh(in, out);
      return;
    case Space::LCh:
      if (to == Space::Lab) {
        LChToLab(in, out);
      } else {
        LChToLab(in, tmp);
        LabToXYZ(tmp, white, out);
      }
      return;
  }
}

// ---- 16-bit encodings (as in lut16 tags: L 0xFF00 = 100, a/b 0x8000 = 0, XYZ 0x8000 = 1.0) ----

constexpr double kL16 = 652.80;  // code units per L unit

inline void Decode16(Space s, const uint16_t v[3], double out[3]) {
  switch (s) {
    case Space::XYZ:
      for (int i = 0; i < 3; ++i) out[i] = v[i] / 32768.0;
      return;
    case Space::Lab:
      out[0] = v[0] / kL16;
      out[1] = v[1] / 256.0 - 128.0;
      out[2] = v[2] / 256.0 - 128.0;
      return;
    case Space::LCh: {
      out[0] = v[0] / kL16;
      out[1] = v[1] / 256.0;
      double h = v[2] * kTwoPi / 65536.0;
      out[2] = h >= kPi ? h - kTwoPi : h;
      return;
    }
  }
}

inline double EncodeHue(double h, double steps) {
  if (h < 0) h += kTwoPi;
  if (h < 0) h = 0;
  const double top = kTwoPi * (steps - 1) / steps;
  if (h > top) h = top;
  return h * steps / kTwoPi;
}

inline void Encode16(Space s, const double in[3], uint16_t v[3]) {
  switch (s) {
    case Space::XYZ:
      for (int i = 0; i < 3; ++i) v[i] = Round16(Clamp(in[i], 0, 65535.0 / 32768.0) * 32768.0);
      return;
    case Space::Lab:
      v[0] = Round16(Clamp(in[0], 0, 100) * kL16);
      v[1] = Round16((Clamp(in[1], -128, 32767.0 / 256.0) + 128.0) * 256.0);
      v[2] = Round16((Clamp(in[2], -128, 32767.0 / 256.0) + 128.0) * 256.0);
      return;
    case Space::LCh:
      v[0] = Round16(Clamp(in[0], 0, 100) * kL16);
      v[1] = Round16(Clamp(in[1], 0, 65535.0 / 256.0) * 256.0);
      v[2] = Round16(EncodeHue(in[2], 65536.0));
      return;
  }
}

// ---- 8-bit encodings (as in lut8 tags) ------------------------------------------------------

inline void Decode8(Space s, const uint8_t v[3], double out[3]) {
  switch (s) {
    case Space::XYZ:
      for (int i = 0; i < 3; ++i) out[i] = v[i] / 128.0;
      return;
    case Space::Lab:
      out[0] = v[0] * 100.0 / 255.0;
      out[1] = v[1] - 128.0;
      out[2] = v[2] - 128.0;
      return;
    case Space::LCh: {
      out[0] = v[0] * 100.0 / 255.0;
      out[1] = v[1];
      double h = v[2] * kTwoPi / 256.0;
      out[2] = h >= kPi ? h - kTwoPi : h;
      return;
    }
  }
}

inline void Encode8(Space s, const double in[3], uint8_t v[3]) {
  switch (s) {
    case Space::XYZ:
      for (int i = 0; i < 3; ++i) v[i] = Round8(Clamp(in[i], 0, 255.0 / 128.0) * 128.0);
      return;
    case Space::Lab:
      v[0] = Round8(Clamp(in[0], 0, 100) * 2.55);
      v[1] = Round8(Clamp(in[1], -128, 127) + 128.0);
      v[2] = Round8(Clamp(in[2], -128, 127) + 128.0);
      return;
    case Space::LCh:
      v[0] = Round8(Clamp(in[0], 0, 100) * 2.55);
      v[1] = Round8(Clamp(in[1], 0, 255));
      v[2] = Round8(EncodeHue(in[2], 256.0));
      return;
  }
}

// ---- codings of the connection space inside a profile's LUT ----------------------------------
// lut16 tags keep the legacy 16-bit encoding above (L 0xFF00 = 100, a/b 0x8000 = 0). lut8 tags
// (L 0..255 = 0..100, a/b 128 = 0), widened to 16 bits by 257, and the version-4 LUT types
// (L 0xFFFF = 100, a/b 0x8080 = 0) share one encoding: full scale of the 16-bit code is full
// scale of the 8-bit one. XYZ is 0x8000 = 1.0 in all of them. In that encoding LCh keeps C and
// h of the 8-bit encoding at the same full scale.
enum class Coding : uint8_t { Legacy16, Full16 };

inline void Decode(Space s, Coding c, const uint16_t v[3], double out[3]) {
  if (c == Coding::Legacy16 || s == Space::XYZ) return Decode16(s, v, out);
  out[0] = v[0] * 100.0 / 65535.0;
  if (s == Space::Lab) {
    out[1] = v[1] * 255.0 / 65535.0 - 128.0;
    out[2] = v[2] * 255.0 / 65535.0 - 128.0;
    return;
  }
  out[1] = v[1] * 255.0 / 65535.0;
  const double h = v[2] * 255.0 / 65535.0 * kTwoPi / 256.0;
  out[2] = h >= kPi ? h - kTwoPi : h;
}

inline void Encode(Space s, Coding c, const double in[3], uint16_t v[3]) {
  if (c == Coding::Legacy16 || s == Space::XYZ) return Encode16(s, in, v);
  v[0] = Round16(Clamp(in[0], 0, 100) * 655.35);
  if (s == Space::Lab) {
    v[1] = Round16((Clamp(in[1], -128, 127) + 128.0) * 257.0);
    v[2] = Round16((Clamp(in[2], -128, 127) + 128.0) * 257.0);
    return;
  }
  v[1] = Round16(Clamp(in[1], 0, 255) * 257.0);
  v[2] = Round16(EncodeHue(in[2], 256.0) * 257.0);
}

// 16-bit Lab code triple to 16-bit LCh code triple (L passes through unchanged).
inline void Lab16ToLCh16(const uint16_t lab[3], uint16_t lch[3]);

// A Lab code triple to an LCh code triple in one coding.
inline void LabCodesToLCh(Coding c, const uint16_t lab[3], uint16_t lch[3]) {
  if (c == Coding::Legacy16) return Lab16ToLCh16(lab, lch);
  double v[3], w[3];
  Decode(Space::Lab, c, lab, v);
  LabToLCh(v, w);
  Encode(Space::LCh, c, w, lch);
}

inline void Lab16ToLCh16(const uint16_t lab[3], uint16_t lch[3]) {
  const double a = lab[1] / 256.0 - 128.0, b = lab[2] / 256.0 - 128.0;
  double c = std::sqrt(a * a + b * b);
  if (c > 255.99609375) c = 255.99609375;
  lch[0] = lab[0];
  lch[1] = Round16(Clamp(c, 0, 65535.0 / 256.0) * 256.0);
  lch[2] = Round16(EncodeHue(std::atan2(b, a), 65536.0));
}

// 8-bit code conversions; L passes through.
inline void Lab8ToLCh8(const uint8_t lab[3], uint8_t lch[3]) {
  const double a = lab[1] - 128.0, b = lab[2] - 128.0;
  lch[0] = lab[0];
  lch[1] = Round8(Clamp(std::sqrt(a * a + b * b), 0, 255));
  lch[2] = Round8(EncodeHue(std::atan2(b, a), 256.0));
}
inline void LCh8ToLab8(const uint8_t lch[3], uint8_t lab[3]) {
  double h = lch[2] * kTwoPi / 256.0;
  if (h >= kPi) h -= kTwoPi;
  lab[0] = lch[0];
  lab[1] = Round8(Clamp(lch[1] * std::cos(h), -128, 127) + 128.0);
  lab[2] = Round8(Clamp(lch[1] * std::sin(h), -128, 127) + 128.0);
}

inline Space SpaceOf(uint32_t sig) {
  if (sig == 0x4C616220u) return Space::Lab;  // "Lab "
  if (sig == 0x4C636820u) return Space::LCh;  // "Lch "
  return Space::XYZ;
}

}  // namespace kroma::pcs
