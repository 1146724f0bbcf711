#include "formats/orientation.h"

namespace tessera {

tagTes_Transform_Struct ComposeOrientation(const tagTes_Transform_Struct& transform, int orientation) {
  struct Step {
    bool toggle;
    double angle;
  };
  static constexpr Step kSteps[9] = {{false, 0},  {false, 0},  {true, 0},   {false, 180}, {true, 180},
                                     {true, 270}, {false, 90}, {true, 90},  {false, 270}};
  const Step step = (orientation >= 1 && orientation <= 8) ? kSteps[orientation] : kSteps[1];
  const bool mirrored = transform.mirror != 0;
  tagTes_Transform_Struct out{};
  out.mirror = static_cast<uint16_t>(mirrored != step.toggle ? 1 : 0);
  out.angle = mirrored ? transform.angle - step.angle : transform.angle + step.angle;
  return out;
}

}  // namespace tessera
