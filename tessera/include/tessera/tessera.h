// Tessera: an image held in 128 x 128 tiles, read and written as BMP, JPEG, TIFF and
// FlashPix, turned by quarter turns and mirrors, converted between colour spaces and
// drawn into device contexts. The whole public surface is TesseraClass, the tagTes_
// records, _HistTable and the status codes below.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(TESSERA_BUILDING_LIBRARY)
#define TESSERA_API __attribute__((visibility("default")))
#else
#define TESSERA_API
#endif

namespace orvax::win {
class DeviceContext;
}
// A device context handle: the stand-in for the Windows HDC (platform/win).
using HDC = orvax::win::DeviceContext*;

// ---------------------------------------------------------------------------------------
// Records. Plain data with natural alignment; the library never keeps a pointer to one.

struct tagTes_Point {
  int32_t x;  // column, 0 = left
  int32_t y;  // row, 0 = top
};

struct tagTes_Size {
  int32_t cx;  // width in pixels
  int32_t cy;  // height in pixels
};

// A position and an extent, never two corners.
struct tagTes_Rect {
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;
};

// How incoming pixels are turned before they are stored, or how a point is mapped:
// mirror left-right first, then turn clockwise by the angle (snapped to a quarter turn).
struct tagTes_Transform_Struct {
  uint16_t mirror;  // nonzero: mirror left-right before the rotation
  double angle;     // clockwise degrees
};

struct tagTes_Image_Desc {
  int32_t width;
  int32_t height;
  int16_t colorSpace;             // colour-space code, 0 to 6
  uint16_t bitsPerChannel[4];     // per channel of the colour space; the rest 0
  double resolution;              // dots per inch
};

// Metadata that travels with an image (maker, model, capture values). Exactly 232 bytes.
struct tagTes_Image_Info {
  uint32_t size;               // must be 232
  uint16_t orientation;        // TIFF/Exif Orientation, 1..8; 0 = not set
  uint16_t flash;              // Exif Flash
  double shutterSpeedValue;    // APEX
  double apertureValue;        // APEX
  double brightnessValue;      // APEX
  double exposureBiasValue;    // APEX
  double subjectDistance;      // metres
  double focalLength;          // millimetres
  double exposureTime;         // seconds
  double fNumber;
  char description[34];        // ImageDescription, zero-terminated
  char maker[34];              // Make
  char model[34];              // Model
  char date[20];               // "YYYY:MM:DD hh:mm:ss" (DateTimeOriginal)
  char makerNoteText[20];      // text of entry 1 of the maker's own maker note / block
  uint8_t spare[18];
};

// A rectangle of pixels exchanged with GetData and SetData.
struct tagTes_Tile_Desc {
  tagTes_Rect rect;   // stored coordinates for GetData, the data's own for SetData
  int32_t rowBytes;   // distance between the starts of two rows in the caller's buffer
  uint16_t plane;     // 0: all channels interleaved; k > 0: channel k-1 only
};

// Where and how large to draw.
struct tagTes_Output_Info {
  HDC hdc;
  int32_t clipX, clipY;             // top-left of the device area to paint
  int32_t clipWidth, clipHeight;    // its extent
  int32_t imageX, imageY;           // device position of the image's top-left pixel
  int32_t imageWidth, imageHeight;  // device extent of the whole image
};

// What Save writes.
struct tagTes_File_Spec {
  const char* path;  // zero-terminated file name
  uint32_t format;   // one file-type code in the low 16 bits
  int32_t option;    // JPEG or FlashPix quality (formats 4 and 128)
};

struct tagTes_Pixel_Value {
  uint16_t colorSpace;
  uint16_t values[4];  // one per channel; entries past the channel count are untouched
};

struct _HistTable {
  uint32_t head[4];      // the caller's own; never read or written by the library
  uint32_t counts[256];  // pixels per 8-bit level
};

static_assert(sizeof(tagTes_Point) == 8);
static_assert(sizeof(tagTes_Size) == 8);
static_assert(sizeof(tagTes_Rect) == 16);
static_assert(sizeof(tagTes_Transform_Struct) == 16);
static_assert(sizeof(tagTes_Image_Desc) == 32);
static_assert(sizeof(tagTes_Image_Info) == 232);
static_assert(sizeof(tagTes_Tile_Desc) == 24);
static_assert(sizeof(tagTes_Pixel_Value) == 10);
static_assert(sizeof(_HistTable) == 1040);

