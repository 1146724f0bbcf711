// tessera-tool on real files: the demo chart, conversions, identification and dumps.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <dirent.h>
#include <unistd.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

// A folder of this test process's own, so that tests running side by side (ctest -j) and
// other builds' runs never share a file. It is removed when the process ends (the name is
// kept on the heap, so it outlives the static objects that end before the removal runs).
const std::string* g_scratch = nullptr;

std::string Scratch() {
  if (g_scratch == nullptr) {
    g_scratch = new std::string(testing::TempDir() + "tessera-tool-test-" + std::to_string(::getpid()) + "/");
    ::mkdir(g_scratch->c_str(), 0755);
    std::atexit([] { std::system(("rm -rf " + *g_scratch).c_str()); });
  }
  return *g_scratch;
}

struct ToolRun {
  int exit;
  std::string out, err;
};

// Runs a shell command line; its standard output and standard error are kept apart.
ToolRun Shell(const std::string& command) {
  const std::string errFile = Scratch() + "tool-stderr.txt";
  ToolRun run{-1, {}, {}};
  FILE* pipe = popen((command + " 2>" + errFile).c_str(), "r");
  if (pipe == nullptr) return run;
  char buf[512];
  while (fgets(buf, sizeof buf, pipe)) run.out += buf;
  const int status = pclose(pipe);
  run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream err(errFile);
  std::ostringstream text;
  text << err.rdbuf();
  run.err = text.str();
  return run;
}

ToolRun Tool(const std::string& args) { return Shell(std::string(TESSERA_TOOL) + " " + args); }

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(Tool, DemoConvertInfoDumpAndRenderAgree) {
  const std::string dir = Scratch();
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
  const std::string dir = Scratch();
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
  const std::string dir = Scratch();
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

// Runs a Python program with the peers (Pillow, tifffile, numpy) and answers its output.
std::string Python(const std::string& program) {
  const std::string file = Scratch() + "tool-peer.py";
  std::ofstream(file) << program;
  const ToolRun run = Shell("/usr/bin/python3 " + file);
  EXPECT_EQ(run.exit, 0) << run.err;
  return run.out;
}

// The chart as a 24-bit BMP, written by Pillow from the tool's own demo.
std::string MakeChart(const std::string& name, const std::string& size = "131x67") {
  const std::string dir = Scratch();
  EXPECT_EQ(Tool("demo " + dir + name + ".ppm --size " + size).exit, 0);
  Python("from PIL import Image\nImage.open('" + dir + name + ".ppm').save('" + dir + name + ".bmp')\n");
  return dir + name + ".bmp";
}

// Names in the folder that start with a dot: what a temporary file left behind looks like.
std::vector<std::string> HiddenFiles(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] == '.' && std::string(e->d_name) != "." && std::string(e->d_name) != "..")
        names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

