#include "engine/cpu.h"

#include <atomic>
#include <cstdlib>

namespace kroma {
namespace {

std::atomic<bool>& ForcedPortable() {
  static std::atomic<bool> forced{[] {
    const char* v = std::getenv("KROMA_SCALAR");
    return !(v == nullptr || v[0] == '\0' || (v[0] == '0' && v[1] == '\0'));
  }()};
  return forced;
}

}  // namespace

unsigned DetectedCpuFeatures() {
  // A function-local static is initialised once, also when threads race to the first call.
  static const unsigned features = [] {
    unsigned f = 0;
    __builtin_cpu_init();
    if (__builtin_cpu_supports("sse4.1")) f |= kCpuSse41;
    if (__builtin_cpu_supports("avx2")) f |= kCpuAvx2;
    return f;
  }();
  return features;
}

bool CpuCan(unsigned features) {
  return !ForcedPortable().load(std::memory_order_relaxed) && (DetectedCpuFeatures() & features) == features;
}

void ForcePortableKernels(bool on) { ForcedPortable().store(on, std::memory_order_relaxed); }

}  // namespace kroma
