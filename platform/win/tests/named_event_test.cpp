#include "win/named_event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace orvax::win;

namespace {

TEST(NamedEventTest, AutoResetReleasesOneWaitPerSet) {
  HANDLE event = CreateEvent(false, false, "AutoResetTest");
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(event));
  EXPECT_TRUE(SetEvent(event));  // setting twice still releases one wait
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 10), WAIT_TIMEOUT);
  SetEvent(event);
  ResetEvent(event);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(CloseHandle(event));
}

TEST(NamedEventTest, ManualResetStaysSignalled) {
  HANDLE event = CreateEvent(true, true, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  ResetEvent(event);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  CloseHandle(event);
}

TEST(NamedEventTest, SameNameIsOneEventUntilTheLastHandleCloses) {
  EXPECT_EQ(OpenEvent("ExecuteEvent"), nullptr);
  HANDLE first = CreateEvent(false, false, "ExecuteEvent");
  HANDLE second = CreateEvent(true, true, "ExecuteEvent");  // opens; arguments ignored
  HANDLE third = OpenEvent("ExecuteEvent");
  EXPECT_EQ(first, second);
  EXPECT_EQ(first, third);
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_TIMEOUT);
  EXPECT_EQ(OpenEvent("executeevent"), nullptr);  // names are case-sensitive
  SetEvent(third);
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  CloseHandle(first);
  CloseHandle(second);
  HANDLE fourth = OpenEvent("ExecuteEvent");  // the third handle keeps the name alive
  EXPECT_EQ(fourth, first);
  CloseHandle(fourth);
  CloseHandle(third);
  EXPECT_EQ(OpenEvent("ExecuteEvent"), nullptr);
}

TEST(NamedEventTest, SetFromAnotherThreadWakesTheWait) {
  HANDLE event = CreateEvent(false, false, "ThreadedTest");
  std::thread setter([] {
    HANDLE mine = OpenEvent("ThreadedTest");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    SetEvent(mine);
    CloseHandle(mine);
  });
  EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
  setter.join();
  CloseHandle(event);
}

TEST(NamedEventTest, NullHandlesFail) {
  EXPECT_FALSE(SetEvent(nullptr));
  EXPECT_FALSE(ResetEvent(nullptr));
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
}

}  // namespace
