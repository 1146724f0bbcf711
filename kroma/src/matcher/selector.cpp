// The matching selector: builds the engine state from two profiles, runs buffers through it,
// changes its 1-D tables and frees it.
#include <new>

#include "build/builder.h"
#include "engine/engine_state.h"
#include "engine/kernels.h"
#include "kroma.h"
#include "matcher/selector_internal.h"
#include "profile/icc_profile.h"

namespace {

constexpr uint32_t kSigAcsp = kroma::Sig("acsp");

void FreeState(MatchingSelector* sel) {
  delete sel->state;
  sel->state = nullptr;
}

bool ValidInBits(uint16_t b) { return b == 8 || b == 10 || b == 12 || b == 16; }
bool ValidOutBits(uint16_t b) { return b == 8 || b == 16; }

uint64_t BufferBytes(uint32_t lines, uint32_t channels, uint32_t width, uint16_t bits) {
  return uint64_t(lines) * channels * width * (bits == 8 ? 1 : 2);
}

const KromaEngineState* Ready(const MatchingSelector* sel) {
  return sel->state != nullptr && sel->state->ready ? sel->state : nullptr;
}

bool Prepared(const KromaEngineState& st, uint16_t inBits, uint16_t outBits, uint16_t layout) {
  return st.loop != nullptr && st.loopInBits == inBits && st.loopOutBits == outBits && st.loopLayout == layout;
}

// The prepared loop when it was chosen for these depths and layout, else the one they need.
kroma::Kernel LoopFor(const KromaEngineState& st, uint16_t inBits, uint16_t outBits, uint16_t layout) {
  return Prepared(st, inBits, outBits, layout) ? st.loop : kroma::SelectKernel(st, inBits, outBits, layout);
}

}  // namespace

extern "C" KROMA_API int32_t Initialize(MatchingSelector* sel, const char* srcPath,
                                        const char* dstPath) {
  if (sel == nullptr || srcPath == nullptr || dstPath == nullptr) return KROMA_ERR_ARGUMENT;
  try {
    // A previous transform never survives a new build, successful or not.
    FreeState(sel);
    kroma::IccFile src, dst;
    if (!src.Open(srcPath)) return KROMA_ERR_PROFILE_OPEN;
    if (src.header().magic != kSigAcsp) return KROMA_ERR_NOT_ICC;
    if (!dst.Open(dstPath)) return KROMA_ERR_PROFILE_OPEN;
    if (dst.header().magic != kSigAcsp) return KROMA_ERR_NOT_ICC;

    static constexpr int kIccIntent[4] = {0, 1, 3, 2};
    if (sel->intent > 3) return KROMA_ERR_INTENT;
    const int iccIntent = kIccIntent[sel->intent];
    if (sel->engine > 1) return KROMA_ERR_ENGINE;

    sel->state = new (std::nothrow) KromaEngineState;
    if (sel->state == nullptr) return KROMA_ERR_NO_MEMORY;
    KromaEngineState& st = *sel->state;
    st.engine = sel->engine;
    st.srcSpace = src.header().colorSpace;
    st.dstSpace = dst.header().colorSpace;

    kroma::ProfileSide srcSide, dstSide;
    if (kroma::ReadSide(src, 0, iccIntent, srcSide) != kroma::kSideOk) return KROMA_ERR_BUILD;
    if (kroma::ReadSide(dst, 1, iccIntent, dstSide) != kroma::kSideOk) return KROMA_ERR_BUILD;
    if (!kroma::BuildTransform(srcSide, dstSide, iccIntent == 3, st)) return KROMA_ERR_BUILD;
    st.ready = true;
    return KROMA_OK;
  } catch (...) {
    // Memory ran out while reading or building; the partial state is freed with the handle.
    return KROMA_ERR_BUILD;
  }
}

