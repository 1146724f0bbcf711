// The device manager: loads the SCSI driver module, keeps the one request block every call
// reuses, finds the scanners with the slide feeder and sends them their commands.
#pragma once

#include "scsi_request.h"
#include "win/module_loader.h"
#include "win/named_event.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace larkspur {

// Statuses of this program's own, beside the module's (whose low 16 bits are 0 on success).
enum : uint32_t {
  kStatusRefused = 0x10000,          // the request was not sent (no module, bad arguments)
  kStatusExecuteTimedOut = 0x10001,  // the completion of an Execute never came
};

inline bool Succeeded(uint32_t status) { return (status & 0xFFFF) == 0 && status < 0x10000; }

class DeviceManager {
 public:
  DeviceManager();
  ~DeviceManager();
  DeviceManager(const DeviceManager&) = delete;
  DeviceManager& operator=(const DeviceManager&) = delete;

  // The module's path: the Windows directory + "\TWAIN_32\ORVAX\ORvax Scan 2.0\OXD_SCSI.DLL".
  static std::string DefaultModulePath();

  // Loads the module, looks up its entry point, allocates the block and its buffers and
  // calls open. False, with everything undone, when any step fails.
  bool Open(const std::string& modulePath = DefaultModulePath());
  bool IsOpen() const { return entry_ != nullptr; }

  // The text of the device at enumeration INDEX (device number INDEX + 1), or empty when
  // the module reports no such device.
  std::string DeviceText(int index);

  // Accepts or refuses the device at INDEX; an accepted one is added to the device table,
  // then made ready, reserved and self-tested. TEXT receives the device text.
  bool Accept(int index, std::string& text);

  // Device numbers of the accepted devices, in discovery order.
  const std::vector<int32_t>& Devices() const { return devices_; }

  uint32_t TestUnitReady(int32_t device);
  uint32_t Move(int32_t device, int steps, uint8_t direction);
  uint32_t Deselect(int32_t device);
  uint32_t Execute(int32_t device);  // with the completion wait
  uint32_t Abort(int32_t device);
  uint32_t Release(int32_t device);

  // The exit sequence: every accepted device is made ready (or aborted), deselected and
  // released; then the driver is closed, the buffers freed, the event closed and the module
  // unloaded. Does nothing when the driver is not open.
  void Close();

  // How long an Execute waits for its completion (milliseconds).
  void SetExecuteTimeout(uint32_t ms) { executeTimeoutMs_ = ms; }
  static constexpr uint32_t kDefaultExecuteTimeoutMs = 60000;

  // The sense decoded after the last command.
  uint8_t SenseKey() const { return senseKey_; }
  uint8_t AdditionalSenseCode() const { return asc_; }
  uint8_t AdditionalSenseQualifier() const { return ascq_; }

 private:
  uint32_t Send(uint32_t function, int32_t device, const std::vector<uint8_t>& cdb, int32_t direction,
                uint8_t* data, int32_t length, bool withCallback = false);
  // Reads vital-product page PAGE with LENGTH bytes (at most 255) into OUT.
  bool ReadPage(int32_t device, uint8_t page, int length, std::vector<uint8_t>& out);
  static void OnExecuteComplete(orvax::scsi::SCSIRequestBlock* block);
  void Unload();

  orvax::win::HMODULE module_ = nullptr;
  orvax::scsi::EntryPoint entry_ = nullptr;
  std::unique_ptr<orvax::scsi::SCSIRequestBlock> block_;
  std::unique_ptr<uint8_t[]> cdb_, sense_, work_;
  std::vector<int32_t> devices_;
  orvax::win::HANDLE executeEvent_ = nullptr;
  uint32_t executeTimeoutMs_ = kDefaultExecuteTimeoutMs;
  uint8_t senseKey_ = 0, asc_ = 0, ascq_ = 0;
};

}  // namespace larkspur
