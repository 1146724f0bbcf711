// The exported surface: record layouts, the order of the virtual operations, the start-up
// count and the library-wide records.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "tessera/tessera.h"

namespace {

TEST(Records, SizesAndOffsetsAreFixed) {
  EXPECT_EQ(offsetof(tagTes_Image_Info, orientation), 4u);
  EXPECT_EQ(offsetof(tagTes_Image_Info, flash), 6u);
  EXPECT_EQ(offsetof(tagTes_Image_Info, shutterSpeedValue), 8u);
  EXPECT_EQ(offsetof(tagTes_Image_Info, fNumber), 64u);
  EXPECT_EQ(offsetof(tagTes_Image_Info, description), 72u);
  EXPECT_EQ(offsetof(tagTes_Image_Info, maker), 106u);
  EXPECT_EQ(offsetof(tagTes_Image_Info, model), 140u);
  EXPECT_EQ(offsetof(tagTes_Image_Info, date), 174u);
  EXPECT_EQ(offsetof(tagTes_Image_Info, makerNoteText), 194u);
  EXPECT_EQ(offsetof(tagTes_Image_Info, spare), 214u);

  EXPECT_EQ(offsetof(tagTes_Transform_Struct, angle), 8u);
  EXPECT_EQ(offsetof(tagTes_Image_Desc, colorSpace), 8u);
  EXPECT_EQ(offsetof(tagTes_Image_Desc, bitsPerChannel), 10u);
  EXPECT_EQ(offsetof(tagTes_Image_Desc, resolution), 24u);
  EXPECT_EQ(offsetof(tagTes_Tile_Desc, rowBytes), 16u);
  EXPECT_EQ(offsetof(tagTes_Tile_Desc, plane), 20u);
  EXPECT_EQ(offsetof(tagTes_Output_Info, clipX), sizeof(HDC));
  EXPECT_EQ(offsetof(tagTes_Output_Info, imageHeight), sizeof(HDC) + 28);
  EXPECT_EQ(offsetof(tagTes_File_Spec, format), sizeof(char*));
  EXPECT_EQ(offsetof(tagTes_Pixel_Value, values), 2u);
  EXPECT_EQ(offsetof(_HistTable, counts), 16u);
}

// The position of a virtual operation in the table, from its member-function pointer
// (Itanium C++ ABI: one plus the byte offset of the slot).
template <typename F>
std::ptrdiff_t Slot(F f) {
  std::ptrdiff_t raw;
  static_assert(sizeof(f) >= sizeof raw);
  std::memcpy(&raw, &f, sizeof raw);
  return (raw - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

TEST(Records, VirtualOperationsKeepTheirSlots) {
  EXPECT_EQ(Slot(&TesseraClass::GetClassID), 0);
  EXPECT_EQ(Slot(&TesseraClass::Display), 1);
  EXPECT_EQ(Slot(&TesseraClass::Print), 2);
  EXPECT_EQ(Slot(&TesseraClass::OpenImage), 3);
  EXPECT_EQ(Slot(&TesseraClass::OpenThumbnail), 4);
  EXPECT_EQ(Slot(&TesseraClass::Save), 5);
  EXPECT_EQ(Slot(&TesseraClass::FlipH), 6);
  EXPECT_EQ(Slot(&TesseraClass::FlipV), 7);
  EXPECT_EQ(Slot(&TesseraClass::Rotate), 8);
  EXPECT_EQ(Slot(&TesseraClass::GetImageDesc), 9);
  EXPECT_EQ(Slot(&TesseraClass::SetImageDesc), 10);
  EXPECT_EQ(Slot(&TesseraClass::GetImageInfo), 11);
  EXPECT_EQ(Slot(&TesseraClass::SetImageInfo), 12);
  EXPECT_EQ(Slot(&TesseraClass::GetData), 13);
  EXPECT_EQ(Slot(&TesseraClass::SetData), 14);
  EXPECT_EQ(Slot(&TesseraClass::SetColorSpace), 15);
  EXPECT_EQ(Slot(&TesseraClass::GetColorSpace), 16);
  EXPECT_EQ(Slot(&TesseraClass::GetFormats), 17);
  EXPECT_EQ(Slot(&TesseraClass::Clear), 18);
  EXPECT_EQ(Slot(&TesseraClass::ClearCache), 19);
  EXPECT_EQ(Slot(&TesseraClass::CreateOutputRect), 20);
  EXPECT_EQ(Slot(&TesseraClass::SetLUT), 21);
  EXPECT_EQ(Slot(&TesseraClass::GetPixel), 22);
  EXPECT_EQ(Slot(&TesseraClass::GetHistTable), 23);
  EXPECT_EQ(Slot(&TesseraClass::GetCurIccProfileData), 24);
  // One hidden table pointer, then the object's own state: no virtual destructor.
  EXPECT_FALSE(std::has_virtual_destructor_v<TesseraClass>);
}

TEST(Records, EmptyTransformIsAllZero) {
  EXPECT_EQ(TesseraClass::m_s_EmptyTransform.mirror, 0);
  EXPECT_EQ(TesseraClass::m_s_EmptyTransform.angle, 0.0);
}

tagTes_Image_Info InfoWithMaker(const char* maker, uint32_t size = 232) {
  tagTes_Image_Info info{};
  info.size = size;
  std::strncpy(info.maker, maker, sizeof info.maker - 1);
  return info;
}

TEST(Library, StartUpIsCountedAndOnlyTheFirstCallSetsDefaults) {
  char dir[] = "/profiles", mon[] = "mon.icc", none[] = "";
  char *d = dir, *m = mon, *n = none;
  ASSERT_EQ(TesseraClass::InitMosaic(InfoWithMaker("First"), m, n, n, d, 1.0), 0);
  ASSERT_EQ(TesseraClass::InitMosaic(InfoWithMaker("Second"), m, n, n, d, 2.2), 0);
  tagTes_Image_Info out{};
  ASSERT_EQ(TesseraClass::GetDefaultImageInfo(&out, sizeof out), 0);
  EXPECT_STREQ(out.maker, "First");

  // A new object starts with a copy of the default record.
  TesseraClass image(0, 2);
  ASSERT_EQ(image.GetImageInfo(&out, sizeof out), 0);
  EXPECT_STREQ(out.maker, "First");

  EXPECT_EQ(TesseraClass::CloseMosaic(), 0);  // still running after one close
  ASSERT_EQ(TesseraClass::GetDefaultImageInfo(&out, sizeof out), 0);
  EXPECT_STREQ(out.maker, "First");
  EXPECT_EQ(TesseraClass::CloseMosaic(), 0);
  EXPECT_EQ(TesseraClass::CloseMosaic(), 0);  // an extra close is harmless
}

TEST(Library, InfoRecordsOfTheWrongSizeAreRefusedAndNothingIsCopied) {
  TesseraClass image(0, 2);
  ASSERT_EQ(image.SetImageInfo(InfoWithMaker("Kept")), 0);
  ASSERT_EQ(TesseraClass::SetDefaultImageInfo(InfoWithMaker("Default")), 0);
  for (uint32_t size : {0u, 231u, 233u}) {
    SCOPED_TRACE(size);
    const tagTes_Image_Info bad = InfoWithMaker("Bad", size);
    EXPECT_EQ(image.SetImageInfo(bad), TES_ERR_INFO_SIZE);
    EXPECT_EQ(TesseraClass::SetDefaultImageInfo(bad), TES_ERR_INFO_SIZE);
    tagTes_Image_Info out = InfoWithMaker("Untouched");
    EXPECT_EQ(image.GetImageInfo(&out, size), TES_ERR_INFO_SIZE);
    EXPECT_EQ(TesseraClass::GetDefaultImageInfo(&out, size), TES_ERR_INFO_SIZE);
    EXPECT_STREQ(out.maker, "Untouched");
  }
  tagTes_Image_Info out{};
  image.GetImageInfo(&out, sizeof out);
  EXPECT_STREQ(out.maker, "Kept");
  TesseraClass::GetDefaultImageInfo(&out, sizeof out);
  EXPECT_STREQ(out.maker, "Default");

  char none[] = "";
  char* n = none;
  EXPECT_EQ(TesseraClass::InitMosaic(InfoWithMaker("Bad", 233), n, n, n, n, 1.0), TES_ERR_INFO_SIZE);
  TesseraClass::CloseMosaic();
}

TEST(Object, ClassIdIsOneWhetherEmptyOrNot) {
  TesseraClass empty(0, 2);
  EXPECT_EQ(empty.GetClassID(), 1u);
  TesseraClass managed(TES_FLAG_COLOR_MANAGED, 5);
  EXPECT_EQ(managed.GetClassID(), 1u);
}

TEST(Object, FormatsFollowTheColourSpace) {
  struct Case {
    short flags, cs;
    unsigned long mask;
  } cases[] = {{0, 0, 0xCD}, {0, 2, 0xCD}, {0, 1, 1}, {0, 3, 1}, {1, 4, 1}, {1, 5, 1}, {1, 6, 0}};
  for (const auto& c : cases) {
    TesseraClass image(c.flags, c.cs);
    unsigned long mask = 12345;
    EXPECT_EQ(image.GetFormats(&mask), 0);
    EXPECT_EQ(mask, c.mask) << "colour space " << c.cs;
  }
}

TEST(Object, ColourSpacesAreCheckedAgainstTheKindOfObject) {
  struct Case {
    short flags, cs;
    long status;
    short stored;
  } cases[] = {
      {0, -1, TES_ERR_COLOR_SPACE, -1}, {0, 7, TES_ERR_COLOR_SPACE, 7},  {0, 0, 0, 0}, {0, 3, 0, 3},
      {0, 4, TES_ERR_NOT_PERMITTED, 4}, {0, 6, TES_ERR_NOT_PERMITTED, 6}, {1, 0, 0, 2}, {1, 1, 0, 3},
      {1, 4, 0, 4},                     {1, 6, 0, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags " << c.flags << " cs " << c.cs);
    TesseraClass image(c.flags, 2);
    tagTes_Image_Desc desc{10, 10, c.cs, {0, 0, 0, 0}, 150.0};
    EXPECT_EQ(image.SetImageDesc(desc, TesseraClass::m_s_EmptyTransform), c.status);
    short cs = -99;
    image.GetColorSpace(&cs);
    EXPECT_EQ(cs, c.stored);  // the descriptor stays set whatever the result
  }
}

}  // namespace
