#include "core/library.h"

#include <cmath>
#include <cstring>

#include "fpxlib.h"

namespace tessera {

LibraryState& Library() {
  static LibraryState state = [] {
    LibraryState s;
    s.defaultInfo.size = sizeof(tagTes_Image_Info);
    BuildGammaTables(1.0, s.gamma8, s.gamma12);
    return s;
  }();
  return state;
}

void BuildGammaTables(double gamma, uint8_t* gamma8, uint8_t* gamma12) {
  if (!std::isfinite(gamma) || gamma < 0) gamma = 1.0;
  for (int i = 0; i < 256; ++i) gamma8[i] = static_cast<uint8_t>(255.0 * std::pow(i / 255.0, gamma));
  for (int i = 0; i < 4096; ++i) gamma12[i] = static_cast<uint8_t>(255.0 * std::pow(i / 4095.0, gamma));
}

void StorePath(char* slot, const char* path) {
  if (path == nullptr) path = "";
  const size_t n = strnlen(path, kPathBytes - 1);
  std::memcpy(slot, path, n);
  slot[n] = '\0';
}

void ComposeProfilePath(char* slot, const char* directory, const char* fileName) {
  if (directory == nullptr) directory = "";
  char composed[kPathBytes * 2] = {};
  const size_t n = strnlen(directory, kPathBytes - 1);
  std::memcpy(composed, directory, n);
  size_t end = n;
  if (n > 0 && directory[n - 1] != '/') composed[end++] = '/';
  std::strcpy(composed + end, fileName);
  StorePath(slot, composed);
}

}  // namespace tessera

using tessera::Library;

const tagTes_Transform_Struct TesseraClass::m_s_EmptyTransform = {0, 0.0};

long TesseraClass::InitMosaic(const tagTes_Image_Info& info, char* const& monitorProfile,
                              char* const& printerProfile, char* const& cmykProfile,
                              char* const& profileDirectory, const double& gamma) {
  tessera::LibraryState& lib = Library();
  if (lib.useCount++ > 0) return TES_OK;
  if (info.size != sizeof(tagTes_Image_Info)) return TES_ERR_INFO_SIZE;
  lib.defaultInfo = info;
  tessera::BuildGammaTables(gamma, lib.gamma8, lib.gamma12);
  tessera::StorePath(lib.profiles[tessera::kProfileMonitor], monitorProfile);
  tessera::StorePath(lib.profiles[tessera::kProfilePrinter], printerProfile);
  tessera::StorePath(lib.profiles[tessera::kProfileCmyk], cmykProfile);
  tessera::ComposeProfilePath(lib.profiles[tessera::kProfileSrgb], profileDirectory, "OXsRGB.icm");
  tessera::ComposeProfilePath(lib.profiles[tessera::kProfileLab], profileDirectory, "OXLab.icm");
  tessera::ComposeProfilePath(lib.profiles[tessera::kProfileLch], profileDirectory, "OXLch.icm");
  if (FPX_InitSystem() == FPX_MEMORY_ALLOCATION_FAILED) return TES_ERR_NO_MEMORY;
  size_t memoryLimit = 0;
  const FPXStatus status = FPX_SetToolkitMemoryLimit(&memoryLimit);
  if (status == FPX_MEMORY_ALLOCATION_FAILED || status == FPX_LOW_MEMORY_ERROR) return TES_ERR_NO_MEMORY;
  FPX_SetUnit(FPX_MILLIMETERS);
  return TES_OK;
}

long TesseraClass::CloseMosaic() {
  tessera::LibraryState& lib = Library();
  if (lib.useCount <= 0) return TES_OK;
  if (--lib.useCount == 0) FPX_ClearSystem();
  return TES_OK;
}

long TesseraClass::SetMonitorColorSpace(char* const& path) {
  tessera::StorePath(Library().profiles[tessera::kProfileMonitor], path);
  return TES_OK;
}

long TesseraClass::SetPrinterColorSpace(char* const& path) {
  tessera::StorePath(Library().profiles[tessera::kProfilePrinter], path);
  return TES_OK;
}

long TesseraClass::SetCMYKColorSpace(char* const& path) {
  tessera::StorePath(Library().profiles[tessera::kProfileCmyk], path);
  return TES_OK;
}

long TesseraClass::GetDefaultImageInfo(tagTes_Image_Info* info, unsigned long size) {
  if (size != sizeof(tagTes_Image_Info) || info == nullptr) return TES_ERR_INFO_SIZE;
  *info = Library().defaultInfo;
  return TES_OK;
}

long TesseraClass::SetDefaultImageInfo(const tagTes_Image_Info& info) {
  if (info.size != sizeof(tagTes_Image_Info)) return TES_ERR_INFO_SIZE;
  Library().defaultInfo = info;
  return TES_OK;
}
