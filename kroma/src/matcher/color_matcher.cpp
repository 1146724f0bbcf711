// The colour matcher (the object behind a handle) and the ProfileSpec accessors.
#include <cstring>

#include "kroma.h"
#include "matcher/selector_internal.h"

namespace {

bool ValidInBits(uint16_t b) { return b == 8 || b == 10 || b == 12 || b == 16; }

// Copies a path into a 256-byte field without reading past its terminator.
char* CopyPath(char (&field)[256], const char* path) {
  if (path == nullptr) {
    field[0] = '\0';
    return field;
  }
  const size_t n = strnlen(path, sizeof field - 1);
  std::memmove(field, path, n);
  std::memset(field + n, 0, sizeof field - n);
  return field;
}

void CopySpec(ProfileSpec& to, const ProfileSpec& from) {
  CopyPath(to.srcProfile, from.srcProfile);
  CopyPath(to.dstProfile, from.dstProfile);
  to.callBackFunc = from.callBackFunc;
  to.callBackParam = from.callBackParam;
  to.indicatorFlag = from.indicatorFlag;
}

}  // namespace

extern "C" {

KROMA_API int32_t InitCColorMatcher(CColorMatcher* cm, const MatchingParam* param,
                                    const ProfileSpec* spec) {
  if (cm == nullptr || param == nullptr || spec == nullptr) return KROMA_ERR_ARGUMENT;
  cm->lastError = KROMA_OK;
  const MatchingParam p = *param;
  cm->param = p;
  CopySpec(cm->spec, *spec);
  cm->progressTotal = uint32_t(uint64_t(p.width) * p.lines);
  cm->progressDone = 0;
  if (!ValidInBits(p.inBits)) return cm->lastError = KROMA_ERR_IN_BITS;
  if (p.outBits != 8 && p.outBits != 16) return cm->lastError = KROMA_ERR_OUT_BITS;
  if (p.layout > 2) return cm->lastError = KROMA_ERR_LAYOUT;
  cm->lastError = Initialize(&cm->selector, cm->spec.srcProfile, cm->spec.dstProfile);
  // The depths and layout are checked above; the pixel loop for them is chosen here, once.
  if (cm->lastError == KROMA_OK) kroma::PrepareLoop(&cm->selector, p.inBits, p.outBits, p.layout);
  return cm->lastError;
}

KROMA_API int32_t ReinitCColorMatcher(CColorMatcher* cm, const ProfileSpec* spec) {
  if (cm == nullptr || spec == nullptr) return KROMA_ERR_ARGUMENT;
  cm->lastError = KROMA_OK;
  ProfileSpec copy;
  CopySpec(copy, *spec);
  cm->spec = copy;
  cm->progressDone = 0;
  // Initialize frees the previous engine state before building the new one.
  cm->lastError = Initialize(&cm->selector, cm->spec.srcProfile, cm->spec.dstProfile);
  if (cm->lastError == KROMA_OK) {
    const MatchingParam& p = cm->param;
    kroma::PrepareLoop(&cm->selector, p.inBits, p.outBits, p.layout);
  }
  return cm->lastError;
}

KROMA_API int32_t TermCColorMatcher(CColorMatcher* cm) {
  if (cm == nullptr) return KROMA_ERR_ARGUMENT;
  return TermMatchingSelector(&cm->selector);
}

KROMA_API int32_t ColorMatchingProc1(CColorMatcher* cm, CMBuffer* buffer) {
  if (cm == nullptr) return KROMA_ERR_ARGUMENT;
  const MatchingParam& p = cm->param;
  cm->lastError = kroma::PreparedMatching1(&cm->selector, buffer, p.width, p.srcBufferBytes, p.inBits,
                                           p.outBits, p.layout);
  if (cm->lastError == KROMA_OK) cm->progressDone += uint32_t(buffer->lines) * p.width;
  return cm->lastError;
}

KROMA_API int32_t ColorMatchingProc2(CColorMatcher* cm, CMBuffer* src, void** dst) {
  if (cm == nullptr) return KROMA_ERR_ARGUMENT;
  const MatchingParam& p = cm->param;
  cm->lastError = kroma::PreparedMatching2(&cm->selector, src, dst, p.width, p.srcBufferBytes,
                                           p.dstBufferBytes, p.inBits, p.outBits, p.layout);
  if (cm->lastError == KROMA_OK) cm->progressDone += uint32_t(src->lines) * p.width;
  return cm->lastError;
}

KROMA_API uint32_t GetProgress(CColorMatcher* cm) {
  // No total (zero width or lines) means no progress to report; the product is taken in
  // 64 bits so that images above 42 million pixels still report correctly.
  if (cm == nullptr || cm->progressTotal == 0) return 0;
  return uint32_t(uint64_t(cm->progressDone) * 100 / cm->progressTotal);
}

KROMA_API int32_t CMGetError(CColorMatcher* cm) { return cm != nullptr ? cm->lastError : KROMA_ERR_ARGUMENT; }

KROMA_API int32_t ChangeImageLines(CColorMatcher* cm, uint32_t lines) {
  if (cm == nullptr) return KROMA_ERR_ARGUMENT;
  cm->progressTotal = uint32_t(uint64_t(lines) * cm->param.width);
  return KROMA_OK;
}

KROMA_API int32_t ChangeImageWidth(CColorMatcher* cm, uint32_t width) {
  if (cm == nullptr) return KROMA_ERR_ARGUMENT;
  // With no old width the total cannot be rescaled; it stays as it is (0).
  if (cm->param.width != 0)
    cm->progressTotal = uint32_t(uint64_t(cm->progressTotal) * width / cm->param.width);
  cm->param.width = width;
  return KROMA_OK;
}

KROMA_API int32_t ChangeBufSize(CColorMatcher* cm, uint32_t size) {
  if (cm == nullptr) return KROMA_ERR_ARGUMENT;
  cm->progressTotal = size;
  return KROMA_OK;
}

KROMA_API int32_t Change1DLut(CColorMatcher* cm, uint16_t side, uint16_t bits, uint32_t entries,
                              const uint16_t* const* tables) {
  if (cm == nullptr) return KROMA_ERR_ARGUMENT;
  return kroma::SelectorChangeTables(&cm->selector, side, bits, entries, tables, false);
}

KROMA_API int32_t Merge1DLut(CColorMatcher* cm, uint16_t side, uint16_t bits, uint32_t entries,
                             const uint16_t* const* tables) {
  if (cm == nullptr) return KROMA_ERR_ARGUMENT;
  return kroma::SelectorChangeTables(&cm->selector, side, bits, entries, tables, true);
}

// ---- ProfileSpec accessors ----------------------------------------------------------------

KROMA_API char* SetSrcProfileSpec(ProfileSpec* spec, const char* path) {
  return spec != nullptr ? CopyPath(spec->srcProfile, path) : nullptr;
}
KROMA_API char* SetDstProfileSpec(ProfileSpec* spec, const char* path) {
  return spec != nullptr ? CopyPath(spec->dstProfile, path) : nullptr;
}
KROMA_API char* GetSrcProfileSpec(ProfileSpec* spec) { return spec != nullptr ? spec->srcProfile : nullptr; }
KROMA_API char* GetDstProfileSpec(ProfileSpec* spec) { return spec != nullptr ? spec->dstProfile : nullptr; }
KROMA_API void* SetCallBackFuncPtr(ProfileSpec* spec, void* func) {
  if (spec != nullptr) spec->callBackFunc = func;
  return func;
}
KROMA_API void* GetCallBackFuncPtr(const ProfileSpec* spec) { return spec != nullptr ? spec->callBackFunc : nullptr; }
KROMA_API void* SetCallBackParamBlk(ProfileSpec* spec, void* param) {
  if (spec != nullptr) spec->callBackParam = param;
  return param;
}
KROMA_API void* GetCallBackFuncParam(const ProfileSpec* spec) { return spec != nullptr ? spec->callBackParam : nullptr; }
KROMA_API int16_t SetIndicatorFlag(ProfileSpec* spec, int16_t flag) {
  if (spec != nullptr) spec->indicatorFlag = flag;
  return flag;
}
KROMA_API int16_t GetIndicatorFlag(const ProfileSpec* spec) { return spec != nullptr ? spec->indicatorFlag : 0; }

}  // extern "C"
