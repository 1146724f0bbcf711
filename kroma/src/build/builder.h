// Building the grid transform of one engine from a source and a destination profile side.
#pragma once

#include "engine/engine_state.h"
#include "profile/icc_profile.h"

namespace kroma {

// Fills st (whose engine is already set) from the two sides. False when the pair cannot be
// built; st.status is 4 when memory ran out.
bool BuildTransform(const ProfileSide& src, const ProfileSide& dst, bool absolute,
                    KromaEngineState& st);

}  // namespace kroma
