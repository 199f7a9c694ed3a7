// The panes' folder calls on Windows: the system's own, in their UTF-16
// forms, so that names outside the ANSI code page are listed and opened.
#include <windows.h>

#include <QSet>

#include "browse/Folder.h"

namespace corvella::browse {
namespace {

std::wstring Wide(const QByteArray& utf8) {
  return QString::fromUtf8(utf8).toStdWString();
}

QByteArray Utf8(const wchar_t* wide) {
  return QString::fromWCharArray(wide).toUtf8();
}

// `folder\pattern` as the search takes it, past MAX_PATH too.
std::wstring SearchPath(const QByteArray& folder, const wchar_t* pattern) {
  std::wstring path = Wide(folder);
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  path += pattern;
  if (path.size() >= MAX_PATH && path.rfind(L"\\\\", 0) != 0) path = L"\\\\?\\" + path;
  return path;
}

// Every entry of a search, "." and ".." left out.
template <typename Each>
void Search(const std::wstring& path, Each each) {
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileExW(path.c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (std::wcscmp(found.cFileName, L".") == 0 || std::wcscmp(found.cFileName, L"..") == 0)
      continue;
    each(found);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace

QList<Entry> ReadFolder(const QByteArray& path) {
  QList<Entry> entries;
  Search(SearchPath(path, L"*"), [&](const WIN32_FIND_DATAW& found) {
    const DWORD a = found.dwFileAttributes;
    const bool folder = (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entries.append({Utf8(found.cFileName), folder, !folder && !(a & FILE_ATTRIBUTE_DEVICE),
                    (a & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0});
  });
  return entries;
}

QList<QByteArray> FindFiles(const QByteArray& path, const QString& mask) {
  // The system's match (letter case ignored, as it always is here); hidden,
  // system and read-only files are listed, folders never.
  QList<QByteArray> names;
  QSet<QByteArray> seen;
  for (const QString& pattern : mask.split(';', Qt::SkipEmptyParts)) {
    Search(SearchPath(path, pattern.toStdWString().c_str()), [&](const WIN32_FIND_DATAW& found) {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return;
      const QByteArray name = Utf8(found.cFileName);
      if (!seen.contains(name)) {
        seen.insert(name);
        names.append(name);
      }
    });
  }
  return names;
}

QByteArray Encoded(const QString& text) {
  return text.toUtf8();
}

char Separator() {
  return '\\';
}

bool SetCurrentFolder(const QByteArray& folder) {
  return !folder.isEmpty() && SetCurrentDirectoryW(Wide(folder).c_str()) != 0;
}

QByteArray CurrentFolder() {
  const DWORD size = GetCurrentDirectoryW(0, nullptr);
  std::wstring folder(size, L'\0');
  const DWORD length = GetCurrentDirectoryW(size, folder.data());
  if (length == 0 || length >= size) return "C:\\";
  folder.resize(length);
  // As users write it: without the long-path prefix.
  if (folder.rfind(L"\\\\?\\", 0) == 0 && folder.rfind(L"\\\\?\\UNC\\", 0) != 0)
    folder = folder.substr(4);
  return QString::fromStdWString(folder).toUtf8();
}

QByteArray SystemFolderOn(const QString& driveRoot) {
  // "D:" names the folder current on D: (the root where none was set).
  const std::wstring drive = driveRoot.left(2).toStdWString();
  const DWORD size = GetFullPathNameW(drive.c_str(), 0, nullptr, nullptr);
  if (size == 0) return Encoded(driveRoot);
  std::wstring full(size, L'\0');
  const DWORD length = GetFullPathNameW(drive.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return Encoded(driveRoot);
  full.resize(length);
  return QString::fromStdWString(full).toUtf8();
}

}  // namespace corvella::browse
