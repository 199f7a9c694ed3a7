#include "browse/DriveComboBox.h"

#include <QStyle>

#include "browse/DirectoryListBox.h"
#include "browse/Folder.h"

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
    case DriveKind::Ram:
    case DriveKind::CdRom:
      return style->standardIcon(QStyle::SP_DriveCDIcon);
    case DriveKind::Fixed:
      break;
  }
  return style->standardIcon(QStyle::SP_DriveHDIcon);
}

}  // namespace

DriveComboBox::DriveComboBox(QWidget* parent) : DriveComboBox(parent, SystemDrives()) {}

DriveComboBox::DriveComboBox(QWidget* parent, const QList<browse::Drive>& drives)
    : QComboBox(parent), drives_(drives) {
  for (const browse::Drive& drive : drives_)
    addItem(IconFor(style(), drive.kind), TextOf(drive), drive.root);
  ShowDriveOf(Shown(CurrentFolder()));
  connect(this, &QComboBox::activated, this, [this](int index) {
    if (folders_ && index >= 0) folders_->SetDrive(drives_[index].root);
  });
}

void DriveComboBox::SetDirList(DirectoryListBox* folders) {
  folders_ = folders;
  ShowDriveOf(folders_->Directory());
  connect(folders_, &DirectoryListBox::DirectoryChanged, this, &DriveComboBox::ShowDriveOf);
}

QString DriveComboBox::TextOf(const browse::Drive& drive) {
  if (drive.kind == DriveKind::Removable || drive.volumeName.isEmpty()) return DriveName(drive);
  return DriveName(drive) + "  [" + drive.volumeName + "]";
}

QStringList DriveComboBox::DriveRoots() const {
  QStringList roots;
  for (const browse::Drive& drive : drives_) roots.append(drive.root);
  return roots;
}

QString DriveComboBox::Drive() const {
  return currentData().toString();
}

void DriveComboBox::ShowDriveOf(const QString& folder) {
  const int index = DriveIndexOf(folder, drives_);
  if (index >= 0) setCurrentIndex(index);
}

}  // namespace corvella::browse