// ---------------------------------------------------------------------------------------
// Codes.

enum TesColorSpace : int16_t {
  TES_CS_GRAY8 = 0,
  TES_CS_GRAY16 = 1,
  TES_CS_RGB24 = 2,
  TES_CS_RGB48 = 3,
  TES_CS_CMYK32 = 4,
  TES_CS_LAB48 = 5,
  TES_CS_LCH48 = 6,
};

// File types: one bit each, so that they combine into masks.
enum TesFileType : uint32_t {
  TES_FILE_TIFF = 1,
  TES_FILE_TIFF_COMPRESSED = 2,
  TES_FILE_JPEG = 4,
  TES_FILE_BMP = 8,
  TES_FILE_FPX = 64,
  TES_FILE_FPX_JPEG = 128,
};

// Constructor flags.
enum TesObjectFlags : int16_t {
  TES_FLAG_COLOR_MANAGED = 1,
  TES_FLAG_DISPLAY_ENGINE = 2,
  TES_FLAG_PRINT_ENGINE = 4,
  TES_FLAG_CONVERT_ENGINE = 8,
};

enum TesStatus : long {
  TES_OK = 0,
  TES_ERR_NO_IMAGE = 1000,            // no image, a missing tile, or no display pipeline yet
  TES_ERR_INFO_SIZE = 1001,           // a tagTes_Image_Info size is not 232
  TES_ERR_NO_MEMORY = 1002,
  TES_ERR_COLOR_SPACE = 1005,         // colour-space code outside 0..6
  TES_ERR_LUT_CHANNEL = 1006,
  TES_ERR_POINT_OUTSIDE = 1007,
  TES_ERR_CM_INIT = 1008,             // the colour-matching library refused a transform
  TES_ERR_CM_REBUILD = 1009,
  TES_ERR_CM_LUT = 1010,
  TES_ERR_CM_PROCESS = 1011,
  TES_ERR_NOT_PERMITTED = 1012,       // colour space not permitted for this kind of object
  TES_ERR_UNKNOWN_FORMAT = 1013,
  TES_ERR_NO_THUMBNAIL = 1014,
  TES_ERR_CANNOT_STORE = 1015,        // colour space cannot be stored in the chosen format
  TES_ERR_DEVICE = 1016,              // the device refused to draw
  TES_ERR_PROFILE_OPEN = 1017,
  TES_ERR_PROFILE_LENGTH = 1018,
  TES_ERR_PROFILE_READ = 1019,

  TES_ERR_IN_OPEN = 1100,
  TES_ERR_IN_CLOSE = 1101,
  TES_ERR_IN_READ = 1102,
  TES_ERR_IN_EOF = 1103,
  TES_ERR_IN_SEEK = 1104,
  TES_ERR_IN_TELL = 1105,

  TES_ERR_OUT_CREATE = 1200,
  TES_ERR_OUT_CLOSE = 1201,
  TES_ERR_OUT_WRITE = 1202,
  TES_ERR_OUT_SEEK = 1203,
  TES_ERR_DISK_FULL = 1204,

  TES_ERR_JPEG_FIRST = 1300,          // 1300..1323: JPEG coding and marker errors
  TES_ERR_JPEG_LAST = 1323,
  TES_ERR_TIFF_FIRST = 1400,          // 1400..1416: TIFF structure and feature errors
  TES_ERR_TIFF_COMPRESSION = 1416,
  TES_ERR_TIFF_LAST = 1416,

  TES_ERR_BMP_HEADER = 1500,          // header malformed or palette not a grey ramp
  TES_ERR_BMP_COLORS_USED = 1501,
  TES_ERR_BMP_DEPTH = 1502,
  TES_ERR_BMP_COMPRESSED = 1503,

  TES_ERR_FPX_COLOR_SPACE = 1600,
  TES_ERR_FPX_OTHER = 1601,
  TES_ERR_FPX_UNKNOWN = 1602,
};

// Progress callback: (total, done, user). A nonzero result stops the operation and becomes
// its status.
using TesProgressProc = long (*)(long, long, void*);

namespace tessera::detail {
struct ObjectState;
}

// ---------------------------------------------------------------------------------------
// One image. The virtual operations keep a fixed order: callers reach them through the
// table of virtual operations. The destructor is deliberately not virtual.

class TESSERA_API TesseraClass {
 public:
  TesseraClass(short flags, short colorSpace);
  TesseraClass(short flags, const tagTes_Image_Desc& desc, const tagTes_Transform_Struct& transform);
  ~TesseraClass();
  TesseraClass(const TesseraClass&) = delete;
  TesseraClass& operator=(const TesseraClass&) = delete;

