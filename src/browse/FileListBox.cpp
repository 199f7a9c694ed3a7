#include "browse/FileListBox.h"

#include <algorithm>

#include "browse/Folder.h"
#include "browse/ItemHeight.h"

namespace corvella::browse {

FileListBox::FileListBox(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setItemDelegate(new FixedHeightDelegate(16, this));
  setUniformItemSizes(true);
  SetDirectory(CurrentFolder());
}

QString FileListBox::Directory() const {
  return Shown(path_);
}

QByteArray FileListBox::NameAt(int i) const {
  return item(i)->data(Qt::UserRole).toByteArray();
}

void FileListBox::SetDirectory(const QByteArray& folder) {
  if (folder == path_) return;
  path_ = folder;
  ReadEntries();
}

void FileListBox::SetDirectory(const QString& folder) {
  SetDirectory(Encoded(folder));
}

void FileListBox::ReadEntries() {
  SetCurrentFolder(path_);
  ++generation_;
  clear();
  // Hidden and system files are listed; folders never.
  QList<QByteArray> names = FindFiles(path_, mask_);
  std::sort(names.begin(), names.end(), ListedBefore);
  for (const QByteArray& name : names) {
    auto* entry = new QListWidgetItem(Shown(name), this);
    entry->setData(Qt::UserRole, name);
  }
}

}  // namespace corvella::browse
