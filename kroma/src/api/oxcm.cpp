// The upper level: argument checks, translation of the caller's records, handle ownership.
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "kroma.h"

namespace {

constexpr size_t kMaxPath = 255;

bool PathFits(const char* p) { return p != nullptr && strnlen(p, kMaxPath + 1) <= kMaxPath; }

MatchingParam Widen(const CMParam& p) {
  MatchingParam m{};
  m.width = p.width;
  m.lines = p.lines;
  m.srcBufferBytes = p.srcBufferBytes;
  m.dstBufferBytes = p.dstBufferBytes;
  m.inBits = p.inBits;
  m.outBits = p.outBits;
  m.layout = p.layout == 1 ? KROMA_LINE_PLANAR : KROMA_PIXEL_INTERLEAVED;
  return m;
}

// Both paths present and short enough for the 256-byte fields.
bool ValidPaths(const CMProfilePaths& paths) {
  return paths.srcPath != nullptr && paths.dstPath != nullptr && PathFits(*paths.srcPath) &&
         PathFits(*paths.dstPath);
}

ProfileSpec SpecFrom(const CMProfilePaths& paths) {
  ProfileSpec s{};
  SetSrcProfileSpec(&s, *paths.srcPath);
  SetDstProfileSpec(&s, *paths.dstPath);
  SetCallBackFuncPtr(&s, nullptr);
  SetCallBackParamBlk(&s, nullptr);
  SetIndicatorFlag(&s, 0);
  return s;
}

uint32_t MaxForBits(uint16_t bits) {
  switch (bits) {
    case 10: return 1023;
    case 12: return 4095;
    case 16: return 65535;
    default: return 255;
  }
}

int32_t ApplyLutSpec(const CM1DLutSpec* spec, uint16_t side, CColorMatcher* h, bool merge) {
  if (spec == nullptr || side > 1 || h == nullptr || spec->tableCount > 4) return KROMA_ERR_ARGUMENT;
  uint16_t inCh = 0, outCh = 0;
  if (GetMatchingChannels(&h->selector, &inCh, &outCh) != KROMA_OK) return KROMA_ERR_ARGUMENT;
  const unsigned channels = side == 0 ? inCh : outCh;
  const unsigned count = spec->tableCount;
  if (count >= 2 && count != channels) return KROMA_OK;
  // Gamma and explicit specs must give a table for every channel of the side.
  if (spec->kind >= 1) {
    if (count < channels) return KROMA_ERR_ARGUMENT;
    for (unsigned c = 0; c < channels; ++c)
      if (spec->tables[c] == nullptr) return KROMA_ERR_ARGUMENT;
  }
  const uint32_t max = MaxForBits(spec->bits);
  std::vector<std::vector<uint16_t>> tables(channels);
  for (unsigned c = 0; c < channels; ++c) {
    if (spec->kind == 0) {
      tables[c] = {0, uint16_t(max)};
    } else if (spec->kind == 1) {
      const double gamma = *spec->tables[c] / 256.0;
      tables[c].resize(1024);
      double x = 0.0;
      for (int k = 0; k < 1024; ++k, x += 1.0 / 1023.0)
        tables[c][k] = uint16_t(max * std::pow(x, gamma) + 0.5);
    } else {
      tables[c].assign(spec->tables[c], spec->tables[c] + spec->kind);
    }
  }
  std::vector<const uint16_t*> ptrs(channels);
  for (unsigned c = 0; c < channels; ++c) ptrs[c] = tables[c].data();
  const uint32_t entries = uint32_t(tables.empty() ? 0 : tables[0].size());
  if (merge) Merge1DLut(h, side, spec->bits, entries, ptrs.data());
  else Change1DLut(h, side, spec->bits, entries, ptrs.data());
  return KROMA_OK;
}

}  // namespace

