// The file system of a Windows machine, behind the same seam as Linux's.
// Paths are UTF-8 outside and UTF-16 inside, made absolute and given the
// \\?\ prefix, so names in any script, drive letters, UNC paths, both kinds
// of slash and paths longer than MAX_PATH all work. A part is created under
// a hidden name already marked for deletion, so the system removes it if the
// process dies, and is renamed into place through its handle in one step.
#ifdef _WIN32

#include <windows.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <random>
#include <vector>

#include "wave/FileApi.h"

namespace corvella::wave {
namespace {

constexpr DWORD kCopyBlock = 1 << 20;

// The errno a Windows error stands for, so that every front end says the
// same words on every system.
// A positioned transfer from byte `position` of a file.
OVERLAPPED At(std::int64_t position) {
  OVERLAPPED at{};
  const auto bits = static_cast<std::uint64_t>(position);
  at.Offset = static_cast<DWORD>(bits);
  at.OffsetHigh = static_cast<DWORD>(bits >> 32);
  return at;
}

// At most a gigabyte a call, as one ReadFile or WriteFile takes it.
DWORD Chunk(std::int64_t left) {
  return static_cast<DWORD>(std::min<std::int64_t>(left, 1 << 30));
}

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_NETWORK_ACCESS_DENIED:
      return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EWOULDBLOCK;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_INVALID_NAME:
      return EILSEQ;
    case ERROR_FILE_TOO_LARGE:
      return EFBIG;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
      return EOPNOTSUPP;
    default:
      return EIO;
  }
}

int Fail(DWORD error = GetLastError()) {
  errno = ErrnoOf(error);
  return errno;
}

// Why `path` cannot be opened: ENOTDIR where a file stands in place of one
// of its folders (or the path names a file as a folder, with a slash at its
// end), as Linux says it; else what the error means.
int FailOpening(const std::wstring& path, DWORD error = GetLastError()) {
  if (error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
      error == ERROR_FILE_NOT_FOUND || error == ERROR_DIRECTORY) {
    for (std::size_t at = path.find(L'\\', 7); at != std::wstring::npos;
         at = path.find(L'\\', at + 1)) {
      const DWORD attributes = GetFileAttributesW(path.substr(0, at).c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        errno = ENOTDIR;
        return errno;
      }
    }
  }
  return Fail(error);
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size,
                      nullptr, nullptr);
  return text;
}

