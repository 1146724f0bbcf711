#include "core/color_managed_pipeline.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "core/library.h"

namespace tessera {

KromaCalls& Kroma() {
  static KromaCalls calls{OXCMInit, OXCMProc, OXCMPostProc, OXCMResetMatchingParam, OXCMChange1DLUT, OXCMMerge1DLUT};
  return calls;
}

namespace {

constexpr int T = kTileSize;
constexpr int kTilePixels = T * T;
constexpr uint32_t kWorkBytes = kTilePixels * 3;

// Paths are handed over as pointers to char*, which must stay alive for the call.
struct PathPair {
  char* source;
  char* destination;
  CMProfilePaths paths{&source, &destination};
  PathPair(const char* s, const char* d) : source(const_cast<char*>(s)), destination(const_cast<char*>(d)) {}
};

}  // namespace

const char* SourceProfile(int code) {
  const LibraryState& lib = Library();
  switch (code) {
    case TES_CS_CMYK32: return lib.profiles[kProfileCmyk];
    case TES_CS_LAB48: return lib.profiles[kProfileLab];
    case TES_CS_LCH48: return lib.profiles[kProfileLch];
    default: return lib.profiles[kProfileSrgb];
  }
}

int ProfileChannels(const char* path) {
  if (path == nullptr || *path == '\0') return 0;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return 0;
  unsigned char header[40] = {};
  const size_t got = std::fread(header, 1, sizeof header, file);
  std::fclose(file);
  // The data colour space sits at offset 16, the signature "acsp" at 36.
  if (got != sizeof header || std::memcmp(header + 36, "acsp", 4) != 0) return 0;
  if (std::memcmp(header + 16, "RGB ", 4) == 0) return 3;
  if (std::memcmp(header + 16, "CMYK", 4) == 0) return 4;
  if (std::memcmp(header + 16, "GRAY", 4) == 0) return 1;
  return 0;
}

ColorManagedPipeline::~ColorManagedPipeline() {
  Close(display_);
  Close(print_);
  Close(proof_);
  Close(conversion_);
}

void ColorManagedPipeline::Close(CColorMatcher*& handle) {
  if (handle != nullptr) Kroma().postProc(handle);
  handle = nullptr;
}

CMParam ColorManagedPipeline::DisplayParam(int code) const {
  CMParam p{};
  p.width = T;
  p.lines = static_cast<uint16_t>(store_.tileCount() * T);
  p.srcBufferBytes = static_cast<uint32_t>(kTilePixels * BytesPerPixel(code));
  p.dstBufferBytes = kWorkBytes;
  p.inBits = static_cast<uint16_t>(ColorSpaceRow(code).bits);
  p.outBits = 8;
  p.layout = 0;
  return p;
}

long ColorManagedPipeline::Initialise() {
  const CMParam param = DisplayParam(store_.colorSpace());
  PathPair paths(SourceProfile(store_.colorSpace()), Library().profiles[kProfileMonitor]);
  CColorMatcher* handle = nullptr;
  if (Kroma().init(&param, &paths.paths, static_cast<uint16_t>(engine(TES_FLAG_DISPLAY_ENGINE)), 0, &handle) != 0) {
    // A handle that failed to initialise is still allocated; release it now.
    Close(handle);
    return TES_ERR_CM_INIT;
  }
  display_ = handle;
  if (const long status = ResetTables()) return status;
  work_.reset(new (std::nothrow) uint8_t[kWorkBytes]);
  return work_ ? TES_OK : TES_ERR_NO_MEMORY;
}

long ColorManagedPipeline::Merge(CColorMatcher* handle, uint16_t side, uint16_t count, uint32_t kind,
                                 uint16_t* const* tables) {
  CM1DLutSpec spec{};
  spec.tableCount = count;
  spec.bits = 8;
  spec.kind = kind;
  for (int i = 0; i < count && tables != nullptr; ++i) spec.tables[i] = tables[i];
  return Kroma().merge1DLut(&spec, side, handle) == 0 ? TES_OK : TES_ERR_CM_LUT;
}

long ColorManagedPipeline::ResetTables() {
  DisplayPipeline::ResetTables();
  if (display_ == nullptr) return TES_ERR_CM_LUT;
  if (Merge(display_, 0, static_cast<uint16_t>(store_.channels()), 0, nullptr) != TES_OK) return TES_ERR_CM_LUT;
  return Merge(display_, 1, 3, 0, nullptr);
}

long ColorManagedPipeline::SetTable(const uint8_t* table, int channel, int mode) {
  const bool input = mode == 0 || mode == 1;
  const int limit = input ? store_.channels() : 3;
  if (channel < 0 || channel >= limit) return TES_ERR_LUT_CHANNEL;
  StoreTable(tables_[input ? channel : 4 + channel], table);
  CM1DLutSpec spec{};
  spec.tableCount = static_cast<uint16_t>(limit);
  spec.bits = 8;
  spec.kind = 256;
  for (int i = 0; i < limit; ++i) spec.tables[i] = tables_[input ? i : 4 + i];
  int32_t result;
  switch (mode) {
    case 0: result = Kroma().merge1DLut(&spec, 0, display_); break;
    case 1: result = Kroma().change1DLut(&spec, 0, display_); break;
    case 2: result = Kroma().merge1DLut(&spec, 1, display_); break;
    default: result = Kroma().change1DLut(&spec, 1, display_); break;
  }
  return result == 0 ? TES_OK : TES_ERR_CM_LUT;
}

long ColorManagedPipeline::TileToDib(CColorMatcher* handle, const Tile& tile, uint8_t* dib) {
  CMBuffer source{tile.pixels.get(), static_cast<uint16_t>(T)};
  CMBuffer destination{work_.get(), 0};
  if (Kroma().proc(&source, &destination, handle) != 0) return TES_ERR_CM_PROCESS;
  PackWork(dib);
  return TES_OK;
}

void ColorManagedPipeline::PackWork(uint8_t* dib) const {
  for (int r = 0; r < T; ++r) {
    const uint8_t* src = work_.get() + static_cast<size_t>(r) * T * 3;
    uint8_t* dst = dib + static_cast<size_t>(T - 1 - r) * T * 3;
    for (int x = 0; x < T; ++x, src += 3, dst += 3) {
      dst[0] = src[2];
      dst[1] = src[1];
      dst[2] = src[0];
    }
  }
}

long ColorManagedPipeline::ConvertForScreen(const Tile& tile, uint8_t* dib) {
  if (display_ == nullptr || !work_) return TES_ERR_CM_PROCESS;
  return TileToDib(display_, tile, dib);
}

long ColorManagedPipeline::BeginPrint() {
  Close(print_);
  Close(proof_);
  const char* printer = Library().profiles[kProfilePrinter];
  const int channels = ProfileChannels(printer);
  // A profile that cannot be read, or of a colour space no printer takes, prints nothing.
  if (channels == 0) return TES_ERR_CM_INIT;
  CMParam param = DisplayParam(store_.colorSpace());
  if (channels != 3) {
    param.dstBufferBytes = static_cast<uint32_t>(kTilePixels * channels);
    printerWork_.reset(new (std::nothrow) uint8_t[param.dstBufferBytes]);
    if (!printerWork_) return TES_ERR_NO_MEMORY;
  }
  PathPair paths(SourceProfile(store_.colorSpace()), printer);
  CColorMatcher* handle = nullptr;
  const int32_t result =
      Kroma().init(&param, &paths.paths, static_cast<uint16_t>(engine(TES_FLAG_PRINT_ENGINE)), 0, &handle);
  print_ = handle;  // released by EndPrint whatever happened
  if (result != 0) return TES_ERR_CM_INIT;
  uint16_t* inputs[4] = {tables_[0], tables_[1], tables_[2], tables_[3]};
  if (const long status = Merge(print_, 0, static_cast<uint16_t>(store_.channels()), 256, inputs)) return status;
  if (channels == 3) return TES_OK;

  // The proof: from the printer's colour space back to sRGB.
  CMParam back = param;
  back.srcBufferBytes = param.dstBufferBytes;
  back.dstBufferBytes = kWorkBytes;
  back.inBits = 8;
  PathPair proofPaths(printer, Library().profiles[kProfileSrgb]);
  handle = nullptr;
  const int32_t proofResult =
      Kroma().init(&back, &proofPaths.paths, static_cast<uint16_t>(engine(TES_FLAG_PRINT_ENGINE)), 0, &handle);
  proof_ = handle;
  return proofResult == 0 ? TES_OK : TES_ERR_CM_INIT;
}

long ColorManagedPipeline::ConvertForPrint(const Tile& tile, uint8_t* dib) {
  if (print_ == nullptr || !work_) return TES_ERR_CM_PROCESS;
  if (proof_ == nullptr) return TileToDib(print_, tile, dib);
  CMBuffer source{tile.pixels.get(), static_cast<uint16_t>(T)};
  CMBuffer printed{printerWork_.get(), 0};
  if (Kroma().proc(&source, &printed, print_) != 0) return TES_ERR_CM_PROCESS;
  CMBuffer proofSource{printerWork_.get(), static_cast<uint16_t>(T)};
  CMBuffer destination{work_.get(), 0};
  if (Kroma().proc(&proofSource, &destination, proof_) != 0) return TES_ERR_CM_PROCESS;
  PackWork(dib);
  return TES_OK;
}

long ColorManagedPipeline::EndPrint() {
  Close(print_);
  Close(proof_);
  printerWork_.reset();
  return TES_OK;
}

long ColorManagedPipeline::BeginConversion(int target, const uint8_t* const* tables, int blockWidth,
                                           int blockHeight) {
  DisplayPipeline::BeginConversion(target, tables, blockWidth, blockHeight);
  Close(conversion_);
  const int from = store_.colorSpace();
  const bool tiles = blockWidth == T && blockHeight == T;
  CMParam param{};
  param.width = static_cast<uint16_t>(blockWidth);
  param.lines = static_cast<uint16_t>(tiles ? store_.tileCount() * T : blockHeight);
  param.srcBufferBytes = static_cast<uint32_t>(targetPixels_ * BytesPerPixel(from));
  param.dstBufferBytes = static_cast<uint32_t>(targetPixels_ * BytesPerPixel(target));
  param.inBits = static_cast<uint16_t>(ColorSpaceRow(from).bits);
  param.outBits = static_cast<uint16_t>(ColorSpaceRow(target).bits);
  param.layout = 0;
  PathPair paths(SourceProfile(from), SourceProfile(target));
  CColorMatcher* handle = nullptr;
  const int32_t result =
      Kroma().init(&param, &paths.paths, static_cast<uint16_t>(engine(TES_FLAG_CONVERT_ENGINE)), 0, &handle);
  conversion_ = handle;  // released by EndConversion whatever happened
  if (result != 0) return TES_ERR_CM_INIT;
  if (tables == nullptr) return TES_OK;

  const int channels = ColorSpaceRow(target).channels;
  std::unique_ptr<uint16_t[]> widened(new (std::nothrow) uint16_t[static_cast<size_t>(channels) * 256]);
  if (!widened) return TES_ERR_NO_MEMORY;
  uint16_t* pointers[4] = {};
  for (int c = 0; c < channels; ++c) {
    pointers[c] = widened.get() + c * 256;
    for (int i = 0; i < 256; ++i) pointers[c][i] = tables[c] != nullptr ? tables[c][i] : static_cast<uint16_t>(i);
  }
  return Merge(conversion_, 1, static_cast<uint16_t>(channels), 256, pointers);
}

long ColorManagedPipeline::ConvertBlock(const uint8_t* source, uint8_t* destination) {
  if (conversion_ == nullptr) return TES_ERR_CM_PROCESS;
  CMBuffer src{const_cast<uint8_t*>(source), static_cast<uint16_t>(targetPixels_ / (targetWidth_ ? targetWidth_ : 1))};
  CMBuffer dst{destination, 0};
  return Kroma().proc(&src, &dst, conversion_) == 0 ? TES_OK : TES_ERR_CM_PROCESS;
}

long ColorManagedPipeline::EndConversion(bool success, bool rebuildDisplay) {
  Close(conversion_);
  if (!success || !rebuildDisplay) return TES_OK;
  const CMParam param = DisplayParam(targetCode_);
  PathPair paths(SourceProfile(targetCode_), Library().profiles[kProfileMonitor]);
  if (display_ == nullptr) return TES_ERR_CM_REBUILD;
  const int32_t result =
      Kroma().resetMatchingParam(&param, &paths.paths, engine(TES_FLAG_DISPLAY_ENGINE), 0, display_);
  return result == 0 ? TES_OK : TES_ERR_CM_REBUILD;
}

const char* ColorManagedPipeline::CurrentProfilePath() const { return SourceProfile(store_.colorSpace()); }

}  // namespace tessera
