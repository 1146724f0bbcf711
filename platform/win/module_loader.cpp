#include "win/module_loader.h"

#include "win/named_event.h"
#include "win/window_messages.h"
#include "win/windows_root.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

namespace orvax::win {
namespace fs = std::filesystem;

namespace {

thread_local std::string t_lastError;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// Splits PATH at '/' and '\', dropping empty components and "." components.
std::vector<std::string> Components(std::string_view path) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : path) {
    if (c == '/' || c == '\\') {
      if (!current.empty() && current != ".") parts.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty() && current != ".") parts.push_back(current);
  return parts;
}

// Finds the entry of DIR whose name is NAME, exactly if such an entry exists, else ignoring
// case (the first such entry in name order, so that the choice does not depend on the order
// the file system lists them in).
std::optional<fs::path> FindEntry(const fs::path& dir, const std::string& name) {
  std::error_code ec;
  if (name == "..") return dir.parent_path();
  if (fs::exists(dir / name, ec)) return dir / name;
  std::vector<std::string> matches;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string entry = it->path().filename().string();
    if (EqualsIgnoringCase(entry, name)) matches.push_back(entry);
  }
  if (matches.empty()) return std::nullopt;
  std::sort(matches.begin(), matches.end());
  return dir / matches.front();
}

std::string ResolveUnder(const fs::path& base, const std::vector<std::string>& parts) {
  fs::path current = base;
  for (const std::string& part : parts) {
    std::optional<fs::path> next = FindEntry(current, part);
    if (!next) return {};
    current = *next;
  }
  std::error_code ec;
  return fs::is_regular_file(current, ec) ? current.string() : std::string();
}

bool HasDriveLetter(std::string_view path) {
  return path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
}

}  // namespace

std::string ResolveModulePath(std::string_view windowsPath) {
  // A drive letter names nothing on this platform.
  if (windowsPath.empty() || HasDriveLetter(windowsPath)) return {};
  std::vector<std::string> parts = Components(windowsPath);
  if (parts.empty()) return {};
  std::string& file = parts.back();
  if (file.back() == '.') {
    file.pop_back();
    if (file.empty()) return {};
  } else if (file.find('.') == std::string::npos) {
    file += ".DLL";
  }

  const bool absolute = windowsPath.front() == '/' || windowsPath.front() == '\\';
  if (absolute) return ResolveUnder("/", parts);

  std::vector<fs::path> bases;
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) bases.push_back(exe.parent_path());
  if (std::string system = SystemDirectory(); !system.empty()) bases.emplace_back(system);
  if (std::string root = WindowsDirectory(); !root.empty()) bases.emplace_back(root);
  if (fs::path cwd = fs::current_path(ec); !ec) bases.push_back(cwd);
  for (const fs::path& base : bases) {
    if (std::string found = ResolveUnder(base, parts); !found.empty()) return found;
  }
  return {};
}

HMODULE LoadLibrary(std::string_view path) {
  const std::string native = ResolveModulePath(path);
  if (native.empty()) {
    t_lastError = "module not found: " + std::string(path);
    return nullptr;
  }
  void* handle = dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    t_lastError = why != nullptr ? why : "dlopen failed";
    return nullptr;
  }
  // Like a DLL's process attach: a module built with the named events of this folder shares
  // the event namespace of the process that loads it instead of keeping its own.
  using AttachFn = void (*)(void*);
  if (auto attach = reinterpret_cast<AttachFn>(dlsym(handle, kAttachProcessExport))) attach(detail::ProcessEventTable());
  // Likewise for registered window messages and the windows they are posted to.
  if (auto attach = reinterpret_cast<AttachFn>(dlsym(handle, kAttachMessagesExport)))
    attach(detail::ProcessMessageTable());
  return reinterpret_cast<HMODULE>(handle);
}

void* GetProcAddress(HMODULE module, const char* name) {
  if (module == nullptr || name == nullptr) {
    t_lastError = "null module or name";
    return nullptr;
  }
  dlerror();
  void* address = dlsym(reinterpret_cast<void*>(module), name);
  if (address == nullptr) {
    const char* why = dlerror();
    t_lastError = why != nullptr ? why : std::string("symbol not found: ") + name;
  }
  return address;
}

bool FreeLibrary(HMODULE module) {
  if (module == nullptr) {
    t_lastError = "null module";
    return false;
  }
  if (dlclose(reinterpret_cast<void*>(module)) != 0) {
    const char* why = dlerror();
    t_lastError = why != nullptr ? why : "dlclose failed";
    return false;
  }
  return true;
}

std::string LastModuleError() { return t_lastError; }

}  // namespace orvax::win
