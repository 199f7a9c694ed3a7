// The drive box, folder list and file list on a synthesised folder tree.
#include <sys/stat.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "browse/DirectoryListBox.h"
#include "browse/DriveComboBox.h"
#include "browse/FileListBox.h"
#include "browse/MountTable.h"

using namespace corvella::browse;

static QStringList Texts(const QListWidget& list) {
  QStringList texts;
  for (int i = 0; i < list.count(); ++i) texts.append(list.item(i)->text().trimmed());
  return texts;
}

class BrowseTest : public QObject {
  Q_OBJECT
  QTemporaryDir tree_;
  QString root_;

  QListWidgetItem* Entry(QListWidget& list, const QString& name) {
    return list.item(static_cast<int>(Texts(list).indexOf(name)));
  }

 private slots:
  void initTestCase() {
    root_ = QDir(tree_.path()).canonicalPath();
    for (const char* folder : {"Sub/inner", "alpha", "Zeta", ".hidden", "x.wav"})
      QDir(root_).mkpath(folder);
    for (const char* file :
         {"a.wav", "B.WAV", ".secret.wav", "notes.txt", "mix.Wav", "b.wav", "Sub/deep.wav"}) {
      QFile(root_ + "/" + file).open(QIODevice::WriteOnly);
    }
    QFile::link(root_ + "/a.wav", root_ + "/link.wav");
    QFile::link(root_ + "/nowhere", root_ + "/dangling.wav");
    QCOMPARE(::mkfifo(qPrintable(root_ + "/pipe.wav"), 0600), 0);
  }

  void listsFollowThePanesRules() {
    DirectoryListBox folders;
    FileListBox files;
    folders.SetFileList(&files);
    folders.SetDirectory(root_);
    // Every file named *.wav in any case, hidden ones too; no folder, pipe or broken link.
    const QStringList wavs{".secret.wav", "a.wav", "B.WAV", "b.wav", "link.wav", "mix.Wav"};
    QCOMPARE(Texts(files), wavs);
    QCOMPARE(files.selectionMode(), QAbstractItemView::ExtendedSelection);
    // The root, the path down, then the visible subfolders ignoring case.
    const QStringList path = QStringList{"/"} + root_.mid(1).split('/');
    QCOMPARE(Texts(folders), path + QStringList({"alpha", "Sub", "x.wav", "Zeta"}));
    QCOMPARE(folders.currentRow(), path.size() - 1);
    QCOMPARE(QDir::currentPath(), root_);

    // A double click or Enter opens a folder; a single click only highlights.
    folders.setCurrentItem(Entry(folders, "Sub"));
    QCOMPARE(folders.Directory(), root_);
    emit folders.itemDoubleClicked(Entry(folders, "Sub"));
    QCOMPARE(files.Directory(), root_ + "/Sub");
    QCOMPARE(Texts(files), QStringList{"deep.wav"});
    folders.setCurrentItem(Entry(folders, "inner"));
    QTest::keyClick(&folders, Qt::Key_Return);
    QCOMPARE(folders.Directory(), root_ + "/Sub/inner");

    // The folder already listed is not read again, selection and all.
    emit folders.itemDoubleClicked(Entry(folders, "Sub"));
    files.item(0)->setSelected(true);
    const int listing = files.Generation();
    QFile(root_ + "/Sub/later.wav").open(QIODevice::WriteOnly);
    emit folders.itemDoubleClicked(folders.item(folders.currentRow()));
    files.SetDirectory(root_ + "/Sub");
    QCOMPARE(files.Generation(), listing);
    QCOMPARE(files.selectedItems().size(), 1);
    folders.SetDirectory(root_);
    folders.SetDirectory(root_ + "/Sub");
    QCOMPARE(Texts(files), (QStringList{"deep.wav", "later.wav"}));
    QCOMPARE(files.selectedItems().size(), 0);
  }

  void drivesAndTheFolderLastVisitedOnEach() {
    const QList<Drive> drives = DrivesFrom({{"/", "/dev/vda1", "ext4", "system"},
                                            {"/proc", "proc", "proc", ""},
                                            {"/tmp", "tmpfs", "tmpfs", ""},
                                            {"/boot/efi", "/dev/vda15", "vfat", "EFI"},
                                            {"/media/anna/STICK", "/dev/sdb1", "vfat", "STICK"},
                                            {"/mnt/archive", "server:/archive", "nfs4", ""},
                                            {"/data", "/dev/sdc1", "ext4", "data"},
                                            {"/mnt/sandbox", "none", "tmpfs", ""}},
                                           "/home/anna");
    // The drive box shows each drive's root and, but for removable media,
    // its volume name; a file system in memory where media are mounted is a
    // RAM drive.
    DriveComboBox entries(nullptr, drives);
    QStringList texts;
    for (int i = 0; i < entries.count(); ++i) texts.append(entries.itemText(i));
    QCOMPARE(texts,
             (QStringList{"/  [system]", "/home/anna  [Home]", "/data  [data]", "/media/anna/STICK",
                          "/mnt/archive  [server:/archive]", "/mnt/sandbox"}));
    QCOMPARE(drives[5].kind, DriveKind::Ram);
    QCOMPARE(DriveIndexOf("/home/anna/tapes", drives), 1);
    QCOMPARE(DriveIndexOf("/run/user/1000", drives), 0);
    QCOMPARE(DriveIndexOf("/home/annabel", drives), 0);

    DirectoryListBox folders;
    DriveComboBox box;
    box.SetDirList(&folders);
    folders.SetDirectory(root_ + "/Sub");
    const QString home = QDir::homePath();  // a drive of its own, set up in main()
    folders.SetDrive(home);
    QCOMPARE(folders.Directory(), home);
    QCOMPARE(box.Drive(), home);
    folders.SetDrive("/");
    QCOMPARE(folders.Directory(), root_ + "/Sub");
    QCOMPARE(box.Drive(), QString("/"));
  }
};

int main(int argc, char** argv) {
  QTemporaryDir home;
  qputenv("HOME", QDir(home.path()).canonicalPath().toLocal8Bit());
  QApplication app(argc, argv);
  BrowseTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "browse_test.moc"