TEST(Tool, AFailedConvertLeavesWhatWasThereByteForByte) {
  const std::string dir = Scratch() + "keep/";
  std::system(("rm -rf " + dir + " && mkdir -p " + dir).c_str());
  Python("from PIL import Image\n"
         "Image.new('RGB', (40, 30), (10, 120, 230)).save('" + dir + "photo.jpg', quality=90)\n"
         "Image.new('RGB', (20, 10), (1, 2, 3)).save('" + dir + "old.bmp')\n");
  std::ofstream(dir + "notes.txt") << "not an image";
  const std::string photo = Slurp(dir + "photo.jpg"), old = Slurp(dir + "old.bmp");
  // A truncated JPEG: the reader fails after the old file would have been truncated.
  std::ofstream(dir + "cut.jpg", std::ios::binary) << photo.substr(0, photo.size() / 2);
  const struct {
    const char* args;
    const char* target;
    const char* status;
  } cases[] = {
      {"photo.jpg photo.jpg --format jpeg --colorspace 3", "photo.jpg", "status=1015: "},  // the input itself
      {"notes.txt old.bmp --format bmp", "old.bmp", "status=1013: "},
      {"cut.jpg old.bmp --format bmp", "old.bmp", "status=1"},
      {"photo.jpg old.bmp --format tiff --colorspace 4", "old.bmp", "status="},  // CMYK into a TIFF named .bmp: fine
  };
  for (const auto& c : cases) {
    const std::string before = Slurp(dir + c.target);
    const std::string args = c.args;
    // Every file name is given with its folder.
    std::string line, word;
    std::istringstream words(args);
    while (words >> word) line += (word.find('.') != std::string::npos ? dir + word : word) + " ";
    const ToolRun run = Tool("convert " + line);
    if (std::string(c.args).find("--format tiff") != std::string::npos) {
      EXPECT_EQ(run.exit, 0) << run.out << run.err;  // a success replaces the file
      EXPECT_NE(Slurp(dir + c.target), before);
      std::ofstream(dir + c.target, std::ios::binary) << old;
      continue;
    }
    EXPECT_EQ(run.exit, 1) << c.args << "\n" << run.out << run.err;
    EXPECT_NE(run.out.find(c.status), std::string::npos) << c.args << ": " << run.out;
    EXPECT_EQ(Slurp(dir + c.target), before) << c.args;
    EXPECT_EQ(HiddenFiles(dir), std::vector<std::string>{}) << c.args << ": a temporary file was left";
  }
  EXPECT_EQ(Slurp(dir + "photo.jpg"), photo);
  // A failed convert to a new name leaves no file at all.
  EXPECT_EQ(Tool("convert " + dir + "notes.txt " + dir + "new.bmp --format bmp").exit, 1);
  struct stat st {};
  EXPECT_NE(::stat((dir + "new.bmp").c_str(), &st), 0);
  EXPECT_EQ(HiddenFiles(dir), std::vector<std::string>{});
}

