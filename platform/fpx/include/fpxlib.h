// The FlashPix library's public calls, with libfpx's names, types, codes and meanings.
//
// Files are real FlashPix files: a compound file (structured storage) whose root storage
// carries the FlashPix image-view class id and holds "Data Object Store 000001" with the
// "Image Contents" and "Image Info" property sets and one "Resolution NNNN" storage per
// level (a "Subimage 0000 Header" and a "Subimage 0000 Data" stream each), beside the
// "Summary Information" property set. Resolution numbers follow the format: 0 is the
// smallest level, the number of levels - 1 the full-size image.
//
// What this library covers is what its callers use: baseline images of 8-bit channels in
// 64 x 64 tiles, written from the top in whole rows, read by rectangles at any level.
#pragma once

#include <cstddef>

// Status codes, as libfpx numbers them. Numbers from 1000 on are warnings.
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
  FPX_INVALID_PIXEL_FORMAT = 35,
  FPX_W_COORDINATES_OUT_OF_RANGE = 1000,
};

typedef unsigned short FPXbool;

enum FPXResolutionUnit {
  FPX_INCHES = 0,
  FPX_METERS,
  FPX_CENTIMETERS,
  FPX_MILLIMETERS,
};

// How tiles are compressed.
enum FPXCompressionOption {
  NONE = 0,                // no compression
  SINGLE_COLOR = 1,        // a tile of one colour is stored as that colour alone
  JPEG_UNSPECIFIED = 2,    // JPEG, tables of the library's choice
  JPEG_BY_QUALITY = 3,     // JPEG, tables from a quality factor
  JPEG_BY_TABLE_GROUP = 4  // JPEG, tables of a given group
};

// The colour of one component.
enum FPXComponentColor { PHOTO_YCC_Y, PHOTO_YCC_C1, PHOTO_YCC_C2, NIFRGB_R, NIFRGB_G, NIFRGB_B, ALPHA, MONOCHROME };

enum FPXDataType {
  DATA_TYPE_UNSIGNED_BYTE,
  DATA_TYPE_SIGNED_BYTE,
  DATA_TYPE_UNSIGNED_SHORT,
  DATA_TYPE_SIGNED_SHORT,
  DATA_TYPE_FLOAT,
  DATA_TYPE_DOUBLE
};

struct FPXComponentColorType {
  FPXComponentColor myColor;
  FPXDataType myDataType;
};

#define FPX_MAX_COMPONENTS 4

typedef struct FPXColorspace {
  FPXbool isUncalibrated;
  short numberOfComponents;
  FPXComponentColorType theComponents[FPX_MAX_COMPONENTS];
} FPXColorspace;

// Background colour, one value per component of the image's colour space.
struct FPXBackground {
  signed long color1_value;
  signed long color2_value;
  signed long color3_value;
  signed long color4_value;
};

// One component of a caller's buffer: its colour and type, sub-sampling, the distance in
// items to the next column and to the next line, and its first item.
struct FPXImageComponentDesc {
  FPXComponentColorType myColorType;
  unsigned long horzSubSampFactor;
  unsigned long vertSubSampFactor;
  long columnStride;
  long lineStride;
  unsigned char* theData;
};

typedef struct FPXImageDesc {
  unsigned long numberOfComponents;
  FPXImageComponentDesc components[FPX_MAX_COMPONENTS];
} FPXImageDesc;

// How a tile is compressed, as the tile header table records it.
struct FPXTileCompressionInfo {
  FPXCompressionOption compressOption;
  unsigned char compressQuality;
  long compressSubtype;
};

// An open image. Its inside is the library's own.
class PFlashPixImageView;
typedef PFlashPixImageView FPXImageHandle;

// Starts and stops the library. Start-up counts nothing: callers pair them themselves.
FPXStatus FPX_InitSystem();
FPXStatus FPX_ClearSystem();

