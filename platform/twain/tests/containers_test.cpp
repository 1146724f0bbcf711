// The capability containers both sides of a session read and write: the items of each
// integer type, the containers that are refused, and the bounded copy into text fields.
#include "twain/containers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

using namespace orvax::twain;

namespace {

// A container block of exactly BYTES, as a peer would hand it over.
TW_HANDLE Block(std::initializer_list<uint8_t> bytes) {
  TW_HANDLE h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  std::memcpy(GlobalLock(h), bytes.begin(), bytes.size());
  GlobalUnlock(h);
  return h;
}

struct Read {
  bool ok;
  std::vector<long> values;
  long current;
};

Read ReadBack(TW_UINT16 conType, TW_HANDLE h) {
  TW_CAPABILITY cap{ICAP_PIXELTYPE, conType, h};
  Read r{false, {}, -99};
  r.ok = ReadContainer(cap, &r.values, &r.current);
  GlobalFree(h);
  return r;
}

TEST(TwainContainers, ReadsEachIntegerItemType) {
  struct Case {
    TW_UINT16 type;
    std::initializer_list<uint8_t> item;  // four bytes, little-endian
    long expected;
  };
  const Case cases[] = {
      {TWTY_INT8, {0xFE, 0xAA, 0xAA, 0xAA}, -2},
      {TWTY_UINT8, {0xFE, 0xAA, 0xAA, 0xAA}, 254},
      {TWTY_INT16, {0xFF, 0xFF, 0xAA, 0xAA}, -1},
      {TWTY_UINT16, {0xFF, 0xFF, 0xAA, 0xAA}, 65535},
      {TWTY_BOOL, {0x01, 0x00, 0xAA, 0xAA}, 1},
      {TWTY_INT32, {0xFF, 0xFF, 0xFF, 0xFF}, -1},
      {TWTY_UINT32, {0xFF, 0xFF, 0xFF, 0xFF}, 4294967295L},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes{static_cast<uint8_t>(c.type), 0};
    bytes.insert(bytes.end(), c.item.begin(), c.item.end());
    TW_HANDLE h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    std::memcpy(GlobalLock(h), bytes.data(), bytes.size());
    GlobalUnlock(h);
    const Read r = ReadBack(TWON_ONEVALUE, h);
    EXPECT_TRUE(r.ok) << c.type;
    EXPECT_EQ(r.values, std::vector<long>{c.expected}) << c.type;
    EXPECT_EQ(r.current, c.expected) << c.type;
  }
}

TEST(TwainContainers, ReadsListsAndTheirCurrentItem) {
  // An enumeration of three UINT16 items, current index 2.
  Read r = ReadBack(TWON_ENUMERATION, Block({4, 0, 3, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 1, 0, 2, 0, 5, 0}));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.values, (std::vector<long>{1, 2, 5}));
  EXPECT_EQ(r.current, 5);
  // A current index past the list names the first item.
  r = ReadBack(TWON_ENUMERATION, Block({4, 0, 2, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0, 8, 0, 16, 0}));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.current, 8);
  // An array of two INT32 items has no index: the first is current.
  r = ReadBack(TWON_ARRAY, Block({2, 0, 2, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 9, 0, 0, 0}));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.values, (std::vector<long>{-1, 9}));
  EXPECT_EQ(r.current, -1);
}

TEST(TwainContainers, RefusesWhatItCannotReadWhole) {
  struct Case {
    const char* what;
    TW_UINT16 conType;
    std::initializer_list<uint8_t> bytes;
  };
  const Case cases[] = {
      // Three UINT16 items claimed, room for two: refused, not cut to two.
      {"enumeration counting past its block", TWON_ENUMERATION, {4, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 2, 0}},
      {"array counting past its block", TWON_ARRAY, {4, 0, 2, 0, 0, 0, 1, 0, 2}},
      {"count that overflows the item size", TWON_ARRAY, {4, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0}},
      {"empty enumeration", TWON_ENUMERATION, {4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"enumeration shorter than its header", TWON_ENUMERATION, {4, 0, 1, 0, 0, 0, 0, 0}},
      {"one-value shorter than its item", TWON_ONEVALUE, {4, 0, 1, 0}},
      {"block without an item type", TWON_ONEVALUE, {4}},
      {"fixed-point item", TWON_ONEVALUE, {TWTY_FIX32, 0, 1, 0, 0, 0}},
      {"frame items", TWON_ARRAY, {TWTY_FRAME, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"unknown item type", TWON_ONEVALUE, {0x40, 0, 1, 0, 0, 0}},
      {"range", TWON_RANGE, {4, 0, 1, 0, 0, 0, 9, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const Read r = ReadBack(c.conType, Block(c.bytes));
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_TRUE(r.values.empty()) << c.what;
    EXPECT_EQ(r.current, -99) << c.what;
  }
  // Not a global block at all.
  std::vector<long> values{1};
  long current = -99;
  uint32_t notABlock[4] = {};
  EXPECT_FALSE(ReadContainer(TW_CAPABILITY{ICAP_PIXELTYPE, TWON_ONEVALUE, notABlock}, &values, &current));
  EXPECT_TRUE(values.empty());
}

TEST(TwainContainers, WrittenContainersReadBack) {
  for (TW_UINT16 type : {TWTY_INT8, TWTY_UINT8, TWTY_INT16, TWTY_UINT16, TWTY_INT32, TWTY_UINT32}) {
    TW_HANDLE h = OneValue(type, 100);
    ASSERT_NE(h, nullptr) << type;
    EXPECT_EQ(GlobalSize(h), sizeof(TW_ONEVALUE));
    const Read r = ReadBack(TWON_ONEVALUE, h);
    EXPECT_TRUE(r.ok) << type;
    EXPECT_EQ(r.current, 100) << type;
  }
  // A 16-bit item sits in the first two bytes of the item field, whatever its sign.
  TW_HANDLE h = OneValue(TWTY_INT16, -1);
  const auto* one = static_cast<const uint8_t*>(GlobalLock(h));
  EXPECT_EQ(one[2], 0xFF);
  EXPECT_EQ(one[3], 0xFF);
  EXPECT_EQ(one[4], 0);
  EXPECT_EQ(one[5], 0);
  GlobalUnlock(h);
  EXPECT_EQ(ReadBack(TWON_ONEVALUE, h).current, -1);

  const int depths[] = {1, 8, 16};
  h = Enumeration(TWTY_UINT16, depths, 1);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GlobalSize(h), offsetof(TW_ENUMERATION, ItemList) + 6);
  const Read r = ReadBack(TWON_ENUMERATION, h);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.values, (std::vector<long>{1, 8, 16}));
  EXPECT_EQ(r.current, 8);

  EXPECT_EQ(OneValue(TWTY_FIX32, 1), nullptr);
  EXPECT_EQ(Enumeration(TWTY_STR32, depths, 0), nullptr);
}

TEST(TwainContainers, CopyTextCutsAndTerminates) {
  TW_STR32 field;
  std::memset(field, 'x', sizeof field);
  CopyText(field, "Tiny");
  EXPECT_STREQ(field, "Tiny");
  for (size_t i = 4; i < sizeof field; ++i) EXPECT_EQ(field[i], '\0') << i;
  CopyText(field, std::string(40, 'a'));
  EXPECT_EQ(std::strlen(field), sizeof field - 1);
  // An explicit size shorter than the field bounds the copy the same way.
  char path[8];
  std::memset(path, 'x', sizeof path);
  CopyText(path, 4, "abcdef");
  EXPECT_STREQ(path, "abc");
  EXPECT_EQ(path[4], 'x');
}

}  // namespace
