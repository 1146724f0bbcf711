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
int CommandInfo(const Args& args);
int CommandConvert(const Args& args);
int CommandDump(const Args& args);
int CommandRender(const Args& args);

// The progress callback of the file operations: a bar on standard error when it is a
// terminal. `user` is the operation's label (a C string).
long ProgressBar(long total, long done, void* user);

// Writes the stored pixels as PGM (one channel), PPM (three) or PAM (four), 16-bit samples
// big-endian with maxval 65535 as PNM requires.
long DumpPnm(const TesseraClass& image, const std::string& path);

// Option lookup: the value after --name, or the fallback.
std::string Option(const Args& args, const std::string& name, const std::string& fallback = "");
bool HasFlag(const Args& args, const std::string& name);

}  // namespace tool
