// Real devices through Linux SCSI generic: every /dev/sgN that can be opened for reading
// and writing is one device, in the order of N. Commands go through the SG_IO ioctl, which
// completes before it returns, so a completion callback is called before Execute returns.
#include "bus.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

namespace orvax::scsi {
namespace {

constexpr unsigned kTimeoutMs = 60000;

struct GenericDevice {
  std::string path;
  int fd = -1;
  int host = 0;
  int target = 0;
};

class GenericBus final : public Bus {
 public:
  GenericBus() {
    namespace fs = std::filesystem;
    std::vector<std::pair<int, std::string>> found;
    std::error_code ec;
    for (fs::directory_iterator it("/dev", ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (name.size() > 2 && name.compare(0, 2, "sg") == 0 &&
          std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
        found.emplace_back(std::stoi(name.substr(2)), it->path().string());
    }
    std::sort(found.begin(), found.end());
    for (const auto& [number, path] : found) {
      const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) continue;
      int version = 0;
      sg_scsi_id id{};
      if (ioctl(fd, SG_GET_VERSION_NUM, &version) < 0 || version < 30000 || ioctl(fd, SG_GET_SCSI_ID, &id) < 0) {
        close(fd);
        continue;
      }
      // Back to blocking mode so that SG_IO waits for the command.
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      devices_.push_back({path, fd, id.host_no, id.scsi_id});
    }
  }

  ~GenericBus() override {
    for (const GenericDevice& d : devices_) close(d.fd);
  }

  int DeviceCount() const override { return static_cast<int>(devices_.size()); }

  bool Record(int n, uint8_t* record) override {
    const GenericDevice* device = Device(n);
    if (device == nullptr) return false;
    std::fill_n(record, kDeviceRecordSize, 0);
    record[0] = static_cast<uint8_t>(NumberCharacter(device->host));
    record[2] = static_cast<uint8_t>(NumberCharacter(device->target));
    Command inquiry;
    const uint8_t cdb[6] = {0x12, 0, 0, 0, 36, 0};
    std::copy_n(cdb, 6, inquiry.cdb);
    inquiry.cdbLength = 6;
    inquiry.direction = kFromDevice;
    inquiry.data = record + 4;
    inquiry.dataLength = 36;
    uint8_t sense[kSenseCapacity] = {};
    inquiry.sense = sense;
    inquiry.senseLength = sizeof sense;
    Run(*device, inquiry);
    return true;
  }

  uint32_t Execute(int n, const Command& cmd, const Completion& done) override {
    const GenericDevice* device = Device(n);
    const uint32_t status = device != nullptr ? Run(*device, cmd) : kStatusBadDevice;
    if (done) done(status);
    return status;
  }

  uint32_t Abort(int n, const Command& cmd) override {
    // SG_IO has nothing pending once it returns; the abort command goes to the device so
    // that it stops a mechanical operation of its own.
    const GenericDevice* device = Device(n);
    return device != nullptr ? Run(*device, cmd) : kStatusBadDevice;
  }

 private:
  const GenericDevice* Device(int n) const {
    return n >= 1 && n <= DeviceCount() ? &devices_[static_cast<size_t>(n - 1)] : nullptr;
  }

  static uint32_t Run(const GenericDevice& device, const Command& cmd) {
    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.cmd_len = static_cast<unsigned char>(cmd.cdbLength);
    io.cmdp = const_cast<unsigned char*>(cmd.cdb);
    io.dxfer_direction = SG_DXFER_NONE;
    if (cmd.direction != kNoData && cmd.data != nullptr && cmd.dataLength > 0) {
      io.dxfer_direction = cmd.direction == kToDevice ? SG_DXFER_TO_DEV : SG_DXFER_FROM_DEV;
      io.dxferp = cmd.data;
      io.dxfer_len = static_cast<unsigned>(cmd.dataLength);
    }
    if (cmd.sense != nullptr && cmd.senseLength > 0) {
      io.sbp = cmd.sense;
      io.mx_sb_len = static_cast<unsigned char>(std::min<int32_t>(cmd.senseLength, 255));
    }
    io.timeout = kTimeoutMs;
    if (ioctl(device.fd, SG_IO, &io) < 0) return kStatusTransportError;
    // Sense returned by the driver (DRIVER_SENSE) is the device's CHECK CONDITION.
    if (io.host_status != 0 || (io.driver_status & ~0x08) != 0) return kStatusTransportError;
    return io.status;
  }

  std::vector<GenericDevice> devices_;
};

}  // namespace

std::unique_ptr<Bus> OpenGenericBus() { return std::make_unique<GenericBus>(); }

}  // namespace orvax::scsi