TEST(Tool, WrittenFilesGetTheUsualPermissions) {
  const std::string chart = MakeChart("perm", "16x8");
  const std::string dir = Scratch();
  std::remove((dir + "perm-new.bmp").c_str());
  ASSERT_EQ(Shell("umask 027; " + std::string(TESSERA_TOOL) + " convert " + chart + " " + dir +
                "perm-new.bmp --format bmp").exit, 0);
  struct stat st {};
  ASSERT_EQ(::stat((dir + "perm-new.bmp").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u) << "a new file: 0666 less the umask";
  // A replaced file keeps its permissions.
  ASSERT_EQ(::chmod((dir + "perm-new.bmp").c_str(), 0604), 0);
  ASSERT_EQ(Tool("convert " + chart + " " + dir + "perm-new.bmp --format bmp --flip h").exit, 0);
  ASSERT_EQ(::stat((dir + "perm-new.bmp").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0604u);
  // A symbolic link is kept; the file it points to is replaced.
  std::remove((dir + "perm-link.bmp").c_str());
  ASSERT_EQ(::symlink((dir + "perm-new.bmp").c_str(), (dir + "perm-link.bmp").c_str()), 0);
  const std::string before = Slurp(dir + "perm-new.bmp");
  ASSERT_EQ(Tool("convert " + chart + " " + dir + "perm-link.bmp --format bmp --flip v").exit, 0);
  ASSERT_EQ(::lstat((dir + "perm-link.bmp").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_NE(Slurp(dir + "perm-new.bmp"), before);
  EXPECT_EQ(HiddenFiles(dir), std::vector<std::string>{});
}

TEST(Tool, SixteenBitImagesAreReducedForFormatsThatHoldEight) {
  const std::string chart = MakeChart("deep");
  const std::string dir = Scratch();
  const struct {
    const char* colorSpace;
    const char* note;
  } cases[] = {{"3", "reduced 48-bit RGB to 24-bit RGB"}, {"1", "reduced 16-bit grey to 8-bit grey"}};
  for (const auto& c : cases) {
    const std::string deep = dir + "deep" + c.colorSpace + ".tif";
    ASSERT_EQ(Tool("convert " + chart + " " + deep + " --format tiff --colorspace " + c.colorSpace).exit, 0);
    ToolRun run = Tool("convert " + deep + " " + dir + "shallow.bmp --format bmp");
    EXPECT_EQ(run.exit, 0) << run.out << run.err;
    EXPECT_NE(run.err.find(c.note), std::string::npos) << run.err;
    run = Tool("info " + dir + "shallow.bmp");
    EXPECT_NE(run.out.find(std::string("colorspace=") + (c.colorSpace[0] == '3' ? "2" : "0")), std::string::npos)
        << run.out;
    // The 8-bit chart widened to 16 bits and reduced again is the chart.
    ASSERT_EQ(Tool("dump " + dir + "shallow.bmp " + dir + "shallow.pnm").exit, 0);
    ASSERT_EQ(Tool("convert " + chart + " " + dir + "direct.bmp --format bmp --colorspace " +
                   (c.colorSpace[0] == '3' ? "2" : "0")).exit, 0);
    ASSERT_EQ(Tool("dump " + dir + "direct.bmp " + dir + "direct.pnm").exit, 0);
    EXPECT_EQ(Slurp(dir + "shallow.pnm"), Slurp(dir + "direct.pnm"));
    // Asked for explicitly, a colour space the format cannot hold is still refused.
    run = Tool("convert " + deep + " " + dir + "refused.jpg --format jpeg --colorspace " + c.colorSpace);
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.out.find("status=1015: this colour space cannot be stored"), std::string::npos) << run.out;
  }
}

TEST(Tool, DumpWritesCmykAsPamAndLabAsSixteenBitPpm) {
  const std::string chart = MakeChart("spaces", "24x10");
  const std::string dir = Scratch();
  ASSERT_EQ(Tool("convert " + chart + " " + dir + "cmyk.tif --format tiff --colorspace 4").exit, 0);
  ASSERT_EQ(Tool("convert " + chart + " " + dir + "lab.tif --format tiff --colorspace 5").exit, 0);
  ToolRun run = Tool("dump " + dir + "cmyk.tif " + dir + "cmyk.pam");
  ASSERT_EQ(run.exit, 0) << run.out;
  run = Tool("dump " + dir + "lab.tif " + dir + "lab.ppm");
  ASSERT_EQ(run.exit, 0) << run.out;
  // The samples are the file's own, as tifffile reads them.
  const std::string verdict = Python(
      "import tifffile, numpy as np\n"
      "def pnm(path):\n"
      "    data = open(path, 'rb').read()\n"
      "    if data.startswith(b'P7'):\n"
      "        head, body = data.split(b'ENDHDR\\n', 1)\n"
      "        f = dict(l.split(b' ', 1) for l in head.split(b'\\n')[1:] if b' ' in l)\n"
      "        return int(f[b'WIDTH']), int(f[b'HEIGHT']), int(f[b'DEPTH']), int(f[b'MAXVAL']), body\n"
      "    magic, w, h, m, body = data.split(maxsplit=4)\n"
      "    return int(w), int(h), 3, int(m), body\n"
      "for name, dtype in (('cmyk', '>u1'), ('lab', '>u2')):\n"
      "    w, h, d, m, body = pnm('" + dir + "' + name + ('.pam' if name == 'cmyk' else '.ppm'))\n"
      "    ref = tifffile.imread('" + dir + "' + name + '.tif')\n"
      "    got = np.frombuffer(body, dtype=dtype).reshape(h, w, d)\n"
      "    print(name, w, h, d, m, 'same' if np.array_equal(got, ref.reshape(h, w, d)) else 'different')\n");
  EXPECT_NE(verdict.find("cmyk 24 10 4 255 same"), std::string::npos) << verdict;
  EXPECT_NE(verdict.find("lab 24 10 3 65535 same"), std::string::npos) << verdict;
}

TEST(Tool, InfoGivesTheSizeAsReadBesideTheStoredSizeAndOrientation) {
  const std::string dir = Scratch();
  Python("from PIL import Image\n"
         "im = Image.new('RGB', (2, 1), (200, 0, 0))\n"
         "im.putpixel((1, 0), (0, 0, 200))\n"
         "exif = Image.Exif()\n"
         "exif[274] = 8\n"
         "im.save('" + dir + "turned.jpg', exif=exif, quality=95)\n");
  const ToolRun run = Tool("info " + dir + "turned.jpg");
  ASSERT_EQ(run.exit, 0) << run.out;
  for (const char* line : {"\nwidth=1\n", "\nheight=2\n", "\nstored_width=2\n", "\nstored_height=1\n",
                           "\norientation=8\n", "status=0: success\n"})
    EXPECT_NE(run.out.find(line), std::string::npos) << line << " in\n" << run.out;
  ASSERT_EQ(Tool("dump " + dir + "turned.jpg " + dir + "turned.ppm").exit, 0);
  EXPECT_EQ(Slurp(dir + "turned.ppm").substr(0, 7), "P6\n1 2\n");
}

// pages counts the images a TIFF's IFD chain reaches (the first is the one read); a
// single-image file and a JPEG have one.
TEST(Tool, InfoCountsTheImagesOfATiff) {
  const std::string dir = Scratch();
  Python("import numpy as np, tifffile\n"
         "from PIL import Image\n"
         "with tifffile.TiffWriter('" + dir + "three.tif') as t:\n"
         "    for v in (10, 20, 30):\n"
         "        t.write(np.full((4, 5), v, np.uint8), photometric='minisblack')\n"
         "tifffile.imwrite('" + dir + "one.tif', np.zeros((4, 5), np.uint8), photometric='minisblack')\n"
         "Image.new('RGB', (5, 4)).save('" + dir + "one.jpg')\n");
  const struct {
    const char* file;
    const char* pages;
  } cases[] = {{"three.tif", "\npages=3\n"}, {"one.tif", "\npages=1\n"}, {"one.jpg", "\npages=1\n"}};
  for (const auto& c : cases) {
    const ToolRun run = Tool("info " + dir + c.file);
    EXPECT_EQ(run.exit, 0) << c.file << "\n" << run.out;
    EXPECT_NE(run.out.find(c.pages), std::string::npos) << c.file << "\n" << run.out;
    EXPECT_NE(run.out.find("\nwidth=5\n"), std::string::npos) << c.file << "\n" << run.out;
  }
}

TEST(Tool, ArgumentErrorsGiveTheUsageLineAndExitTwo) {
  const std::string tessera = TESSERA_TOOL, kroma = KROMA_TOOL;
  const char* tesseraCases[] = {
      "convert a.bmp b.jpg --format jpeg --qualty 9",  // misspelled option
      "convert a.bmp b.jpg --format jpeg --quality x",  // malformed number
      "convert a.bmp b.jpg --format jpeg --quality",    // missing value
      "convert a.bmp b.jpg --format jpeg --quality 9",  // out of range
      "convert a.bmp b.jpg --format gif",
      "convert a.bmp b.jpg",                            // no format
      "convert a.bmp b.bmp c.bmp --format bmp",         // three files without --to
      "convert a.bmp b.bmp --format bmp -j 2",          // -j without --to
      "convert a.bmp --to out --format bmp -j zero",
      "dump a b --bogus",
      "info",
      "render a b --zoom 0:1",
      "demo x.ppm --size 3",
      "demo x.ppm --colorspace 9",
      "frobnicate",
      "",
  };
  for (const char* args : tesseraCases) {
    const ToolRun run = Shell(tessera + " " + args);
    EXPECT_EQ(run.exit, 2) << args;
    EXPECT_NE(run.err.find("usage: tessera-tool"), std::string::npos) << args << ": " << run.err;
    EXPECT_EQ(run.out.find("status="), std::string::npos) << args << ": nothing was tried";
  }
  const char* kromaCases[] = {
      "apply a.icc b.icc --intent abc --in rgb8 --out rgb8", "apply a.icc b.icc --intent 4 --in rgb8 --out rgb8",
      "apply a.icc b.icc --in rgb9 --out rgb8", "apply a.icc b.icc --in rgb8", "info", "info p.icc --bogus",
      "frobnicate"};
  for (const char* args : kromaCases) {
    const ToolRun run = Shell(kroma + " " + args + " </dev/null");
    EXPECT_EQ(run.exit, 2) << args;
    EXPECT_NE(run.err.find("usage: kroma-tool"), std::string::npos) << args << ": " << run.err;
  }
  for (const std::string& tool : {tessera, kroma}) {
    EXPECT_EQ(Shell(tool + " --help").exit, 0);
    const ToolRun version = Shell(tool + " --version");
    EXPECT_EQ(version.exit, 0);
    EXPECT_NE(version.out.find(" 2.0"), std::string::npos) << version.out;
  }
}

TEST(Tool, KromaToolLinesEndAndItsStatusIsInWords) {
  const char* root = std::getenv("ORVAX_WINDOWS_DIR");
  ASSERT_NE(root, nullptr);
  ToolRun run = Shell(std::string(KROMA_TOOL) + " info " + root + "/SYSTEM/COLOR/OXsRGB.icm");
  EXPECT_EQ(run.exit, 0);
  EXPECT_NE(run.out.find("\nclass=mntr\n"), std::string::npos) << run.out;
  ASSERT_FALSE(run.out.empty());
  EXPECT_EQ(run.out.back(), '\n');
  EXPECT_NE(run.out.find("status=0: success\n"), std::string::npos) << run.out;
  run = Shell(std::string(KROMA_TOOL) + " info /no/such/profile.icc");
  EXPECT_EQ(run.exit, 1);
  EXPECT_EQ(run.out, "status=3000: the profile cannot be opened or its header read\n");
}

TEST(Tool, BatchConvertsEveryFileAndReportsEachFailure) {
  const std::string dir = Scratch() + "batch/";
  std::system(("rm -rf " + dir + " && mkdir -p " + dir + "a " + dir + "b").c_str());
  std::vector<std::string> inputs;
  for (const char* name : {"one", "two", "three"}) inputs.push_back(MakeChart(std::string("batch-") + name, "40x20"));
  std::system(("cp " + inputs[0] + " " + dir + "a/same.bmp && cp " + inputs[1] + " " + dir + "b/same.bmp").c_str());
  std::ofstream(dir + "broken.bmp") << "BM but nothing else";
  std::string args;
  for (const std::string& in : inputs) args += in + " ";
  args += dir + "a/same.bmp " + dir + "broken.bmp " + dir + "b/same.bmp";
  const ToolRun run = Tool("convert " + args + " --to " + dir + "out --format jpeg -j 2 --quality 4");
  EXPECT_EQ(run.exit, 1) << run.out << run.err;
  EXPECT_NE(run.out.find("converted 4 of 6 files into " + dir + "out, 2 failed"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find(dir + "broken.bmp: status=1"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(dir + "b/same.bmp: not converted: it would be written to " + dir + "out/same.jpg"),
            std::string::npos)
      << run.err;
  // Each output is what the single form writes.
  for (const char* name : {"one", "two", "three"}) {
    const std::string single = dir + name + "-single.jpg";
    ASSERT_EQ(Tool("convert " + Scratch() + "batch-" + name + ".bmp " + single + " --format jpeg --quality 4")
                  .exit,
              0);
    ASSERT_EQ(Tool("dump " + single + " " + single + ".ppm").exit, 0);
    ASSERT_EQ(Tool("dump " + dir + "out/batch-" + name + ".jpg " + dir + name + "-batch.ppm").exit, 0);
    EXPECT_EQ(Slurp(dir + name + "-batch.ppm"), Slurp(single + ".ppm")) << name;
  }
  ASSERT_EQ(Tool("dump " + dir + "out/same.jpg " + dir + "same.ppm").exit, 0);
  EXPECT_EQ(Slurp(dir + "same.ppm"), Slurp(dir + "one-single.jpg.ppm")) << "the first of two same names wins";
  EXPECT_EQ(HiddenFiles(dir + "out"), std::vector<std::string>{});
}

}  // namespace
