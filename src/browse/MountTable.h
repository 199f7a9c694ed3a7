// The drives of a system without drive letters: its mounted file systems.
#pragma once

#include <QList>
#include <QString>

#include "browse/Drives.h"

namespace corvella::browse {

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

}  // namespace corvella::browse
