// Per-object histograms, counted once over the tiles and kept until the pixels or the
// tables change.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "tessera/tessera.h"

namespace tessera {

class ImageStore;
class DisplayPipeline;

class Histograms {
 public:
  void InvalidateRaw() { rawValid_ = false; }
  void InvalidateThroughTable() { tableValid_ = false; }

  // Copies one array of the raw or through-table set, counting first when needed.
  long Get(const ImageStore& store, const DisplayPipeline& pipeline, _HistTable* out, unsigned index,
           bool throughTable);

 private:
  using Counts = std::array<uint32_t, 256>;
  void Count(const ImageStore& store, const DisplayPipeline& pipeline, bool raw, bool table);

  std::vector<Counts> raw_;    // [0] channel mean, [1..n] channels
  std::vector<Counts> table_;  // the same after the input tables
  bool rawValid_ = false;
  bool tableValid_ = false;
};

}  // namespace tessera
