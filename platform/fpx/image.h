// The inside of an FPXImageHandle: an image open for reading or one being written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "fpx_format.h"
#include "fpxlib.h"
#include "jpeg_tiles.h"

typedef struct _GsfInput GsfInput;
typedef struct _GsfInfile GsfInfile;
typedef struct _GsfOutput GsfOutput;
typedef struct _GsfOutfile GsfOutfile;

class PFlashPixImageView {
 public:
  enum class Mode { kRead, kWrite };
  explicit PFlashPixImageView(Mode mode) : mode_(mode) {}
  virtual ~PFlashPixImageView() = default;
  Mode mode() const { return mode_; }

 private:
  Mode mode_;
};

namespace fpx {

struct TileEntry {
  uint32_t offset = 0;
  uint32_t size = 0;
  uint32_t compression = 0;
  uint32_t subtype = 0;
};

// Dots per inch from dots per `unit`, and back.
double UnitsPerInch(FPXResolutionUnit unit);

class ReadImage final : public PFlashPixImageView {
 public:
  ReadImage() : PFlashPixImageView(Mode::kRead) {}
  ~ReadImage() override;

  // Opens the file and checks every structure the reading relies on.
  FPXStatus Open(const char* fileName);
  FPXStatus ReadRectangle(unsigned long x0, unsigned long y0, unsigned long x1, unsigned long y1,
                          unsigned long resolution, const FPXImageDesc& desc);
  FPXStatus CompressionInfo(unsigned long x, unsigned long y, FPXTileCompressionInfo* info) const;
  void ReleaseCache();

  struct Level {
    uint32_t width = 0, height = 0, tileWidth = 0, tileHeight = 0, across = 0, down = 0;
    std::vector<TileEntry> tiles;
    GsfInput* data = nullptr;
    uint64_t dataSize = 0;  // bytes after the stream header
  };

  uint32_t width = 0, height = 0, channels = 0;
  FPXColorspace colorspace{};
  std::vector<uint32_t> channelColors;  // as stored
  double dotsPerInch = 72.0;
  std::vector<Level> levels;  // by resolution number: 0 the smallest

 private:
  FPXStatus ReadLevel(unsigned index, Level& level);
  FPXStatus ReadTile(const Level& level, uint32_t index, uint8_t* out, int validWidth, int validHeight);

  GsfInput* source_ = nullptr;
  GsfInfile* root_ = nullptr;
  GsfInfile* store_ = nullptr;  // the image object: the store, or the root itself
  PropertySet contents_;
  std::unique_ptr<JpegTileDecoder> decoder_;
  std::vector<uint8_t> compressed_;
  std::vector<uint8_t> tile_;
};

class WriteImage final : public PFlashPixImageView {
 public:
  WriteImage() : PFlashPixImageView(Mode::kWrite) {}
  ~WriteImage() override;

  FPXStatus Create(const char* fileName, uint32_t width, uint32_t height, const FPXColorspace& colorspace,
                   const FPXBackground& background, FPXCompressionOption compression);
  FPXStatus SetQuality(unsigned quality);
  FPXStatus WriteRows(unsigned long x0, unsigned long y0, unsigned long x1, unsigned long y1,
                      const FPXImageDesc& desc);
  // Finishes the file; FPX_FILE_WRITE_ERROR keeps the failing write's errno.
  FPXStatus Finish();

  double dotsPerInch = 72.0;

 private:
  struct Level {
    uint32_t width = 0, height = 0, across = 0;
    std::vector<uint8_t> band;  // 64 rows of across * 64 pixels
    uint32_t bandRows = 0;
    std::vector<uint8_t> pending;   // the even row waiting for its pair
    std::vector<uint8_t> incoming;  // the row reduced from the level above
    bool hasPending = false;
    std::vector<TileEntry> tiles;
    std::vector<uint8_t> data;  // tile data of the reduced levels, kept until the end
    uint64_t dataSize = 0;
  };

  bool PushRow(size_t level, const uint8_t* row);
  bool Reduce(size_t level, const uint8_t* a, const uint8_t* b);
  bool FlushBand(size_t level);
  bool FinishPyramid();
  bool StoreLevel(size_t level);
  bool StoreProperties();
  FPXStatus OpenTarget(const char* fileName);
  // Records the first failure (its status, and errno for a write error); always false.
  bool Fail(FPXStatus status = FPX_FILE_WRITE_ERROR);
  bool WriteTo(GsfOutput* out, const uint8_t* data, size_t size);
  void CloseAll();

  std::string path_, temporary_;  // the target, and the name it is written under until done
  bool removeOnFailure_ = false;
  Clsid imageId_{};
  FILE* file_ = nullptr;
  GsfOutput* sink_ = nullptr;
  GsfOutfile* root_ = nullptr;
  GsfOutfile* store_ = nullptr;
  GsfOutfile* fullStorage_ = nullptr;
  GsfOutput* fullData_ = nullptr;

  uint32_t width_ = 0, height_ = 0, channels_ = 0;
  std::vector<uint32_t> colors_;
  uint8_t background_[4] = {};
  FPXCompressionOption compression_ = NONE;
  unsigned quality_ = 75;
  std::vector<Level> levels_;  // 0 the full size
  uint32_t rowsWritten_ = 0;
  std::unique_ptr<JpegTileEncoder> encoder_;
  std::vector<uint8_t> tileScratch_, row_, encoded_;
  std::vector<size_t> tileEnds_;  // where each tile of encoded_ ends
  std::vector<uint16_t> sums_;    // a pair of rows added, while they are reduced
  bool failed_ = false;
  FPXStatus failure_ = FPX_OK;
  bool finished_ = false;
  int errno_ = 0;
};

}  // namespace fpx
