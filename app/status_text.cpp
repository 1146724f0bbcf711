#include "status_text.h"

#include "string_table.h"

#include <tessera/tessera.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace orvax::app {

namespace {

struct Diagnosis {
  QString reason;
  int error = 0;  // the system's error number behind it, 0 when none
};

bool InRange(long status, long first, long last) { return status >= first && status <= last; }

QString Native(const QString& path) { return QDir::toNativeSeparators(QDir::cleanPath(path)); }

// The system's error number when opening PATH for reading now; 0 when it opens.
int OpenError(const QString& path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  ::close(fd);
  return 0;
}

// The system's error number for writing in FOLDER now; 0 when it may be written.
int WriteError(const QString& folder) {
  return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0 ? 0 : errno;
}

// The first part of FOLDER's path, from the root down, that exists but is not a folder;
// empty when there is none.
QString FileInThePath(const QString& folder) {
  QString at = QDir::cleanPath(QDir(folder).absolutePath());
  QString blocking;
  for (;;) {
    const QFileInfo info(at);
    if (info.exists() && !info.isDir()) blocking = at;
    const QString parent = QFileInfo(at).path();
    if (parent == at || parent.isEmpty()) break;
    at = parent;
  }
  return blocking;
}

// Why a file cannot be made in FOLDER, from the system's ERROR.
QString CreateReason(const QString& folder, int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR: {
      if (const QString file = FileInThePath(folder); !file.isEmpty())
        return FormatString1(IDS_WHY_NOT_A_FOLDER, Native(file));
      if (QFileInfo(folder).isDir()) return FormatString1(IDS_WHY_NO_NEW_FILES, Native(folder));
      return FormatString1(IDS_WHY_NO_FOLDER, Native(folder));
    }
    case EACCES:
    case EPERM: return FormatString1(IDS_WHY_NOT_WRITABLE, Native(folder));
    case EROFS: return FormatString1(IDS_WHY_READ_ONLY, Native(folder));
    case EISDIR: return LoadString(IDS_WHY_FOLDER_IN_WAY);
    case ENAMETOOLONG: return LoadString(IDS_WHY_NAME_TOO_LONG);
    case ENOSPC: return LoadString(IDS_WHY_DISK_FULL);
    case EDQUOT: return LoadString(IDS_WHY_QUOTA);
    case EIO: return LoadString(IDS_WHY_WRITE_ERROR);
    default: return FormatString1(IDS_WHY_SYSTEM, QString::fromLocal8Bit(std::strerror(error)));
  }
}

// True when the file begins as a JPEG does (start of image, then a marker).
bool LooksLikeJpeg(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray head = file.read(3);
  return head.size() == 3 && static_cast<uint8_t>(head[0]) == 0xFF && static_cast<uint8_t>(head[1]) == 0xD8 &&
         static_cast<uint8_t>(head[2]) == 0xFF;
}

// The reason for a status of the image library itself (not the system's).
int LibraryReason(FileAction action, long status, bool cms) {
  switch (status) {
    case TES_ERR_NO_IMAGE: return IDS_WHY_NO_IMAGE;
    case TES_ERR_NO_MEMORY: return IDS_WHY_NO_MEMORY;
    case TES_ERR_NOT_PERMITTED: return cms ? IDS_WHY_COLOR_SPACE : IDS_WHY_CMS_OFF;
    case TES_ERR_COLOR_SPACE: return IDS_WHY_COLOR_SPACE;
    case TES_ERR_UNKNOWN_FORMAT: return IDS_WHY_NOT_IMAGE;
    case TES_ERR_CANNOT_STORE: return IDS_WHY_CANNOT_STORE;
    case TES_ERR_IN_EOF: return IDS_WHY_TRUNCATED;
    case TES_ERR_IN_OPEN:
    case TES_ERR_IN_CLOSE:
    case TES_ERR_IN_READ:
    case TES_ERR_IN_SEEK:
    case TES_ERR_IN_TELL: return IDS_WHY_READ_ERROR;
    case TES_ERR_OUT_CREATE:
    case TES_ERR_OUT_CLOSE:
    case TES_ERR_OUT_WRITE:
    case TES_ERR_OUT_SEEK: return IDS_WHY_WRITE_ERROR;
    case TES_ERR_DISK_FULL: return IDS_WHY_DISK_FULL;
    case TES_ERR_BMP_HEADER: return IDS_WHY_BMP_HEADER;
    case TES_ERR_BMP_COLORS_USED: return IDS_WHY_BMP_PALETTE;
    case TES_ERR_BMP_DEPTH: return IDS_WHY_BMP_DEPTH;
    case TES_ERR_BMP_COMPRESSED: return IDS_WHY_BMP_COMPRESSED;
    case TES_ERR_FPX_COLOR_SPACE: return IDS_WHY_FPX_COLOR;
    case TES_ERR_FPX_OTHER:
    case TES_ERR_FPX_UNKNOWN: return IDS_WHY_FPX;
    default: break;
  }
  if (InRange(status, TES_ERR_CM_INIT, TES_ERR_CM_PROCESS)) return IDS_WHY_COLOR_MATCHING;
  if (InRange(status, TES_ERR_PROFILE_OPEN, TES_ERR_PROFILE_READ)) return IDS_WHY_PROFILE;
  if (InRange(status, TES_ERR_JPEG_FIRST, TES_ERR_JPEG_LAST)) {
    switch (status) {
      case 1302:  // another coding process (progressive, lossless, arithmetic)
      case 1310:  // 16-bit quantisation tables (12-bit samples)
      case 1314:  // a sample precision other than 8
      case 1315:  // more than three components (CMYK)
      case 1318: return IDS_WHY_JPEG_KIND;  // a scan layout or sampling this reader does not take
      default: return IDS_WHY_DAMAGED;
    }
  }
  if (InRange(status, TES_ERR_TIFF_FIRST, TES_ERR_TIFF_LAST)) {
    switch (status) {
      case 1404: return IDS_WHY_MULTIPAGE;
      case 1406: return IDS_WHY_DEPTH_COMPRESSION;
      case 1412: return IDS_WHY_TIFF_FEATURE;
      case TES_ERR_TIFF_COMPRESSION: return action == FileAction::Save ? IDS_WHY_NO_COMPRESSION : IDS_WHY_TIFF_COMPRESSION;
      default: return IDS_WHY_DAMAGED;
    }
  }
  return IDS_WHY_UNKNOWN;
}

