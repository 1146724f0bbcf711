#include "device_manager.h"

#include "win/windows_root.h"

#include <algorithm>
#include <cstring>

namespace larkspur {

using namespace orvax::scsi;
namespace win = orvax::win;

namespace {

const std::vector<uint8_t> kTestUnitReady = {0x00, 0, 0, 0, 0, 0};
const std::vector<uint8_t> kReserveUnit = {0x16, 0, 0, 0, 0, 0};
const std::vector<uint8_t> kReleaseUnit = {0x17, 0, 0, 0, 0, 0};
const std::vector<uint8_t> kSelfTest = {0x1D, 0x04, 0, 0, 0, 0};
const std::vector<uint8_t> kExecuteCommand = {0xC1, 0, 0, 0, 0, 0};
const std::vector<uint8_t> kAbortCommand = {0xC0, 0, 0, 0, 0, 0};
const std::vector<uint8_t> kMoveCommand = {0xE0, 0, 0xD5, 0, 0, 0, 0, 0, 0x09, 0};
const std::vector<uint8_t> kDeselectCommand = {0xE0, 0, 0xD0, 0, 0, 0, 0, 0, 0, 0};

constexpr int kMaxAllocation = 255;  // the allocation length of a 6-byte INQUIRY is one byte

}  // namespace

DeviceManager::DeviceManager() = default;

DeviceManager::~DeviceManager() { Close(); }

std::string DeviceManager::DefaultModulePath() {
  // Built without a fixed-size buffer: a long Windows directory must neither overflow nor be
  // cut short.
  return win::WindowsDirectory() + "\\" + "TWAIN_32\\ORVAX\\ORvax Scan 2.0\\OXD_SCSI.DLL";
}

bool DeviceManager::Open(const std::string& modulePath) {
  if (IsOpen()) return true;
  module_ = win::LoadLibrary(modulePath);
  if (module_ == nullptr) return false;
  auto entry = reinterpret_cast<EntryPoint>(win::GetProcAddress(module_, kEntryPointName));
  if (entry == nullptr) {
    Unload();
    return false;
  }
  block_ = std::make_unique<SCSIRequestBlock>();
  std::memset(block_.get(), 0, sizeof(SCSIRequestBlock));
  cdb_ = std::make_unique<uint8_t[]>(kCdbCapacity);
  sense_ = std::make_unique<uint8_t[]>(kSenseCapacity);
  work_ = std::make_unique<uint8_t[]>(kDeviceRecordSize);
  block_->cdb = cdb_.get();
  block_->sense = sense_.get();
  block_->senseLength = kSenseCapacity;
  block_->workBuffer = work_.get();
  executeEvent_ = win::CreateEvent(false, false, "ExecuteEvent");
  std::memcpy(block_->signature, "0000", 4);
  const uint32_t status = entry(kOpen, block_.get());
  if ((status & 0xFFFF) != 0 || block_->driverState != kDriverReady) {
    Unload();
    return false;
  }
  entry_ = entry;
  return true;
}

uint32_t DeviceManager::Send(uint32_t function, int32_t device, const std::vector<uint8_t>& cdb,
                             int32_t direction, uint8_t* data, int32_t length, bool withCallback) {
  if (!IsOpen() || cdb.size() > kCdbCapacity) return kStatusRefused;
  std::memset(cdb_.get(), 0, kCdbCapacity);
  std::copy(cdb.begin(), cdb.end(), cdb_.get());
  block_->cdb = cdb_.get();
  block_->cdbLength = static_cast<int32_t>(cdb.size());
  block_->deviceNumber = device;
  block_->direction = direction;
  block_->data = data;
  block_->dataLength = length;
  block_->callback = withCallback ? &DeviceManager::OnExecuteComplete : nullptr;
  block_->callbackArg = withCallback ? this : nullptr;
  uint32_t status = entry_(function, block_.get());
  if (withCallback && Succeeded(status)) {
    if (win::WaitForSingleObject(executeEvent_, executeTimeoutMs_) == win::WAIT_OBJECT_0) {
      status = block_->completionStatus;
    } else {
      // The completion never came: stop the command rather than wait for ever, and report
      // the Execute as failed.
      Abort(device);
      return kStatusExecuteTimedOut;
    }
  }
  senseKey_ = sense_[2] & 0x0F;
  asc_ = sense_[12];
  ascq_ = sense_[13];
  std::memset(sense_.get(), 0, kSenseCapacity);
  return status;
}

void DeviceManager::OnExecuteComplete(SCSIRequestBlock* block) {
  auto* self = static_cast<DeviceManager*>(block->callbackArg);
  if (self != nullptr) win::SetEvent(self->executeEvent_);
}

std::string DeviceManager::DeviceText(int index) {
  if (!IsOpen() || index < 0) return {};
  // A record left over from the previous device must not pass for this one.
  std::memset(work_.get(), 0, kDeviceRecordSize);
  const uint32_t status = Send(kDeviceRecord, index + 1, {}, kFromDevice, work_.get(),
                               kDeviceRecordSize);
  if ((status & 0xFFFF) != 0) return {};
  const uint8_t* record = work_.get();
  // Fixed widths; bytes that are not printable become blanks so that the product always
  // sits at characters 6 to 12.
  auto field = [record](size_t at, size_t width) {
    std::string out;
    for (size_t i = 0; i < width; ++i) {
      const uint8_t c = record[at + i];
      out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : ' ';
    }
    return out;
  };
  return field(12, 6) + field(20, 7) + " " + field(36, 4) + " ID=" + field(2, 1) + "HA=" + field(0, 1);
}

bool DeviceManager::ReadPage(int32_t device, uint8_t page, int length, std::vector<uint8_t>& out) {
  length = std::clamp(length, 0, kMaxAllocation);
  out.assign(static_cast<size_t>(length), 0);
  const std::vector<uint8_t> cdb = {0x12, 0x01, page, 0x00, static_cast<uint8_t>(length), 0x00};
  return Succeeded(Send(kExecute, device, cdb, kFromDevice, out.data(), length));
}

bool DeviceManager::Accept(int index, std::string& text) {
  text = DeviceText(index);
  if (text.empty()) return false;
  const std::string product = text.substr(6, 7);
  if (product != "QV-7100" && product != "RX90417") return false;
  const int32_t device = index + 1;

  std::vector<uint8_t> reply;
  if (!ReadPage(device, 0x00, 4, reply)) return false;
  const int pageZeroLength = reply[3];
  if (!ReadPage(device, 0x01, pageZeroLength + 4, reply)) return false;
  // Page 1 is read with the length of page 0; when page 1 is longer than that, its text was
  // cut short, so it is read again with its own length.
  if (reply[3] + 4 > static_cast<int>(reply.size()) && !ReadPage(device, 0x01, reply[3] + 4, reply)) return false;
  const size_t textLength = reply[4];
  if (5 + textLength > reply.size()) return false;
  if (std::string(reply.begin() + 5, reply.begin() + 5 + static_cast<std::ptrdiff_t>(textLength)) != "Feeder")
    return false;

  if (!ReadPage(device, 0xE1, 4, reply)) return false;
  if (!ReadPage(device, 0xE1, reply[3] + 4, reply)) return false;
  if (reply.size() <= 28 || (reply[28] & 0x20) == 0) return false;

  devices_.push_back(device);
  TestUnitReady(device);
  Send(kExecute, device, kReserveUnit, kNoData, nullptr, 0);
  Send(kExecute, device, kSelfTest, kNoData, nullptr, 0);
  return true;
}

uint32_t DeviceManager::TestUnitReady(int32_t device) {
  uint32_t status = Send(kExecute, device, kTestUnitReady, kNoData, nullptr, 0);
  const uint8_t key = senseKey_, asc = asc_, ascq = ascq_;
  if (key == 0x06) status = Send(kExecute, device, kTestUnitReady, kNoData, nullptr, 0);
  if (!Succeeded(status) && key == 0x02 && asc == 0x3A && ascq == 0x00) return 0;  // medium not present
  return status;
}

uint32_t DeviceManager::Move(int32_t device, int steps, uint8_t direction) {
  if (uint32_t status = TestUnitReady(device); status != 0) return status;
  uint8_t parameters[9] = {0x7F, 0, 0, static_cast<uint8_t>(steps >> 8), static_cast<uint8_t>(steps), 0, 0, 0,
                           direction};
  const uint32_t status = Send(kExecute, device, kMoveCommand, kToDevice, parameters, sizeof parameters);
  if (!Succeeded(status)) return status;
  return Execute(device);
}

uint32_t DeviceManager::Deselect(int32_t device) {
  if (uint32_t status = TestUnitReady(device); status != 0) return status;
  uint8_t parameters[9] = {0x7F};
  const uint32_t status = Send(kExecute, device, kDeselectCommand, kToDevice, parameters, sizeof parameters);
  if (!Succeeded(status)) return status;
  return Execute(device);
}

uint32_t DeviceManager::Execute(int32_t device) {
  // A completion that arrived after an earlier wait gave up must not end this wait.
  win::ResetEvent(executeEvent_);
  return Send(kExecute, device, kExecuteCommand, kNoData, nullptr, 0, true);
}

uint32_t DeviceManager::Abort(int32_t device) { return Send(kAbort, device, kAbortCommand, kNoData, nullptr, 0); }

uint32_t DeviceManager::Release(int32_t device) {
  return Send(kExecute, device, kReleaseUnit, kNoData, nullptr, 0);
}

void DeviceManager::Close() {
  if (!IsOpen()) return;
  for (int32_t device : devices_) {
    if (TestUnitReady(device) != 0) Abort(device);
    Deselect(device);
    Release(device);
  }
  block_->direction = kNoData;
  block_->cdbLength = 0;
  block_->data = nullptr;
  block_->dataLength = 0;
  block_->callback = nullptr;
  block_->callbackArg = nullptr;
  // The CDB buffer is freed before the close call; the block must not keep pointing at it.
  block_->cdb = nullptr;
  cdb_.reset();
  entry_(kClose, block_.get());
  entry_ = nullptr;
  devices_.clear();
  Unload();
}

void DeviceManager::Unload() {
  block_.reset();
  cdb_.reset();
  sense_.reset();
  work_.reset();
  if (executeEvent_ != nullptr) win::CloseHandle(executeEvent_);
  executeEvent_ = nullptr;
  if (module_ != nullptr) win::FreeLibrary(module_);
  module_ = nullptr;
  entry_ = nullptr;
}

}  // namespace larkspur
