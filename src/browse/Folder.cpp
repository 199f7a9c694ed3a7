#include "browse/Folder.h"

#include <dirent.h>
#include <fnmatch.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

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
    entries.append({name, S_ISDIR(st.st_mode), S_ISREG(st.st_mode)});
  }
  ::closedir(folder);
  return entries;
}

QString Shown(const QByteArray& bytes) {
  return QString::fromUtf8(bytes);
}

bool Matches(const QByteArray& name, const QByteArray& mask) {
  return ::fnmatch(mask.constData(), name.constData(), FNM_CASEFOLD) == 0;
}

bool ListedBefore(const QByteArray& a, const QByteArray& b) {
  const int byLetters = Shown(a).compare(Shown(b), Qt::CaseInsensitive);
  return byLetters != 0 ? byLetters < 0 : a < b;
}

QByteArray Join(const QByteArray& folder, const QByteArray& name) {
  return folder.endsWith('/') ? folder + name : folder + '/' + name;
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

}  // namespace corvella::browse
