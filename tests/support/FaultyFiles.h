// The real file system with faults switched in: writes failing after a
// number of bytes, reads failing from an offset, a failing rename or close,
// kernel copies or unnamed files refused, names that clash.
#pragma once

#include <algorithm>
#include <cerrno>

#include "wave/FileApi.h"

namespace corvella::test {

class FaultyFiles : public wave::FileApi {
 public:
  std::int64_t failWritesAfter = -1;  // bytes of all writes together; -1: never
  std::int64_t failReadsFrom = -1;    // positioned reads and copies reaching this offset...
  std::int64_t failReadsTo = -1;      // ...and, when set, starting before this one
  bool failRename = false, failClose = false;
  bool copyUnsupported = false;     // the writer then copies by blocks
  bool unnamedUnsupported = false;  // the writer then uses hidden names
  int clashes = 0;                  // hidden names refused as taken before one is given
  bool readAhead = true;            // off: the system is not asked to fetch ahead
  std::int64_t written = 0;

  int OpenExclusive(const std::string& path, int& why) override {
    return real().OpenExclusive(path, why);
  }
  std::int64_t ReadAt(int fd, void* buffer, std::int64_t count, std::int64_t offset) override {
    if (failReadsFrom >= 0 && offset + count > failReadsFrom &&
        (failReadsTo < 0 || offset < failReadsTo)) {
      if (offset >= failReadsFrom) return -1;
      count = failReadsFrom - offset;
    }
    return real().ReadAt(fd, buffer, count, offset);
  }
  std::int64_t Size(int fd) override { return real().Size(fd); }
  wave::FileId IdOf(int fd) override { return real().IdOf(fd); }
  void WillNeed(int fd, std::int64_t offset, std::int64_t count) override {
    if (readAhead) real().WillNeed(fd, offset, count);
  }
  wave::PathInfo InspectPath(const std::string& path) override { return real().InspectPath(path); }
  int OpenFolder(const std::string& path, int& why) override {
    return real().OpenFolder(path, why);
  }
  wave::PathInfo Inspect(int folder, const std::string& name) override {
    return real().Inspect(folder, name);
  }
  int CreateUnnamed(int folder, int& why) override {
    if (unnamedUnsupported) {
      why = EOPNOTSUPP;
      return -1;
    }
    return real().CreateUnnamed(folder, why);
  }
  int CreateNew(int folder, const std::string& name, int& why) override {
    if (clashes > 0 && Hidden(name)) {
      --clashes;
      why = EEXIST;
      return -1;
    }
    return real().CreateNew(folder, name, why);
  }
  std::int64_t WriteAt(int fd, const void* buffer, std::int64_t count,
                       std::int64_t offset) override {
    const std::int64_t wanted = count;
    if (failWritesAfter >= 0) count = std::min(count, failWritesAfter - written);
    if (count <= 0) {
      errno = ENOSPC;  // as a full disk says it
      return -1;
    }
    const std::int64_t put = real().WriteAt(fd, buffer, count, offset);
    if (count < wanted) errno = ENOSPC;
    written += std::max<std::int64_t>(put, 0);
    return put;
  }
  // A copy through ReadAt and WriteAt, so that their faults apply to it.
  std::int64_t CopyRange(int in, std::int64_t inOffset, int out, std::int64_t outOffset,
                         std::int64_t count) override {
    if (copyUnsupported) return kCopyUnsupported;
    char buffer[8192];
    std::int64_t done = 0;
    while (done < count) {
      const std::int64_t got =
          ReadAt(in, buffer, std::min<std::int64_t>(count - done, sizeof buffer), inOffset + done);
      if (got <= 0) break;
      const std::int64_t put = WriteAt(out, buffer, got, outOffset + done);
      done += std::max<std::int64_t>(put, 0);
      if (put != got) break;
    }
    return done > 0 || count == 0 ? done : -1;
  }
  int Link(int fd, int folder, const std::string& name) override {
    if (clashes > 0 && Hidden(name)) {
      --clashes;
      return EEXIST;
    }
    return real().Link(fd, folder, name);
  }
  bool Rename(int folder, const std::string& from, const std::string& to) override {
    return !failRename && real().Rename(folder, from, to);
  }
  bool Remove(int folder, const std::string& name) override { return real().Remove(folder, name); }
  bool Close(int fd) override { return real().Close(fd) && !failClose; }

 private:
  static bool Hidden(const std::string& name) { return name.rfind(".corvella-", 0) == 0; }
  static wave::FileApi& real() { return wave::PlatformFiles(); }
};

}  // namespace corvella::test
