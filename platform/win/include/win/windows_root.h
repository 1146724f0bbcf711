// The "Windows root": the folder tree that stands in for the Windows directory on this
// platform. Its SYSTEM folder is the system directory, so colour profiles live in
// SYSTEM/COLOR and TWAIN data sources under TWAIN_32.
#pragma once

#include <string>

namespace orvax::win {

// The Windows root: $ORVAX_WINDOWS_DIR when set, else a folder named "windows" beside the
// running program or one level above it (the build tree keeps programs in bin/ and the root
// in windows/). Returned without a trailing separator; empty when none is found.
std::string WindowsDirectory();

// WindowsDirectory() + "/SYSTEM", the stand-in for GetSystemDirectoryA.
std::string SystemDirectory();

}  // namespace orvax::win
