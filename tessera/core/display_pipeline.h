// The display pipeline of an object: the tables displayed values pass through, and the
// conversions of tiles for the screen and the printer and between colour spaces. The plain
// variant works with lookup tables only; the colour-managed variant hands the conversions to
// the colour-matching library.
#pragma once

#include <cstdint>
#include <memory>

#include "core/image_store.h"
#include "tessera/tessera.h"

namespace tessera {

inline constexpr int kTableEntries = 257;
inline constexpr int kInputTables = 4;

class DisplayPipeline {
 public:
  explicit DisplayPipeline(ImageStore& store) : store_(store) {}
  virtual ~DisplayPipeline() = default;

  virtual long Initialise();
  virtual long ResetTables();
  virtual long SetTable(const uint8_t* table, int channel, int mode);
  // Converts a tile's pixels into a 128 x 128 bottom-up DIB in the display header's layout.
  virtual long ConvertForScreen(const Tile& tile, uint8_t* dib) = 0;
  virtual long BeginPrint() { return TES_OK; }
  virtual long ConvertForPrint(const Tile& tile, uint8_t* dib) = 0;
  virtual long EndPrint() { return TES_OK; }
  // Colour-space conversion of pixel blocks of blockWidth x blockHeight pixels.
  virtual long BeginConversion(int target, const uint8_t* const* tables, int blockWidth, int blockHeight);
  virtual long ConvertBlock(const uint8_t* source, uint8_t* destination) = 0;
  // Ends a conversion; after a whole-image conversion the display transform is rebuilt for
  // the new colour space, after a thumbnail's it is left as it is.
  virtual long EndConversion(bool success, bool rebuildDisplay) { return TES_OK; }
  // Reports a stored pixel, either as stored or through the input tables.
  virtual void ReportPixel(const uint8_t* pixel, bool throughTable, tagTes_Pixel_Value* value) const;
  virtual const char* CurrentProfilePath() const { return nullptr; }

  // A channel's input table (the curve SetLUT loads with modes 0 and 1).
  const uint16_t* InputTable(int channel) const { return tables_[channel]; }
  // An 8-bit sample through a channel's input table.
  uint16_t Through8(int channel, uint8_t v) const { return tables_[channel][v]; }
  // A 16-bit sample through a channel's input table, interpolating between entries.
  uint16_t Through16(int channel, uint16_t v) const {
    const uint16_t* t = tables_[channel];
    const unsigned h = v >> 8, l = v & 0xFF;
    return static_cast<uint16_t>(static_cast<uint16_t>(t[h] * (256 - l)) + static_cast<uint16_t>(t[h + 1] * l));
  }

 protected:
  // Stores 256 bytes as entries 0..255 of a table, with entry 256 extrapolated.
  static void StoreTable(uint16_t* table, const uint8_t* bytes);
  static void Identity(uint16_t* table);

  ImageStore& store_;
  // Tables 0..3: input tables, one per image channel. Tables 4..6: the plain pipeline keeps
  // tables of other modes aside there; the colour-managed one its output tables.
  uint16_t tables_[7][kTableEntries] = {};
  int targetCode_ = -1;
  int targetWidth_ = 0;
  int targetPixels_ = 0;
};

// The pipeline of an object without colour management.
class PlainPipeline final : public DisplayPipeline {
 public:
  using DisplayPipeline::DisplayPipeline;
  long ResetTables() override;
  long SetTable(const uint8_t* table, int channel, int mode) override;
  long ConvertForScreen(const Tile& tile, uint8_t* dib) override;
  long ConvertForPrint(const Tile& tile, uint8_t* dib) override;
  long ConvertBlock(const uint8_t* source, uint8_t* destination) override;

  const uint8_t* OutputTable(int channel) const { return output_[channel]; }

 private:
  void RebuildOutput(int channel, int mode);
  uint8_t output_[3][4096] = {};
};

// Converts pixels between the plain colour spaces 0..3.
void ConvertPlainPixels(int from, int to, const uint8_t* source, uint8_t* destination, size_t pixels);

}  // namespace tessera
namespace tessera::detail {
struct ObjectState;
}
namespace tessera {
// Makes the pipeline for an object's kind. Colour-managed objects get theirs from the
// colour-management glue; status is set when none can be made.
std::unique_ptr<DisplayPipeline> MakePipeline(detail::ObjectState& object, long& status);

}  // namespace tessera