extern "C" {

KROMA_API int32_t OXCMInit(const CMParam* param, const CMProfilePaths* paths, uint16_t engine,
                           int32_t intent, CColorMatcher** handle) {
  if (handle == nullptr) return KROMA_ERR_ARGUMENT;
  *handle = nullptr;
  if (param == nullptr || paths == nullptr || engine > 1 || intent < 0 || intent > 3 ||
      !ValidPaths(*paths))
    return KROMA_ERR_ARGUMENT;
  try {
    const MatchingParam mp = Widen(*param);
    const ProfileSpec spec = SpecFrom(*paths);
    auto* cm = new (std::nothrow) CColorMatcher{};
    if (cm == nullptr) return KROMA_ERR_NO_MEMORY;
    cm->selector.intent = uint16_t(intent);
    cm->selector.engine = engine;
    cm->selector.state = nullptr;
    cm->selector.gamutFlag = 0;
    *handle = cm;
    return InitCColorMatcher(cm, &mp, &spec);
  } catch (...) {
    return KROMA_ERR_NO_MEMORY;
  }
}

KROMA_API int32_t OXCMProc(CMBuffer* src, CMBuffer* dst, CColorMatcher* handle) {
  if (src == nullptr || handle == nullptr) return KROMA_ERR_ARGUMENT;
  try {
    if (dst == nullptr) ColorMatchingProc1(handle, src);
    else ColorMatchingProc2(handle, src, &dst->data);
    return handle->lastError;
  } catch (...) {
    return handle->lastError = KROMA_ERR_NO_MEMORY;
  }
}

KROMA_API void OXCMPostProc(CColorMatcher* handle) {
  if (handle == nullptr) return;
  TermCColorMatcher(handle);
  delete handle;
}

KROMA_API int32_t OXCMResetMatchingParam(const CMParam* param, const CMProfilePaths* paths,
                                         int32_t engine, int32_t intent, CColorMatcher* handle) {
  if (handle == nullptr) return KROMA_ERR_ARGUMENT;
  if (paths != nullptr && !ValidPaths(*paths)) return KROMA_ERR_ARGUMENT;
  try {
    const MatchingParam mp = param != nullptr ? Widen(*param) : handle->param;
    const ProfileSpec spec = paths != nullptr ? SpecFrom(*paths) : handle->spec;
    if ((intent & 0xFFFF) != 0xFFFF) handle->selector.intent = uint16_t(intent);
    if ((engine & 0xFFFF) != 0xFFFF) handle->selector.engine = uint16_t(engine);
    handle->selector.gamutFlag = 0;
    TermCColorMatcher(handle);
    InitCColorMatcher(handle, &mp, &spec);
    return handle->lastError;
  } catch (...) {
    return handle->lastError = KROMA_ERR_NO_MEMORY;
  }
}

KROMA_API int32_t OXCMResetProfiles(char** srcPath, char** dstPath, CColorMatcher* handle) {
  if (handle == nullptr || srcPath == nullptr || dstPath == nullptr) return KROMA_ERR_ARGUMENT;
  if ((*srcPath != nullptr && !PathFits(*srcPath)) || (*dstPath != nullptr && !PathFits(*dstPath)))
    return KROMA_ERR_ARGUMENT;
  try {
    ProfileSpec spec = handle->spec;
    if (*srcPath != nullptr) SetSrcProfileSpec(&spec, *srcPath);
    if (*dstPath != nullptr) SetDstProfileSpec(&spec, *dstPath);
    ReinitCColorMatcher(handle, &spec);
    return handle->lastError;
  } catch (...) {
    return handle->lastError = KROMA_ERR_NO_MEMORY;
  }
}

KROMA_API int32_t OXCMChangeImageWidth(int32_t width, CColorMatcher* handle) {
  if (width <= 0 || handle == nullptr) return KROMA_ERR_ARGUMENT;
  return ChangeImageWidth(handle, uint32_t(width));
}

KROMA_API int32_t OXCMChangeImageLines(int32_t lines, CColorMatcher* handle) {
  if (lines <= 0 || handle == nullptr) return KROMA_ERR_ARGUMENT;
  return ChangeImageLines(handle, uint32_t(lines));
}

KROMA_API int32_t OXCMChangeBufSize(int32_t size, int16_t unit, CColorMatcher* handle) {
  if (size <= 0 || unit != 1 || handle == nullptr) return KROMA_ERR_ARGUMENT;
  return ChangeBufSize(handle, uint32_t(size));
}

KROMA_API int32_t OXCMChange1DLUT(const CM1DLutSpec* spec, uint16_t side, CColorMatcher* handle) {
  try {
    return ApplyLutSpec(spec, side, handle, false);
  } catch (...) {
    return KROMA_ERR_NO_MEMORY;
  }
}

KROMA_API int32_t OXCMMerge1DLUT(const CM1DLutSpec* spec, uint16_t side, CColorMatcher* handle) {
  try {
    return ApplyLutSpec(spec, side, handle, true);
  } catch (...) {
    return KROMA_ERR_NO_MEMORY;
  }
}

KROMA_API int32_t OXCMLocateProfile(const char* name, char** fullPath) {
  if (name == nullptr || fullPath == nullptr || *fullPath == nullptr) return KROMA_ERR_ARGUMENT;
  char local[300] = {};
  const int32_t r = DurovToolboxLocateProfile(name, local);
  std::memcpy(*fullPath, local, std::strlen(local) + 1);
  return r;
}

}  // extern "C"
