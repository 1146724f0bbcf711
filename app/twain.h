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
#pragma pack(pop)
static_assert(sizeof(TW_IDENTITY) == 156);

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

}  // namespace orvax::twain
