// tessera-tool's commands, called by main() once the arguments are parsed and checked.
// Each prints its outcome as "status=CODE: reason" and answers the exit status (0, or 1
// when the library reported a failure).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tessera/tessera.h"

namespace tool {

// The flags of a colour-managed object, as the application makes them.
constexpr short kManagedFlags =
    TES_FLAG_COLOR_MANAGED | TES_FLAG_DISPLAY_ENGINE | TES_FLAG_PRINT_ENGINE | TES_FLAG_CONVERT_ENGINE;

// The profiles the library starts with; empty ones are looked up in the Windows root's
// colour folder (or Debian's own copies).
struct Profiles {
  std::string monitor, printer, cmyk;
};

// Starts the library for the lifetime of the object (the library keeps process-wide state,
// so one a process).
class LibrarySession {
 public:
  explicit LibrarySession(const Profiles& profiles);
  ~LibrarySession();
  LibrarySession(const LibrarySession&) = delete;
  LibrarySession& operator=(const LibrarySession&) = delete;
  // What starting the library answered (0 when it started).
  long status() const { return status_; }

 private:
  long status_ = 0;
  std::string color_, monitor_, printer_, cmyk_;
};

// Mirror and turn, applied in that order.
struct Transforms {
  std::string flip;             // "", h, v or hv
  std::optional<double> rotate;  // clockwise degrees
};

struct ConvertOptions {
  uint32_t format = 0;  // file-type code
  int quality = 3;
  Transforms transforms;
  std::optional<int> colorSpace;
  bool thumbnail = false;
  bool managed = false;  // --cms
};

// The file-type code for a --format name, or 0; and the file-name extension for a code.
uint32_t FormatCode(const std::string& name);
const char* FormatExtension(uint32_t code);

// Runs write(temporary) for a temporary file in the folder of path and, only when it
// answers 0, moves the temporary file over path. On any failure path is left as it was
// (or absent) and the temporary file is removed. The new file keeps the permissions of the
// one it replaces, or gets 0666 less the umask. When path is a symbolic link, the file it
// points to is replaced and the link kept.
long WriteAtomically(const std::string& path, const std::function<long(const std::string& temporary)>& write);

// Reads in, applies the options and saves out (atomically). Notes for the user (such as
// the reduction to 8 bits a channel) are appended to notes. quiet: no progress bar.
long ConvertFile(const std::string& in, const std::string& out, const ConvertOptions& options,
                 std::vector<std::string>& notes, bool quiet);

int CommandInfo(const std::string& file);
int CommandConvert(const std::string& in, const std::string& out, const ConvertOptions& options);
int CommandDump(const std::string& in, const std::string& out);
int CommandRender(const std::string& in, const std::string& out, int zoomNum, int zoomDen, bool managed);
int CommandDemo(const std::string& out, int width, int height, int colorSpace, const std::string& pattern,
                const Transforms& transforms, int zoomNum, int zoomDen);

// The batch form: converts every input into folder as NAME.EXT of the format, in up to
// jobs worker processes (each with its own library session), with one progress bar for
// the batch, a line for each failed file and a summary. Answers 0 when every file was
// converted, 1 otherwise.
int CommandConvertBatch(const std::vector<std::string>& inputs, const std::string& folder,
                        const ConvertOptions& options, const Profiles& profiles, int jobs);

// Fills an object with a synthetic test image of the given colour space: a gradient or a
// chart of colour bars, grey steps and a frame.
long MakeTestImage(TesseraClass& image, int width, int height, int colorSpace, const std::string& pattern);

// The progress callback of the file operations: a bar on standard error when it is a
// terminal. `user` is the operation's label (a C string).
long ProgressBar(long total, long done, void* user);

// Writes the stored pixels as PGM (one channel), PPM (three: RGB, Lab, LCh) or PAM (CMYK),
// 16-bit samples big-endian with maxval 65535 as PNM requires.
long DumpPnm(const TesseraClass& image, const std::string& path);

}  // namespace tool
