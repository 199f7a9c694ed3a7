// The drive chooser: one entry per drive with its root and volume name;
// choosing one hands the drive to the linked folder list.
#pragma once

#include <QComboBox>

#include "browse/Drives.h"

namespace corvella::browse {

class DirectoryListBox;

class DriveComboBox : public QComboBox {
  Q_OBJECT

 public:
  explicit DriveComboBox(QWidget* parent = nullptr);
  // Links the folder list; the box then shows the drive of its folder.
  void SetDirList(DirectoryListBox* folders);
  // Drive roots in list order.
  QStringList DriveRoots() const;
  QString Drive() const;

 private:
  void ShowDriveOf(const QString& folder);

  QList<browse::Drive> drives_;
  DirectoryListBox* folders_ = nullptr;
};

}  // namespace corvella::browse
