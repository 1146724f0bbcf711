// tessera-tool on real files: the demo chart, conversions, identification and dumps.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct ToolRun {
  int exit;
  std::string out;
};

ToolRun Tool(const std::string& args) {
  const std::string command = std::string(TESSERA_TOOL) + " " + args + " 2>/dev/null";
  ToolRun run{-1, {}};
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buf[512];
  while (fgets(buf, sizeof buf, pipe)) run.out += buf;
  const int status = pclose(pipe);
  run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(Tool, DemoConvertInfoDumpAndRenderAgree) {
  const std::string dir = testing::TempDir();
  ASSERT_EQ(Tool("demo " + dir + "chart.ppm --size 131x67 --zoom 1:1").exit, 0);
  // The chart is drawn 1:1 with gamma 1, so rendering it gives the stored pixels back.
  const std::string chart = Slurp(dir + "chart.ppm");
  ASSERT_GT(chart.size(), 131u * 67 * 3);

  // A BMP of the chart, made by the tool from a BMP written by Pillow from the PPM.
  ASSERT_EQ(std::system(("/usr/bin/python3 -c \"from PIL import Image; Image.open('" + dir +
                         "chart.ppm').save('" + dir + "chart.bmp')\"")
                            .c_str()),
            0);
  ToolRun info = Tool("info " + dir + "chart.bmp");
  EXPECT_EQ(info.exit, 0);
  EXPECT_NE(info.out.find("width=131"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("height=67"), std::string::npos);
  EXPECT_NE(info.out.find("status=0"), std::string::npos);

  ASSERT_EQ(Tool("convert " + dir + "chart.bmp " + dir + "turned.bmp --format bmp --rotate 90").exit, 0);
  info = Tool("info " + dir + "turned.bmp");
  EXPECT_NE(info.out.find("width=67"), std::string::npos) << info.out;
  ASSERT_EQ(Tool("dump " + dir + "chart.bmp " + dir + "dumped.ppm").exit, 0);
  EXPECT_EQ(Slurp(dir + "dumped.ppm"), chart);
  ASSERT_EQ(Tool("render " + dir + "chart.bmp " + dir + "rendered.ppm").exit, 0);
  EXPECT_EQ(Slurp(dir + "rendered.ppm"), chart);
}

TEST(Tool, ColourManagedRenderingMatchesPlainOnAnSrgbMonitor) {
  const std::string dir = testing::TempDir();
  const char* root = std::getenv("ORVAX_WINDOWS_DIR");
  ASSERT_NE(root, nullptr);
  ASSERT_EQ(Tool("demo " + dir + "cms.ppm --size 40x30 --pattern gradient").exit, 0);
  ASSERT_EQ(std::system(("/usr/bin/python3 -c \"from PIL import Image; Image.open('" + dir + "cms.ppm').save('" + dir +
                         "cms.bmp')\"")
                            .c_str()),
            0);
  const std::string srgb = std::string(root) + "/SYSTEM/COLOR/OXsRGB.icm";
  ASSERT_EQ(Tool("render " + dir + "cms.bmp " + dir + "managed.ppm --cms --monitor " + srgb).exit, 0);
  const std::string plain = Slurp(dir + "cms.ppm"), managed = Slurp(dir + "managed.ppm");
  ASSERT_EQ(plain.size(), managed.size());
  int worst = 0;
  for (size_t i = 15; i < plain.size(); ++i)  // past the header
    worst = std::max(worst, std::abs(int(uint8_t(plain[i])) - int(uint8_t(managed[i]))));
  EXPECT_LE(worst, 2);
}

TEST(Tool, FailuresPrintTheirStatusAndExitNonZero) {
  const std::string dir = testing::TempDir();
  std::ofstream(dir + "not-an-image.txt") << "hello";
  ToolRun run = Tool("info " + dir + "not-an-image.txt");
  EXPECT_NE(run.exit, 0);
  EXPECT_NE(run.out.find("status=1013"), std::string::npos) << run.out;
  run = Tool("info " + dir + "missing-file.bmp");
  EXPECT_NE(run.exit, 0);
  EXPECT_NE(run.out.find("status=1100"), std::string::npos) << run.out;
  EXPECT_NE(Tool("no-such-command").exit, 0);
  EXPECT_EQ(Tool("convert --help").exit, 0);
}

}  // namespace
