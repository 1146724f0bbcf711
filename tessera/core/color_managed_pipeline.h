// The display pipeline of a colour-managed object: screen, printer and colour-space
// conversions run through the colour-matching library, with the object's tables installed
// as 1-D curves of the matching transforms.
#pragma once

#include <memory>

#include "core/display_pipeline.h"
#include "core/kroma_calls.h"

namespace tessera {

class ColorManagedPipeline final : public DisplayPipeline {
 public:
  ColorManagedPipeline(ImageStore& store, short objectFlags) : DisplayPipeline(store), flags_(objectFlags) {}
  ~ColorManagedPipeline() override;

  long Initialise() override;
  long ResetTables() override;
  long SetTable(const uint8_t* table, int channel, int mode) override;
  long ConvertForScreen(const Tile& tile, uint8_t* dib) override;
  long BeginPrint() override;
  long ConvertForPrint(const Tile& tile, uint8_t* dib) override;
  long EndPrint() override;
  long BeginConversion(int target, const uint8_t* const* tables, int blockWidth, int blockHeight) override;
  long ConvertBlock(const uint8_t* source, uint8_t* destination) override;
  long EndConversion(bool success, bool rebuildDisplay) override;
  const char* CurrentProfilePath() const override;

 private:
  // The parameters of a handle that converts whole tiles of a colour space to 8-bit RGB.
  CMParam DisplayParam(int code) const;
  int engine(int flagBit) const { return (flags_ & flagBit) ? 1 : 0; }
  long Merge(CColorMatcher* handle, uint16_t side, uint16_t count, uint32_t kind, uint16_t* const* tables);
  // Runs one tile through a handle into the work buffer and packs it as a bottom-up BGR DIB.
  long TileToDib(CColorMatcher* handle, const Tile& tile, uint8_t* dib);
  // Packs the work buffer (one tile as 8-bit RGB, top row first) into a bottom-up BGR DIB.
  void PackWork(uint8_t* dib) const;
  static void Close(CColorMatcher*& handle);

  short flags_;
  CColorMatcher* display_ = nullptr;
  CColorMatcher* print_ = nullptr;
  CColorMatcher* conversion_ = nullptr;
  // A printer whose profile is not RGB (CMYK, grey) is proofed: each tile goes into the
  // printer's colour space and from there back to sRGB, so that the page shows what that
  // printer would print while the device receives RGB.
  CColorMatcher* proof_ = nullptr;
  std::unique_ptr<uint8_t[]> printerWork_;  // one tile in the printer's colour space
  std::unique_ptr<uint8_t[]> work_;         // one tile as 8-bit RGB
};

// The number of colour channels of the data colour space an ICC profile file declares
// (3 for RGB, 4 for CMYK, 1 for grey); 0 when the file cannot be read or declares another.
int ProfileChannels(const char* path);

// The profile that describes a colour space: the library's own for RGB, Lab and LCh, the
// CMYK profile for CMYK.
const char* SourceProfile(int code);

}  // namespace tessera
