#include "win/file_replacement.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvax::win {

mode_t ReplacementMode(const char* path) {
  struct stat old {};
  if (::stat(path, &old) == 0 && S_ISREG(old.st_mode)) return old.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

int CommitReplacement(const char* temporary, const char* target) {
  const int fd = ::open(temporary, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int synced = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  if (synced != 0) return synced;
  return std::rename(temporary, target) == 0 ? 0 : errno;
}

}  // namespace orvax::win
