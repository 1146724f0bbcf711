#include "core/color_managed_pipeline.h"
#include "core/display_pipeline.h"
#include "core/object_state.h"

namespace tessera {

std::unique_ptr<DisplayPipeline> MakePipeline(ObjectState& object, long& status) {
  status = TES_OK;
  std::unique_ptr<DisplayPipeline> pipeline;
  if (object.colorManaged())
    pipeline.reset(new (std::nothrow) ColorManagedPipeline(object.store, object.flags));
  else
    pipeline.reset(new (std::nothrow) PlainPipeline(object.store));
  if (!pipeline) status = TES_ERR_NO_MEMORY;
  return pipeline;
}

}  // namespace tessera
