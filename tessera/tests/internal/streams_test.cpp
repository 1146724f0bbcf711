// The buffered input and output streams: contents across buffer boundaries, positions,
// and the code each failure keeps.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <regex>
#include <vector>

#include "fixtures.h"
#include "formats/streams.h"

using namespace fixtures;
using tessera::InputStream;
using tessera::kStreamFailed;
using tessera::OutputStream;

namespace {

Bytes Numbered(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 131 + (i >> 8));
  return b;
}

TEST(InputStream, ReadsEveryByteWhateverTheRequestSizes) {
  ScratchDir dir;
  const Bytes data = Numbered(100000);
  WriteBytes(dir.Path("in"), data);
  // Requests mixing single bytes, sizes around the 32 KiB buffer and large ones.
  const std::vector<std::vector<long>> plans = {
      {1, 32767, 1, 32768, 34463}, {40000, 1, 59999}, {32768, 32768, 32768, 1696}, {0, 3, 99997}};
  for (const auto& plan : plans) {
    InputStream in(dir.Path("in").c_str());
    ASSERT_EQ(in.Open(), 0);
    Bytes got;
    for (const long count : plan) {
      Bytes part(static_cast<size_t>(count));
      if (count == 1) {
        const long b = in.ReadByte();
        ASSERT_GE(b, 0);
        part[0] = static_cast<uint8_t>(b);
      } else {
        ASSERT_EQ(in.Read(part.data(), count), count);
      }
      got.insert(got.end(), part.begin(), part.end());
      ASSERT_EQ(in.Tell(), static_cast<long>(got.size()));
    }
    EXPECT_EQ(got, data);
    EXPECT_EQ(in.ReadByte(), kStreamFailed);
    EXPECT_EQ(in.Error(), TES_ERR_IN_EOF);
    EXPECT_EQ(in.Close(), 0);
    EXPECT_EQ(in.Close(), 0) << "closing a closed stream succeeds";
  }
}

TEST(InputStream, SeekDiscardsTheBufferAndTellFollows) {
  ScratchDir dir;
  const Bytes data = Numbered(70000);
  WriteBytes(dir.Path("in"), data);
  InputStream in(dir.Path("in").c_str());
  ASSERT_EQ(in.Open(), 0);
  ASSERT_GE(in.ReadByte(), 0);  // fills the buffer
  for (const long at : {65000L, 5L, 32768L, 0L, 69999L}) {
    ASSERT_EQ(in.Seek(at), 0);
    EXPECT_EQ(in.Tell(), at);
    EXPECT_EQ(in.ReadByte(), data[static_cast<size_t>(at)]) << at;
    EXPECT_EQ(in.Tell(), at + 1);
  }
  EXPECT_EQ(in.Length(), 70000);
}

TEST(InputStream, AShortReadCopiesWhatThereIsAndKeeps1103) {
  ScratchDir dir;
  WriteBytes(dir.Path("in"), Numbered(10));
  InputStream in(dir.Path("in").c_str());
  ASSERT_EQ(in.Open(), 0);
  Bytes buffer(20, 0);
  EXPECT_EQ(in.Read(buffer.data(), 20), kStreamFailed);
  EXPECT_EQ(in.Error(), TES_ERR_IN_EOF);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 10), Numbered(10));
  Bytes large(50000);
  ASSERT_EQ(in.Seek(4), 0);
  EXPECT_EQ(in.Read(large.data(), 50000), kStreamFailed);
  EXPECT_EQ(in.Error(), TES_ERR_IN_EOF);
}

