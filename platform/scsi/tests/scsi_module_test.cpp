// The driver module as its callers see it: loaded by its Windows path, called through
// MDriverEntryPoint with a request block, checked against the log it writes.
#include "scsi_request.h"
#include "win/module_loader.h"
#include "win/named_event.h"
#include "win/windows_root.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;
using namespace orvax::scsi;
namespace win = orvax::win;

namespace {

std::vector<std::string> ReadLines(const fs::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class ScsiModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("orvax-scsi-" + std::to_string(getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    setenv(kLogEnv, (dir_ / "log.txt").c_str(), 1);
    setenv(kBusEnv, (dir_ / "bus.conf").c_str(), 1);
    std::memset(&block_, 0, sizeof block_);
    block_.cdb = cdb_;
    block_.sense = sense_;
    block_.senseLength = sizeof sense_;
    block_.workBuffer = work_;
  }

  void TearDown() override {
    if (entry_ != nullptr) entry_(kClose, &block_);
    if (module_ != nullptr) win::FreeLibrary(module_);
    unsetenv(kLogEnv);
    unsetenv(kBusEnv);
    fs::remove_all(dir_);
  }

  // Writes the bus configuration, loads the module as the utility does and opens it.
  uint32_t Open(const std::string& config) {
    std::ofstream(dir_ / "bus.conf") << config;
    if (!Load()) return ~0u;
    std::memcpy(block_.signature, "0000", 4);
    return entry_(kOpen, &block_);
  }

  bool Load() {
    module_ = win::LoadLibrary(win::WindowsDirectory() + "\\TWAIN_32\\ORVAX\\ORvax Scan 2.0\\OXD_SCSI.DLL");
    EXPECT_NE(module_, nullptr) << win::LastModuleError();
    if (module_ == nullptr) return false;
    entry_ = reinterpret_cast<EntryPoint>(win::GetProcAddress(module_, kEntryPointName));
    EXPECT_NE(entry_, nullptr);
    return entry_ != nullptr;
  }

  uint32_t Run(int device, std::vector<uint8_t> cdb, int direction = kNoData, uint8_t* data = nullptr,
               int32_t length = 0, CompletionCallback callback = nullptr) {
    std::memset(sense_, 0, sizeof sense_);
    std::copy(cdb.begin(), cdb.end(), cdb_);
    block_.cdbLength = static_cast<int32_t>(cdb.size());
    block_.deviceNumber = device;
    block_.direction = direction;
    block_.data = data;
    block_.dataLength = length;
    block_.callback = callback;
    return entry_(kExecute, &block_);
  }

  std::vector<uint8_t> Inquiry(int device, uint8_t page, uint8_t length, uint32_t* status = nullptr) {
    std::vector<uint8_t> data(length, 0xEE);
    uint32_t st = Run(device, {0x12, 1, page, 0, length, 0}, kFromDevice, data.data(), length);
    if (status) *status = st;
    return data;
  }

  fs::path dir_;
  win::HMODULE module_ = nullptr;
  EntryPoint entry_ = nullptr;
  SCSIRequestBlock block_;
  uint8_t cdb_[kCdbCapacity] = {};
  uint8_t sense_[kSenseCapacity] = {};
  uint8_t work_[kDeviceRecordSize] = {};
};

constexpr const char* kTwoDevices =
    "# two scanners\n"
    "[device]\nha = 1\nid = 4\nvendor = ORVAX\nproduct = QV-7100\nrevision = 2.10\n"
    "[device]\nid = 5\nproduct = RX90417\npage1 = Lamp\nadapter = no\nmedium = no\nunit-attention = yes\n"
    "fail.E0D5 = 04 44 00\n";

TEST_F(ScsiModuleTest, OpenReportsReadyAndDeviceRecordsFollowBusOrder) {
  ASSERT_EQ(Open(kTwoDevices), kStatusGood);
  EXPECT_EQ(block_.driverState, kDriverReady);
  EXPECT_EQ(block_.openResult, 2);

  block_.direction = kFromDevice;
  block_.data = work_;
  block_.dataLength = kDeviceRecordSize;
  block_.deviceNumber = 1;
  ASSERT_EQ(entry_(kDeviceRecord, &block_), kStatusGood);
  EXPECT_EQ(block_.recordLength, 64);
  EXPECT_EQ(work_[0], '1');
  EXPECT_EQ(work_[2], '4');
  EXPECT_EQ(std::string(reinterpret_cast<char*>(work_) + 12, 8), "ORVAX   ");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(work_) + 20, 16), "QV-7100         ");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(work_) + 36, 4), "2.10");

  block_.deviceNumber = 3;
  block_.recordLength = 0;
  EXPECT_EQ(entry_(kDeviceRecord, &block_), kStatusNoDevice);
  EXPECT_EQ(block_.recordLength, 64);
}

