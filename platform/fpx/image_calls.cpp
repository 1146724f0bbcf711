// The image calls: they check their arguments and hand over to the read or write image.
#include <cerrno>
#include <memory>
#include <new>
#include <stdexcept>

#include "image.h"

namespace fpx {
FPXStatus CheckFlashPixFile(const char* fileName);
}

using fpx::ReadImage;
using fpx::WriteImage;

namespace {

// The library's calls report failure by status only: an allocation that throws anywhere
// below them becomes FPX_MEMORY_ALLOCATION_FAILED here, after the objects that were made on
// the way have been let go of by their owners.
template <typename F>
FPXStatus Guarded(F&& call) noexcept {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return FPX_MEMORY_ALLOCATION_FAILED;
  } catch (const std::length_error&) {
    return FPX_MEMORY_ALLOCATION_FAILED;
  }
}

ReadImage* Reading(FPXImageHandle* handle) {
  return handle != nullptr && handle->mode() == PFlashPixImageView::Mode::kRead ? static_cast<ReadImage*>(handle)
                                                                              : nullptr;
}

WriteImage* Writing(FPXImageHandle* handle) {
  return handle != nullptr && handle->mode() == PFlashPixImageView::Mode::kWrite ? static_cast<WriteImage*>(handle)
                                                                               : nullptr;
}

double CurrentUnitsPerInch() {
  FPXResolutionUnit unit = FPX_INCHES;
  FPX_GetUnit(&unit);
  return fpx::UnitsPerInch(unit);
}

bool IsBaselineWritable(const FPXColorspace& cs) {
  for (short c = 0; c < cs.numberOfComponents && c < FPX_MAX_COMPONENTS; ++c)
    if (cs.theComponents[c].myDataType != DATA_TYPE_UNSIGNED_BYTE) return false;
  if (cs.numberOfComponents == 1) return cs.theComponents[0].myColor == MONOCHROME;
  if (cs.numberOfComponents != 3 && cs.numberOfComponents != 4) return false;
  return cs.theComponents[0].myColor == NIFRGB_R && cs.theComponents[1].myColor == NIFRGB_G &&
         cs.theComponents[2].myColor == NIFRGB_B &&
         (cs.numberOfComponents == 3 || cs.theComponents[3].myColor == ALPHA);
}

}  // namespace

FPXStatus FPX_IsFlashPixFile(char* fileName) {
  return Guarded([&] { return fpx::CheckFlashPixFile(fileName); });
}

FPXStatus FPX_OpenImageByFilename(char* fileName, char* storagePathInFile, unsigned long* width,
                                  unsigned long* height, unsigned long* tileWidth, unsigned long* tileHeight,
                                  FPXColorspace* colorspace, FPXImageHandle** theFPX) {
  if (theFPX == nullptr || width == nullptr || height == nullptr || colorspace == nullptr) return FPX_ERROR;
  *theFPX = nullptr;
  if (storagePathInFile != nullptr && *storagePathInFile != '\0') return FPX_UNIMPLEMENTED_FUNCTION;
  return Guarded([&] {
    // Owned here until it is handed out: a failed open, thrown or reported, frees it.
    std::unique_ptr<ReadImage> image(new (std::nothrow) ReadImage);
    if (image == nullptr) return FPX_MEMORY_ALLOCATION_FAILED;
    if (const FPXStatus status = image->Open(fileName)) return status;
    *width = image->width;
    *height = image->height;
    if (tileWidth) *tileWidth = image->levels.back().tileWidth;
    if (tileHeight) *tileHeight = image->levels.back().tileHeight;
    *colorspace = image->colorspace;
    *theFPX = image.release();
    return FPX_OK;
  });
}

FPXStatus FPX_GetNumberOfResolutions(FPXImageHandle* theFPX, unsigned short* numberOfResolutions) {
  ReadImage* image = Reading(theFPX);
  if (image == nullptr) return FPX_INVALID_FPX_HANDLE;
  if (numberOfResolutions == nullptr) return FPX_ERROR;
  *numberOfResolutions = static_cast<unsigned short>(image->levels.size());
  return FPX_OK;
}

FPXStatus FPX_GetImageCompressionInfo(FPXImageHandle* theFPX, unsigned long x, unsigned long y,
                                      FPXTileCompressionInfo* compressionInfo) {
  ReadImage* image = Reading(theFPX);
  if (image == nullptr) return FPX_INVALID_FPX_HANDLE;
  if (compressionInfo == nullptr) return FPX_ERROR;
  return image->CompressionInfo(x, y, compressionInfo);
}