extern "C" KROMA_API int32_t TermMatchingSelector(MatchingSelector* sel) {
  if (sel == nullptr) return KROMA_ERR_ARGUMENT;
  // The state is freed whatever the engine field says, so that no reset can leak it.
  FreeState(sel);
  if (sel->engine == 0 || sel->engine == 1) return KROMA_OK;
  return int32_t(sel->engine) - 1;
}

extern "C" KROMA_API int32_t CMatching1(MatchingSelector* sel, CMBuffer* buffer, uint32_t width,
                                        uint32_t srcBufferBytes, uint16_t inBits,
                                        uint16_t outBits, uint16_t layout) {
  if (sel == nullptr || buffer == nullptr || buffer->data == nullptr) return KROMA_ERR_ARGUMENT;
  const KromaEngineState* st = Ready(sel);
  if (st == nullptr) return KROMA_ERR_BUILD;
  if (srcBufferBytes < BufferBytes(buffer->lines, st->inCh, width, inBits))
    return KROMA_ERR_SRC_TOO_SMALL;
  if (st->inCh != st->outCh || (inBits == 8) != (outBits == 8)) return KROMA_ERR_IN_PLACE;
  if (sel->engine > 1) return KROMA_ERR_ENGINE;
  if (!ValidInBits(inBits)) return KROMA_ERR_IN_BITS;
  if (!ValidOutBits(outBits)) return KROMA_ERR_OUT_BITS;
  if (layout > 2) return KROMA_ERR_LAYOUT;
  if (buffer->lines == 0 || width == 0) return KROMA_OK;
  auto* p = static_cast<uint8_t*>(buffer->data);
  LoopFor(*st, inBits, outBits, layout)(*st, p, p, width, buffer->lines, layout);
  return KROMA_OK;
}

extern "C" KROMA_API int32_t CMatching2(MatchingSelector* sel, CMBuffer* src, void** dst,
                                        uint32_t width, uint32_t srcBufferBytes,
                                        uint32_t dstBufferBytes, uint16_t inBits,
                                        uint16_t outBits, uint16_t layout) {
  if (sel == nullptr || src == nullptr || src->data == nullptr || dst == nullptr ||
      *dst == nullptr)
    return KROMA_ERR_ARGUMENT;
  const KromaEngineState* st = Ready(sel);
  if (st == nullptr) return KROMA_ERR_BUILD;
  if (srcBufferBytes < BufferBytes(src->lines, st->inCh, width, inBits))
    return KROMA_ERR_SRC_TOO_SMALL;
  // The destination is held to its declared size too, so a short one is never overrun.
  if (dstBufferBytes < BufferBytes(src->lines, st->outCh, width, outBits))
    return KROMA_ERR_SRC_TOO_SMALL;
  if (sel->engine > 1) return KROMA_ERR_ENGINE;
  if (!ValidInBits(inBits)) return KROMA_ERR_IN_BITS;
  if (!ValidOutBits(outBits)) return KROMA_ERR_OUT_BITS;
  if (layout > 2) return KROMA_ERR_LAYOUT;
  if (src->lines == 0 || width == 0) return KROMA_OK;
  LoopFor(*st, inBits, outBits, layout)(*st, static_cast<const uint8_t*>(src->data),
                                        static_cast<uint8_t*>(*dst), width, src->lines, layout);
  return KROMA_OK;
}

extern "C" KROMA_API int32_t GetMatchingChannels(const MatchingSelector* sel, uint16_t* inChannels,
                                                 uint16_t* outChannels) {
  const KromaEngineState* st = sel != nullptr ? Ready(sel) : nullptr;
  if (inChannels != nullptr) *inChannels = st != nullptr ? st->inCh : 0;
  if (outChannels != nullptr) *outChannels = st != nullptr ? st->outCh : 0;
  return st != nullptr ? KROMA_OK : KROMA_ERR_BUILD;
}

