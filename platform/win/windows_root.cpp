#include "win/windows_root.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace orvax::win {
namespace fs = std::filesystem;

namespace {

std::string Trimmed(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string WindowsDirectory() {
  if (const char* env = std::getenv("ORVAX_WINDOWS_DIR"); env != nullptr && *env != '\0')
    return Trimmed(env);
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  for (const fs::path& candidate : {exe.parent_path() / "windows", exe.parent_path().parent_path() / "windows"}) {
    if (fs::is_directory(candidate, ec)) return Trimmed(candidate.string());
  }
  return {};
}

std::string SystemDirectory() {
  const std::string root = WindowsDirectory();
  return root.empty() ? std::string() : root + "/SYSTEM";
}

}  // namespace orvax::win
