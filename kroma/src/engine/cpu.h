// Which vector instructions the pixel loops may use. The processor is asked once per process.
// Each loop has a "can" (may its vector version run now, CpuCan with what it needs) and a "do"
// (the version it then runs); one switch sends every loop down its plain C++ path, so that the
// tests compare both paths result for result.
#pragma once

namespace kroma {

enum CpuFeature : unsigned {
  kCpuSse41 = 1u << 0,
  kCpuAvx2 = 1u << 1,
};

// What the processor offers (CpuFeature bits), detected at the first call.
unsigned DetectedCpuFeatures();
// True when the processor has every feature in `features` and the plain loops are not forced.
bool CpuCan(unsigned features);
// Forces the plain loops (true) or returns to the detected ones (false). The switch starts on
// when KROMA_SCALAR is set in the environment to anything but 0.
void ForcePortableKernels(bool on);

}  // namespace kroma
