// A small data source for the manager's tests: a 4 x 3 grey image in one memory strip, the
// transfer-ready and close-request events for two fixed window messages, and a counter of
// the triplets that reached it. $TINY_FAIL_OPEN makes MSG_OPENDS fail with that condition.
#include "twain/containers.h"

#include <cstdlib>
#include <cstring>

#define TINY_EXPORT extern "C" __attribute__((visibility("default")))

using namespace orvax::twain;

namespace {
int g_calls = 0;
TW_UINT16 g_condition = TWCC_SUCCESS;
TW_UINT16 g_pending = 0;
constexpr unsigned kReadyMessage = 0x7001;
constexpr unsigned kCloseMessage = 0x7002;

TW_UINT16 Fail(TW_UINT16 condition) {
  g_condition = condition;
  return TWRC_FAILURE;
}
}  // namespace

TINY_EXPORT int TinyCalls() { return g_calls; }

TINY_EXPORT TW_UINT16 DS_Entry(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  ++g_calls;
  if (dg == DG_CONTROL && dat == DAT_STATUS) {
    static_cast<TW_STATUS*>(data)->ConditionCode = g_condition;
    g_condition = TWCC_SUCCESS;
    return TWRC_SUCCESS;
  }
  if (dg == DG_CONTROL && dat == DAT_IDENTITY) {
    auto* id = static_cast<TW_IDENTITY*>(data);
    if (msg == MSG_GET) {
      std::memset(id, 0, sizeof *id);
      id->Version.MajorNum = 1;
      id->ProtocolMajor = 1;
      id->ProtocolMinor = 9;
      id->SupportedGroups = DG_CONTROL | DG_IMAGE;
      CopyText(id->Manufacturer, "Test");
      CopyText(id->ProductFamily, "Tiny");
      CopyText(id->ProductName, TINY_PRODUCT);
      return TWRC_SUCCESS;
    }
    if (msg == MSG_OPENDS) {
      if (const char* fail = std::getenv("TINY_FAIL_OPEN")) return Fail(static_cast<TW_UINT16>(std::atoi(fail)));
      return TWRC_SUCCESS;
    }
    if (msg == MSG_CLOSEDS) return TWRC_SUCCESS;
  }
  if (dg == DG_CONTROL && dat == DAT_USERINTERFACE) return TWRC_SUCCESS;
  if (dg == DG_CONTROL && dat == DAT_EVENT && msg == MSG_PROCESSEVENT) {
    auto* event = static_cast<TW_EVENT*>(data);
    const auto* message = static_cast<const TW_MSG*>(event->pEvent);
    event->TWMessage = MSG_NULL;
    if (message == nullptr) return TWRC_NOTDSEVENT;
    if (message->message == kReadyMessage) {
      event->TWMessage = MSG_XFERREADY;
      g_pending = 1;
      return TWRC_DSEVENT;
    }
    if (message->message == kCloseMessage) {
      event->TWMessage = MSG_CLOSEDSREQ;
      return TWRC_DSEVENT;
    }
    return TWRC_NOTDSEVENT;
  }
  if (dg == DG_CONTROL && dat == DAT_CAPABILITY) {
    auto* cap = static_cast<TW_CAPABILITY*>(data);
    if (cap->Cap != CAP_XFERCOUNT) return Fail(TWCC_CAPUNSUPPORTED);
    if (msg == MSG_SET) return TWRC_SUCCESS;
    cap->ConType = TWON_ONEVALUE;
    cap->hContainer = OneValue(TWTY_INT16, 1);
    return cap->hContainer != nullptr ? TWRC_SUCCESS : Fail(TWCC_LOWMEMORY);
  }
  if (dg == DG_IMAGE && dat == DAT_IMAGEINFO) {
    auto* info = static_cast<TW_IMAGEINFO*>(data);
    std::memset(info, 0, sizeof *info);
    info->ImageWidth = 4;
    info->ImageLength = 3;
    info->SamplesPerPixel = 1;
    info->BitsPerSample[0] = 8;
    info->BitsPerPixel = 8;
    info->PixelType = TWPT_GRAY;
    return TWRC_SUCCESS;
  }
  if (dg == DG_CONTROL && dat == DAT_SETUPMEMXFER) {
    *static_cast<TW_SETUPMEMXFER*>(data) = {4, 12, 12};
    return TWRC_SUCCESS;
  }
  if (dg == DG_IMAGE && dat == DAT_IMAGEMEMXFER) {
    auto* xfer = static_cast<TW_IMAGEMEMXFER*>(data);
    if (xfer->Memory.Length < 12) return Fail(TWCC_BADVALUE);
    auto* out = static_cast<unsigned char*>(xfer->Memory.TheMem);
    for (int i = 0; i < 12; ++i) out[i] = static_cast<unsigned char>(i * 20);
    xfer->Compression = TWCP_NONE;
    xfer->BytesPerRow = 4;
    xfer->Columns = 4;
    xfer->Rows = 3;
    xfer->XOffset = 0;
    xfer->YOffset = 0;
    xfer->BytesWritten = 12;
    return TWRC_XFERDONE;
  }
  if (dg == DG_CONTROL && dat == DAT_PENDINGXFERS) {
    auto* pending = static_cast<TW_PENDINGXFERS*>(data);
    if (msg == MSG_ENDXFER && g_pending > 0) --g_pending;
    if (msg == MSG_RESET) g_pending = 0;
    pending->Count = g_pending;
    pending->EOJ = 0;
    return TWRC_SUCCESS;
  }
  (void)origin;
  return Fail(TWCC_BADPROTOCOL);
}
