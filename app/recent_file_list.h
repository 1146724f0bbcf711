// The recent-file list: four paths kept in the "Recent File List" section under File1 to
// File4, shown in the File menu at most 30 characters wide.
#pragma once

#include "registry_settings.h"

#include <QStringList>

namespace orvax::app {

class CRegRecentFileList {
 public:
  static constexpr int kSize = 4;
  static constexpr int kDisplayWidth = 30;

  explicit CRegRecentFileList(const CRegistrySettings& reg) : reg_(reg), entries_(kSize) {}

  // Fills each entry with its stored text, or an empty one.
  void ReadList();
  // Stores each non-empty entry; entries that are empty leave their values untouched.
  void WriteList() const;

  // Puts PATH first, removing an equal entry (compared as paths) further down.
  void Add(const QString& path);
  void Remove(int index);

  int GetSize() const { return kSize; }
  const QString& operator[](int index) const { return entries_[index]; }

  // The text shown for entry INDEX: the path shortened to at most kDisplayWidth characters,
  // keeping the file name whole where it fits and eliding the folders in the middle.
  QString DisplayName(int index) const;
  static QString Abbreviate(const QString& path, int width);

 private:
  const CRegistrySettings& reg_;
  QStringList entries_;
};

}  // namespace orvax::app