namespace kroma {

void PrepareLoop(MatchingSelector* sel, uint16_t inBits, uint16_t outBits, uint16_t layout) {
  KromaEngineState* st = sel != nullptr ? sel->state : nullptr;
  if (st == nullptr || !st->ready) return;
  st->loop = nullptr;
  if (!ValidInBits(inBits) || !ValidOutBits(outBits) || layout > 2) return;
  st->loop = SelectKernel(*st, inBits, outBits, layout);
  st->loopInBits = inBits;
  st->loopOutBits = outBits;
  st->loopLayout = layout;
}

int32_t PreparedMatching1(MatchingSelector* sel, CMBuffer* buffer, uint32_t width, uint32_t srcBufferBytes,
                          uint16_t inBits, uint16_t outBits, uint16_t layout) {
  const KromaEngineState* st = sel != nullptr ? Ready(sel) : nullptr;
  if (st == nullptr || !Prepared(*st, inBits, outBits, layout) || sel->engine > 1)
    return CMatching1(sel, buffer, width, srcBufferBytes, inBits, outBits, layout);
  if (buffer == nullptr || buffer->data == nullptr) return KROMA_ERR_ARGUMENT;
  if (srcBufferBytes < BufferBytes(buffer->lines, st->inCh, width, inBits)) return KROMA_ERR_SRC_TOO_SMALL;
  if (st->inCh != st->outCh || (inBits == 8) != (outBits == 8)) return KROMA_ERR_IN_PLACE;
  if (buffer->lines == 0 || width == 0) return KROMA_OK;
  auto* p = static_cast<uint8_t*>(buffer->data);
  st->loop(*st, p, p, width, buffer->lines, layout);
  return KROMA_OK;
}

int32_t PreparedMatching2(MatchingSelector* sel, CMBuffer* src, void** dst, uint32_t width,
                          uint32_t srcBufferBytes, uint32_t dstBufferBytes, uint16_t inBits,
                          uint16_t outBits, uint16_t layout) {
  const KromaEngineState* st = sel != nullptr ? Ready(sel) : nullptr;
  if (st == nullptr || !Prepared(*st, inBits, outBits, layout) || sel->engine > 1)
    return CMatching2(sel, src, dst, width, srcBufferBytes, dstBufferBytes, inBits, outBits, layout);
  if (src == nullptr || src->data == nullptr || dst == nullptr || *dst == nullptr) return KROMA_ERR_ARGUMENT;
  if (srcBufferBytes < BufferBytes(src->lines, st->inCh, width, inBits)) return KROMA_ERR_SRC_TOO_SMALL;
  if (dstBufferBytes < BufferBytes(src->lines, st->outCh, width, outBits)) return KROMA_ERR_SRC_TOO_SMALL;
  if (src->lines == 0 || width == 0) return KROMA_OK;
  st->loop(*st, static_cast<const uint8_t*>(src->data), static_cast<uint8_t*>(*dst), width, src->lines, layout);
  return KROMA_OK;
}

int32_t SelectorChangeTables(MatchingSelector* sel, uint16_t side, uint16_t bits,
                             uint32_t entries, const uint16_t* const* tables, bool merge) {
  if (sel == nullptr || tables == nullptr || entries < 2 || side > 1) return KROMA_ERR_ARGUMENT;
  if (sel->engine > 1) return KROMA_ERR_ENGINE;
  KromaEngineState* st = sel->state;
  if (st == nullptr || !st->ready) return KROMA_ERR_BUILD;
  const int channels = side == 0 ? st->inCh : st->outCh;
  for (int c = 0; c < channels; ++c)
    if (tables[c] == nullptr) return KROMA_ERR_ARGUMENT;
  try {
    const int32_t status = ChangeTables(*st, side, bits, entries, tables, merge);
    // New tables can change the loop they need (the affine path follows the input curves).
    if (st->loop != nullptr) PrepareLoop(sel, st->loopInBits, st->loopOutBits, st->loopLayout);
    return status;
  } catch (const std::bad_alloc&) {
    if (st->loop != nullptr) PrepareLoop(sel, st->loopInBits, st->loopOutBits, st->loopLayout);
    return KROMA_ERR_BUILD;
  }
}

}  // namespace kroma
