#include "recent_file_list.h"

#include "string_table.h"

#include <QDir>
#include <QFileInfo>

namespace orvax::app {

namespace {
QString EntryName(int index) {
  QString name = LoadString(IDS_REG_FILEENTRY);  // "File%d"
  return name.replace(QStringLiteral("%d"), QString::number(index + 1));
}
}  // namespace

void CRegRecentFileList::ReadList() {
  for (int i = 0; i < kSize; ++i) {
    const QVariant value = reg_.Read(CRegistrySettings::kCurrentUser, IDS_REG_RECENTFILELIST, EntryName(i));
    entries_[i] = value.typeId() == QMetaType::QString ? value.toString() : QString();
  }
}

void CRegRecentFileList::WriteList() const {
  for (int i = 0; i < kSize; ++i) {
    if (!entries_[i].isEmpty())
      reg_.Write(CRegistrySettings::kCurrentUser, IDS_REG_RECENTFILELIST, EntryName(i), entries_[i]);
  }
}

void CRegRecentFileList::Add(const QString& path) {
  const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
  int found = kSize - 1;
  for (int i = 0; i < kSize; ++i) {
    if (!entries_[i].isEmpty() && QDir::cleanPath(entries_[i]) == clean) {
      found = i;
      break;
    }
  }
  entries_.removeAt(found);
  entries_.prepend(clean);
}

void CRegRecentFileList::Remove(int index) {
  if (index < 0 || index >= kSize) return;
  entries_.removeAt(index);
  entries_.append(QString());
}

QString CRegRecentFileList::DisplayName(int index) const {
  if (index < 0 || index >= kSize || entries_[index].isEmpty()) return QString();
  return Abbreviate(QDir::toNativeSeparators(entries_[index]), kDisplayWidth);
}

QString CRegRecentFileList::Abbreviate(const QString& path, int width) {
  if (path.size() <= width) return path;
  const QChar sep = QDir::separator();
  const int lastSep = path.lastIndexOf(sep);
  const QString name = lastSep >= 0 ? path.mid(lastSep + 1) : path;
  if (name.size() >= width) return name.left(width);  // only the file name, cut to fit
  // Keep the first component, then "...", then as many trailing components as fit.
  const int firstSep = path.indexOf(sep, path.startsWith(sep) ? 1 : 0);
  const QString head = firstSep > 0 ? path.left(firstSep + 1) : QString();
  const QString ellipsis = QStringLiteral("...");
  QString tail = sep + name;
  int cut = lastSep;
  while (cut > 0) {
    const int previous = path.lastIndexOf(sep, cut - 1);
    if (previous < 0) break;
    const QString longer = path.mid(previous);
    if (head.size() + ellipsis.size() + longer.size() > width || previous < head.size()) break;
    tail = longer;
    cut = previous;
  }
  const QString result = head + ellipsis + tail;
  if (result.size() <= width) return result;
  const QString bare = ellipsis + sep + name;
  return bare.size() <= width ? bare : name.left(width);
}

}  // namespace orvax::app
