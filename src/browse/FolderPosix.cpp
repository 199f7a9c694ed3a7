#include <dirent.h>
#include <fnmatch.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

#include "browse/Folder.h"

namespace corvella::browse {

QList<Entry> ReadFolder(const QByteArray& path) {
  QList<Entry> entries;
  DIR* folder = ::opendir(path.constData());
  if (!folder) return entries;
  const int fd = ::dirfd(folder);
  while (const dirent* entry = ::readdir(folder)) {
    const QByteArray name(entry->d_name);
    if (name == "." || name == "..") continue;
    struct stat st {};
    // Links count as what they lead to; a link leading nowhere is left out.
    if (::fstatat(fd, entry->d_name, &st, 0) != 0) continue;
    entries.append({name, S_ISDIR(st.st_mode), S_ISREG(st.st_mode), name.startsWith('.')});
  }
  ::closedir(folder);
  return entries;
}

QList<QByteArray> FindFiles(const QByteArray& path, const QString& mask) {
  // Only regular files, so a folder or a device whose name matches never
  // shows; dot files are listed as Windows lists hidden ones.
  QList<QByteArray> names;
  for (const Entry& entry : ReadFolder(path)) {
    if (!entry.regularFile) continue;
    for (const QString& pattern : mask.split(';', Qt::SkipEmptyParts)) {
      if (::fnmatch(pattern.toUtf8().constData(), entry.name.constData(), FNM_CASEFOLD) == 0) {
        names.append(entry.name);
        break;
      }
    }
  }
  return names;
}

QByteArray Encoded(const QString& text) {
  return QFile::encodeName(text);
}

char Separator() {
  return '/';
}

bool SetCurrentFolder(const QByteArray& folder) {
  return !folder.isEmpty() && ::chdir(folder.constData()) == 0;
}

QByteArray CurrentFolder() {
  char* path = ::getcwd(nullptr, 0);
  const QByteArray folder = path ? QByteArray(path) : QByteArray("/");
  ::free(path);
  return folder;
}

QByteArray SystemFolderOn(const QString&) {
  return {};
}

}  // namespace corvella::browse
