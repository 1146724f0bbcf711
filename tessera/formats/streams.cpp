#include "formats/streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "tessera/tessera.h"

namespace tessera {

// ---------------------------------------------------------------------------------------
// InputStream

InputStream::InputStream(const char* path) : path_(path != nullptr ? path : "") {}

InputStream::~InputStream() { Close(); }

long InputStream::Open() {
  Close();
  error_ = 0;
  do {
    fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) return Fail(TES_ERR_IN_OPEN);
  buffer_ = new (std::nothrow) uint8_t[kStreamBufferBytes];
  if (buffer_ == nullptr) {
    ::close(fd_);
    fd_ = -1;
    return Fail(TES_ERR_NO_MEMORY);
  }
  position_ = left_ = 0;
  return 0;
}

long InputStream::Close() {
  delete[] buffer_;
  buffer_ = nullptr;
  position_ = left_ = 0;
  if (fd_ < 0) return 0;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) return Fail(TES_ERR_IN_CLOSE);
  return 0;
}

bool InputStream::Refill() {
  if (fd_ < 0 || buffer_ == nullptr) {
    error_ = TES_ERR_IN_READ;
    return false;
  }
  ssize_t got;
  do {
    got = ::read(fd_, buffer_, kStreamBufferBytes);
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    error_ = TES_ERR_IN_READ;
    return false;
  }
  if (got == 0) {
    error_ = TES_ERR_IN_EOF;
    return false;
  }
  position_ = 0;
  left_ = static_cast<size_t>(got);
  return true;
}

long InputStream::ReadByte() {
  if (left_ == 0 && !Refill()) return kStreamFailed;
  --left_;
  return buffer_[position_++];
}

long InputStream::Read(void* buffer, long count) {
  if (count <= 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  size_t wanted = static_cast<size_t>(count);
  // What is buffered first.
  size_t take = left_ < wanted ? left_ : wanted;
  if (take > 0) {
    std::memcpy(out, buffer_ + position_, take);
    position_ += take;
    left_ -= take;
    out += take;
    wanted -= take;
  }
  while (wanted > 0) {
    if (wanted >= kStreamBufferBytes) {
      // Large requests bypass the buffer: one copy fewer.
      if (fd_ < 0) return Fail(TES_ERR_IN_READ);
      const ssize_t got = ::read(fd_, out, wanted);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return Fail(TES_ERR_IN_READ);
      if (got == 0) return Fail(TES_ERR_IN_EOF);
      out += got;
      wanted -= static_cast<size_t>(got);
      continue;
    }
    if (!Refill()) return kStreamFailed;
    take = left_ < wanted ? left_ : wanted;
    std::memcpy(out, buffer_ + position_, take);
    position_ += take;
    left_ -= take;
    out += take;
    wanted -= take;
  }
  return count;
}

long InputStream::Seek(long offset) {
  position_ = left_ = 0;
  if (fd_ < 0 || ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return Fail(TES_ERR_IN_SEEK);
  return 0;
}

long InputStream::Tell() {
  if (fd_ < 0) return Fail(TES_ERR_IN_TELL);
  const off_t at = ::lseek(fd_, 0, SEEK_CUR);
  if (at < 0) return Fail(TES_ERR_IN_TELL);
  return static_cast<long>(at) - static_cast<long>(left_);
}

long long InputStream::Length() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<long long>(st.st_size);
}

// ---------------------------------------------------------------------------------------
// OutputStream

OutputStream::OutputStream(const char* path) : path_(path != nullptr ? path : "") {}

OutputStream::~OutputStream() { Close(); }

long OutputStream::Open() {
  Close();
  error_ = 0;
  do {
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);  // less the umask
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) return Fail(TES_ERR_OUT_CREATE);
  buffer_ = new (std::nothrow) uint8_t[kStreamBufferBytes];
  if (buffer_ == nullptr) {
    ::close(fd_);
    fd_ = -1;
    return Fail(TES_ERR_NO_MEMORY);
  }
  used_ = 0;
  return 0;
}

