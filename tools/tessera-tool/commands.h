// tessera-tool's commands. Each returns the status of the failing library call, or 0.
#pragma once

#include <string>
#include <vector>

#include "tessera/tessera.h"

namespace tool {

using Args = std::vector<std::string>;

// Fills an object with a synthetic test image of the given colour space: a gradient or a
// chart of colour bars, grey steps and a frame.
long MakeTestImage(TesseraClass& image, int width, int height, int colorSpace, const std::string& pattern);

// Draws the object through Display into a memory context of the placement's size, at the
// zoom numerator/denominator, and writes it as a binary PPM.
long RenderToPpm(const TesseraClass& image, const std::string& path, int zoomNum, int zoomDen);

// Applies --rotate DEG and --flip h|v|hv to an object.
long ApplyTransforms(TesseraClass& image, const Args& args);

int CommandDemo(const Args& args);
int CommandRender(const Args& args);

// Option lookup: the value after --name, or the fallback.
std::string Option(const Args& args, const std::string& name, const std::string& fallback = "");
bool HasFlag(const Args& args, const std::string& name);

}  // namespace tool
