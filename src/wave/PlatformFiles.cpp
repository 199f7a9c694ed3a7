#ifndef _WIN32

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "wave/FileApi.h"

namespace corvella::wave {
namespace {

// The temporary file a signal handler may have to remove: a folder and a
// name of the fixed form the writer gives it, copied where a handler can
// read it without allocating.
struct Pending {
  std::atomic<int> folder{-1};
  char name[64] = {};
};
Pending pending;

// Opens `path` as the kernel resolves it, also when it is longer than the
// kernel takes in one call: the folders on the way are then entered one at
// a time, each relative to the last.
int OpenPath(const std::string& path, int flags, int& why, mode_t mode = 0) {
  if (path.size() < PATH_MAX) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    why = fd < 0 ? errno : 0;
    return fd;
  }
  int folder = ::open(path.front() == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  std::size_t at = 0;
  for (;;) {
    while (at < path.size() && path[at] == '/') ++at;
    const std::size_t slash = path.find('/', at);
    // The last name keeps any trailing slashes, so a file named as a folder
    // is refused as the kernel refuses it.
    const bool last =
        slash == std::string::npos || path.find_first_not_of('/', slash) == std::string::npos;
    const std::string name = path.substr(at, last ? std::string::npos : slash - at);
    if (folder < 0) {
      why = errno;
      return -1;
    }
    const int next = last ? ::openat(folder, name.c_str(), flags | O_CLOEXEC, mode)
                          : ::openat(folder, name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    why = next < 0 ? errno : 0;
    ::close(folder);
    if (last || next < 0) return next;
    folder = next;
    at = slash;
  }
}

FileId IdOfStat(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

class PosixFiles final : public FileApi {
 public:
  int OpenExclusive(const std::string& path, int& why) override {
    // Opened without waiting, so a pipe or device that happens to carry the
    // name cannot block the program; only regular files are kept.
    const int fd = OpenPath(path, O_RDONLY | O_NONBLOCK, why);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      why = errno;
    } else if (S_ISDIR(st.st_mode)) {
      why = EISDIR;
    } else if (!S_ISREG(st.st_mode)) {
      why = EINVAL;
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      why = errno == EINTR ? EWOULDBLOCK : errno;
    } else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
      why = errno;
    } else {
      return fd;
    }
    ::close(fd);
    return -1;
  }

  std::int64_t ReadAt(int fd, void* buffer, std::int64_t count, std::int64_t offset) override {
    auto* out = static_cast<char*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
      const ssize_t got = ::pread(fd, out + done, static_cast<size_t>(count - done),
                                  static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return done > 0 ? done : -1;
      if (got == 0) break;
      done += got;
    }
    return done;
  }

  std::int64_t Size(int fd) override {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
  }

  FileId IdOf(int fd) override {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? IdOfStat(st) : FileId{};
  }

  FileId StandardInputId() override { return IdOf(STDIN_FILENO); }

  void WillNeed(int fd, std::int64_t offset, std::int64_t count) override {
#ifdef POSIX_FADV_WILLNEED
    ::posix_fadvise(fd, static_cast<off_t>(offset), static_cast<off_t>(count), POSIX_FADV_WILLNEED);
#else
    (void)fd, (void)offset, (void)count;
#endif
  }

  int OpenFolder(const std::string& path, int& why) override {
    return OpenPath(path.empty() ? "." : path, O_PATH | O_DIRECTORY, why);
  }

  int MakeFolder(const std::string& path) override {
    return ::mkdir(path.c_str(), 0777) == 0 ? 0 : errno;
  }

  PathInfo InspectPath(const std::string& path) override {
    if (path.size() < PATH_MAX) return Inspect(AT_FDCWD, path);
    // The folder holding it, entered as the kernel would.
    const auto slash = path.find_last_of('/', path.find_last_not_of('/'));
    int why = 0;
    const int folder = OpenPath(path.substr(0, slash + 1), O_PATH | O_DIRECTORY, why);
    if (folder < 0) return {};
    const PathInfo info = Inspect(folder, path.substr(slash + 1));
    ::close(folder);
    return info;
  }

  PathInfo Inspect(int folder, const std::string& name) override {
    PathInfo info;
    struct stat st {};
    if (::fstatat(folder, name.c_str(), &st, 0) != 0) return info;
    info.id = IdOfStat(st);
    if (S_ISDIR(st.st_mode)) {
      info.kind = PathKind::Folder;
    } else if (S_ISREG(st.st_mode)) {
      info.kind = PathKind::RegularFile;
      // Protected by its mode (which binds even root here), or not ours to
      // write: another user's file in a folder anyone may write to.
      info.readOnly = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
                      ::faccessat(folder, name.c_str(), W_OK, AT_EACCESS) != 0;
      const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
      if (fd >= 0) {
        // A shared lock is refused exactly when someone holds the file exclusively.
        if (::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) info.locked = true;
        ::close(fd);
      }
    } else {
      info.kind = PathKind::Other;
    }
    return info;
  }

  int CreateUnnamed(int folder, int& why) override {
#ifdef O_TMPFILE
    // Naming the file later goes through /proc; without it, use a name.
    if (::access("/proc/self/fd", X_OK) == 0) {
      const int fd = ::openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
      why = fd < 0 ? errno : 0;
      if (fd >= 0 || (why != EOPNOTSUPP && why != EISDIR && why != EINVAL)) return fd;
    }
#endif
    (void)folder;
    why = EOPNOTSUPP;
    return -1;
  }

  int CreateNew(int folder, const std::string& name, int& why) override {
    const int fd = ::openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    why = fd < 0 ? errno : 0;
    return fd;
  }

  std::int64_t WriteAt(int fd, const void* buffer, std::int64_t count,
                       std::int64_t offset) override {
    const auto* in = static_cast<const char*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
      const ssize_t put = ::pwrite(fd, in + done, static_cast<size_t>(count - done),
                                   static_cast<off_t>(offset + done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return done > 0 ? done : -1;
      done += put;
    }
    return done;
  }

  std::int64_t CopyRange(int in, std::int64_t inOffset, int out, std::int64_t outOffset,
                         std::int64_t count) override {
#ifdef __linux__
    loff_t from = static_cast<loff_t>(inOffset);
    loff_t to = static_cast<loff_t>(outOffset);
    std::int64_t done = 0;
    while (done < count) {
      const ssize_t put =
          ::copy_file_range(in, &from, out, &to, static_cast<size_t>(count - done), 0);
      if (put < 0 && errno == EINTR) continue;
      if (put < 0 && done == 0 &&
          (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
        return kCopyUnsupported;
      }
      if (put < 0) return done > 0 ? done : -1;
      if (put == 0) break;
      done += put;
    }
    return done;
#else
    (void)in, (void)inOffset, (void)out, (void)outOffset, (void)count;
    return kCopyUnsupported;
#endif
  }

  int Link(int fd, int folder, const std::string& name) override {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    return errno;
  }

  bool Rename(int folder, const std::string& from, const std::string& to) override {
    return ::renameat(folder, from.c_str(), folder, to.c_str()) == 0;
  }

  bool Remove(int folder, const std::string& name) override {
    return ::unlinkat(folder, name.c_str(), 0) == 0;
  }

  bool Close(int fd) override {
    return ::close(fd) == 0;
  }

  void MarkPending(int folder, const std::string& name) override {
    pending.folder = -1;
    if (name.empty() || name.size() >= sizeof pending.name) return;
    std::memcpy(pending.name, name.c_str(), name.size() + 1);
    pending.folder = folder;
  }
};

}  // namespace

FileApi& PlatformFiles() {
  static PosixFiles files;
  return files;
}

void RemovePendingTemporary() {
  const int folder = pending.folder.exchange(-1);
  if (folder >= 0) ::unlinkat(folder, pending.name, 0);
}

std::string ResolvedPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return path;
  std::string real = resolved;
  ::free(resolved);
  return real;
}

}  // namespace corvella::wave

#endif  // !_WIN32
