// A folder's entries as the file system names them: bytes, which need not be
// UTF-8 (a name from an old disk, say). The lists show each name decoded,
// with U+FFFD for bytes that are not UTF-8, and keep its bytes, so the right
// file is opened whatever its name. On Windows the bytes are the UTF-8 of
// the system's own (UTF-16) names, so every name in any script comes
// through, as it does for the command line.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace corvella::browse {

struct Entry {
  QByteArray name;  // as the file system has it
  bool folder = false;
  bool regularFile = false;  // a plain file, or a link to one
  bool hidden = false;       // a dot file; on Windows, hidden or system
};

// The entries of the folder at `path`, "." and ".." left out, in no order.
QList<Entry> ReadFolder(const QByteArray& path);
// The files of the folder at `path` whose names match one of the patterns
// of `mask` ("*.wav;*.WAV"), letter case ignored, in no order: the
// platform's file search, hidden and system files included, folders and
// volume labels left out.
QList<QByteArray> FindFiles(const QByteArray& path, const QString& mask);
// A name or path as a list shows it, and back.
QString Shown(const QByteArray& bytes);
QByteArray Encoded(const QString& text);
// Orders names as the lists do: ignoring letter case, then by their bytes.
bool ListedBefore(const QByteArray& a, const QByteArray& b);
// `folder` and `name` joined with the platform's separator.
QByteArray Join(const QByteArray& folder, const QByteArray& name);
// The separator the platform writes paths with.
char Separator();
// Whether `folder` lies on the drive or in the folder `root`.
bool Contains(const QString& root, const QString& folder);

// The process's current folder, which the panes change as they move.
bool SetCurrentFolder(const QByteArray& folder);
QByteArray CurrentFolder();
// The folder the system keeps current on a drive for this process: on
// Windows the one it set there last (the root if none); elsewhere none.
QByteArray SystemFolderOn(const QString& driveRoot);

}  // namespace corvella::browse