TEST(InputStream, FailuresKeepTheirCodes) {
  ScratchDir dir;
  {
    InputStream in(dir.Path("missing").c_str());
    EXPECT_EQ(in.Open(), kStreamFailed);
    EXPECT_EQ(in.Error(), TES_ERR_IN_OPEN);
    InputStream none(nullptr);
    EXPECT_EQ(none.Open(), kStreamFailed);
    EXPECT_EQ(none.Error(), TES_ERR_IN_OPEN);
  }
  {
    InputStream folder(dir.Path("").c_str());
    ASSERT_EQ(folder.Open(), 0);
    Bytes b(4);
    EXPECT_EQ(folder.Read(b.data(), 4), kStreamFailed);
    EXPECT_EQ(folder.Error(), TES_ERR_IN_READ);
    EXPECT_EQ(folder.ReadByte(), kStreamFailed);
    EXPECT_EQ(folder.Error(), TES_ERR_IN_READ);
  }
  {
    WriteBytes(dir.Path("in"), Numbered(10));
    InputStream in(dir.Path("in").c_str());
    ASSERT_EQ(in.Open(), 0);
    EXPECT_EQ(in.Seek(-1), kStreamFailed);
    EXPECT_EQ(in.Error(), TES_ERR_IN_SEEK);
    // The descriptor closed behind the stream's back: closing fails.
    ::close(in.descriptor());
    EXPECT_EQ(in.Close(), kStreamFailed);
    EXPECT_EQ(in.Error(), TES_ERR_IN_CLOSE);
  }
  {
    // A pipe has no position.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], "abc", 3), 3);
    const std::string path = "/proc/self/fd/" + std::to_string(fds[0]);
    InputStream in(path.c_str());
    ASSERT_EQ(in.Open(), 0);
    EXPECT_EQ(in.ReadByte(), 'a');
    EXPECT_EQ(in.Tell(), kStreamFailed);
    EXPECT_EQ(in.Error(), TES_ERR_IN_TELL);
    EXPECT_EQ(in.Seek(0), kStreamFailed);
    EXPECT_EQ(in.Error(), TES_ERR_IN_SEEK);
    EXPECT_EQ(in.Length(), -1);
    in.Close();
    ::close(fds[0]);
    ::close(fds[1]);
  }
}

TEST(OutputStream, WritesEveryByteWhateverTheRequestSizes) {
  ScratchDir dir;
  const Bytes data = Numbered(150000);
  const std::vector<std::vector<long>> plans = {
      {1, 32767, 1, 32768, 84463}, {100000, 1, 49999}, {65536, 1, 65535, 18928}, {3, 149997}};
  for (const auto& plan : plans) {
    OutputStream out(dir.Path("out").c_str());
    ASSERT_EQ(out.Open(), 0);
    size_t at = 0;
    for (const long count : plan) {
      if (count == 1)
        ASSERT_EQ(out.WriteByte(data[at]), 0);
      else
        ASSERT_EQ(out.Write(data.data() + at, count), 0);
      at += static_cast<size_t>(count);
    }
    ASSERT_EQ(out.Close(), 0);
    EXPECT_EQ(ReadBytes(dir.Path("out")), data);
  }
}

// Pieces go out in order after what is buffered: more of them than one system call takes,
// empty ones among them, and a byte count patched afterwards as the TIFF writer does.
TEST(OutputStream, WritePiecesWritesEveryPieceInOrder) {
  ScratchDir dir;
  const Bytes data = Numbered(700000);
  std::vector<iovec> pieces;
  size_t at = 7;
  for (size_t i = 0; at < data.size(); ++i) {
    const size_t length = std::min<size_t>(data.size() - at, i % 5 == 0 ? 0 : i % 1500 == 7 ? 40000 : 96 + i % 300);
    pieces.push_back({const_cast<uint8_t*>(data.data() + at), length});
    at += length;
  }
  ASSERT_GT(pieces.size(), 2048u);
  OutputStream out(dir.Path("out").c_str());
  ASSERT_EQ(out.Open(), 0);
  ASSERT_EQ(out.Write(data.data(), 7), 0);
  ASSERT_EQ(out.WritePieces(pieces.data(), pieces.size()), 0);
  ASSERT_EQ(out.WritePieces(pieces.data(), 0), 0);
  ASSERT_EQ(out.Seek(3), 0);
  ASSERT_EQ(out.Write(data.data() + 3, 2), 0);
  ASSERT_EQ(out.Close(), 0);
  EXPECT_EQ(ReadBytes(dir.Path("out")), data);
}

TEST(OutputStream, TruncatesSeeksAndFlushes) {
  ScratchDir dir;
  const std::string path = dir.Path("out");
  WriteBytes(path, Bytes(1000, 'z'));
  OutputStream out(path.c_str());
  ASSERT_EQ(out.Open(), 0);
  EXPECT_TRUE(ReadBytes(path).empty()) << "an existing file is truncated";
  ASSERT_EQ(out.Write("abcdef", 6), 0);
  ASSERT_EQ(out.Seek(2), 0);  // writes what is buffered first
  ASSERT_EQ(out.WriteByte('X'), 0);
  ASSERT_EQ(out.Flush(), 0);
  EXPECT_EQ(ReadBytes(path), (Bytes{'a', 'b', 'X', 'd', 'e', 'f'}));
  ASSERT_EQ(out.Close(), 0);
  // A new file gets 0666 less the umask, as other programs' files do.
  for (const mode_t mask : {mode_t(022), mode_t(027), mode_t(077)}) {
    const std::string fresh = dir.Path("fresh" + std::to_string(mask));
    const mode_t previous = ::umask(mask);
    OutputStream created(fresh.c_str());
    const long opened = created.Open();
    ::umask(previous);
    ASSERT_EQ(opened, 0);
    struct stat st {};
    ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << "umask " << std::oct << mask;
  }
}

