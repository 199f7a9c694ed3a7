#include "browse/DirectoryListBox.h"

#include <QKeyEvent>
#include <QStyle>
#include <algorithm>

#include "browse/FileListBox.h"
#include "browse/Folder.h"
#include "browse/ItemHeight.h"

namespace corvella::browse {

DirectoryListBox::DirectoryListBox(QWidget* parent) : QListWidget(parent) {
  setItemDelegate(new FixedHeightDelegate(16, this));
  setUniformItemSizes(true);
  connect(this, &QListWidget::itemDoubleClicked, this, &DirectoryListBox::OpenItem);
  drives_ = SystemDrives();
  path_ = CurrentFolder();
  RememberFolder(DriveRoot(), path_);
  Rebuild();
}

QString DirectoryListBox::Directory() const {
  return Shown(path_);
}

QString DirectoryListBox::DriveRoot() const {
  const int index = DriveIndexOf(Directory(), drives_);
  if (index >= 0) return drives_[index].root;
  // A folder on no drive listed (a network path): its own top.
  return Separator() == '/' ? QStringLiteral("/") : Directory().left(3);
}

void DirectoryListBox::SetFileList(FileListBox* files) {
  files_ = files;
  if (files_) files_->SetDirectory(path_);
}

void DirectoryListBox::SetDirectory(const QString& folder) {
  SetDirectory(Encoded(folder));
}

void DirectoryListBox::SetDirectory(const QByteArray& folder) {
  if (!SetCurrentFolder(folder)) return;
  const QByteArray now = CurrentFolder();
  if (now == path_) return;
  path_ = now;
  RememberFolder(DriveRoot(), path_);
  Rebuild();
  if (files_) files_->SetDirectory(path_);
  emit DirectoryChanged(Directory());
}

void DirectoryListBox::SetDrive(const QString& driveRoot) {
  if (DriveRoot() == driveRoot) return;
  const QByteArray last = LastFolderOn(driveRoot);
  if (last.isEmpty() || !SetCurrentFolder(last)) {
    SetDirectory(driveRoot);
  } else {
    SetDirectory(last);
  }
}

void DirectoryListBox::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    OpenItem(currentItem());
    return;
  }
  QListWidget::keyPressEvent(event);
}

void DirectoryListBox::OpenItem(QListWidgetItem* item) {
  if (item) SetDirectory(item->data(Qt::UserRole).toByteArray());
}

void DirectoryListBox::Rebuild() {
  clear();
  const QByteArray root = Encoded(DriveRoot());
  const char separator = Separator();
  const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
  const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);

  // The path from the drive's root down to the current folder.
  QList<QByteArray> path{root};
  const QByteArray below = path_.mid(root.endsWith(separator) ? root.size() : root.size() + 1);
  QByteArray walked = root;
  for (const QByteArray& name : below.split(separator)) {
    if (name.isEmpty()) continue;
    walked = Join(walked, name);
    path.append(walked);
  }
  int level = 0;
  for (const QByteArray& folder : path) {
    const QString name =
        level == 0 ? Shown(folder) : Shown(folder.mid(folder.lastIndexOf(separator) + 1));
    auto* item = new QListWidgetItem(open, QString(level * 2, ' ') + name, this);
    item->setData(Qt::UserRole, folder);
    ++level;
  }
  setCurrentRow(count() - 1);

  QList<QByteArray> subfolders;
  for (const Entry& entry : ReadFolder(path_)) {
    if (entry.folder && !entry.hidden) subfolders.append(entry.name);
  }
  std::sort(subfolders.begin(), subfolders.end(), ListedBefore);
  for (const QByteArray& name : subfolders) {
    auto* item = new QListWidgetItem(closed, QString(level * 2, ' ') + Shown(name), this);
    item->setData(Qt::UserRole, Join(path_, name));
  }
}

}  // namespace corvella::browse