// `path` as the system takes it whatever its length: absolute (a relative
// path means what it meant in the folder the process started in), with
// backslashes, and with the \\?\ prefix that lifts the MAX_PATH limit.
std::wstring SystemPath(const std::string& path) {
  std::wstring wide = Wide(path);
  if (wide.empty()) wide = L".";
  if (wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return wide;
  std::wstring full(size, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  full.resize(length);
  if (full.rfind(L"\\\\.\\", 0) == 0) return full;  // a device: as it is
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

FileId IdOfHandle(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) return {};
  return {static_cast<std::uint64_t>(info.dwVolumeSerialNumber) + 1,
          (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

// A hidden name for a part under way.
std::wstring TemporaryName() {
  static std::mt19937_64 random{std::random_device{}()};
  static std::mutex mutex;
  static const wchar_t kHex[] = L"0123456789abcdef";
  std::lock_guard lock(mutex);
  std::wstring name = L".corvella-";
  std::uint64_t bits = random();
  for (int i = 0; i < 12; ++i, bits >>= 4) name += kHex[bits & 15];
  return name + L".tmp";
}

bool SetDeletion(HANDLE handle, bool deleted) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = deleted ? TRUE : FALSE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

bool RenameHandle(HANDLE handle, const std::wstring& to, bool replace) {
  std::vector<std::uint8_t> buffer(sizeof(FILE_RENAME_INFO) + (to.size() + 1) * sizeof(wchar_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = replace ? TRUE : FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
  std::copy(to.begin(), to.end(), rename->FileName);
  rename->FileName[to.size()] = L'\0';
  return SetFileInformationByHandle(handle, FileRenameInfo, rename,
                                    static_cast<DWORD>(buffer.size())) != 0;
}

class WindowsFiles final : public FileApi {
 public:
  int OpenExclusive(const std::string& path, int& why) override {
    const std::wstring system = SystemPath(path);
    const DWORD attributes = GetFileAttributesW(system.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      why = EISDIR;
      return -1;
    }
    // Others may read the recording meanwhile, nobody may change it.
    const HANDLE handle = CreateFileW(system.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      why = FailOpening(system);
      return -1;
    }
    if (GetFileType(handle) != FILE_TYPE_DISK) {
      CloseHandle(handle);
      why = EINVAL;
      return -1;
    }
    why = 0;
    return Add({handle, system, false});
  }

  std::int64_t ReadAt(int fd, void* buffer, std::int64_t count, std::int64_t offset) override {
    const HANDLE handle = HandleOf(fd);
    auto* out = static_cast<char*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
      OVERLAPPED at = At(offset + done);
      DWORD got = 0;
      const DWORD wanted = Chunk(count - done);
      if (!ReadFile(handle, out + done, wanted, &got, &at)) {
        if (GetLastError() == ERROR_HANDLE_EOF) break;
        Fail();
        return done > 0 ? done : -1;
      }
      if (got == 0) break;
      done += got;
    }
    return done;
  }

  std::int64_t Size(int fd) override {
    LARGE_INTEGER size{};
    return GetFileSizeEx(HandleOf(fd), &size) ? size.QuadPart : -1;
  }

  FileId IdOf(int fd) override { return IdOfHandle(HandleOf(fd)); }

  FileId StandardInputId() override { return IdOfHandle(GetStdHandle(STD_INPUT_HANDLE)); }

  void WillNeed(int, std::int64_t, std::int64_t) override {}

  PathInfo InspectPath(const std::string& path) override { return InspectSystem(SystemPath(path)); }

  int MakeFolder(const std::string& path) override {
    return CreateDirectoryW(SystemPath(path).c_str(), nullptr) ? 0 : ErrnoOf(GetLastError());
  }

  int OpenFolder(const std::string& path, int& why) override {
    const std::wstring system = SystemPath(path);
    // Held open, the folder cannot be renamed or removed while parts go in.
    const HANDLE handle =
        CreateFileW(system.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      why = FailOpening(system);
      return -1;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      CloseHandle(handle);
      why = ENOTDIR;
      return -1;
    }
    // Where the system resolved it.
    std::wstring resolved(32768, L'\0');
    const DWORD length =
        GetFinalPathNameByHandleW(handle, resolved.data(), static_cast<DWORD>(resolved.size()), 0);
    resolved.resize(length > 0 && length < resolved.size() ? length : 0);
    if (resolved.empty()) resolved = system;
    why = 0;
    return Add({handle, resolved, true});
  }

  PathInfo Inspect(int folder, const std::string& name) override {
    return InspectSystem(PathIn(folder, name));
  }

  int CreateUnnamed(int folder, int& why) override {
    for (int attempt = 0; attempt < 16; ++attempt) {
      const std::wstring path = PathIn(folder, TemporaryName());
      const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
      if (handle == INVALID_HANDLE_VALUE) {
        why = Fail();
        if (why == EEXIST) continue;
        return -1;
      }
      // Deleted by the system when the handle closes, whatever ends the
      // process, until it is given its name.
      if (!SetDeletion(handle, true)) {
        const DWORD error = GetLastError();
        CloseHandle(handle);
        DeleteFileW(path.c_str());
        why = Fail(error);
        return -1;
      }
      why = 0;
      return Add({handle, path, false});
    }
    return -1;
  }

  int CreateNew(int folder, const std::string& name, int& why) override {
    const std::wstring path = PathIn(folder, name);
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      why = Fail();
      return -1;
    }
    why = 0;
    return Add({handle, path, false});
  }

  std::int64_t WriteAt(int fd, const void* buffer, std::int64_t count,
                       std::int64_t offset) override {
    const HANDLE handle = HandleOf(fd);
    const auto* in = static_cast<const char*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
      OVERLAPPED at = At(offset + done);
      DWORD put = 0;
      const DWORD wanted = Chunk(count - done);
      if (!WriteFile(handle, in + done, wanted, &put, &at) || put == 0) {
        Fail();
        return done > 0 ? done : -1;
      }
      done += put;
    }
    return done;
  }

  // Large blocks through a buffer of the program's: Windows has no copy of
  // a range between two open files inside the system.
  std::int64_t CopyRange(int in, std::int64_t inOffset, int out, std::int64_t outOffset,
                         std::int64_t count) override {
    std::vector<char> buffer(static_cast<std::size_t>(std::min<std::int64_t>(count, kCopyBlock)));
    std::int64_t done = 0;
    while (done < count) {
      const std::int64_t step = std::min<std::int64_t>(count - done, kCopyBlock);
      const std::int64_t got = ReadAt(in, buffer.data(), step, inOffset + done);
      if (got <= 0) return done > 0 ? done : -1;
      const std::int64_t put = WriteAt(out, buffer.data(), got, outOffset + done);
      if (put > 0) done += put;
      if (put != got) return done > 0 ? done : -1;
    }
    return done;
  }

  int Link(int fd, int folder, const std::string& name) override {
    return Name(fd, folder, name, false);
  }

  int Replace(int fd, int folder, const std::string& name) override {
    return Name(fd, folder, name, true);
  }

  bool Rename(int folder, const std::string& from, const std::string& to) override {
    if (MoveFileExW(PathIn(folder, from).c_str(), PathIn(folder, to).c_str(),
                    MOVEFILE_REPLACE_EXISTING)) {
      return true;
    }
    Fail();
    return false;
  }

  bool Remove(int folder, const std::string& name) override {
    if (DeleteFileW(PathIn(folder, name).c_str())) return true;
    Fail();
    return false;
  }

  bool Close(int fd) override {
    HANDLE handle = INVALID_HANDLE_VALUE;
    {
      std::lock_guard lock(mutex_);
      const auto it = open_.find(fd);
      if (it == open_.end()) return false;
      handle = it->second.handle;
      open_.erase(it);
    }
    if (CloseHandle(handle)) return true;
    Fail();
    return false;
  }

 private:
  struct Open {
    HANDLE handle;
    std::wstring path;  // for a folder, where it lies
    bool folder;
  };

  int Add(Open open) {
    std::lock_guard lock(mutex_);
    const int fd = next_++;
    open_.emplace(fd, std::move(open));
    return fd;
  }
  HANDLE HandleOf(int fd) {
    std::lock_guard lock(mutex_);
    const auto it = open_.find(fd);
    return it == open_.end() ? INVALID_HANDLE_VALUE : it->second.handle;
  }
  std::wstring PathIn(int folder, const std::string& name) { return PathIn(folder, Wide(name)); }
  std::wstring PathIn(int folder, const std::wstring& name) {
    std::lock_guard lock(mutex_);
    const auto it = open_.find(folder);
    std::wstring path = it == open_.end() ? L"" : it->second.path;
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    return path + name;
  }

  // Gives a file marked for deletion its name: kept from then on.
  int Name(int fd, int folder, const std::string& name, bool replace) {
    const HANDLE handle = HandleOf(fd);
    if (!SetDeletion(handle, false)) return Fail();
    if (RenameHandle(handle, PathIn(folder, name), replace)) return 0;
    const int why = Fail();
    SetDeletion(handle, true);
    return why;
  }

  PathInfo InspectSystem(const std::wstring& path) {
    PathInfo info;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return info;
    const HANDLE probe = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
      info.id = IdOfHandle(probe);
      CloseHandle(probe);
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      info.kind = PathKind::Folder;
      return info;
    }
    info.kind = PathKind::RegularFile;
    info.readOnly = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    // Held open by another program without sharing, or not ours to write.
    const HANDLE write = CreateFileW(path.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
    if (write == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) info.locked = true;
      if (error == ERROR_ACCESS_DENIED) info.readOnly = true;
    } else {
      CloseHandle(write);
    }
    return info;
  }

  std::mutex mutex_;
  std::map<int, Open> open_;
  int next_ = 3;
};

}  // namespace

FileApi& PlatformFiles() {
  static WindowsFiles files;
  return files;
}

// A part under way is marked for deletion: the system removes it.
void RemovePendingTemporary() {}

std::string ResolvedPath(const std::string& path) {
  const std::wstring system = SystemPath(path);
  const HANDLE handle = CreateFileW(system.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return path;
  std::wstring resolved(32768, L'\0');
  const DWORD length =
      GetFinalPathNameByHandleW(handle, resolved.data(), static_cast<DWORD>(resolved.size()), 0);
  CloseHandle(handle);
  if (length == 0 || length >= resolved.size()) return path;
  resolved.resize(length);
  // Shown as users write paths: without the prefix where it is not needed.
  if (resolved.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    resolved = L"\\\\" + resolved.substr(8);
  } else if (resolved.rfind(L"\\\\?\\", 0) == 0 && resolved.size() < MAX_PATH + 4) {
    resolved = resolved.substr(4);
  }
  return Narrow(resolved);
}

}  // namespace corvella::wave

#endif  // _WIN32
