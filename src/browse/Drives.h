// Drives as a user recognises them: the root, the home folder, removable
// media, RAM drives and network mounts, each with the folder last visited
// on it.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace corvella::browse {

enum class DriveKind { Fixed, Home, Removable, Ram, Network };

struct Drive {
  QString root;        // mount point (or the home folder), without trailing slash except "/"
  QString volumeName;  // file system label, the network share, or "" when none
  DriveKind kind = DriveKind::Fixed;
};

// One mounted file system as the platform reports it.
struct Mount {
  QString root;
  QString device;
  QString fileSystemType;
  QString label;
};

// Picks the drives worth showing from the mounted file systems: never
// pseudo file systems, and a file system held in memory (tmpfs) only where a
// user mounts media, as a RAM drive. The root comes first, then home, then
// the rest by path.
QList<Drive> DrivesFrom(const QList<Mount>& mounts, const QString& home);
// The drives of this machine now.
QList<Drive> SystemDrives();
// The drive a folder lies on: the one with the longest root that contains it.
// Returns -1 when none does.
int DriveIndexOf(const QString& folder, const QList<Drive>& drives);

// The folder last visited on each drive, kept for the whole process as the
// platform keeps a current folder per drive.
QByteArray LastFolderOn(const QString& driveRoot);
void RememberFolder(const QString& driveRoot, const QByteArray& folder);

}  // namespace corvella::browse