TEST_F(ScsiModuleTest, VitalProductPagesAnswerAsConfigured) {
  ASSERT_EQ(Open(kTwoDevices), kStatusGood);
  EXPECT_EQ(Inquiry(1, 0x00, 4)[3], 3);  // supported pages 00 01 E1
  std::vector<uint8_t> page1 = Inquiry(1, 0x01, 11);
  EXPECT_EQ(page1[3], 7);
  EXPECT_EQ(page1[4], 6);
  EXPECT_EQ(std::string(page1.begin() + 5, page1.end()), "Feeder");
  // The reply never runs past the allocation length.
  std::vector<uint8_t> cut = Inquiry(1, 0x01, 7);
  EXPECT_EQ(std::string(cut.begin() + 5, cut.end()), "Fe");
  EXPECT_EQ(Inquiry(1, 0xE1, 32)[28], 0x20);
  EXPECT_EQ(Inquiry(2, 0xE1, 32)[28], 0x00);
  std::vector<uint8_t> lamp = Inquiry(2, 0x01, 9);
  EXPECT_EQ(std::string(lamp.begin() + 5, lamp.end()), "Lamp");

  uint32_t status = 0;
  Inquiry(1, 0x42, 4, &status);
  EXPECT_EQ(status, kStatusCheckCondition);
  EXPECT_EQ(sense_[2] & 0x0F, 0x05);
  EXPECT_EQ(sense_[12], 0x24);
}

TEST_F(ScsiModuleTest, UnitAttentionOnceThenMediumNotPresentThenConfiguredFailure) {
  ASSERT_EQ(Open(kTwoDevices), kStatusGood);
  struct Step {
    std::vector<uint8_t> cdb;
    uint32_t status;
    uint8_t key, asc;
  } steps[] = {
      {{0x00, 0, 0, 0, 0, 0}, kStatusCheckCondition, 0x06, 0x29},
      {{0x00, 0, 0, 0, 0, 0}, kStatusCheckCondition, 0x02, 0x3A},
      {{0x16, 0, 0, 0, 0, 0}, kStatusGood, 0, 0},
      {{0xE0, 0, 0xD0, 0, 0, 0, 0, 0, 0, 0}, kStatusGood, 0, 0},
      {{0xE0, 0, 0xD5, 0, 0, 0, 0, 0, 9, 0}, kStatusCheckCondition, 0x04, 0x44},
      {{0xC1, 0, 0, 0, 0, 0}, kStatusGood, 0, 0},
      {{0x42, 0, 0, 0, 0, 0}, kStatusCheckCondition, 0x05, 0x20},
  };
  uint8_t parameters[9] = {0x7F};
  for (const Step& s : steps) {
    EXPECT_EQ(Run(2, s.cdb, kToDevice, parameters, 9), s.status) << std::hex << int(s.cdb[0]);
    EXPECT_EQ(sense_[2] & 0x0F, s.key) << std::hex << int(s.cdb[0]);
    EXPECT_EQ(sense_[12], s.asc) << std::hex << int(s.cdb[0]);
  }
  EXPECT_EQ(Run(1, {0x00, 0, 0, 0, 0, 0}), kStatusGood);
  EXPECT_EQ(Run(7, {0x00, 0, 0, 0, 0, 0}), kStatusBadDevice);
}

std::atomic<int> g_completions{0};
void CountCompletion(SCSIRequestBlock*) { ++g_completions; }

