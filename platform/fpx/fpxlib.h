// The FlashPix library's public calls, with libfpx's names, codes and meanings.
#pragma once

#include <cstddef>

enum FPXStatus {
  FPX_OK = 0,
  FPX_INVALID_FORMAT_ERROR = 1,
  FPX_FILE_WRITE_ERROR = 2,
  FPX_FILE_READ_ERROR = 3,
  FPX_FILE_NOT_FOUND = 4,
  FPX_COLOR_CONVERSION_ERROR = 5,
  FPX_SEVER_INIT_ERROR = 6,
  FPX_LOW_MEMORY_ERROR = 7,
  FPX_IMAGE_TOO_BIG_ERROR = 8,
  FPX_INVALID_COMPRESSION_ERROR = 9,
  FPX_INVALID_RESOLUTION = 10,
  FPX_INVALID_FPX_HANDLE = 11,
  FPX_TOO_MANY_LINES = 12,
  FPX_BAD_COORDINATES = 13,
  FPX_FILE_SYSTEM_FULL = 14,
  FPX_MISSING_TABLE = 15,
  FPX_RETURN_PARAMETER_TOO_LARGE = 16,
  FPX_NOT_A_VIEW = 17,
  FPX_VIEW_IS_TRANFORMLESS = 18,
  FPX_ERROR = 19,
  FPX_UNIMPLEMENTED_FUNCTION = 20,
  FPX_INVALID_IMAGE_DESC = 21,
  FPX_INVALID_JPEG_TABLE = 22,
  FPX_ILLEGAL_JPEG_ID = 23,
  FPX_MEMORY_ALLOCATION_FAILED = 24,
  FPX_NO_MEMORY_MANAGEMENT = 25,
  FPX_OBJECT_CREATION_FAILED = 26,
  FPX_EXTENSION_FAILED = 27,
  FPX_FREE_NULL_PTR = 28,
  FPX_INVALID_TILE = 29,
  FPX_FILE_IN_USE = 30,
  FPX_FILE_CREATE_ERROR = 31,
  FPX_FILE_NOT_OPEN_ERROR = 32,
  FPX_USER_ABORT = 33,
  FPX_OLE_FILE_ERROR = 34,
  FPX_BAD_HEADER = 35,
  FPX_NO_THUMBNAIL = 36,
  FPX_MMX_UNAVAILABLE = 37,
};

enum FPXResolutionUnit {
  FPX_INCHES = 0,
  FPX_METERS = 1,
  FPX_CENTIMETERS = 2,
  FPX_MILLIMETERS = 3,
};

// Starts and stops the library. Start-up counts nothing: callers pair them themselves.
FPXStatus FPX_InitSystem();
FPXStatus FPX_ClearSystem();

// The toolkit's memory limit in bytes; 0 means no limit of the toolkit's own.
FPXStatus FPX_SetToolkitMemoryLimit(size_t* memoryLimit);
FPXStatus FPX_GetToolkitMemoryLimit(size_t* memoryLimit);

// The unit in which resolutions are read and written.
FPXStatus FPX_SetUnit(FPXResolutionUnit unit);
FPXStatus FPX_GetUnit(FPXResolutionUnit* unit);

// True between FPX_InitSystem and FPX_ClearSystem.
bool FPX_IsSystemInitialised();
