// The TIFF reader's LZW decoder on streams coded here by a plain encoder of TIFF's LZW
// (codes of 9 to 12 bits, most significant bit first, the width growing one code early, a
// clear before the table fills): whole streams, outputs cut short, damaged codes.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "fixtures.h"
#include "formats/tiff/tiff_chunks.h"

namespace {

using fixtures::Bytes;

class BitWriter {
 public:
  void Put(int code, int width) {
    buffer_ = buffer_ << width | static_cast<uint32_t>(code);
    bits_ += width;
    while (bits_ >= 8) {
      out.push_back(static_cast<uint8_t>(buffer_ >> (bits_ - 8)));
      bits_ -= 8;
    }
  }
  void Flush() {
    if (bits_ > 0) out.push_back(static_cast<uint8_t>(buffer_ << (8 - bits_)));
    bits_ = 0;
  }
  Bytes out;

 private:
  uint64_t buffer_ = 0;
  int bits_ = 0;
};

Bytes EncodeLzw(const Bytes& data, bool leadingClear = true) {
  BitWriter w;
  std::map<std::string, int> table;
  int width = 9, next = 258;
  const auto reset = [&] {
    table.clear();
    for (int i = 0; i < 256; ++i) table[std::string(1, static_cast<char>(i))] = i;
    width = 9;
    next = 258;
  };
  reset();
  if (leadingClear) w.Put(256, 9);
  std::string current;
  for (const uint8_t b : data) {
    const std::string longer = current + static_cast<char>(b);
    if (table.count(longer)) {
      current = longer;
      continue;
    }
    w.Put(table[current], width);
    table[longer] = next++;
    // The decoder makes each entry one code later, and so reaches the wider codes at
    // (1 << width) - 1 of its own entries.
    if (next >= (1 << width) && width < 12) ++width;
    if (next >= 4094) {
      w.Put(256, width);
      reset();
    }
    current = std::string(1, static_cast<char>(b));
  }
  if (!current.empty()) w.Put(table[current], width);
  w.Put(257, width);
  w.Flush();
  return w.out;
}

// Runs of one byte (which code the string just being made), repeats and noise, long enough
// to fill the table several times.
Bytes Sample(size_t size) {
  Bytes d(size);
  uint32_t seed = 7;
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    const size_t phase = (i / 700) % 3;
    d[i] = phase == 0 ? 0x41 : phase == 1 ? static_cast<uint8_t>(i % 13) : static_cast<uint8_t>(seed >> 24);
  }
  return d;
}

TEST(TiffLzw, WholeStreamsDecodeToTheirBytes) {
  for (const size_t size : {size_t{1}, size_t{17}, size_t{5000}, size_t{200000}})
    for (const bool clear : {true, false}) {
      SCOPED_TRACE(std::to_string(size) + (clear ? " with" : " without") + " a leading clear");
      const Bytes data = Sample(size);
      const Bytes coded = EncodeLzw(data, clear);
      Bytes out(data.size(), 0xEE);
      EXPECT_EQ(tessera::tiff::DecodeLzw(coded.data(), coded.size(), out.data(), out.size()), data.size());
      EXPECT_TRUE(out == data);
    }
}

// An output smaller than the stream holds takes its first bytes and nothing past them
// (the sanitizer build sees any write beyond).
TEST(TiffLzw, OutputCutShortTakesTheFirstBytes) {
  const Bytes data = Sample(30000);
  const Bytes coded = EncodeLzw(data);
  for (const size_t size : {size_t{1}, size_t{15}, size_t{16}, size_t{4097}, data.size() - 3}) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> out(size);
    ASSERT_EQ(tessera::tiff::DecodeLzw(coded.data(), coded.size(), out.data(), size), size);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin()));
  }
}

// Damage ends the data where it starts: a code beyond the table, a first code after a
// clear that is not a byte, a stream cut inside a code. What came before is kept.
TEST(TiffLzw, DamageKeepsWhatCameBefore) {
  const Bytes data = Sample(3000);
  {
    BitWriter w;
    w.Put(256, 9);
    w.Put('a', 9);
    w.Put('b', 9);
    w.Put(300, 9);  // the table holds 258, and 259 is the code about to be made
    w.Put('c', 9);
    w.Flush();
    Bytes out(10, 0);
    EXPECT_EQ(tessera::tiff::DecodeLzw(w.out.data(), w.out.size(), out.data(), out.size()), 2u);
    EXPECT_EQ(out[0], 'a');
    EXPECT_EQ(out[1], 'b');
  }
  {
    BitWriter w;
    w.Put(256, 9);
    w.Put(258, 9);
    w.Flush();
    Bytes out(10, 0);
    EXPECT_EQ(tessera::tiff::DecodeLzw(w.out.data(), w.out.size(), out.data(), out.size()), 0u);
  }
  const Bytes coded = EncodeLzw(data);
  const Bytes cut(coded.begin(), coded.begin() + static_cast<std::ptrdiff_t>(coded.size() / 2));
  Bytes out(data.size(), 0);
  const size_t got = tessera::tiff::DecodeLzw(cut.data(), cut.size(), out.data(), out.size());
  EXPECT_GT(got, 0u);
  EXPECT_LT(got, data.size());
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(got), data.begin()));
}

}  // namespace
