// Allocation failure injected at every step of the image object's work: the N-th allocation
// fails, for N = 1, 2, ... until the operation no longer allocates. Each case must end in
// 1002 (or succeed), leave the object usable or emptied, and leak nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>

#include "fixtures.h"
#include "win/gdi.h"

#include "failing_allocator.h"


namespace {

using namespace fixtures;

const tagTes_Transform_Struct kNone = TesseraClass::m_s_EmptyTransform;

// Runs setup (unarmed), then op with the N-th allocation failing, for every N, and checks the
// result and that the object, destroyed while still armed, leaves nothing behind.
// deviceStatus: a further code the operation may give when the device itself fails to get
// memory (a device that cannot draw refuses, 1016).
void Sweep(const char* what, const std::function<std::unique_ptr<TesseraClass>()>& setup,
           const std::function<long(TesseraClass&)>& op, const std::function<void(TesseraClass&, long)>& after,
           long deviceStatus = TES_ERR_NO_MEMORY) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer owns the allocator";
#endif
  {
    // Once unarmed first: tables a format builds once for the whole process are not leaks.
    std::unique_ptr<TesseraClass> image = setup();
    op(*image);
  }
  for (long n = 1; n < 100000; ++n) {
    SCOPED_TRACE(testing::Message() << what << ", allocation " << n << " fails");
    std::unique_ptr<TesseraClass> image = setup();
    if (hook.live != 0) std::memset(tracked, 0, sizeof tracked);
    hook = Hook{};
    hook.failAt = n;
    hook.armed = true;
    const long status = op(*image);
    const bool failed = hook.failed;
    hook.armed = false;
    if (failed) {
      EXPECT_TRUE(status == TES_ERR_NO_MEMORY || status == TES_OK || status == deviceStatus) << status;
    } else {
      EXPECT_EQ(status, TES_OK);
    }
    after(*image, status);
    // What the operation allocated and kept belongs to the object, which frees it all.
    const long liveBefore = hook.live;
    hook.armed = true;
    hook.failAt = -1;
    image.reset();
    hook.armed = false;
    EXPECT_EQ(hook.live, 0) << "left behind after destruction (" << liveBefore << " while alive)";
    if (!failed) return;  // the operation made fewer than n allocations: all covered
  }
}

std::unique_ptr<TesseraClass> Described(int cs) {
  auto image = std::make_unique<TesseraClass>(0, static_cast<short>(cs));
  tagTes_Image_Desc desc{300, 200, static_cast<int16_t>(cs), {}, 72.0};
  image->SetImageDesc(desc, kNone);
  return image;
}

std::unique_ptr<TesseraClass> FilledImage(int cs) {
  auto image = Described(cs);
  Fill(*image, 300, 200, cs, PatternPixels(300, 200, cs), kNone);
  return image;
}

// After a failure the object either still holds a readable image or is empty.
void UsableOrEmpty(TesseraClass& image, long) {
  std::vector<uint8_t> out;
  const long status = ReadAll(image, out);
  EXPECT_TRUE(status == TES_OK || status == TES_ERR_NO_IMAGE);
  if (status == TES_ERR_NO_IMAGE) {
    // Writing again works once memory is back.
    tagTes_Image_Desc d{};
    image.GetImageDesc(&d);
    if (d.width > 0) {
      std::vector<uint8_t> px(static_cast<size_t>(d.width) * BppOf(d.colorSpace), 1);
      tagTes_Tile_Desc t{{0, 0, d.width, 1}, d.width * BppOf(d.colorSpace), 0};
      EXPECT_EQ(image.SetData(t, kNone, px.data()), TES_OK);
    }
  }
}

TEST(AllocationFailure, FirstAndLaterWrites) {
  const std::vector<uint8_t> px = PatternPixels(300, 200, 3);
  Sweep("first SetData", [] { return Described(3); },
        [&](TesseraClass& image) {
          tagTes_Tile_Desc t{{0, 0, 300, 200}, 300 * 6, 0};
          return image.SetData(t, kNone, const_cast<uint8_t*>(px.data()));
        },
        UsableOrEmpty);
}

