// Drawing an object's tiles into a device context, for the screen and for the printer.
#pragma once

#include "core/object_state.h"

namespace tessera {

long DisplayObject(const ObjectState& object, const tagTes_Output_Info& info);
long PrintObject(const ObjectState& object, const tagTes_Output_Info& info);
tagTes_Rect OutputRect(const ObjectState& object, const tagTes_Rect& imageRect, const tagTes_Rect& placement);

}  // namespace tessera
