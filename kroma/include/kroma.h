/* Kroma: ICC colour matching between two profiles through a precomputed grid transform.
 *
 * The upper level (OXCM...) validates arguments, owns the handle and returns error codes.
 * The lower level (the CColorMatcher functions, the matching selector, the ProfileSpec
 * accessors and the two profile utilities) is what the upper level is written on; it is
 * exported too. All functions are plain C; none throws.
 *
 * Samples wider than 8 bits are 16-bit little-endian words with the significant bits at
 * the top (a 10-bit value v is stored as v * 64, a 12-bit one as v * 16).
 */
#ifndef KROMA_H
#define KROMA_H

#include <stdint.h>

#if defined(_WIN32)
#define KROMA_API __declspec(dllexport)
#else
#define KROMA_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- error codes ---------------------------------------------------------------------- */
enum {
  KROMA_OK = 0,
  KROMA_ERR_NO_MEMORY = 1000,       /* handle or engine state could not be allocated */
  KROMA_ERR_IN_PLACE = 1001,        /* in-place matching impossible for these depths/channels */
  KROMA_ERR_SRC_TOO_SMALL = 1002,   /* source buffer smaller than its lines need */
  KROMA_ERR_IN_BITS = 2020,         /* inBits not 8, 10, 12 or 16 */
  KROMA_ERR_OUT_BITS = 2021,        /* outBits not 8 or 16 */
  KROMA_ERR_LAYOUT = 2030,          /* layout code above 2 */
  KROMA_ERR_ENGINE = 2040,          /* engine neither 0 nor 1 */
  KROMA_ERR_INTENT = 2050,          /* intent not 0 to 3 */
  KROMA_ERR_PROFILE_OPEN = 3000,    /* profile cannot be opened or its header/tag table read */
  KROMA_ERR_NOT_ICC = 3001,         /* header signature is not "acsp" */
  KROMA_ERR_BUILD = 5000,           /* transform cannot be built from these profiles */
  KROMA_ERR_ARGUMENT = 5001         /* invalid argument at the upper level */
};

/* Engines and layouts. */
enum { KROMA_ENGINE_TETRAHEDRAL = 0, KROMA_ENGINE_TRILINEAR = 1 };
enum { KROMA_PIXEL_INTERLEAVED = 0, KROMA_BUFFER_PLANAR = 1, KROMA_LINE_PLANAR = 2 };

/* ---- records of the upper level -------------------------------------------------------- */

/* The caller's image parameters. layout 1 means line-planar, anything else pixel-interleaved. */
typedef struct CMParam {
  uint16_t width;          /* pixels per line */
  uint16_t lines;          /* lines in the whole image (progress only) */
  uint32_t srcBufferBytes; /* size of each source buffer, checked on every call */
  uint32_t dstBufferBytes; /* size of each destination buffer, checked on every call */
  uint16_t inBits;         /* 8, 10, 12 or 16 */
  uint16_t outBits;        /* 8 or 16 */
  uint16_t layout;
} CMParam;

/* Each member points to a char* holding a NUL-terminated path of at most 255 characters. */
typedef struct CMProfilePaths {
  char** srcPath;
  char** dstPath;
} CMProfilePaths;

/* One buffer of whole lines; for a destination only the pointer is used. */
typedef struct CMBuffer {
  void* data;
  uint16_t lines;
} CMBuffer;

/* Per-channel 1-D tables: kind 0 identity, 1 gamma (each pointer addresses one 8.8 value),
 * N >= 2 explicit tables of N uint16 entries. bits 10, 12 or 16; anything else means 8. */
typedef struct CM1DLutSpec {
  uint16_t tableCount; /* 0 to 4 */
  uint16_t bits;
  uint32_t kind;
  uint16_t* tables[4];
} CM1DLutSpec;

/* ---- records of the lower level -------------------------------------------------------- */

/* The handle's own widened copy of the parameters; layout 0 pixel-interleaved,
 * 1 buffer-planar, 2 line-planar. */
typedef struct MatchingParam {
  uint32_t width;
  uint32_t lines;
  uint32_t srcBufferBytes;
  uint32_t dstBufferBytes;
  uint16_t inBits;
  uint16_t outBits;
  uint16_t layout;
} MatchingParam;

typedef struct ProfileSpec {
  char srcProfile[256];
  char dstProfile[256];
  void* callBackFunc;  /* stored only; no matching operation calls it */
  void* callBackParam; /* stored only */
  int16_t indicatorFlag;
} ProfileSpec;

struct KromaEngineState; /* built by Initialize, opaque */

typedef struct MatchingSelector {
  uint16_t intent; /* 0 perceptual, 1 relative, 2 absolute, 3 saturation */
  uint16_t engine; /* 0 tetrahedral, 1 trilinear */
  struct KromaEngineState* state;
  int32_t gamutFlag;
} MatchingSelector;

/* The object a handle points to. */
typedef struct CColorMatcher {
  int32_t lastError;
  MatchingParam param;
  ProfileSpec spec;
  MatchingSelector selector;
  uint32_t progressTotal; /* pixels */
  uint32_t progressDone;  /* pixels */
} CColorMatcher;

/* ---- upper level ----------------------------------------------------------------------- */
KROMA_API int32_t OXCMInit(const CMParam* param, const CMProfilePaths* paths, uint16_t engine,
                           int32_t intent, CColorMatcher** handle);
