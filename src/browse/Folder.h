// A folder's entries as the file system names them: bytes, which need not be
// UTF-8 (a name from an old Windows disk, say). The lists show each name
// decoded, with U+FFFD for bytes that are not UTF-8, and keep its bytes, so
// the right file is opened whatever its name.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace corvella::browse {

struct Entry {
  QByteArray name;  // as the file system has it
  bool folder = false;
  bool regularFile = false;  // a plain file, or a link to one
};

// The entries of the folder at `path`, "." and ".." left out, in no order.
QList<Entry> ReadFolder(const QByteArray& path);
// A name or path as a list shows it.
QString Shown(const QByteArray& bytes);
// Whether `name` matches the pattern `mask` ("*.wav"), ignoring letter case.
bool Matches(const QByteArray& name, const QByteArray& mask);
// Orders names as the lists do: ignoring letter case, then by their bytes.
bool ListedBefore(const QByteArray& a, const QByteArray& b);
// `folder` and `name` joined with a slash.
QByteArray Join(const QByteArray& folder, const QByteArray& name);

// The process's current folder, which the panes change as they move.
bool SetCurrentFolder(const QByteArray& folder);
QByteArray CurrentFolder();

}  // namespace corvella::browse
