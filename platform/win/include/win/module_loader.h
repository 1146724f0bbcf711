// Module loading in the manner of LoadLibrary, GetProcAddress and FreeLibrary, over
// dlopen/dlsym/dlclose. Module paths may be written Windows-style: backslashes become '/',
// and each component is matched case-insensitively against what is on disk, as Windows
// would. Relative paths are looked up beside the running program, then in the system
// directory, then in the Windows root, then in the current directory.
#pragma once

#include <string>
#include <string_view>

namespace orvax::win {

// Opaque handle of a loaded module; null means failure.
using HMODULE = struct ModuleHandle*;

// Turns a Windows-style module path into an existing native path, or returns an empty
// string when no file matches. A final component without an extension gets ".DLL", as
// LoadLibrary does; a trailing '.' means "no extension" and is dropped.
std::string ResolveModulePath(std::string_view windowsPath);

// Loads the module named by PATH (see ResolveModulePath). Returns null when the file is not
// found or cannot be loaded; LastModuleError() then says why. Loading the same file again
// returns the same module with its use count raised.
HMODULE LoadLibrary(std::string_view path);

// The address of the exported symbol NAME of MODULE, or null.
void* GetProcAddress(HMODULE module, const char* name);

// Lowers the module's use count and unloads it at zero. False for a null handle or when
// the unload fails.
bool FreeLibrary(HMODULE module);

// Text describing the last failure of LoadLibrary, GetProcAddress or FreeLibrary on this
// thread.
std::string LastModuleError();

}  // namespace orvax::win
