// What the virtual film scanner's TWAIN side shares with the application beyond the
// standard: its own pixel type, its cancel condition, and the private auto-save records.
#pragma once

#include "twain/twain.h"

#include <cstddef>
#include <cstdint>

namespace orvax::ds {

// The source's own pixel type: HSL, 16 bits a sample.
constexpr twain::TW_UINT16 TWPT_HSL = 31;
// The condition code of a transfer the user cancelled in the source's window.
constexpr twain::TW_UINT16 TWCC_USERCANCEL = 0x8001;
// Private data argument types (DG_IMAGE).
constexpr twain::TW_UINT16 DAT_AUTOSAVEREQUEST = 0x8001;  // MSG_GET, before each transfer
constexpr twain::TW_UINT16 DAT_AUTOSAVERESULT = 0x8002;   // MSG_SET, after an auto-save

// Auto-save format codes.
constexpr int16_t kAutoSaveTiff = 0;
constexpr int16_t kAutoSaveBmp = 2;
constexpr int16_t kAutoSaveJpeg = 4;
constexpr int16_t kAutoSaveFlashPix = 129;

#pragma pack(push, 2)
struct AutoSaveRequest {
  int16_t enabled;   // non-zero: save each acquired image
  char folder[256];  // zero-terminated
  char stem[256];    // file name stem, zero-terminated
  int16_t format;    // 0 TIFF, 2 BMP, 4 JPEG, 129 FlashPix; any other code saves nothing
  int16_t quality;   // JPEG 1..5; FlashPix 16 = uncompressed, 16 + n = JPEG level n
};
struct AutoSaveResult {
  int16_t status;  // 0 saved, 4 failed
  char path[257];  // at most 255 characters, zero-terminated
};
#pragma pack(pop)
static_assert(offsetof(AutoSaveRequest, folder) == 2);
static_assert(offsetof(AutoSaveRequest, stem) == 258);
static_assert(offsetof(AutoSaveRequest, format) == 514);
static_assert(offsetof(AutoSaveRequest, quality) == 516);
static_assert(sizeof(AutoSaveRequest) == 518);
static_assert(offsetof(AutoSaveResult, path) == 2);
static_assert(sizeof(AutoSaveResult) == 260);  // 259 bytes of fields, padded to 2

// The registered window message the source posts to the application's window for its
// events; wParam carries MSG_XFERREADY or MSG_CLOSEDSREQ.
inline constexpr const char kSourceEventMsg[] = "OrvaxScanSourceEvent";

}  // namespace orvax::ds