// The toolkit's memory limit in bytes; 0 means no limit of the toolkit's own.
FPXStatus FPX_SetToolkitMemoryLimit(unsigned long* memoryLimit);
FPXStatus FPX_GetToolkitMemoryLimit(unsigned long* memoryLimit);

// The unit in which resolutions are read and written (dots per unit).
FPXStatus FPX_SetUnit(FPXResolutionUnit newUnit);
FPXStatus FPX_GetUnit(FPXResolutionUnit* newUnit);

// True between FPX_InitSystem and FPX_ClearSystem.
bool FPX_IsSystemInitialised();

// FPX_OK when the file is a FlashPix image; FPX_FILE_NOT_FOUND when it is missing, cannot
// be read, or is not a FlashPix image.
FPXStatus FPX_IsFlashPixFile(char* fileName);

// Opens an image for reading. storagePathInFile must be null (the file's first image).
// Gives the full-size width and height, the tile size and the colour space of the file.
FPXStatus FPX_OpenImageByFilename(char* fileName, char* storagePathInFile, unsigned long* width,
                                  unsigned long* height, unsigned long* tileWidth, unsigned long* tileHeight,
                                  FPXColorspace* colorspace, FPXImageHandle** theFPX);

// The number of resolution levels of an open image.
FPXStatus FPX_GetNumberOfResolutions(FPXImageHandle* theFPX, unsigned short* numberOfResolutions);

// How the full-size level is compressed, told by the tile that holds pixel (x, y); a
// single-colour tile tells nothing of the level, so then the level's first tile that is
// not single-coloured answers (single colour when all are).
FPXStatus FPX_GetImageCompressionInfo(FPXImageHandle* theFPX, unsigned long x, unsigned long y,
                                      FPXTileCompressionInfo* compressionInfo);

// The image's resolution in dots per current unit (72 dots per inch when the file has none).
FPXStatus FPX_GetImageResolution(FPXImageHandle* theFPX, float* resolution);
FPXStatus FPX_SetImageResolution(FPXImageHandle* theFPX, float resolution);

// Reads the rectangle from (X0, Y0) to (X1, Y1), both included, of a resolution level
// (0 the smallest) into the components the description points at.
FPXStatus FPX_ReadImageRectangle(FPXImageHandle* theFPX, unsigned long X0, unsigned long Y0, unsigned long X1,
                                 unsigned long Y1, unsigned long theResolution, FPXImageDesc* theImage);

// Lets go of what reading kept in memory beyond keepBytes (0: all of it). Called before
// closing an image that was read.
FPXStatus FPX_ReleaseImageCache(FPXImageHandle* theFPX, unsigned long keepBytes);

// Closes an image. For an image being written this finishes the file: rows not written
// take the background colour, every level is built and the streams and property sets are
// stored. A write failure answers FPX_FILE_WRITE_ERROR and leaves the system's error
// (errno) as the failing write set it.
FPXStatus FPX_CloseImage(FPXImageHandle* theFPX);

// Creates (or replaces) a file and an empty image in it. Tiles must be 64 x 64; the colour
// space monochrome or NIFRGB (red, green, blue) of unsigned bytes.
FPXStatus FPX_CreateImageByFilename(char* fileName, unsigned long width, unsigned long height,
                                    unsigned long tileWidth, unsigned long tileHeight, FPXColorspace colorspace,
                                    FPXBackground backgroundColor, FPXCompressionOption compressOption,
                                    FPXImageHandle** theFPX);

// The JPEG quality factor, 0 (smallest files) to 100 (best pictures), for an image created
// with a JPEG compression; set before the first rectangle is written.
FPXStatus FPX_SetJPEGCompression(FPXImageHandle* theFPX, unsigned short theQualityFactor);

// Writes the rectangle from (X0, Y0) to (X1, Y1) of the full-size image. Rectangles are
// whole rows, each starting at the row after the previous one.
FPXStatus FPX_WriteImageRectangle(FPXImageHandle* theFPX, unsigned long X0, unsigned long Y0, unsigned long X1,
                                  unsigned long Y1, FPXImageDesc* theData);
