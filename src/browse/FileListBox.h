// The list of "*.wav" files in one folder: every matching name in any letter
// case, hidden ones included, folders never; sorted; extended selection.
#pragma once

#include <QListWidget>
#include <QString>

namespace corvella::browse {

class FileListBox : public QListWidget {
  Q_OBJECT

 public:
  explicit FileListBox(QWidget* parent = nullptr);

  QString Directory() const { return directory_; }
  // Lists `folder` unless it is the folder already listed. Makes it the
  // process's current folder; afterwards no entry is selected.
  void SetDirectory(const QString& folder);
  QString Mask() const { return mask_; }
  // Counts the re-readings, so a walk can tell that the entries changed under it.
  int Generation() const { return generation_; }

 private:
  void ReadEntries();

  QString directory_;
  int generation_ = 0;
  QString mask_ = QStringLiteral("*.wav");
};

}  // namespace corvella::browse
