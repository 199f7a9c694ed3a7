// A folder list: the drive's root, the folders down to the current one, then
// the current folder's subfolders sorted ignoring case (hidden ones left out).
// A double click or Enter opens a folder; a single click only highlights.
// Folders are kept by their bytes, so any name can be entered.
#pragma once

#include <QByteArray>
#include <QListWidget>
#include <QString>

#include "browse/Drives.h"

namespace corvella::browse {

class FileListBox;

class DirectoryListBox : public QListWidget {
  Q_OBJECT

 public:
  explicit DirectoryListBox(QWidget* parent = nullptr);

  // The current folder as shown, and as the file system names it.
  QString Directory() const;
  const QByteArray& Path() const { return path_; }
  // Makes `folder` current and lists it; nothing happens for the folder
  // that is already current or for one that cannot be entered.
  void SetDirectory(const QByteArray& folder);
  void SetDirectory(const QString& folder);
  // Moves to the folder last visited on the drive (its root if none), unless
  // the current folder already lies on that drive.
  void SetDrive(const QString& driveRoot);
  // The file list that follows this folder list.
  void SetFileList(FileListBox* files);
  // The root of the drive the current folder lies on.
  QString DriveRoot() const;

 signals:
  void DirectoryChanged(const QString& folder);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OpenItem(QListWidgetItem* item);
  void Rebuild();

  QList<Drive> drives_;
  QByteArray path_;
  FileListBox* files_ = nullptr;
};

}  // namespace corvella::browse