TEST(OutputStream, FailuresKeepTheirCodes) {
  ScratchDir dir;
  {
    OutputStream out(dir.Path("no/such/folder").c_str());
    EXPECT_EQ(out.Open(), kStreamFailed);
    EXPECT_EQ(out.Error(), TES_ERR_OUT_CREATE);
  }
  {
    // A full disk: when the buffer fills, and when Close writes the rest.
    OutputStream out("/dev/full");
    ASSERT_EQ(out.Open(), 0);
    const Bytes data = Numbered(40000);
    EXPECT_EQ(out.Write(data.data(), 40000), kStreamFailed);
    EXPECT_EQ(out.Error(), TES_ERR_DISK_FULL);
    OutputStream atClose("/dev/full");
    ASSERT_EQ(atClose.Open(), 0);
    ASSERT_EQ(atClose.Write(data.data(), 10), 0);
    EXPECT_EQ(atClose.Close(), kStreamFailed);
    EXPECT_EQ(atClose.Error(), TES_ERR_DISK_FULL);
    OutputStream pieces("/dev/full");
    ASSERT_EQ(pieces.Open(), 0);
    const iovec two[2] = {{const_cast<uint8_t*>(data.data()), 100}, {const_cast<uint8_t*>(data.data()), 100}};
    EXPECT_EQ(pieces.WritePieces(two, 2), kStreamFailed);
    EXPECT_EQ(pieces.Error(), TES_ERR_DISK_FULL);
  }
  {
    OutputStream out(dir.Path("out").c_str());
    ASSERT_EQ(out.Open(), 0);
    EXPECT_EQ(out.Seek(-1), kStreamFailed);
    EXPECT_EQ(out.Error(), TES_ERR_OUT_SEEK);
  }
  {
    OutputStream out(dir.Path("out").c_str());
    ASSERT_EQ(out.Open(), 0);
    ::close(out.descriptor());
    EXPECT_EQ(out.Close(), kStreamFailed);
    EXPECT_EQ(out.Error(), TES_ERR_OUT_CLOSE);
  }
}

// Any other short write is a write error: here the file-size limit of the process, in a
// child so that the limit does not reach the other tests.
TEST(OutputStream, AShortWriteOtherThanAFullDiskIs1202) {
  ScratchDir dir;
  const std::string path = dir.Path("limited");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit{1000, 1000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    OutputStream out(path.c_str());
    if (out.Open() != 0) ::_exit(1);
    const Bytes data = Numbered(40000);
    const long result = out.Write(data.data(), 40000);
    if (result != kStreamFailed || out.Error() != TES_ERR_OUT_WRITE) ::_exit(2);
    // Pieces: the first call stops inside the fourth, the rest of which then fails.
    OutputStream again(path.c_str());
    if (again.Open() != 0) ::_exit(1);
    std::vector<iovec> pieces;
    for (int i = 0; i < 10; ++i) pieces.push_back({const_cast<uint8_t*>(data.data() + 300 * i), 300});
    if (again.WritePieces(pieces.data(), pieces.size()) != kStreamFailed || again.Error() != TES_ERR_OUT_WRITE)
      ::_exit(3);
    again.Close();
    struct stat st {};
    ::_exit(::stat(path.c_str(), &st) == 0 && st.st_size == 1000 ? 0 : 4);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(OutputStream, GetModifiedTimeFormatsTheLocalTime) {
  ScratchDir dir;
  const std::string path = dir.Path("out");
  OutputStream out(path.c_str());
  ASSERT_EQ(out.Open(), 0);
  const struct timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  char text[20];
  std::memset(text, '#', sizeof text);
  ASSERT_EQ(out.GetModifiedTime(text), 0);
  const time_t when = 1700000000;
  struct tm local {};
  localtime_r(&when, &local);
  char expected[64];
  std::snprintf(expected, sizeof expected, "%04d:%02d:%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  EXPECT_STREQ(text, expected);
  EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d{4}:\d\d:\d\d \d\d:\d\d:\d\d)")));

  // Once the file is gone and the stream closed, there is no time to give: an empty text,
  // and no kept code that would stop a later Close from writing.
  ASSERT_EQ(out.Close(), 0);
  ::unlink(path.c_str());
  EXPECT_NE(out.GetModifiedTime(text), 0);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(out.Error(), 0);
}

}  // namespace
