#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "wave/FileApi.h"

namespace corvella {
namespace {

class PosixFiles final : public FileApi {
 public:
  int OpenExclusive(const std::string& path) override {
    // Opened without waiting, so a pipe or device that happens to carry the
    // name cannot block the program; only regular files are kept.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
      ::close(fd);
      return -1;
    }
    return fd;
  }

  int CreateNew(const std::string& path) override {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  }

  std::int64_t Read(int fd, void* buffer, std::int64_t count) override {
    auto* out = static_cast<char*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
      ssize_t got = ::read(fd, out + done, static_cast<size_t>(count - done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return done > 0 ? done : -1;
      if (got == 0) break;
      done += got;
    }
    return done;
  }

  std::int64_t ReadAt(int fd, void* buffer, std::int64_t count, std::int64_t offset) override {
    auto* out = static_cast<char*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
      ssize_t got = ::pread(fd, out + done, static_cast<size_t>(count - done),
                            static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return done > 0 ? done : -1;
      if (got == 0) break;
      done += got;
    }
    return done;
  }

  void WillNeed(int fd, std::int64_t offset, std::int64_t count) override {
#ifdef POSIX_FADV_WILLNEED
    ::posix_fadvise(fd, static_cast<off_t>(offset), static_cast<off_t>(count), POSIX_FADV_WILLNEED);
#else
    (void)fd, (void)offset, (void)count;
#endif
  }

  std::int64_t Write(int fd, const void* buffer, std::int64_t count) override {
    const auto* in = static_cast<const char*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
      ssize_t put = ::write(fd, in + done, static_cast<size_t>(count - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return done > 0 ? done : -1;
      done += put;
    }
    return done;
  }

  std::int64_t CopyRange(int in, std::int64_t inOffset, int out, std::int64_t count) override {
#ifdef __linux__
    loff_t from = static_cast<loff_t>(inOffset);
    std::int64_t done = 0;
    while (done < count) {
      ssize_t put = ::copy_file_range(in, &from, out, nullptr, static_cast<size_t>(count - done), 0);
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
    (void)in, (void)inOffset, (void)out, (void)count;
    return kCopyUnsupported;
#endif
  }

  std::int64_t Seek(int fd, std::int64_t offset, SeekOrigin origin) override {
    off_t at = ::lseek(fd, static_cast<off_t>(offset), origin == SeekOrigin::FromEnd ? SEEK_END : SEEK_SET);
    return at < 0 ? -1 : static_cast<std::int64_t>(at);
  }

  bool Close(int fd) override { return ::close(fd) == 0; }

  PathInfo Inspect(const std::string& path) override {
    PathInfo info;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return info;
    if (S_ISDIR(st.st_mode)) {
      info.kind = PathKind::Folder;
    } else if (S_ISREG(st.st_mode)) {
      info.kind = PathKind::RegularFile;
      info.readOnly = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
      int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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

  bool Rename(const std::string& from, const std::string& to) override {
    return std::rename(from.c_str(), to.c_str()) == 0;
  }

  bool Remove(const std::string& path) override { return ::unlink(path.c_str()) == 0; }

  bool SetCurrentFolder(const std::string& path) override {
    return !path.empty() && ::chdir(path.c_str()) == 0;
  }
};

}  // namespace

FileApi& PlatformFiles() {
  static PosixFiles files;
  return files;
}

}  // namespace corvella
