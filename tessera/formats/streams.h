// Buffered file streams shared by the format readers and writers. Each keeps the code of
// its last failure; an operation that fails answers -2 and the caller reports Error().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct iovec;

namespace tessera {

inline constexpr size_t kStreamBufferBytes = 32768;
// What a stream operation answers when it fails; the code is then in Error().
inline constexpr long kStreamFailed = -2;

// Reads a file through a 32 KiB buffer. The file is opened read-only.
class InputStream {
 public:
  explicit InputStream(const char* path);
  virtual ~InputStream();  // closes the file if it is still open
  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;

  // 0, or -2 with 1100 (cannot open) or 1002 (no memory for the buffer).
  virtual long Open();
  // Frees the buffer and closes the file; closing a closed stream succeeds. 0, or -2 with 1101.
  virtual long Close();
  // The next byte (0..255), or -2 with 1102 (read error) or 1103 (end of file).
  virtual long ReadByte();
  // Copies count bytes; answers count, or -2 with 1102/1103 when fewer could be had.
  virtual long Read(void* buffer, long count);
  // Absolute seek; discards the buffer. 0, or -2 with 1104.
  virtual long Seek(long offset);
  // The logical position (file position less the bytes still buffered), or -2 with 1105.
  virtual long Tell();

  // The file's length in bytes, or -1 when it cannot be found. Readers use it to refuse
  // sizes that cannot fit in the file before they allocate for them.
  long long Length() const;

  long Error() const { return error_; }
  const std::string& path() const { return path_; }
  int descriptor() const { return fd_; }

 protected:
  long Fail(long code) {
    error_ = code;
    return kStreamFailed;
  }

 private:
  // Reads more bytes into the buffer; false (with the code kept) on error or end of file.
  bool Refill();

  std::string path_;
  int fd_ = -1;
  uint8_t* buffer_ = nullptr;
  size_t position_ = 0;  // next byte to hand out
  size_t left_ = 0;      // bytes still buffered after position_
  long error_ = 0;
};

// Writes a file through a 32 KiB buffer. The file is created or truncated; a new file gets
// mode 0666 less the process's umask, as POSIX programs create files.
class OutputStream {
 public:
  explicit OutputStream(const char* path);
  virtual ~OutputStream();  // closes the file if it is still open (what is buffered is written)
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;

  // 0, or -2 with 1200 (cannot create) or 1002 (no memory).
  virtual long Open();
  // Writes what is buffered unless an error is already kept, frees and closes.
  // 0, or -2 with the write's code or 1201 (close failed).
  virtual long Close();
  // Both flush each time the buffer holds 32768 bytes. 0, or -2 with 1202 or 1204 (disk full).
  virtual long WriteByte(int value);
  virtual long Write(const void* buffer, long count);
  // Writes what is buffered, then the pieces in order straight from where they lie, as many
  // to a call as the system takes. 0, or -2 with 1202 or 1204.
  long WritePieces(const iovec* pieces, size_t count);
  // Absolute seek (after writing what is buffered). 0, or -2 with 1203.
  virtual long Seek(long offset);
  // Writes what is buffered. 0, or -2 with 1202 or 1204.
  virtual long Flush();
  // The file's last-modification time in local time as "YYYY:MM:DD hh:mm:ss" into text
  // (20 bytes). 0, or -1 with an empty text when the file's status cannot be read. No code
  // is kept for it: a kept code would stop Close from writing what is still buffered.
  virtual long GetModifiedTime(char* text);

  long Error() const { return error_; }
  const std::string& path() const { return path_; }
  int descriptor() const { return fd_; }

 protected:
  long Fail(long code) {
    error_ = code;
    return kStreamFailed;
  }

 private:
  // Writes the pieces straight to the file, retrying partial writes.
  long WriteAll(const iovec* pieces, size_t count);
  long WriteAll(const uint8_t* data, size_t count);

  std::string path_;
  int fd_ = -1;
  uint8_t* buffer_ = nullptr;
  size_t used_ = 0;
  long error_ = 0;
};

}  // namespace tessera
