// The list of "*.wav" files in one folder: every matching name in any letter
// case, hidden ones included, folders never; sorted; extended selection.
// Each entry keeps its name's bytes (Qt::UserRole) beside the text shown.
#pragma once

#include <QByteArray>
#include <QListWidget>
#include <QString>

namespace corvella::browse {

class FileListBox : public QListWidget {
  Q_OBJECT

 public:
  explicit FileListBox(QWidget* parent = nullptr);

  // The folder listed, as shown and as the file system names it.
  QString Directory() const;
  const QByteArray& Path() const { return path_; }
  // Lists `folder` unless it is the folder already listed. Makes it the
  // process's current folder; afterwards no entry is selected.
  void SetDirectory(const QByteArray& folder);
  void SetDirectory(const QString& folder);
  QString Mask() const { return mask_; }
  // Entry i's name as the file system has it.
  QByteArray NameAt(int i) const;
  // Counts the re-readings, so a walk can tell that the entries changed under it.
  int Generation() const { return generation_; }

 private:
  void ReadEntries();

  QByteArray path_;
  int generation_ = 0;
  QString mask_ = QStringLiteral("*.wav");
};

}  // namespace corvella::browse
