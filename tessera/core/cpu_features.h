// Which vector instructions Tessera's kernels may use. The processor is asked once per
// process. Each kernel has a "can" (may its vector version run now, CpuCan with what it needs)
// and a "do" (the version it then calls); one switch sends every kernel down its portable path,
// so that tests can compare both paths byte for byte.
#pragma once

namespace tessera {

enum CpuFeature : unsigned {
  kCpuSse2 = 1u << 0,
  kCpuSsse3 = 1u << 1,
  kCpuAvx2 = 1u << 2,
  kCpuBmi2 = 1u << 3,  // with BMI1: shifts by a register without the flags, and the bit tests
};

// What the processor offers (CpuFeature bits), detected at the first call; none outside x86.
unsigned DetectedCpuFeatures();
// True when the processor has every feature in `features` and the portable paths are not
// forced: the "can" of a kernel whose vector version needs those features.
bool CpuCan(unsigned features);
// Forces the portable path of every kernel (true) or returns to the detected ones (false).
// For tests and benchmarks.
void ForcePortableKernels(bool on);

}  // namespace tessera