  static const tagTes_Transform_Struct m_s_EmptyTransform;

  static long InitMosaic(const tagTes_Image_Info& defaultInfo, char* const& monitorProfile,
                         char* const& printerProfile, char* const& cmykProfile,
                         char* const& profileDirectory, const double& gamma);
  static long CloseMosaic();
  static long SetMonitorColorSpace(char* const& path);
  static long SetPrinterColorSpace(char* const& path);
  static long SetCMYKColorSpace(char* const& path);
  static long GetDefaultImageInfo(tagTes_Image_Info* info, unsigned long size);
  static long SetDefaultImageInfo(const tagTes_Image_Info& info);
  static long TestFile(char* const& path, tagTes_Image_Desc* desc, short* fileType, short* hasThumbnail);
  static long ConvertAndTransformPoint(tagTes_Point* points, const tagTes_Size& size,
                                       const tagTes_Transform_Struct& transform, unsigned long count);
  static long ReverseTransformPoint(tagTes_Point* points, const tagTes_Size& size,
                                    const tagTes_Transform_Struct& transform, unsigned long count);

  // Slot 0 onward, in this order.
  virtual unsigned long GetClassID() const;
  virtual long Display(const tagTes_Output_Info& info) const;
  virtual long Print(const tagTes_Output_Info& info) const;
  virtual long OpenImage(char* const& path, const tagTes_Transform_Struct& transform,
                         long (*progress)(long, long, void*), void* const user);
  virtual long OpenThumbnail(char* const& path, const tagTes_Transform_Struct& transform,
                             long (*progress)(long, long, void*), void* const user, short allowFullImage);
  virtual long Save(const tagTes_File_Spec& spec, long (*progress)(long, long, void*), void* const user,
                    short writeThumbnail) const;
  virtual long FlipH();
  virtual long FlipV();
  virtual long Rotate(const double& angle);
  virtual long GetImageDesc(tagTes_Image_Desc* desc) const;
  virtual long SetImageDesc(const tagTes_Image_Desc& desc, const tagTes_Transform_Struct& transform);
  virtual long GetImageInfo(tagTes_Image_Info* info, unsigned long size) const;
  virtual long SetImageInfo(const tagTes_Image_Info& info);
  virtual long GetData(const tagTes_Tile_Desc& tile, void* buffer) const;
  virtual long SetData(const tagTes_Tile_Desc& tile, const tagTes_Transform_Struct& transform, void* const buffer);
  virtual long SetColorSpace(short colorSpace, const unsigned char* const* tables);
  virtual long GetColorSpace(short* colorSpace) const;
  virtual long GetFormats(unsigned long* mask) const;
  virtual long Clear();
  virtual long ClearCache();
  virtual long CreateOutputRect(const tagTes_Rect& imageRect, const tagTes_Rect& placement,
                                tagTes_Rect* deviceRect) const;
  virtual long SetLUT(unsigned char* const table, short channel, short mode);
  virtual long GetPixel(const tagTes_Point& point, tagTes_Pixel_Value* value, short throughTable);
  virtual long GetHistTable(_HistTable* table, unsigned short index, short throughTable);
  virtual long GetCurIccProfileData(unsigned char** data, unsigned long* size);

  // Not in the table of virtual operations: called by name, like the constructors.
  // Rebuilds the display pipeline of an object that holds an image for FLAGS (the
  // constructor's flags: colour-managed or plain, and the engines) and the profile paths
  // set now, so that a change of monitor or CMYK profile, or colour management turned on
  // or off, reaches an open image. Tables set with SetLUT are dropped. Returns TES_OK,
  // TES_ERR_NOT_PERMITTED when the image's colour space cannot be held by an object of that
  // kind (CMYK, Lab and LCh need colour management; a plain grey image stays plain), or the
  // pipeline's failure (TES_ERR_NO_MEMORY, TES_ERR_CM_INIT, TES_ERR_CM_LUT), which leaves the
  // object as it was.
  long ResetDisplayPipeline(short flags);
  // Whether the object shows, prints and converts its pixels through colour matching.
  bool IsColorManaged() const;

  // The library's internal state of this object (not part of the stable surface).
  tessera::detail::ObjectState& State() const { return *m_state; }

 private:
  tessera::detail::ObjectState* m_state;
};
