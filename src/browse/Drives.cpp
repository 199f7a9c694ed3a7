#include "browse/Drives.h"

#include <QHash>

#include "browse/Folder.h"

namespace corvella::browse {
namespace {

QHash<QString, QByteArray>& LastFolders() {
  static QHash<QString, QByteArray> folders;
  return folders;
}

}  // namespace

int DriveIndexOf(const QString& folder, const QList<Drive>& drives) {
  int best = -1;
  for (int i = 0; i < drives.size(); ++i) {
    const QString& root = drives[i].root;
    if (Contains(root, folder) && (best < 0 || root.size() > drives[best].root.size())) best = i;
  }
  return best;
}

QByteArray LastFolderOn(const QString& driveRoot) {
  const QByteArray last = LastFolders().value(driveRoot);
  return last.isEmpty() ? SystemFolderOn(driveRoot) : last;
}

void RememberFolder(const QString& driveRoot, const QByteArray& folder) {
  LastFolders().insert(driveRoot, folder);
}

}  // namespace corvella::browse
