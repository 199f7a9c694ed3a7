// The drive chooser: one entry per drive; choosing one hands the drive to
// the linked folder list.
#pragma once

#include <QComboBox>

#include "browse/Drives.h"

namespace corvella::browse {

class DirectoryListBox;

class DriveComboBox : public QComboBox {
  Q_OBJECT

 public:
  // The drives of this machine, or those given.
  explicit DriveComboBox(QWidget* parent = nullptr);
  DriveComboBox(QWidget* parent, const QList<browse::Drive>& drives);
  // A drive's entry: its name ("c:", or the root) and, except for a
  // removable drive, its volume name.
  static QString TextOf(const browse::Drive& drive);
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
