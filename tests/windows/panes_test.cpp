// The file panes on Windows, under wine: the drive letters the system
// reports, each with its volume name; folders in the system's own form
// ("Z:\", "Z:\tapes"); the file search listing hidden, system and
// read-only recordings and names in any script, never a folder; the
// current folder kept per drive.
#include <windows.h>

#include <QApplication>
#include <QDir>
#include <algorithm>

#include "browse/DirectoryListBox.h"
#include "browse/DriveComboBox.h"
#include "browse/FileListBox.h"
#include "browse/Folder.h"
#include "support/Fixture.h"

namespace corvella::test {
namespace {

void Touch(const std::string& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
  WriteFile(path, Bytes{'R', 'I', 'F', 'F'});
  SetFileAttributesW(QString::fromUtf8(path.c_str()).toStdWString().c_str(), attributes);
}

QStringList Entries(const QListWidget& list) {
  QStringList entries;
  for (int i = 0; i < list.count(); ++i) entries.append(list.item(i)->text().trimmed());
  return entries;
}

TEST(Panes, DriveBoxListsTheSystemsDriveLetters) {
  const QList<browse::Drive> drives = browse::SystemDrives();
  QStringList roots;
  for (const browse::Drive& drive : drives) roots.append(drive.root);
  // Wine's own: its C: and the Linux root as Z:.
  EXPECT_TRUE(roots.contains("C:\\")) << roots.join(' ').toStdString();
  EXPECT_TRUE(roots.contains("Z:\\")) << roots.join(' ').toStdString();
  EXPECT_TRUE(std::is_sorted(roots.begin(), roots.end()));
  browse::DriveComboBox box;
  for (int i = 0; i < box.count(); ++i) {
    const browse::Drive& drive = drives[i];
    wchar_t label[MAX_PATH + 1] = {};
    GetVolumeInformationW(drive.root.toStdWString().c_str(), label, MAX_PATH + 1, nullptr, nullptr,
                          nullptr, nullptr, 0);
    // "c:" and the volume name the system gives, as the entry shows it.
    const QString name = drive.root.left(2).toLower();
    const QString volume = QString::fromWCharArray(label);
    EXPECT_EQ(box.itemText(i).toStdString(),
              (volume.isEmpty() || drive.kind == browse::DriveKind::Removable
                   ? name
                   : name + "  [" + volume + "]")
                  .toStdString());
  }
  // The box shows the drive of the current folder.
  EXPECT_EQ(box.Drive().toStdString(),
            browse::Shown(browse::CurrentFolder()).left(3).toUpper().toStdString());
}

TEST(Panes, FoldersFilesAndTheCurrentFolderPerDrive) {
  TempDir dir;
  const std::string top = Backslashed(dir.path());
  // The folder in the system's form: no trailing backslash but at a root.
  const std::string tapes = top + "\\tapes \xCE\xB1";
  CreateDirectoryW(QString::fromUtf8(tapes.c_str()).toStdWString().c_str(), nullptr);
  CreateDirectoryW(QString::fromUtf8((tapes + "\\kept.wav").c_str()).toStdWString().c_str(),
                   nullptr);
  CreateDirectoryW(QString::fromUtf8((tapes + "\\secret").c_str()).toStdWString().c_str(), nullptr);
  SetFileAttributesW(QString::fromUtf8((tapes + "\\secret").c_str()).toStdWString().c_str(),
                     FILE_ATTRIBUTE_HIDDEN);
  Touch(tapes + "\\side a.wav");
  Touch(tapes + "\\SIDE B.WAV");
  Touch(tapes + "\\hidden.wav", FILE_ATTRIBUTE_HIDDEN);
  Touch(tapes + "\\system.wav", FILE_ATTRIBUTE_SYSTEM);
  Touch(tapes + "\\read-only.wav", FILE_ATTRIBUTE_READONLY);
  Touch(tapes + "\\\xE9\x8C\xB2\xE9\x9F\xB3.wav");
  Touch(tapes + "\\notes.txt");

  browse::DirectoryListBox folders;
  browse::FileListBox files;
  folders.SetFileList(&files);
  folders.SetDirectory(QString::fromUtf8(tapes.c_str()));
  EXPECT_EQ(folders.Directory().toStdString(), tapes);
  EXPECT_EQ(files.Directory().toStdString(), tapes);
  EXPECT_EQ(browse::Shown(browse::CurrentFolder()).toStdString(), tapes);
  // The path from the drive's root down, then the subfolders but hidden ones.
  const QStringList entries = Entries(folders);
  EXPECT_EQ(entries.first().toStdString(), tapes.substr(0, 3));
  EXPECT_EQ(entries.last().toStdString(), "kept.wav");
  EXPECT_FALSE(entries.contains("secret"));
  EXPECT_EQ(Entries(files),
            (QStringList{"hidden.wav", "read-only.wav", "side a.wav", "SIDE B.WAV", "system.wav",
                         QString::fromUtf8("\xE9\x8C\xB2\xE9\x9F\xB3.wav")}));

  // Away to another drive and back: the folder is where it was left.
  const QString drive = QString::fromStdString(tapes.substr(0, 3)).toUpper();
  const QString other = drive == "Z:\\" ? QStringLiteral("C:\\") : QStringLiteral("Z:\\");
  folders.SetDrive(other);
  EXPECT_EQ(folders.Directory().left(3).toStdString(), other.toStdString());
  folders.SetDrive(drive);
  EXPECT_EQ(folders.Directory().toStdString(), tapes);
  // A drive's root keeps its backslash.
  folders.SetDirectory(drive);
  EXPECT_EQ(folders.Directory().toStdString(), drive.toStdString());
}

}  // namespace
}  // namespace corvella::test

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
