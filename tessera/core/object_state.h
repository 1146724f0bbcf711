// Everything one TesseraClass object holds. The facade delegates to the components here.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/display_pipeline.h"
#include "core/histogram.h"
#include "core/image_store.h"
#include "tessera/tessera.h"
#include "win/gdi.h"

namespace tessera::detail {

struct ObjectState {
  explicit ObjectState(short objectFlags)
      : flags(objectFlags), store((objectFlags & TES_FLAG_COLOR_MANAGED) != 0) {}

  bool colorManaged() const { return (flags & TES_FLAG_COLOR_MANAGED) != 0; }
  // The colour-matching engine for the display, print or conversion transforms.
  int engine(int flagBit) const { return (flags & flagBit) ? 1 : 0; }

  short flags;
  tessera::ImageStore store;
  std::unique_ptr<tessera::DisplayPipeline> pipeline;
  std::unique_ptr<orvax::win::BITMAPINFO256> header;
  tagTes_Image_Info info{};
  tessera::Histograms histograms;
  std::vector<uint8_t> profileData;
  bool hasProfileData = false;
};

}  // namespace tessera::detail

namespace tessera {
using detail::ObjectState;

// Empties the object: pixels, grid, pipeline and header go; metadata, histogram arrays and
// profile data stay.
void ClearObject(ObjectState& object);

// Fills the display bitmap header for the object's channel count and resolution.
void ShapeDisplayHeader(ObjectState& object);

}  // namespace tessera
