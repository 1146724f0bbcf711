// Writing a file in place of another, as ReplaceFile does on Windows: the data go into a new
// file beside the target, and the name moves over the target only once they are complete.
#pragma once

#include <sys/types.h>

namespace orvax::win {

// The permissions the new file takes: those of the regular file at PATH, or, where there is
// none, those of a newly created file (0666 less the umask).
mode_t ReplacementMode(const char* path);

// Moves the complete file TEMPORARY over TARGET once its data are on the disk. Returns 0, or
// the errno of the step that failed (TEMPORARY is then left for the caller to remove).
int CommitReplacement(const char* temporary, const char* target);

}  // namespace orvax::win