TEST_F(ScsiModuleTest, CallbackCompletesDelayedAndNeverCompletingCommandsEndByAbort) {
  ASSERT_EQ(Open("[device]\ndelay.C1 = 30\n[device]\ndelay.C1 = never\n"), kStatusGood);
  g_completions = 0;
  // Without delay the callback runs before the call returns.
  EXPECT_EQ(Run(1, {0x00, 0, 0, 0, 0, 0}, kNoData, nullptr, 0, &CountCompletion), kStatusGood);
  EXPECT_EQ(g_completions, 1);
  // A delayed command returns at once and completes later.
  EXPECT_EQ(Run(1, {0xC1, 0, 0, 0, 0, 0}, kNoData, nullptr, 0, &CountCompletion), kStatusGood);
  for (int i = 0; i < 500 && g_completions < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(g_completions, 2);
  EXPECT_EQ(block_.completionStatus, kStatusGood);
  // One that never completes is ended by an abort, which reports it as aborted.
  EXPECT_EQ(Run(2, {0xC1, 0, 0, 0, 0, 0}, kNoData, nullptr, 0, &CountCompletion), kStatusGood);
  EXPECT_EQ(g_completions, 2);
  cdb_[0] = 0xC0;
  block_.callback = nullptr;
  EXPECT_EQ(entry_(kAbort, &block_), kStatusGood);
  EXPECT_EQ(g_completions, 3);
  EXPECT_EQ(block_.completionStatus, kStatusAborted);
  // Without a callback a never-completing command cannot block its caller.
  EXPECT_EQ(Run(2, {0xC1, 0, 0, 0, 0, 0}), kStatusBusy);
}

TEST_F(ScsiModuleTest, MalformedRequestsAreRefused) {
  EXPECT_EQ(Open("[device]\n"), kStatusGood);
  EXPECT_EQ(Run(1, {0x00, 0, 0, 0}), kStatusBadRequest);  // CDB length 4
  EXPECT_EQ(Run(1, {0x12, 0, 0, 0, 36, 0}, kFromDevice, nullptr, 36), kStatusBadRequest);
  EXPECT_EQ(Run(1, {0x00, 0, 0, 0, 0, 0}, 7), kStatusBadRequest);
  block_.cdb = nullptr;
  EXPECT_EQ(entry_(kExecute, &block_), kStatusBadRequest);
  block_.cdb = cdb_;
  EXPECT_EQ(entry_(9, &block_), kStatusBadRequest);
  EXPECT_EQ(entry_(kExecute, nullptr), kStatusBadRequest);
}

TEST_F(ScsiModuleTest, OpenFailsOnBadSignatureOrConfiguration) {
  struct Case {
    const char* config;
    const char* signature;
  } cases[] = {
      {"[device]\n", "1234"},
      {"ha = 1\n", "0000"},                        // setting outside a device
      {"[device]\nfail.C1 = 5 24\n", "0000"},      // sense needs three bytes
      {"[device]\ncolour = red\n", "0000"},        // unknown key
      {"[device]\nid = 99\n", "0000"},
  };
  ASSERT_TRUE(Load());
  for (const Case& c : cases) {
    std::ofstream(dir_ / "bus.conf") << c.config;
    std::memcpy(block_.signature, c.signature, 4);
    block_.driverState = 0;
    EXPECT_NE(entry_(kOpen, &block_), kStatusGood) << c.config;
    EXPECT_NE(block_.driverState, kDriverReady) << c.config;
  }
  setenv(kBusEnv, (dir_ / "absent.conf").c_str(), 1);
  std::memcpy(block_.signature, "0000", 4);
  EXPECT_NE(entry_(kOpen, &block_), kStatusGood);
  // Calls before a successful open are refused.
  EXPECT_EQ(Run(1, {0x00, 0, 0, 0, 0, 0}), kStatusNotOpen);
  entry_ = nullptr;  // nothing to close
}

TEST_F(ScsiModuleTest, EveryRequestIsLogged) {
  ASSERT_EQ(Open("[device]\n"), kStatusGood);
  uint8_t parameters[9] = {0x7F, 0, 0, 0, 0x0A, 0, 0, 0, 1};
  Run(1, {0xE0, 0, 0xD5, 0, 0, 0, 0, 0, 9, 0}, kToDevice, parameters, 9);
  Inquiry(1, 0, 4);
  entry_(kClose, &block_);
  entry_ = nullptr;
  const std::vector<std::string> expected = {
      "fn=1 dev=0 dir=0 len=0 cb=0 cdb= data=",
      "fn=3 dev=1 dir=1 len=9 cb=0 cdb=E0 00 D5 00 00 00 00 00 09 00 data=7F 00 00 00 0A 00 00 00 01",
      "fn=3 dev=1 dir=2 len=4 cb=0 cdb=12 01 00 00 04 00 data=",
      "fn=2 dev=1 dir=2 len=4 cb=0 cdb=12 01 00 00 04 00 data=",
  };
  EXPECT_EQ(ReadLines(dir_ / "log.txt"), expected);
}

TEST(NamedEventAcrossModules, AModuleSetsItsHostsEvent) {
  win::HMODULE probe = win::LoadLibrary("EventProbe");  // found in the system directory
  ASSERT_NE(probe, nullptr) << win::LastModuleError();
  auto set = reinterpret_cast<bool (*)(const char*)>(win::GetProcAddress(probe, "ProbeSetEvent"));
  ASSERT_NE(set, nullptr);
  EXPECT_FALSE(set("ExecuteEvent"));  // not created yet
  win::HANDLE event = win::CreateEvent(false, false, "ExecuteEvent");
  EXPECT_TRUE(set("ExecuteEvent"));
  EXPECT_EQ(win::WaitForSingleObject(event, 0), win::WAIT_OBJECT_0);
  win::CloseHandle(event);
  EXPECT_TRUE(win::FreeLibrary(probe));
}

}  // namespace
