// The TWAIN records and codes the application uses, with the standard's layouts and 2-byte
// packing.
#pragma once

#include <cstdint>

namespace orvax::twain {

#pragma pack(push, 2)
struct TW_VERSION {
  uint16_t MajorNum;
  uint16_t MinorNum;
  uint16_t Language;
  uint16_t Country;
  char Info[34];
};
struct TW_IDENTITY {
  uint32_t Id;
  TW_VERSION Version;
  uint16_t ProtocolMajor;
  uint16_t ProtocolMinor;
  uint32_t SupportedGroups;
  char Manufacturer[34];
  char ProductFamily[34];
  char ProductName[34];
};
struct TW_STATUS {
  uint16_t ConditionCode;
  uint16_t Reserved;
};
struct TW_USERINTERFACE {
  uint16_t ShowUI;
  uint16_t ModalUI;
  void* hParent;
};
struct TW_FIX32 {
  int16_t Whole;
  uint16_t Frac;
};
struct TW_IMAGEINFO {
  TW_FIX32 XResolution;
  TW_FIX32 YResolution;
  int32_t ImageWidth;
  int32_t ImageLength;
  int16_t SamplesPerPixel;
  int16_t BitsPerSample[8];
  int16_t BitsPerPixel;
  uint16_t Planar;
  int16_t PixelType;
  uint16_t Compression;
};
struct TW_MEMORY {
  uint32_t Flags;
  uint32_t Length;
  void* TheMem;  // a pointer, or with TWMF_HANDLE a handle to lock
};
struct TW_IMAGEMEMXFER {
  uint16_t Compression;
  uint32_t BytesPerRow;
  uint32_t Columns;
  uint32_t Rows;
  uint32_t XOffset;
  uint32_t YOffset;
  uint32_t BytesWritten;
  TW_MEMORY Memory;
};
#pragma pack(pop)
static_assert(sizeof(TW_IDENTITY) == 156);
static_assert(sizeof(TW_IMAGEINFO) == 42);
static_assert(sizeof(TW_IMAGEMEMXFER) == 26 + sizeof(TW_MEMORY));

using DSMENTRYPROC = uint16_t (*)(TW_IDENTITY* origin, TW_IDENTITY* dest, uint32_t dg, uint16_t dat, uint16_t msg,
                                  void* data);

constexpr uint32_t DG_CONTROL = 1;
constexpr uint32_t DG_IMAGE = 2;
constexpr uint16_t DAT_IDENTITY = 3, DAT_PARENT = 4, DAT_STATUS = 8, DAT_USERINTERFACE = 9;
constexpr uint16_t MSG_GET = 1, MSG_GETFIRST = 4, MSG_GETNEXT = 5;
constexpr uint16_t MSG_OPENDSM = 0x301, MSG_CLOSEDSM = 0x302, MSG_OPENDS = 0x401, MSG_CLOSEDS = 0x402;
constexpr uint16_t MSG_DISABLEDS = 0x501, MSG_ENABLEDS = 0x502;
constexpr uint16_t TWRC_SUCCESS = 0, TWRC_FAILURE = 1, TWRC_CANCEL = 3, TWRC_ENDOFLIST = 7;
constexpr uint16_t TWCC_OPERATIONERROR = 5;
constexpr uint16_t TWLG_USA = 13, TWCY_USA = 1;
constexpr int16_t TWPT_BW = 0, TWPT_GRAY = 1, TWPT_RGB = 2, TWPT_PALETTE = 3, TWPT_CMY = 4, TWPT_CMYK = 5;
constexpr uint32_t TWMF_APPOWNS = 0x1, TWMF_DSMOWNS = 0x2, TWMF_DSOWNS = 0x4, TWMF_POINTER = 0x8, TWMF_HANDLE = 0x10;

// Memory handles: on this platform a handle is the address of its block, so locking it
// gives that address and unlocking does nothing.
inline void* GlobalLock(void* handle) { return handle; }
inline void GlobalUnlock(void*) {}

}  // namespace orvax::twain
