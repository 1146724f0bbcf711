// OXD_SCSI.DLL: the SCSI driver module. MDriverEntryPoint takes a function code and the
// caller's request block. With ORVAX_SCSI_BUS naming a configuration file it serves the
// simulated bus of that file, otherwise the devices of Linux SCSI generic. With
// ORVAX_SCSI_LOG naming a file it appends one line per request to it:
//
//   fn=3 dev=1 dir=1 len=9 cb=1 cdb=E0 00 D5 00 00 00 00 00 09 00 data=7F 00 00 00 0A 00 00 00 01
//
// (function code, device number, direction, data length, whether a completion callback was
// given, the CDB bytes, and the data bytes sent to the device).
#include "bus.h"
#include "scsi_request.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

namespace orvax::scsi {
namespace {

std::mutex g_mutex;            // guards g_bus and the log
std::unique_ptr<Bus> g_bus;    // set by a successful open

std::string Hex(const uint8_t* bytes, size_t n) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    if (i) out += ' ';
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

void Log(uint32_t function, const SCSIRequestBlock* block) {
  const char* path = std::getenv(kLogEnv);
  if (path == nullptr || *path == '\0') return;
  std::string line = "fn=" + std::to_string(function);
  if (block != nullptr) {
    line += " dev=" + std::to_string(block->deviceNumber) + " dir=" + std::to_string(block->direction) +
            " len=" + std::to_string(block->dataLength) + " cb=" + (block->callback != nullptr ? "1" : "0");
    const bool cdbOk = block->cdb != nullptr && (block->cdbLength == 6 || block->cdbLength == 10);
    line += " cdb=" + (cdbOk ? Hex(block->cdb, static_cast<size_t>(block->cdbLength)) : std::string());
    const bool dataOut = block->direction == kToDevice && block->data != nullptr && block->dataLength > 0 &&
                         block->dataLength <= 4096;
    line += " data=" + (dataOut ? Hex(block->data, static_cast<size_t>(block->dataLength)) : std::string());
  }
  line += '\n';
  if (FILE* f = std::fopen(path, "a")) {
    std::fputs(line.c_str(), f);
    std::fclose(f);
  }
}

// Checks the fields a command call reads and copies them; false for a malformed block.
bool ReadCommand(const SCSIRequestBlock* block, Command& cmd) {
  if (block->cdb == nullptr || (block->cdbLength != 6 && block->cdbLength != 10)) return false;
  if (block->direction < kNoData || block->direction > kFromDevice) return false;
  if (block->dataLength < 0 || (block->direction != kNoData && block->dataLength > 0 && block->data == nullptr))
    return false;
  if (block->senseLength < 0 || (block->senseLength > 0 && block->sense == nullptr)) return false;
  std::memcpy(cmd.cdb, block->cdb, static_cast<size_t>(block->cdbLength));
  cmd.cdbLength = block->cdbLength;
  cmd.direction = block->direction;
  cmd.data = block->direction != kNoData ? block->data : nullptr;
  cmd.dataLength = block->direction != kNoData ? block->dataLength : 0;
  cmd.sense = block->sense;
  cmd.senseLength = block->senseLength;
  return true;
}

uint32_t Open(SCSIRequestBlock* block) {
  if (std::memcmp(block->signature, "0000", 4) != 0) return kStatusBadRequest;
  if (!g_bus) {
    const char* config = std::getenv(kBusEnv);
    if (config != nullptr && *config != '\0') {
      std::string error;
      g_bus = OpenSimulatedBus(config, error);
      if (!g_bus) {
        std::fprintf(stderr, "OXD_SCSI: %s\n", error.c_str());
        return kStatusBadRequest;
      }
    } else {
      g_bus = OpenGenericBus();
    }
  }
  block->driverState = kDriverReady;
  block->driverInfo[0] = 1;
  block->driverInfo[1] = 0;
  block->driverInfo[2] = 0;
  block->openResult = g_bus->DeviceCount();
  return kStatusGood;
}

}  // namespace
}  // namespace orvax::scsi

using namespace orvax::scsi;

extern "C" __attribute__((visibility("default"))) uint32_t MDriverEntryPoint(uint32_t function,
                                                                             SCSIRequestBlock* block) {
  if (block == nullptr) return kStatusBadRequest;
  std::unique_lock<std::mutex> lock(g_mutex);
  Log(function, block);
  if (function == kOpen) return Open(block);
  if (!g_bus) return kStatusNotOpen;
  switch (function) {
    case kClose: {
      std::unique_ptr<Bus> bus = std::move(g_bus);
      lock.unlock();  // pending completions may still run while the bus shuts down
      bus.reset();
      return kStatusGood;
    }
    case kDeviceRecord: {
      uint8_t* out = block->data != nullptr && block->dataLength >= static_cast<int32_t>(kDeviceRecordSize)
                         ? block->data
                         : block->workBuffer;
      block->recordLength = kDeviceRecordSize;
      if (out == nullptr) return kStatusBadRequest;
      return g_bus->Record(block->deviceNumber, out) ? kStatusGood : kStatusNoDevice;
    }
    case kExecute: {
      Command cmd;
      if (!ReadCommand(block, cmd)) return kStatusBadRequest;
      Bus* bus = g_bus.get();
      lock.unlock();
      CompletionCallback callback = block->callback;
      if (callback == nullptr) return bus->Execute(block->deviceNumber, cmd, nullptr) & 0xFFFF;
      return bus->Execute(block->deviceNumber, cmd, [block, callback](uint32_t status) {
        block->completionStatus = status;
        callback(block);
      }) & 0xFFFF;
    }
    case kAbort: {
      Command cmd;
      if (!ReadCommand(block, cmd)) return kStatusBadRequest;
      Bus* bus = g_bus.get();
      lock.unlock();
      return bus->Abort(block->deviceNumber, cmd);
    }
    default:
      return kStatusBadRequest;
  }
}