long OutputStream::WriteAll(const iovec* pieces, size_t count) {
  if (fd_ < 0) return Fail(TES_ERR_OUT_WRITE);
  size_t done = 0;  // bytes of pieces[0] already written
  while (count > 0) {
    if (pieces[0].iov_len == done) {
      ++pieces;
      --count;
      done = 0;
      continue;
    }
    // The next pieces, the first less what a partial write took of it.
    iovec window[IOV_MAX];
    const size_t n = std::min<size_t>(count, IOV_MAX);
    std::copy_n(pieces, n, window);
    window[0].iov_base = static_cast<uint8_t*>(window[0].iov_base) + done;
    window[0].iov_len -= done;
    ssize_t put = ::writev(fd_, window, static_cast<int>(n));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return Fail(errno == ENOSPC || errno == EDQUOT ? TES_ERR_DISK_FULL : TES_ERR_OUT_WRITE);
    if (put == 0) return Fail(TES_ERR_OUT_WRITE);
    // Past the pieces written whole, into the one written in part.
    for (size_t left = static_cast<size_t>(put); left > 0;) {
      const size_t take = std::min(left, pieces[0].iov_len - done);
      left -= take;
      done += take;
      if (done == pieces[0].iov_len) {
        ++pieces;
        --count;
        done = 0;
      }
    }
  }
  return 0;
}

long OutputStream::WriteAll(const uint8_t* data, size_t count) {
  const iovec piece{const_cast<uint8_t*>(data), count};
  return WriteAll(&piece, 1);
}

long OutputStream::WritePieces(const iovec* pieces, size_t count) {
  if (used_ > 0 && Flush() != 0) return kStreamFailed;
  return WriteAll(pieces, count);
}

long OutputStream::Flush() {
  if (used_ == 0) return fd_ < 0 ? Fail(TES_ERR_OUT_WRITE) : 0;
  const size_t count = used_;
  used_ = 0;  // a failed write is not retried: its code is kept
  return WriteAll(buffer_, count);
}

long OutputStream::Close() {
  long result = 0;
  if (fd_ >= 0 && used_ > 0 && error_ == 0) result = Flush();
  used_ = 0;
  delete[] buffer_;
  buffer_ = nullptr;
  if (fd_ < 0) return result;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR && result == 0) return Fail(TES_ERR_OUT_CLOSE);
  return result;
}

long OutputStream::WriteByte(int value) {
  if (buffer_ == nullptr) return Fail(TES_ERR_OUT_WRITE);
  buffer_[used_++] = static_cast<uint8_t>(value);
  return used_ == kStreamBufferBytes ? Flush() : 0;
}

long OutputStream::Write(const void* buffer, long count) {
  if (count <= 0) return 0;
  if (buffer_ == nullptr) return Fail(TES_ERR_OUT_WRITE);
  const auto* in = static_cast<const uint8_t*>(buffer);
  size_t left = static_cast<size_t>(count);
  while (left > 0) {
    if (used_ == 0 && left >= kStreamBufferBytes) {
      // Whole buffers' worth go straight to the file.
      const size_t whole = left - left % kStreamBufferBytes;
      if (WriteAll(in, whole) != 0) return kStreamFailed;
      in += whole;
      left -= whole;
      continue;
    }
    const size_t room = kStreamBufferBytes - used_;
    const size_t take = left < room ? left : room;
    std::memcpy(buffer_ + used_, in, take);
    used_ += take;
    in += take;
    left -= take;
    if (used_ == kStreamBufferBytes && Flush() != 0) return kStreamFailed;
  }
  return 0;
}

long OutputStream::Seek(long offset) {
  if (fd_ >= 0 && used_ > 0 && Flush() != 0) return kStreamFailed;
  if (fd_ < 0 || ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return Fail(TES_ERR_OUT_SEEK);
  return 0;
}

long OutputStream::GetModifiedTime(char* text) {
  if (text == nullptr) return -1;
  text[0] = '\0';
  struct stat st {};
  const int rc = fd_ >= 0 ? ::fstat(fd_, &st) : ::stat(path_.c_str(), &st);
  struct tm local {};
  if (rc != 0 || ::localtime_r(&st.st_mtime, &local) == nullptr) return -1;
  // Years past 9999 do not fit the 19 characters; they are cut rather than overflow.
  char full[64];
  std::snprintf(full, sizeof full, "%04d:%02d:%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                local.tm_hour, local.tm_min, local.tm_sec);
  std::memcpy(text, full, 19);
  text[19] = '\0';
  return 0;
}

}  // namespace tessera