FPXStatus FPX_GetImageResolution(FPXImageHandle* theFPX, float* resolution) {
  if (resolution == nullptr) return FPX_ERROR;
  if (ReadImage* image = Reading(theFPX)) {
    *resolution = static_cast<float>(image->dotsPerInch / CurrentUnitsPerInch());
    return FPX_OK;
  }
  if (WriteImage* image = Writing(theFPX)) {
    *resolution = static_cast<float>(image->dotsPerInch / CurrentUnitsPerInch());
    return FPX_OK;
  }
  return FPX_INVALID_FPX_HANDLE;
}

FPXStatus FPX_SetImageResolution(FPXImageHandle* theFPX, float resolution) {
  WriteImage* image = Writing(theFPX);
  if (image == nullptr) return FPX_INVALID_FPX_HANDLE;
  if (!(resolution > 0) || resolution > 1e7f) return FPX_ERROR;
  image->dotsPerInch = resolution * CurrentUnitsPerInch();
  return FPX_OK;
}

FPXStatus FPX_ReadImageRectangle(FPXImageHandle* theFPX, unsigned long X0, unsigned long Y0, unsigned long X1,
                                 unsigned long Y1, unsigned long theResolution, FPXImageDesc* theImage) {
  ReadImage* image = Reading(theFPX);
  if (image == nullptr) return FPX_INVALID_FPX_HANDLE;
  if (theImage == nullptr) return FPX_INVALID_IMAGE_DESC;
  return Guarded([&] { return image->ReadRectangle(X0, Y0, X1, Y1, theResolution, *theImage); });
}

FPXStatus FPX_ReleaseImageCache(FPXImageHandle* theFPX, unsigned long keepBytes) {
  ReadImage* image = Reading(theFPX);
  if (image == nullptr) return FPX_INVALID_FPX_HANDLE;
  if (keepBytes == 0) image->ReleaseCache();
  return FPX_OK;
}

FPXStatus FPX_CloseImage(FPXImageHandle* theFPX) {
  if (theFPX == nullptr) return FPX_INVALID_FPX_HANDLE;
  FPXStatus status = FPX_OK;
  if (WriteImage* image = Writing(theFPX)) {
    status = image->Finish();
    const int error = errno;
    delete image;
    errno = error;  // the caller may ask why a write failed
    return status;
  }
  delete theFPX;
  return status;
}

FPXStatus FPX_CreateImageByFilename(char* fileName, unsigned long width, unsigned long height,
                                    unsigned long tileWidth, unsigned long tileHeight, FPXColorspace colorspace,
                                    FPXBackground backgroundColor, FPXCompressionOption compressOption,
                                    FPXImageHandle** theFPX) {
  if (theFPX == nullptr) return FPX_ERROR;
  *theFPX = nullptr;
  if (fileName == nullptr) return FPX_FILE_CREATE_ERROR;
  if (width < 1 || height < 1) return FPX_BAD_COORDINATES;
  if (width > 0x7FFFFFFFul || height > 0x7FFFFFFFul) return FPX_IMAGE_TOO_BIG_ERROR;
  if (tileWidth != fpx::kTileSize || tileHeight != fpx::kTileSize) return FPX_UNIMPLEMENTED_FUNCTION;
  if (!IsBaselineWritable(colorspace)) return FPX_COLOR_CONVERSION_ERROR;
  if (compressOption > JPEG_BY_TABLE_GROUP) return FPX_INVALID_COMPRESSION_ERROR;
  if (compressOption == JPEG_BY_TABLE_GROUP) return FPX_UNIMPLEMENTED_FUNCTION;
  if (colorspace.numberOfComponents == 4 && compressOption >= JPEG_UNSPECIFIED) return FPX_UNIMPLEMENTED_FUNCTION;
  return Guarded([&] {
    std::unique_ptr<WriteImage> image(new (std::nothrow) WriteImage);
    if (image == nullptr) return FPX_MEMORY_ALLOCATION_FAILED;
    const FPXStatus status = image->Create(fileName, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                                           colorspace, backgroundColor, compressOption);
    if (status != FPX_OK) {
      // The image closes what it opened; the caller may still ask why creating failed.
      const int error = errno;
      image.reset();
      errno = error;
      return status;
    }
    *theFPX = image.release();
    return FPX_OK;
  });
}

FPXStatus FPX_SetJPEGCompression(FPXImageHandle* theFPX, unsigned short theQualityFactor) {
  WriteImage* image = Writing(theFPX);
  if (image == nullptr) return FPX_INVALID_FPX_HANDLE;
  return image->SetQuality(theQualityFactor);
}

FPXStatus FPX_WriteImageRectangle(FPXImageHandle* theFPX, unsigned long X0, unsigned long Y0, unsigned long X1,
                                  unsigned long Y1, FPXImageDesc* theData) {
  WriteImage* image = Writing(theFPX);
  if (image == nullptr) return FPX_INVALID_FPX_HANDLE;
  if (theData == nullptr) return FPX_INVALID_IMAGE_DESC;
  return Guarded([&] { return image->WriteRows(X0, Y0, X1, Y1, *theData); });
}