TEST(AllocationFailure, TurnsAndFlipsLeaveTheImageWhole) {
  const std::vector<uint8_t> px = PatternPixels(300, 200, 2);
  for (int which = 0; which < 3; ++which) {
    Sweep("transform", [] { return FilledImage(2); },
          [which](TesseraClass& image) {
            return which == 0 ? image.Rotate(90.0) : which == 1 ? image.FlipH() : image.FlipV();
          },
          [&](TesseraClass& image, long status) {
            std::vector<uint8_t> out;
            ASSERT_EQ(ReadAll(image, out), 0);
            if (status != TES_OK) {
              EXPECT_TRUE(out == px);  // unchanged when refused
            }
          });
  }
}

TEST(AllocationFailure, DrawingPrintingAndQueries) {
  orvax::win::MemoryDC dc(150, 100);
  const tagTes_Output_Info info{&dc, 0, 0, 150, 100, 0, 0, 150, 100};
  FilledImage(2)->Display(info);  // the device's own working memory, before counting starts
  Sweep("Display", [] { return FilledImage(2); }, [&](TesseraClass& image) { return image.Display(info); },
        UsableOrEmpty, TES_ERR_DEVICE);
  Sweep("Print", [] { return FilledImage(3); }, [&](TesseraClass& image) { return image.Print(info); },
        UsableOrEmpty, TES_ERR_DEVICE);
  Sweep("GetHistTable", [] { return FilledImage(2); },
        [](TesseraClass& image) {
          _HistTable h{};
          return image.GetHistTable(&h, 1, 1);
        },
        UsableOrEmpty);
}

TEST(AllocationFailure, ColourSpaceChangesClearOrComplete) {
  Sweep("SetColorSpace", [] { return FilledImage(3); },
        [](TesseraClass& image) { return image.SetColorSpace(0, nullptr); },
        [](TesseraClass& image, long status) {
          short cs = -1;
          image.GetColorSpace(&cs);
          tagTes_Image_Desc d{};
          image.GetImageDesc(&d);
          if (status == TES_OK) EXPECT_EQ(cs, 0);
          else EXPECT_EQ(d.width, 0);  // emptied
        });
}

TEST(AllocationFailure, ReadingAndWritingEachFormat) {
  const struct {
    uint32_t code;
    const char* name;
  } formats[] = {{TES_FILE_BMP, "bmp"}, {TES_FILE_JPEG, "jpeg"}, {TES_FILE_TIFF, "tiff"}, {TES_FILE_FPX, "fpx"},
                 {TES_FILE_FPX_JPEG, "fpx-jpeg"}};
  for (const auto& f : formats) {
    SCOPED_TRACE(f.name);
    // GLib, under the FlashPix container library, ends the process when its own allocations
    // fail; for FlashPix files only the C++ allocations fail.
    newOnly = f.code == TES_FILE_FPX || f.code == TES_FILE_FPX_JPEG;
    const std::string path = testing::TempDir() + "faults." + f.name;
    {
      auto image = FilledImage(2);
      const tagTes_File_Spec spec{path.c_str(), f.code, 3};
      ASSERT_EQ(image->Save(spec, nullptr, nullptr, 1), 0);
    }
    char* p = const_cast<char*>(path.c_str());
    Sweep("OpenImage", [] { return std::make_unique<TesseraClass>(0, 2); },
          [&](TesseraClass& image) { return image.OpenImage(p, kNone, nullptr, nullptr); }, UsableOrEmpty);
    Sweep("OpenThumbnail", [] { return std::make_unique<TesseraClass>(0, 2); },
          [&](TesseraClass& image) { return image.OpenThumbnail(p, kNone, nullptr, nullptr, 1); }, UsableOrEmpty);
    const std::string out = testing::TempDir() + "faults-out." + f.name;
    Sweep("Save", [] { return FilledImage(2); },
          [&](TesseraClass& image) {
            const tagTes_File_Spec spec{out.c_str(), f.code, 3};
            return image.Save(spec, nullptr, nullptr, 1);
          },
          UsableOrEmpty);
  }
  newOnly = false;
}

}  // namespace
