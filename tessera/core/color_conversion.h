// Converting a whole object to another colour space, tile by tile, through its pipeline.
#pragma once

#include "core/object_state.h"

namespace tessera {

long ChangeColorSpace(ObjectState& object, int code, const unsigned char* const* tables);

}  // namespace tessera
