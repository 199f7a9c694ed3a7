#include "browse/MountTable.h"

#include <QDir>
#include <QStorageInfo>
#include <algorithm>

namespace corvella::browse {
namespace {

bool IsNetworkType(const QString& type) {
  static const QStringList kNetwork{
      "nfs",   "nfs4",       "cifs", "smb3", "smbfs", "fuse.sshfs", "fuse.rclone",
      "davfs", "fuse.davfs", "9p",   "afs",  "ceph",  "glusterfs",  "fuse.glusterfs"};
  return kNetwork.contains(type);
}

bool Under(const QString& path, const QString& folder) {
  return path == folder || path.startsWith(folder + '/');
}

bool IsRemovablePlace(const QString& root) {
  return Under(root, "/media") || Under(root, "/run/media") || Under(root, "/mnt");
}

// Mounts a system needs but a user does not pick recordings from.
bool IsSystemPlace(const QString& root) {
  static const QStringList kSystem{"/boot", "/efi",  "/snap", "/var", "/usr", "/opt",
                                   "/srv",  "/proc", "/sys",  "/dev", "/run", "/tmp"};
  return std::any_of(kSystem.begin(), kSystem.end(),
                     [&](const QString& place) { return Under(root, place); });
}

QString Clean(const QString& path) {
  QString clean = QDir::cleanPath(path);
  return clean.isEmpty() ? QStringLiteral("/") : clean;
}

bool IsMemoryType(const QString& type) {
  return type == "tmpfs" || type == "ramfs";
}

}  // namespace

QList<Drive> DrivesFrom(const QList<Mount>& mounts, const QString& home) {
  QList<Drive> drives;
  QList<Drive> others;
  drives.append({"/", QString(), DriveKind::Fixed});
  for (const Mount& mount : mounts) {
    const QString root = Clean(mount.root);
    const bool onDevice = mount.device.startsWith("/dev/");
    const bool network = IsNetworkType(mount.fileSystemType);
    if (root == "/") {
      drives[0].volumeName = mount.label;
      continue;
    }
    if (network) {
      others.append({root, mount.label.isEmpty() ? mount.device : mount.label, DriveKind::Network});
    } else if (IsMemoryType(mount.fileSystemType) && IsRemovablePlace(root)) {
      others.append({root, mount.label, DriveKind::Ram});
    } else if (onDevice && IsRemovablePlace(root)) {
      others.append({root, mount.label, DriveKind::Removable});
    } else if (onDevice && !IsSystemPlace(root)) {
      others.append({root, mount.label, DriveKind::Fixed});
    }
  }
  if (!home.isEmpty() && Clean(home) != "/") {
    drives.append({Clean(home), QStringLiteral("Home"), DriveKind::Home});
  }
  std::sort(others.begin(), others.end(),
            [](const Drive& a, const Drive& b) { return a.root < b.root; });
  for (const Drive& drive : others) {
    if (std::none_of(drives.begin(), drives.end(),
                     [&](const Drive& d) { return d.root == drive.root; })) {
      drives.append(drive);
    }
  }
  return drives;
}

QList<Drive> SystemDrives() {
  QList<Mount> mounts;
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    if (!volume.isValid() || !volume.isReady()) continue;
    mounts.append({volume.rootPath(), QString::fromLocal8Bit(volume.device()),
                   QString::fromLocal8Bit(volume.fileSystemType()), volume.name()});
  }
  return DrivesFrom(mounts, QDir::homePath());
}

QString DriveName(const Drive& drive) {
  return drive.root;
}

}  // namespace corvella::browse
