#include "browse/DriveComboBox.h"

#include <QStyle>

#include "browse/DirectoryListBox.h"

namespace corvella::browse {
namespace {

QIcon IconFor(const QStyle* style, DriveKind kind) {
  switch (kind) {
    case DriveKind::Home:
      return style->standardIcon(QStyle::SP_DirHomeIcon);
    case DriveKind::Removable:
      return style->standardIcon(QStyle::SP_DriveFDIcon);
    case DriveKind::Network:
      return style->standardIcon(QStyle::SP_DriveNetIcon);
    case DriveKind::Fixed:
      break;
  }
  return style->standardIcon(QStyle::SP_DriveHDIcon);
}

}  // namespace

DriveComboBox::DriveComboBox(QWidget* parent) : QComboBox(parent) {
  drives_ = SystemDrives();
  for (const browse::Drive& drive : drives_) {
    const QString text =
        drive.volumeName.isEmpty() ? drive.root : drive.root + "  [" + drive.volumeName + "]";
    addItem(IconFor(style(), drive.kind), text, drive.root);
  }
  ShowDriveOf(CurrentFolder());
  connect(this, &QComboBox::activated, this, [this](int index) {
    if (folders_ && index >= 0) folders_->SetDrive(drives_[index].root);
  });
}

void DriveComboBox::SetDirList(DirectoryListBox* folders) {
  folders_ = folders;
  ShowDriveOf(folders_->Directory());
  connect(folders_, &DirectoryListBox::DirectoryChanged, this, &DriveComboBox::ShowDriveOf);
}

QStringList DriveComboBox::DriveRoots() const {
  QStringList roots;
  for (const browse::Drive& drive : drives_) roots.append(drive.root);
  return roots;
}

QString DriveComboBox::Drive() const { return currentData().toString(); }

void DriveComboBox::ShowDriveOf(const QString& folder) {
  const int index = DriveIndexOf(folder, drives_);
  if (index >= 0) setCurrentIndex(index);
}

}  // namespace corvella::browse
