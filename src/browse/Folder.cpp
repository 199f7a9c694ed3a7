#include "browse/Folder.h"

namespace corvella::browse {

QString Shown(const QByteArray& bytes) {
  return QString::fromUtf8(bytes);
}

bool ListedBefore(const QByteArray& a, const QByteArray& b) {
  const int byLetters = Shown(a).compare(Shown(b), Qt::CaseInsensitive);
  return byLetters != 0 ? byLetters < 0 : a < b;
}

QByteArray Join(const QByteArray& folder, const QByteArray& name) {
  return folder.endsWith(Separator()) ? folder + name : folder + Separator() + name;
}

bool Contains(const QString& root, const QString& folder) {
  // A drive letter's case is no matter; a mount point's is.
  const Qt::CaseSensitivity letters = Separator() == '\\' ? Qt::CaseInsensitive : Qt::CaseSensitive;
  const QChar separator(Separator());
  if (root.endsWith(separator)) {
    return folder.startsWith(root, letters) || folder.compare(root.chopped(1), letters) == 0;
  }
  return folder.compare(root, letters) == 0 || folder.startsWith(root + separator, letters);
}

}  // namespace corvella::browse
