#include "engine/cpu.h"

#include <atomic>
#include <cstdlib>

namespace kroma {
namespace {

// Function-local statics are initialised once, also when threads race to the first call.
int DetectedLevel() {
  static const int level = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return int(kVectorAvx2);
    return __builtin_cpu_supports("sse4.1") ? int(kVectorSse41) : int(kVectorNone);
  }();
  return level;
}

std::atomic<bool>& Enabled() {
  static std::atomic<bool> enabled{[] {
    const char* v = std::getenv("KROMA_SCALAR");
    return v == nullptr || v[0] == '\0' || (v[0] == '0' && v[1] == '\0');
  }()};
  return enabled;
}

}  // namespace

int ActiveVectorLevel() { return Enabled().load(std::memory_order_relaxed) ? DetectedLevel() : int(kVectorNone); }

void SetVectorLoops(bool enabled) { Enabled().store(enabled, std::memory_order_relaxed); }

}  // namespace kroma
