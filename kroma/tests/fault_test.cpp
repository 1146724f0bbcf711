// Allocation failure injected at every step of building a transform: the N-th allocation
// of OXCMInit fails, for every N, and each case must end in KROMA_ERR_NO_MEMORY or
// KROMA_ERR_BUILD (or succeed), convert nothing with a handle whose set-up failed, and leave
// nothing behind once the handle is released.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "failing_allocator.h"
#include "fixture.h"
#include "kroma.h"

namespace {

struct Pair {
  const char* what;
  std::string source, destination;
  int inCh, outCh;
};

TEST(AllocationFailure, BuildingEveryKindOfTransform) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer owns the allocator";
#endif
  const std::string adobe = "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc";
  const std::string cmyk = "/usr/share/color/icc/ghostscript/default_cmyk.icc";
  const std::string gray = "/usr/share/color/icc/Gray.icc";
  const std::string srgb = kt::OwnProfile("OXsRGB.icm");
  const Pair pairs[] = {{"matrix to matrix", srgb, adobe, 3, 3},
                        {"matrix to lut", srgb, cmyk, 3, 4},
                        {"lut to matrix", cmyk, srgb, 4, 3},
                        {"gray to matrix", gray, srgb, 1, 3},
                        {"matrix to lab", srgb, kt::OwnProfile("OXLab.icm"), 3, 3}};
  for (const Pair& pair : pairs) {
    for (uint16_t engine : {0, 1}) {
      SCOPED_TRACE(testing::Message() << pair.what << ", engine " << engine);
      const CMParam param{4, 1, uint32_t(4 * pair.inCh), uint32_t(4 * pair.outCh), 8, 8, 0};
      char* s = const_cast<char*>(pair.source.c_str());
      char* d = const_cast<char*>(pair.destination.c_str());
      const CMProfilePaths paths{&s, &d};
      {
        // Once unarmed: tables built once for the whole process are not leaks.
        CColorMatcher* warm = nullptr;
        ASSERT_EQ(OXCMInit(&param, &paths, engine, 0, &warm), 0);
        OXCMPostProc(warm);
      }
      for (long n = 1; n < 1000000; ++n) {
        if (hook.live != 0) std::memset(failing_allocator::tracked, 0, sizeof failing_allocator::tracked);
        hook = Hook{};
        hook.failAt = n;
        hook.armed = true;
        CColorMatcher* handle = nullptr;
        const int32_t status = OXCMInit(&param, &paths, engine, 0, &handle);
        const bool failed = hook.failed;
        hook.armed = false;
        if (failed) {
          EXPECT_TRUE(status == KROMA_ERR_NO_MEMORY || status == KROMA_ERR_BUILD || status == 0)
              << "allocation " << n << ": " << status;
        } else {
          EXPECT_EQ(status, 0);
        }
        if (status != 0 && handle != nullptr) {
          // A handle without a transform converts nothing.
          std::vector<uint8_t> in(4 * pair.inCh, 128), out(4 * pair.outCh, 7);
          CMBuffer src{in.data(), 1}, dst{out.data(), 0};
          EXPECT_NE(OXCMProc(&src, &dst, handle), 0);
          EXPECT_EQ(out, std::vector<uint8_t>(4 * pair.outCh, 7));
        }
        hook.armed = true;
        hook.failAt = -1;
        OXCMPostProc(handle);
        hook.armed = false;
        EXPECT_EQ(hook.live, 0) << "allocation " << n << " failing left blocks behind";
        if (!failed) break;
      }
    }
  }
}

}  // namespace
