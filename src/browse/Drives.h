// Drives as a user recognises them, each with the folder last visited on
// it: on Windows the system's drive letters; elsewhere the root, the home
// folder, removable media, RAM drives and network mounts.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace corvella::browse {

enum class DriveKind { Fixed, Home, Removable, Ram, Network, CdRom };

struct Drive {
  // "C:\\" on Windows; elsewhere the mount point (or the home folder),
  // without a trailing slash except "/"
  QString root;
  QString volumeName;  // file system label, the network share, or "" when none
  DriveKind kind = DriveKind::Fixed;
};

// The drives of this machine now.
QList<Drive> SystemDrives();
// How a drive box shows a drive: "c:" on Windows, its root elsewhere.
QString DriveName(const Drive& drive);
// The drive a folder lies on: the one with the longest root that contains it.
// Returns -1 when none does.
int DriveIndexOf(const QString& folder, const QList<Drive>& drives);

// The folder last visited on each drive, kept for the whole process as the
// platform keeps a current folder per drive (on Windows, a drive not visited
// yet starts from the one the system keeps for it).
QByteArray LastFolderOn(const QString& driveRoot);
void RememberFolder(const QString& driveRoot, const QByteArray& folder);

}  // namespace corvella::browse
