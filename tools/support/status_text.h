// What each status code of the two libraries means, in words, for the command-line tools:
// every failure they report reads "status=CODE: reason". One table per library, since the
// two number their codes independently (1000 is "no image" in Tessera and "no memory" in
// Kroma).
#pragma once

#include <string>

namespace orvax::tools {

// The meaning of a Tessera status (tessera/tessera.h), or a general text for the group of
// codes it falls in when it has no entry of its own. 0 is "success".
const char* TesseraStatusText(long status);

// The meaning of a Kroma status (kroma.h). 0 is "success".
const char* KromaStatusText(long status);

// "status=CODE: reason", the line every tool prints for an outcome.
std::string TesseraStatusLine(long status);
std::string KromaStatusLine(long status);

}  // namespace orvax::tools
