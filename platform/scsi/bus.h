// The buses behind the driver module: a simulated one described by a configuration file,
// and the real devices of Linux SCSI generic. Device numbers are 1-based.
#pragma once

#include "scsi_request.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace orvax::scsi {

struct Command {
  uint8_t cdb[kCdbCapacity] = {};
  int cdbLength = 0;
  int direction = kNoData;
  uint8_t* data = nullptr;
  int32_t dataLength = 0;
  uint8_t* sense = nullptr;
  int32_t senseLength = 0;
};

// Called once with the final status of a command that completes through the callback.
using Completion = std::function<void(uint32_t status)>;

class Bus {
 public:
  virtual ~Bus() = default;
  virtual int DeviceCount() const = 0;
  // Fills the 64-byte device record of device N; false when there is no device N.
  virtual bool Record(int n, uint8_t* record) = 0;
  // Runs CMD on device N. Without DONE the call returns the final status. With DONE the
  // command may still be running when the call returns kStatusGood; DONE is then called
  // once, possibly from another thread. When the call returns anything else, or completed
  // at once, DONE has already been called with that status.
  virtual uint32_t Execute(int n, const Command& cmd, const Completion& done) = 0;
  // Stops device N's pending commands; their completions have run when this returns.
  virtual uint32_t Abort(int n, const Command& cmd) = 0;
};

// The simulated bus of the configuration file PATH; null with ERROR set when the file
// cannot be read or is malformed.
std::unique_ptr<Bus> OpenSimulatedBus(const std::string& path, std::string& error);

// The devices at /dev/sg*; an empty bus when there are none.
std::unique_ptr<Bus> OpenGenericBus();

// A one-character form of a small number, as the device record stores adapter and target
// numbers: '0'..'9', then 'A'..'Z', then '?'.
char NumberCharacter(int value);

}  // namespace orvax::scsi
