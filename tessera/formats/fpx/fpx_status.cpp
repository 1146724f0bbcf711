#include <cerrno>

#include "formats/fpx/fpx.h"

namespace tessera {

namespace {

constexpr long kFpxOther = TES_ERR_FPX_OTHER;  // 1601

// Searched in order; a status not listed is 1602.
constexpr struct {
  long status;
  long code;
} kStatusTable[] = {
    {FPX_INVALID_FORMAT_ERROR, 1606},
    {FPX_FILE_WRITE_ERROR, 1607},  // 1204 on a full disk, below
    {FPX_FILE_READ_ERROR, 1603},
    {FPX_FILE_NOT_FOUND, 1604},
    {FPX_LOW_MEMORY_ERROR, TES_ERR_NO_MEMORY},
    {FPX_MEMORY_ALLOCATION_FAILED, TES_ERR_NO_MEMORY},
    {FPX_IMAGE_TOO_BIG_ERROR, 1608},
    {FPX_FILE_SYSTEM_FULL, 1605},
    {FPX_INVALID_JPEG_TABLE, 1609},
    {FPX_ILLEGAL_JPEG_ID, 1610},
    {FPX_COLOR_CONVERSION_ERROR, kFpxOther},
    {FPX_SEVER_INIT_ERROR, kFpxOther},
    {FPX_INVALID_COMPRESSION_ERROR, kFpxOther},
    {FPX_INVALID_RESOLUTION, kFpxOther},
    {FPX_INVALID_FPX_HANDLE, kFpxOther},
    {FPX_TOO_MANY_LINES, kFpxOther},
    {FPX_BAD_COORDINATES, kFpxOther},
    {FPX_MISSING_TABLE, kFpxOther},
    {FPX_RETURN_PARAMETER_TOO_LARGE, kFpxOther},
    {FPX_NOT_A_VIEW, kFpxOther},
    {FPX_VIEW_IS_TRANFORMLESS, kFpxOther},
    {FPX_ERROR, kFpxOther},
    {FPX_UNIMPLEMENTED_FUNCTION, kFpxOther},
    {FPX_INVALID_IMAGE_DESC, kFpxOther},
    {FPX_NO_MEMORY_MANAGEMENT, kFpxOther},
    {FPX_OBJECT_CREATION_FAILED, kFpxOther},
    {FPX_EXTENSION_FAILED, kFpxOther},
    {FPX_FREE_NULL_PTR, kFpxOther},
    {FPX_INVALID_TILE, kFpxOther},
    {FPX_USER_ABORT, kFpxOther},
    {FPX_W_COORDINATES_OUT_OF_RANGE, kFpxOther},  // the warnings 1000 and 1001
    {1001, kFpxOther},
};

}  // namespace

long FpxStatusToCode(long status, int systemError) {
  if (status == FPX_OK) return TES_OK;
  if (status == FPX_FILE_WRITE_ERROR && systemError == ENOSPC) return TES_ERR_DISK_FULL;
  for (const auto& row : kStatusTable)
    if (row.status == status) return row.code;
  return TES_ERR_FPX_UNKNOWN;
}

FpxLevelChoice ChooseFpxThumbnailLevel(unsigned levels, uint32_t width, uint32_t height) {
  FpxLevelChoice choice{levels == 0 ? 0 : levels - 1, width, height};
  while (choice.level > 0 && (choice.width > 256 || choice.height > 256)) {
    --choice.level;
    choice.width = (choice.width + 1) / 2;
    choice.height = (choice.height + 1) / 2;
  }
  return choice;
}

int FpxQualityFactor(long level) {
  static constexpr int kFactors[] = {0, 25, 50, 75, 100};
  return level >= 1 && level <= 5 ? kFactors[level - 1] : -1;
}

}  // namespace tessera
