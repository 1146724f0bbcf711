// The simulated bus. The configuration file lists the devices in bus order:
//
//   [device]
//   ha = 0                  host adapter number
//   id = 2                  target ID
//   vendor = ORVAX          INQUIRY vendor, product and revision
//   product = QV-7100
//   revision = 1.00
//   page1 = Feeder          text of vital-product page 1
//   adapter = yes           bit 0x20 of byte 28 of vital-product page 0xE1
//   medium = yes            "no": TEST UNIT READY reports medium not present
//   unit-attention = no     "yes": the first command other than INQUIRY reports it, once
//   fail.C1 = 05 24 00      commands with this operation code (or code and byte 2, as
//                           fail.E0D5) end in CHECK CONDITION with this key, ASC, ASCQ
//   delay.C1 = 200          ... complete after 200 ms; "never" completes only when aborted
//
// Blank lines and lines starting with '#' or ';' are ignored.
#include "bus.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

namespace orvax::scsi {
namespace {

struct Failure {
  uint8_t key = 0, asc = 0, ascq = 0;
};

struct DeviceConfig {
  int ha = 0;
  int id = 0;
  std::string vendor = "ORVAX", product = "QV-7100", revision = "1.00";
  std::string page1 = "Feeder";
  bool adapter = true;
  bool medium = true;
  bool unitAttention = false;
  std::map<std::string, Failure> failures;  // by upper-case hex key
  std::map<std::string, int> delays;        // milliseconds, -1 for never
};

constexpr int kNever = -1;

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool ParseBool(const std::string& v, bool& out) {
  const std::string u = Upper(v);
  if (u == "YES" || u == "1" || u == "TRUE" || u == "ON") return out = true, true;
  if (u == "NO" || u == "0" || u == "FALSE" || u == "OFF") return out = false, true;
  return false;
}

bool ParseInt(const std::string& v, int lo, int hi, int& out) {
  try {
    size_t used = 0;
    int value = std::stoi(v, &used, 0);
    if (used != v.size() || value < lo || value > hi) return false;
    out = value;
    return true;
  } catch (...) {
    return false;
  }
}

bool IsHexKey(const std::string& k) {
  return (k.size() == 2 || k.size() == 4) &&
         std::all_of(k.begin(), k.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

std::string HexByte(uint8_t b) {
  static const char* digits = "0123456789ABCDEF";
  return {digits[b >> 4], digits[b & 15]};
}

// Fixed-format sense data.
void WriteSense(const Command& cmd, uint8_t key, uint8_t asc, uint8_t ascq) {
  if (cmd.sense == nullptr || cmd.senseLength <= 0) return;
  uint8_t sense[18] = {0x70, 0, key, 0, 0, 0, 0, 10, 0, 0, 0, 0, asc, ascq};
  std::copy_n(sense, std::min<int32_t>(cmd.senseLength, sizeof sense), cmd.sense);
}

class SimulatedDevice {
 public:
  explicit SimulatedDevice(DeviceConfig config) : config_(std::move(config)), unitAttention_(config_.unitAttention) {}

  const DeviceConfig& config() const { return config_; }

  // The delay configured for CMD in milliseconds (0 none, kNever).
  int DelayFor(const Command& cmd) const {
    if (auto it = config_.delays.find(Key(cmd, true)); it != config_.delays.end()) return it->second;
    if (auto it = config_.delays.find(Key(cmd, false)); it != config_.delays.end()) return it->second;
    return 0;
  }

  // Carries out CMD as the scanner would and returns its status.
  uint32_t Run(const Command& cmd) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint8_t op = cmd.cdb[0];
    const Failure* failure = nullptr;
    if (auto it = config_.failures.find(Key(cmd, true)); it != config_.failures.end()) failure = &it->second;
    else if (auto it2 = config_.failures.find(Key(cmd, false)); it2 != config_.failures.end()) failure = &it2->second;

    if (op != 0x12 && unitAttention_) {
      unitAttention_ = false;
      return Check(cmd, 0x06, 0x29, 0x00);  // power on or reset occurred
    }
    if (failure != nullptr) return Check(cmd, failure->key, failure->asc, failure->ascq);
    switch (op) {
      case 0x00:  // TEST UNIT READY
        return config_.medium ? kStatusGood : Check(cmd, 0x02, 0x3A, 0x00);
      case 0x12:
        return Inquiry(cmd);
      case 0x16:  // RESERVE UNIT
      case 0x17:  // RELEASE UNIT
      case 0x1D:  // SEND DIAGNOSTIC
      case 0xC0:  // abort
      case 0xC1:  // execute
        return kStatusGood;
      case 0xE0:  // vendor: move feeder (D5), deselect (D0)
        if (cmd.cdb[2] == 0xD5 || cmd.cdb[2] == 0xD0) return kStatusGood;
        return Check(cmd, 0x05, 0x24, 0x00);
      default:
        return Check(cmd, 0x05, 0x20, 0x00);  // invalid command operation code
    }
  }

 private:
  static std::string Key(const Command& cmd, bool withByte2) {
    return withByte2 ? HexByte(cmd.cdb[0]) + HexByte(cmd.cdb[2]) : HexByte(cmd.cdb[0]);
  }

  static uint32_t Check(const Command& cmd, uint8_t key, uint8_t asc, uint8_t ascq) {
    WriteSense(cmd, key, asc, ascq);
    return kStatusCheckCondition;
  }

  uint32_t Inquiry(const Command& cmd) {
    std::vector<uint8_t> reply;
    const bool vpd = (cmd.cdb[1] & 1) != 0;
    const uint8_t page = cmd.cdb[2];
    if (!vpd) {
      if (page != 0) return Check(cmd, 0x05, 0x24, 0x00);
      reply.assign(36, 0);
      reply[0] = 0x06;  // scanner
      reply[2] = 0x02;
      reply[3] = 0x02;
      reply[4] = 31;
      auto put = [&reply](size_t at, size_t width, const std::string& text) {
        for (size_t i = 0; i < width; ++i) reply[at + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
      };
      put(8, 8, config_.vendor);
      put(16, 16, config_.product);
      put(32, 4, config_.revision);
    } else if (page == 0x00) {
      reply = {0x06, 0x00, 0x00, 3, 0x00, 0x01, 0xE1};
    } else if (page == 0x01) {
      const std::string& text = config_.page1;
      const size_t n = std::min<size_t>(text.size(), 250);
      reply = {0x06, 0x01, 0x00, static_cast<uint8_t>(n + 1), static_cast<uint8_t>(n)};
      reply.insert(reply.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
    } else if (page == 0xE1) {
      reply.assign(32, 0);
      reply[0] = 0x06;
      reply[1] = 0xE1;
      reply[3] = 28;
      reply[28] = config_.adapter ? 0x20 : 0x00;
    } else {
      return Check(cmd, 0x05, 0x24, 0x00);
    }
    const size_t allocation = cmd.cdb[4];
    size_t n = std::min(reply.size(), allocation);
    if (cmd.direction != kFromDevice || cmd.data == nullptr) n = 0;
    n = std::min<size_t>(n, static_cast<size_t>(std::max<int32_t>(cmd.dataLength, 0)));
    std::copy_n(reply.begin(), n, cmd.data);
    return kStatusGood;
  }

  DeviceConfig config_;
  std::mutex mutex_;
  bool unitAttention_;
};

class SimulatedBus final : public Bus {
 public:
  explicit SimulatedBus(std::vector<DeviceConfig> configs) {
    for (DeviceConfig& c : configs) devices_.push_back(std::make_unique<SimulatedDevice>(std::move(c)));
  }

  ~SimulatedBus() override {
    for (int n = 1; n <= DeviceCount(); ++n) Cancel(n);
  }

  int DeviceCount() const override { return static_cast<int>(devices_.size()); }

  bool Record(int n, uint8_t* record) override {
    SimulatedDevice* device = Device(n);
    if (device == nullptr) return false;
    std::fill_n(record, kDeviceRecordSize, 0);
    record[0] = static_cast<uint8_t>(NumberCharacter(device->config().ha));
    record[2] = static_cast<uint8_t>(NumberCharacter(device->config().id));
    Command inquiry;
    const uint8_t cdb[6] = {0x12, 0, 0, 0, 36, 0};
    std::copy_n(cdb, 6, inquiry.cdb);
    inquiry.cdbLength = 6;
    inquiry.direction = kFromDevice;
    inquiry.data = record + 4;
    inquiry.dataLength = 36;
    device->Run(inquiry);
    return true;
  }

  uint32_t Execute(int n, const Command& cmd, const Completion& done) override {
    SimulatedDevice* device = Device(n);
    if (device == nullptr) return Finish(kStatusBadDevice, done);
    const int delay = device->DelayFor(cmd);
    if (delay == 0) return Finish(device->Run(cmd), done);
    if (!done) {
      // A call that must complete before it returns cannot wait for ever.
      if (delay == kNever) return kStatusBusy;
      std::this_thread::sleep_for(std::chrono::milliseconds(delay));
      return device->Run(cmd);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    Pending& pending = pending_[n];
    auto worker = std::make_shared<Worker>();
    pending.push_back(worker);
    worker->thread = std::thread([worker, device, cmd, delay, done] {
      bool aborted;
      {
        std::unique_lock<std::mutex> lk(worker->mutex);
        const auto stopped = [&worker] { return worker->stop; };
        if (delay == kNever)
          worker->cv.wait(lk, stopped);
        else
          worker->cv.wait_for(lk, std::chrono::milliseconds(delay), stopped);
        aborted = worker->stop;
      }
      done(aborted ? kStatusAborted : device->Run(cmd));
    });
    return kStatusGood;
  }

  uint32_t Abort(int n, const Command& cmd) override {
    SimulatedDevice* device = Device(n);
    if (device == nullptr) return kStatusBadDevice;
    Cancel(n);
    return device->Run(cmd);
  }

 private:
  struct Worker {
    std::mutex mutex;
    std::condition_variable cv;
    bool stop = false;
    std::thread thread;
  };
  using Pending = std::vector<std::shared_ptr<Worker>>;

  static uint32_t Finish(uint32_t status, const Completion& done) {
    if (done) done(status);
    return status;
  }

  SimulatedDevice* Device(int n) const {
    return n >= 1 && n <= DeviceCount() ? devices_[static_cast<size_t>(n - 1)].get() : nullptr;
  }

  // Stops device N's pending commands and waits until their completions have run.
  void Cancel(int n) {
    Pending workers;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      workers.swap(pending_[n]);
    }
    for (auto& w : workers) {
      {
        std::lock_guard<std::mutex> lk(w->mutex);
        w->stop = true;
      }
      w->cv.notify_all();
      if (w->thread.joinable()) w->thread.join();
    }
  }

  std::vector<std::unique_ptr<SimulatedDevice>> devices_;
  std::mutex mutex_;
  std::map<int, Pending> pending_;
};

bool ParseSense(const std::string& value, Failure& out) {
  std::istringstream in(value);
  std::string a, b, c;
  if (!(in >> a >> b >> c)) return false;
  int key, asc, ascq;
  if (!ParseInt("0x" + a, 0, 15, key) || !ParseInt("0x" + b, 0, 255, asc) || !ParseInt("0x" + c, 0, 255, ascq))
    return false;
  out = {static_cast<uint8_t>(key), static_cast<uint8_t>(asc), static_cast<uint8_t>(ascq)};
  return true;
}

}  // namespace

char NumberCharacter(int value) {
  if (value >= 0 && value <= 9) return static_cast<char>('0' + value);
  if (value >= 10 && value < 36) return static_cast<char>('A' + value - 10);
  return '?';
}

std::unique_ptr<Bus> OpenSimulatedBus(const std::string& path, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path;
    return nullptr;
  }
  std::vector<DeviceConfig> devices;
  std::string line;
  int lineNo = 0;
  auto fail = [&](const std::string& why) {
    error = path + ":" + std::to_string(lineNo) + ": " + why;
    return nullptr;
  };
  while (std::getline(in, line)) {
    ++lineNo;
    line = Trim(line);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (Upper(line) == "[DEVICE]") {
      devices.emplace_back();
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return fail("expected key = value");
    if (devices.empty()) return fail("settings before the first [device]");
    const std::string key = Upper(Trim(line.substr(0, eq)));
    const std::string value = Trim(line.substr(eq + 1));
    DeviceConfig& d = devices.back();
    bool ok = true;
    if (key == "HA") ok = ParseInt(value, 0, 35, d.ha);
    else if (key == "ID") ok = ParseInt(value, 0, 35, d.id);
    else if (key == "VENDOR") d.vendor = value;
    else if (key == "PRODUCT") d.product = value;
    else if (key == "REVISION") d.revision = value;
    else if (key == "PAGE1") d.page1 = value;
    else if (key == "ADAPTER") ok = ParseBool(value, d.adapter);
    else if (key == "MEDIUM") ok = ParseBool(value, d.medium);
    else if (key == "UNIT-ATTENTION") ok = ParseBool(value, d.unitAttention);
    else if (key.rfind("FAIL.", 0) == 0 && IsHexKey(key.substr(5))) ok = ParseSense(value, d.failures[key.substr(5)]);
    else if (key.rfind("DELAY.", 0) == 0 && IsHexKey(key.substr(6))) {
      int ms = kNever;
      ok = Upper(value) == "NEVER" || (ParseInt(value, 0, 600000, ms) && ms > 0);
      d.delays[key.substr(6)] = ok && Upper(value) == "NEVER" ? kNever : ms;
    } else
      return fail("unknown key " + key);
    if (!ok) return fail("bad value for " + key + ": " + value);
  }
  return std::make_unique<SimulatedBus>(std::move(devices));
}

}  // namespace orvax::scsi
