#include "browse/DirectoryListBox.h"

#include <QDir>
#include <QKeyEvent>
#include <QStyle>
#include <algorithm>

#include "browse/Drives.h"
#include "browse/FileListBox.h"
#include "browse/ItemHeight.h"

namespace corvella::browse {

DirectoryListBox::DirectoryListBox(QWidget* parent) : QListWidget(parent) {
  setItemDelegate(new FixedHeightDelegate(16, this));
  setUniformItemSizes(true);
  connect(this, &QListWidget::itemDoubleClicked, this, &DirectoryListBox::OpenItem);
  drives_ = SystemDrives();
  directory_ = CurrentFolder();
  RememberFolder(DriveRoot(), directory_);
  Rebuild();
}

QString DirectoryListBox::DriveRoot() const {
  const int index = DriveIndexOf(directory_, drives_);
  return index < 0 ? QStringLiteral("/") : drives_[index].root;
}

void DirectoryListBox::SetFileList(FileListBox* files) {
  files_ = files;
  if (files_) files_->SetDirectory(directory_);
}

void DirectoryListBox::SetDirectory(const QString& folder) {
  if (!SetCurrentFolder(folder)) return;
  const QString now = CurrentFolder();
  if (now == directory_) return;
  directory_ = now;
  RememberFolder(DriveRoot(), directory_);
  Rebuild();
  if (files_) files_->SetDirectory(directory_);
  emit DirectoryChanged(directory_);
}

void DirectoryListBox::SetDrive(const QString& driveRoot) {
  if (DriveRoot() == driveRoot) return;
  const QString last = LastFolderOn(driveRoot);
  if (last.isEmpty() || !QDir(last).exists()) {
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
  if (item) SetDirectory(item->data(Qt::UserRole).toString());
}

void DirectoryListBox::Rebuild() {
  clear();
  const QString root = DriveRoot();
  const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
  const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);

  // The path from the drive's root down to the current folder.
  QStringList path{root};
  QString below = directory_.mid(root == "/" ? 1 : root.size() + 1);
  QString walked = root;
  for (const QString& name : below.split('/', Qt::SkipEmptyParts)) {
    walked = walked == "/" ? "/" + name : walked + "/" + name;
    path.append(walked);
  }
  int level = 0;
  for (const QString& folder : path) {
    const QString name = level == 0 ? folder : folder.section('/', -1);
    auto* item = new QListWidgetItem(open, QString(level * 2, ' ') + name, this);
    item->setData(Qt::UserRole, folder);
    ++level;
  }
  setCurrentRow(count() - 1);

  QStringList subfolders =
      QDir(directory_).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
  subfolders.erase(std::remove_if(subfolders.begin(), subfolders.end(),
                                  [](const QString& n) { return n.startsWith('.'); }),
                   subfolders.end());
  std::sort(subfolders.begin(), subfolders.end(), [](const QString& a, const QString& b) {
    const int byLetters = a.compare(b, Qt::CaseInsensitive);
    return byLetters != 0 ? byLetters < 0 : a < b;
  });
  for (const QString& name : subfolders) {
    auto* item = new QListWidgetItem(closed, QString(level * 2, ' ') + name, this);
    item->setData(Qt::UserRole, directory_ == "/" ? "/" + name : directory_ + "/" + name);
  }
}

}  // namespace corvella::browse
