// An in-memory file with a path that the libraries can open like any other.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

class MemoryFile {
 public:
  MemoryFile() : fd_(memfd_create("fuzz-input", 0)) { path_ = "/proc/self/fd/" + std::to_string(fd_); }
  ~MemoryFile() { close(fd_); }
  // Replaces the file's contents.
  void Set(const uint8_t* data, size_t size) {
    if (ftruncate(fd_, 0) != 0) return;
    size_t done = 0;
    while (done < size) {
      const ssize_t n = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }
  const std::string& path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};
