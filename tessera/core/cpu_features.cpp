#include "core/cpu_features.h"

#include <atomic>

namespace tessera {
namespace {

std::atomic<bool> forcePortable{false};

}  // namespace

unsigned DetectedCpuFeatures() {
  // A function-local static is initialised once, also when threads race to the first call.
  static const unsigned features = [] {
    unsigned f = 0;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("sse2")) f |= kCpuSse2;
    if (__builtin_cpu_supports("ssse3")) f |= kCpuSsse3;
    if (__builtin_cpu_supports("avx2")) f |= kCpuAvx2;
    if (__builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2")) f |= kCpuBmi2;
#endif
    return f;
  }();
  return features;
}

bool CpuCan(unsigned features) {
  return !forcePortable.load(std::memory_order_relaxed) && (DetectedCpuFeatures() & features) == features;
}

void ForcePortableKernels(bool on) { forcePortable.store(on, std::memory_order_relaxed); }

}  // namespace tessera