KROMA_API int32_t OXCMProc(CMBuffer* src, CMBuffer* dst, CColorMatcher* handle);
KROMA_API void OXCMPostProc(CColorMatcher* handle);
KROMA_API int32_t OXCMResetMatchingParam(const CMParam* param, const CMProfilePaths* paths,
                                         int32_t engine, int32_t intent, CColorMatcher* handle);
KROMA_API int32_t OXCMResetProfiles(char** srcPath, char** dstPath, CColorMatcher* handle);
KROMA_API int32_t OXCMChangeImageWidth(int32_t width, CColorMatcher* handle);
KROMA_API int32_t OXCMChangeImageLines(int32_t lines, CColorMatcher* handle);
KROMA_API int32_t OXCMChangeBufSize(int32_t size, int16_t unit, CColorMatcher* handle);
KROMA_API int32_t OXCMChange1DLUT(const CM1DLutSpec* spec, uint16_t side, CColorMatcher* handle);
KROMA_API int32_t OXCMMerge1DLUT(const CM1DLutSpec* spec, uint16_t side, CColorMatcher* handle);
/* *fullPath must address a buffer of at least 260 bytes. 1 found, 0 not found, KROMA_ERR_ARGUMENT
   for a bad argument. */
KROMA_API int32_t OXCMLocateProfile(const char* name, char** fullPath);

/* ---- lower level: the colour matcher --------------------------------------------------- */
KROMA_API int32_t InitCColorMatcher(CColorMatcher* cm, const MatchingParam* param,
                                    const ProfileSpec* spec);
KROMA_API int32_t ReinitCColorMatcher(CColorMatcher* cm, const ProfileSpec* spec);
KROMA_API int32_t TermCColorMatcher(CColorMatcher* cm);
KROMA_API int32_t ColorMatchingProc1(CColorMatcher* cm, CMBuffer* buffer);
KROMA_API int32_t ColorMatchingProc2(CColorMatcher* cm, CMBuffer* src, void** dst);
KROMA_API uint32_t GetProgress(CColorMatcher* cm);
KROMA_API int32_t CMGetError(CColorMatcher* cm);
KROMA_API int32_t ChangeImageLines(CColorMatcher* cm, uint32_t lines);
KROMA_API int32_t ChangeImageWidth(CColorMatcher* cm, uint32_t width);
KROMA_API int32_t ChangeBufSize(CColorMatcher* cm, uint32_t size);
/* side 0 input, 1 output; one table of `entries` values per channel of that side. */
KROMA_API int32_t Change1DLut(CColorMatcher* cm, uint16_t side, uint16_t bits, uint32_t entries,
                              const uint16_t* const* tables);
KROMA_API int32_t Merge1DLut(CColorMatcher* cm, uint16_t side, uint16_t bits, uint32_t entries,
                             const uint16_t* const* tables);

/* ---- lower level: the matching selector ------------------------------------------------ */
KROMA_API int32_t Initialize(MatchingSelector* sel, const char* srcPath, const char* dstPath);
KROMA_API int32_t CMatching1(MatchingSelector* sel, CMBuffer* buffer, uint32_t width,
                             uint32_t srcBufferBytes, uint16_t inBits, uint16_t outBits,
                             uint16_t layout);
KROMA_API int32_t CMatching2(MatchingSelector* sel, CMBuffer* src, void** dst, uint32_t width,
                             uint32_t srcBufferBytes, uint32_t dstBufferBytes, uint16_t inBits,
                             uint16_t outBits, uint16_t layout);
KROMA_API int32_t TermMatchingSelector(MatchingSelector* sel);
/* Channel counts of a built transform (0 when none is built). */
KROMA_API int32_t GetMatchingChannels(const MatchingSelector* sel, uint16_t* inChannels,
                                      uint16_t* outChannels);

/* ---- lower level: ProfileSpec accessors ------------------------------------------------ */
KROMA_API char* SetSrcProfileSpec(ProfileSpec* spec, const char* path);
KROMA_API char* SetDstProfileSpec(ProfileSpec* spec, const char* path);
KROMA_API char* GetSrcProfileSpec(ProfileSpec* spec);
KROMA_API char* GetDstProfileSpec(ProfileSpec* spec);
KROMA_API void* SetCallBackFuncPtr(ProfileSpec* spec, void* func);
KROMA_API void* GetCallBackFuncPtr(const ProfileSpec* spec);
KROMA_API void* SetCallBackParamBlk(ProfileSpec* spec, void* param);
KROMA_API void* GetCallBackFuncParam(const ProfileSpec* spec);
KROMA_API int16_t SetIndicatorFlag(ProfileSpec* spec, int16_t flag);
KROMA_API int16_t GetIndicatorFlag(const ProfileSpec* spec);

/* ---- lower level: profile utilities ---------------------------------------------------- */
/* Composes <system directory>/COLOR/<name> into fullPath (at least 260 bytes). */
KROMA_API int32_t DurovToolboxLocateProfile(const char* name, char* fullPath);
/* Header queries: infoType 0 channels (int16), 1 device class (uint32), 2 data colour space
 * code (int16), 3 PCS code (int16), 4 rendering intent (uint32), 5 illuminant (3 x int32). */
KROMA_API int32_t DurovToolboxGetProfInfo(const char* path, int32_t infoType, void* out,
                                          int32_t outSize);

#ifdef __cplusplus
}
#endif

#endif /* KROMA_H */
