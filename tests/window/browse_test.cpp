// The drive box, folder list and file list on a synthesised folder tree.
#include <sys/stat.h>

#include <QFile>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QtTest>

#include "browse/DirectoryListBox.h"
#include "browse/DriveComboBox.h"
#include "browse/Drives.h"
#include "browse/FileListBox.h"

using namespace corvella::browse;

namespace {

void Touch(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) qFatal("cannot create %s", qPrintable(path));
}

QStringList Texts(const QListWidget& list) {
  QStringList texts;
  for (int i = 0; i < list.count(); ++i) texts.append(list.item(i)->text().trimmed());
  return texts;
}

QListWidgetItem* ItemNamed(QListWidget& list, const QString& name) {
  for (int i = 0; i < list.count(); ++i) {
    if (list.item(i)->text().trimmed() == name) return list.item(i);
  }
  qFatal("no entry %s", qPrintable(name));
}

}  // namespace

class BrowseTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir tree_;
  QString root_;

 private slots:
  void initTestCase() {
    root_ = QDir(tree_.path()).canonicalPath();
    QDir dir(root_);
    for (const char* folder : {"Sub", "alpha", "Zeta", ".hidden", "x.wav", "Sub/inner"}) {
      QVERIFY(dir.mkpath(folder));
    }
    for (const char* file : {"a.wav", "B.WAV", ".secret.wav", "notes.txt", "mix.Wav", "b.wav",
                             "Sub/deep.wav"}) {
      Touch(root_ + "/" + file);
    }
    QVERIFY(QFile::link(root_ + "/a.wav", root_ + "/link.wav"));
    QVERIFY(QFile::link(root_ + "/nowhere", root_ + "/dangling.wav"));
    QCOMPARE(::mkfifo(qPrintable(root_ + "/pipe.wav"), 0600), 0);
  }

  void fileListShowsEveryWavFileInAnyCaseAndNoFolder() {
    FileListBox files;
    files.SetDirectory(root_);
    QCOMPARE(Texts(files),
             (QStringList{".secret.wav", "a.wav", "B.WAV", "b.wav", "link.wav", "mix.Wav"}));
    QCOMPARE(files.selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(files.selectedItems().size(), 0);
    QCOMPARE(QDir::currentPath(), root_);
  }

  void fileListIsReadOnlyWhenItsFolderChanges() {
    FileListBox files;
    files.SetDirectory(root_);
    const int listing = files.Generation();
    files.item(0)->setSelected(true);
    Touch(root_ + "/later.wav");
    files.SetDirectory(root_);  // the same folder: nothing is read
    QCOMPARE(files.Generation(), listing);
    QVERIFY(!Texts(files).contains("later.wav"));
    QCOMPARE(files.selectedItems().size(), 1);
    files.SetDirectory(root_ + "/Sub");
    QCOMPARE(Texts(files), QStringList{"deep.wav"});
    files.SetDirectory(root_);
    QVERIFY(Texts(files).contains("later.wav"));
    QCOMPARE(files.selectedItems().size(), 0);
    QFile::remove(root_ + "/later.wav");
  }

  void folderListShowsThePathAndVisibleSubfoldersIgnoringCase() {
    DirectoryListBox folders;
    folders.SetDirectory(root_);
    QStringList expected{"/"};
    expected += root_.mid(1).split('/');
    const int current = expected.size() - 1;
    expected += QStringList{"alpha", "Sub", "x.wav", "Zeta"};
    QCOMPARE(Texts(folders), expected);
    QCOMPARE(folders.currentRow(), current);
    QCOMPARE(folders.Directory(), root_);
    QCOMPARE(QDir::currentPath(), root_);
  }

  void doubleClickOrEnterOpensAFolderAndTheFileListFollows() {
    DirectoryListBox folders;
    FileListBox files;
    folders.SetFileList(&files);
    folders.SetDirectory(root_);
    QCOMPARE(files.Directory(), root_);

    QListWidgetItem* sub = ItemNamed(folders, "Sub");
    folders.setCurrentItem(sub);  // a single click only highlights
    QCOMPARE(folders.Directory(), root_);
    emit folders.itemDoubleClicked(sub);
    QCOMPARE(folders.Directory(), root_ + "/Sub");
    QCOMPARE(files.Directory(), root_ + "/Sub");
    QCOMPARE(Texts(files), QStringList{"deep.wav"});

    folders.setCurrentItem(ItemNamed(folders, "inner"));
    QTest::keyClick(&folders, Qt::Key_Return);
    QCOMPARE(folders.Directory(), root_ + "/Sub/inner");
    QCOMPARE(Texts(files), QStringList{});

    // Up again through the path entry.
    emit folders.itemDoubleClicked(ItemNamed(folders, "Sub"));
    QCOMPARE(folders.Directory(), root_ + "/Sub");
  }

  void choosingTheCurrentFolderAgainChangesNothing() {
    DirectoryListBox folders;
    FileListBox files;
    folders.SetFileList(&files);
    folders.SetDirectory(root_);
    QSignalSpy changed(&folders, &DirectoryListBox::DirectoryChanged);
    const int listing = files.Generation();
    emit folders.itemDoubleClicked(folders.item(folders.currentRow()));
    QCOMPARE(changed.count(), 0);
    QCOMPARE(files.Generation(), listing);
  }

  void drivesAreTheRootHomeRemovableAndNetworkMounts() {
    const QList<Mount> mounts{
        {"/", "/dev/vda1", "ext4", "system"},
        {"/proc", "proc", "proc", ""},
        {"/dev/shm", "tmpfs", "tmpfs", ""},
        {"/tmp", "tmpfs", "tmpfs", ""},
        {"/boot/efi", "/dev/vda15", "vfat", "EFI"},
        {"/media/anna/STICK", "/dev/sdb1", "vfat", "STICK"},
        {"/mnt/archive", "server:/archive", "nfs4", ""},
        {"/srv/share", "//nas/share", "cifs", "music"},
        {"/data", "/dev/sdc1", "ext4", "data"},
        {"/mnt/sandbox", "none", "tmpfs", ""},
    };
    const QList<Drive> drives = DrivesFrom(mounts, "/home/anna");
    QStringList roots;
    for (const Drive& drive : drives) roots.append(drive.root + "=" + drive.volumeName);
    QCOMPARE(roots, (QStringList{"/=system", "/home/anna=Home", "/data=data",
                                 "/media/anna/STICK=STICK", "/mnt/archive=server:/archive",
                                 "/srv/share=music"}));
    QCOMPARE(drives[3].kind, DriveKind::Removable);
    QCOMPARE(drives[4].kind, DriveKind::Network);
    QCOMPARE(DriveIndexOf("/home/anna/tapes", drives), 1);
    QCOMPARE(DriveIndexOf("/home/annabel", drives), 0);
    QCOMPARE(DriveIndexOf("/media/anna/STICK", drives), 3);
    QCOMPARE(DriveIndexOf("/usr/share", drives), 0);
  }

  void eachDriveRemembersTheFolderLastVisitedOnIt() {
    // Home is a drive of its own; the tree lies on the root drive.
    DirectoryListBox folders;
    DriveComboBox drives;
    drives.SetDirList(&folders);
    folders.SetDirectory(root_ + "/Sub");
    const QString home = QDir::homePath();
    QVERIFY(drives.DriveRoots().contains(home));
    QCOMPARE(drives.Drive(), QString("/"));

    folders.SetDrive(home);
    QCOMPARE(folders.Directory(), home);
    QCOMPARE(drives.Drive(), home);
    QCOMPARE(QDir::currentPath(), home);
    folders.SetDrive("/");
    QCOMPARE(folders.Directory(), root_ + "/Sub");
    QCOMPARE(drives.Drive(), QString("/"));
    folders.SetDrive("/");  // the drive already current: nothing changes
    QCOMPARE(folders.Directory(), root_ + "/Sub");
  }
};

int main(int argc, char** argv) {
  // A home folder of the test's own, so that it is a drive apart from the root.
  QTemporaryDir home;
  qputenv("HOME", QDir(home.path()).canonicalPath().toLocal8Bit());
  QApplication app(argc, argv);
  BrowseTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "browse_test.moc"
