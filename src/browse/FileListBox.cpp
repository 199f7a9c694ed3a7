#include "browse/FileListBox.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

#include "browse/Drives.h"
#include "browse/ItemHeight.h"

namespace corvella::browse {

FileListBox::FileListBox(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setItemDelegate(new FixedHeightDelegate(16, this));
  setUniformItemSizes(true);
  SetDirectory(CurrentFolder());
}

void FileListBox::SetDirectory(const QString& folder) {
  if (folder == directory_) return;
  directory_ = folder;
  ReadEntries();
}

void FileListBox::ReadEntries() {
  SetCurrentFolder(directory_);
  ++generation_;
  clear();
  QDir dir(directory_);
  dir.setNameFilters(mask_.split(';', Qt::SkipEmptyParts));
  // Hidden and system files are listed; only regular files, so a folder or a
  // device whose name matches never shows.
  QStringList names;
  for (const QFileInfo& entry : dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::NoSort)) {
    if (entry.isFile()) names.append(entry.fileName());
  }
  std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
    const int byLetters = a.compare(b, Qt::CaseInsensitive);
    return byLetters != 0 ? byLetters < 0 : a < b;
  });
  addItems(names);
}

}  // namespace corvella::browse
