// Registered window messages: one number per name whatever its case, and posting and
// sending to registered windows and to all of them.
#include "win/window_messages.h"

#include <gtest/gtest.h>

#include <vector>

using namespace orvax::win;

namespace {

struct Recorder {
  WindowHandle handle;
  std::vector<UINT> posted;
  std::vector<UINT> sent;
  Recorder() {
    handle.context = this;
    handle.post = [](WindowHandle* self, UINT msg, WPARAM, LPARAM) {
      static_cast<Recorder*>(self->context)->posted.push_back(msg);
      return true;
    };
    handle.send = [](WindowHandle* self, UINT msg, WPARAM w, LPARAM) -> LRESULT {
      static_cast<Recorder*>(self->context)->sent.push_back(msg);
      return static_cast<LRESULT>(w) + 1;
    };
    RegisterWindow(&handle);
  }
  ~Recorder() { UnregisterWindow(&handle); }
};

TEST(WindowMessages, OneNumberPerNameIgnoringCase) {
  const UINT a = RegisterWindowMessage("OrvaxRefreshMenusMsg");
  EXPECT_GE(a, kFirstRegisteredMessage);
  EXPECT_EQ(RegisterWindowMessage("orvaxrefreshmenusmsg"), a);
  EXPECT_NE(RegisterWindowMessage("OrvaxUpdatePrefsMsg"), a);
  EXPECT_EQ(RegisterWindowMessage(""), 0u);
  EXPECT_EQ(RegisterWindowMessage(nullptr), 0u);
}

TEST(WindowMessages, PostSendAndBroadcast) {
  const UINT msg = RegisterWindowMessage("OrvaxTestMsg");
  Recorder one, two;
  EXPECT_TRUE(IsWindow(&one.handle));
  EXPECT_TRUE(PostMessage(&one.handle, msg, 0, 0));
  EXPECT_EQ(one.posted, std::vector<UINT>{msg});
  EXPECT_TRUE(two.posted.empty());
  EXPECT_EQ(SendMessage(&two.handle, msg, 41, 0), 42);
  EXPECT_TRUE(PostMessage(HWND_BROADCAST, msg, 0, 0));
  EXPECT_EQ(one.posted.size(), 2u);
  EXPECT_EQ(two.posted.size(), 1u);

  WindowHandle stranger;
  EXPECT_FALSE(IsWindow(&stranger));
  EXPECT_FALSE(PostMessage(&stranger, msg, 0, 0));
  EXPECT_EQ(SendMessage(&stranger, msg, 1, 0), 0);
  UnregisterWindow(&one.handle);
  EXPECT_FALSE(PostMessage(&one.handle, msg, 0, 0));
}

}  // namespace