Diagnosis DiagnoseOpen(long status, const QString& path, int error, bool cms) {
  const QFileInfo info(path);
  if (!info.exists()) return {LoadString(IDS_WHY_NO_FILE), error};
  if (info.isDir()) return {LoadString(IDS_WHY_IS_FOLDER), error};
  if (status == TES_ERR_IN_OPEN || error != 0) {
    if (error == 0) error = OpenError(path);
    switch (error) {
      case 0: break;
      case EACCES:
      case EPERM: return {LoadString(IDS_WHY_NOT_READABLE), error};
      case ENOENT: return {LoadString(IDS_WHY_NO_FILE), error};
      case ENOMEM: return {LoadString(IDS_WHY_NO_MEMORY), error};
      case EIO: return {LoadString(IDS_WHY_READ_ERROR), error};
      default: return {FormatString1(IDS_WHY_SYSTEM, QString::fromLocal8Bit(std::strerror(error))), error};
    }
  }
  if (info.size() == 0) return {LoadString(IDS_WHY_EMPTY), error};
  // No reader took the file; a JPEG of another coding process answers the same.
  if (status == TES_ERR_UNKNOWN_FORMAT && LooksLikeJpeg(path)) return {LoadString(IDS_WHY_JPEG_KIND), error};
  return {LoadString(LibraryReason(FileAction::Open, status, cms)), error};
}

Diagnosis DiagnoseSave(long status, const QString& path, int error) {
  const QString folder = QFileInfo(path).absolutePath();
  if (status == TES_ERR_DISK_FULL || error == ENOSPC) return {LoadString(IDS_WHY_DISK_FULL), error};
  const bool systemStatus = InRange(status, TES_ERR_OUT_CREATE, TES_ERR_OUT_SEEK);
  if (error == 0 && systemStatus) {
    if (QFileInfo(path).isDir()) return {LoadString(IDS_WHY_FOLDER_IN_WAY), EISDIR};
    error = WriteError(folder);
  }
  if (error != 0) return {CreateReason(folder, error), error};
  return {LoadString(LibraryReason(FileAction::Save, status, true)), error};
}

Diagnosis Diagnose(FileAction action, long status, const QString& path, int error, bool cms) {
  return action == FileAction::Open ? DiagnoseOpen(status, path, error, cms) : DiagnoseSave(status, path, error);
}

}  // namespace

QString FailureCodes(long status, int error) {
  QString codes = FormatString1(IDS_WHY_STATUS, QString::number(status));
  if (error != 0)
    codes += QStringLiteral("; ") +
             FormatString1(IDS_WHY_SYSTEM_ERROR, QStringLiteral("%1 (%2)").arg(error).arg(
                                                     QString::fromLocal8Bit(std::strerror(error))));
  return codes;
}

QString FailureReason(FileAction action, long status, const QString& path, int error, bool cms) {
  return Diagnose(action, status, path, error, cms).reason;
}

framework::MessageDetail FailureDetail(FileAction action, long status, const QString& path, int error, bool cms) {
  const Diagnosis diagnosis = Diagnose(action, status, path, error, cms);
  return {diagnosis.reason, FailureCodes(status, diagnosis.error)};
}

}  // namespace orvax::app
