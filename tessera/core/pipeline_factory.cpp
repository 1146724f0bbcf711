#include "core/display_pipeline.h"
#include "core/object_state.h"

namespace tessera {

std::unique_ptr<DisplayPipeline> MakePipeline(ObjectState& object, long& status) {
  status = TES_OK;
  if (object.colorManaged()) {
    // Colour-managed drawing needs the colour-matching glue, which this build lacks.
    status = TES_ERR_CM_INIT;
    return nullptr;
  }
  std::unique_ptr<DisplayPipeline> pipeline(new (std::nothrow) PlainPipeline(object.store));
  if (!pipeline) status = TES_ERR_NO_MEMORY;
  return pipeline;
}

}  // namespace tessera
