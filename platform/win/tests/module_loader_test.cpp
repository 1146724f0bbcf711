#include "win/module_loader.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace orvax::win;

namespace {

// A Windows root in a temporary folder, with mixed-case folders as a Windows install has them.
class ModuleLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("orvax-loader-" + std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "TWAIN_32" / "Orvax" / "Orvax Scan 2.0");
    fs::create_directories(root_ / "SYSTEM");
    Touch(root_ / "TWAIN_32" / "Orvax" / "Orvax Scan 2.0" / "Plain.dll");
    Touch(root_ / "SYSTEM" / "SysMod.DLL");
    Touch(root_ / "NoExt");
    const char* old = std::getenv("ORVAX_WINDOWS_DIR");
    if (old != nullptr) saved_ = old;
    setenv("ORVAX_WINDOWS_DIR", root_.c_str(), 1);
  }
  void TearDown() override {
    if (saved_.empty())
      unsetenv("ORVAX_WINDOWS_DIR");
    else
      setenv("ORVAX_WINDOWS_DIR", saved_.c_str(), 1);
    fs::remove_all(root_);
  }
  static void Touch(const fs::path& p) { std::ofstream(p) << "x"; }

  fs::path root_;
  std::string saved_;
};

TEST_F(ModuleLoaderTest, ResolvesWindowsStylePaths) {
  const std::string plain = (root_ / "TWAIN_32" / "Orvax" / "Orvax Scan 2.0" / "Plain.dll").string();
  struct Case {
    std::string path;
    std::string expected;
  } cases[] = {
      // absolute, with backslashes and every component in another case
      {root_.string() + "\\twain_32\\ORVAX\\ORvax Scan 2.0\\PLAIN.DLL", plain},
      // relative to the Windows root
      {"TWAIN_32\\ORVAX\\orvax scan 2.0\\plain.dll", plain},
      {"TWAIN_32/Orvax/./Orvax Scan 2.0//Plain.dll", plain},
      // without an extension ".DLL" is added; found in the system directory
      {"sysmod", (root_ / "SYSTEM" / "SysMod.DLL").string()},
      // a trailing dot means "no extension"
      {"noext.", (root_ / "NoExt").string()},
      {"noext", ""},
      {"TWAIN_32\\ORVAX\\missing.dll", ""},
      {"TWAIN_32\\ORVAX", ""},  // a folder is not a module
      {"C:\\WINDOWS\\plain.dll", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ResolveModulePath(c.path), c.expected) << c.path;
}

TEST_F(ModuleLoaderTest, PrefersTheExactNameOverAnotherCase) {
  fs::create_directories(root_ / "dup");
  Touch(root_ / "dup" / "A.DLL");
  Touch(root_ / "dup" / "a.dll");
  EXPECT_EQ(ResolveModulePath("dup\\a.dll"), (root_ / "dup" / "a.dll").string());
  EXPECT_EQ(ResolveModulePath("dup\\A.DLL"), (root_ / "dup" / "A.DLL").string());
  EXPECT_EQ(ResolveModulePath("dup\\a.Dll"), (root_ / "dup" / "A.DLL").string());
}

TEST_F(ModuleLoaderTest, LoadsFindsAndFreesARealModule) {
  // The C math library stands in for a module: link it into the root under a Windows name.
  Dl_info info{};
  ASSERT_NE(dladdr(reinterpret_cast<void*>(static_cast<double (*)(double)>(&std::cos)), &info), 0);
  ASSERT_NE(info.dli_fname, nullptr);
  fs::create_symlink(fs::canonical(info.dli_fname), root_ / "TWAIN_32" / "Orvax" / "Math.DLL");

  HMODULE module = LoadLibrary("twain_32\\orvax\\MATH");
  ASSERT_NE(module, nullptr) << LastModuleError();
  auto cosine = reinterpret_cast<double (*)(double)>(GetProcAddress(module, "cos"));
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
  EXPECT_FALSE(LastModuleError().empty());
  EXPECT_TRUE(FreeLibrary(module));
}

TEST_F(ModuleLoaderTest, FailuresAreReported) {
  EXPECT_EQ(LoadLibrary("TWAIN_32\\ORVAX\\absent.dll"), nullptr);
  EXPECT_NE(LastModuleError().find("absent.dll"), std::string::npos);
  // A file that exists but is no module.
  EXPECT_EQ(LoadLibrary("TWAIN_32\\ORVAX\\ORVAX SCAN 2.0\\plain.dll"), nullptr);
  EXPECT_FALSE(LastModuleError().empty());
  EXPECT_EQ(GetProcAddress(nullptr, "cos"), nullptr);
  EXPECT_FALSE(FreeLibrary(nullptr));
}

}  // namespace
