#include "atomic_save.h"

#include "win/file_replacement.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvax::app {

namespace {
std::function<QString(const QString&)> g_tempHook;
}  // namespace

void SetAtomicSaveTemporaryHook(std::function<QString(const QString&)> hook) { g_tempHook = std::move(hook); }

long SaveImageAtomically(const TesseraClass& image, const QString& path, uint32_t format, int32_t option,
                         TesProgressProc progress, void* user, int* error) {
  *error = 0;
  const QFileInfo target(path);
  QByteArray tempName;
  if (g_tempHook) {
    tempName = QFile::encodeName(g_tempHook(path));
  } else {
    tempName = QFile::encodeName(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                                 QStringLiteral(".XXXXXX"));
    const int fd = ::mkostemp(tempName.data(), O_CLOEXEC);
    if (fd < 0) {
      *error = errno;
      return TES_ERR_OUT_CREATE;
    }
    ::fchmod(fd, win::ReplacementMode(QFile::encodeName(path).constData()));
    ::close(fd);
  }
  const tagTes_File_Spec spec{tempName.constData(), format, option};
  long status = image.Save(spec, progress, user, 0);
  if (status == TES_ERR_DISK_FULL) *error = ENOSPC;
  if (status == 0) {
    if (const int failed = win::CommitReplacement(tempName.constData(), QFile::encodeName(path).constData())) {
      *error = failed;
      status = failed == ENOSPC ? TES_ERR_DISK_FULL : TES_ERR_OUT_CREATE;
    }
  }
  if (status != 0) QFile::remove(QFile::decodeName(tempName));
  return status;
}

}  // namespace orvax::app
