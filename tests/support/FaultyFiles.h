// The real file system with faults switched in: writes failing after a
// number of bytes, reads failing from an offset, a failing rename or close,
// kernel copies refused.
#pragma once

#include <algorithm>

#include "wave/FileApi.h"

namespace corvella::test {

class FaultyFiles : public FileApi {
 public:
  std::int64_t failWritesAfter = -1;  // bytes of all writes together; -1: never
  std::int64_t failReadsFrom = -1;    // positioned reads and copies reaching this offset
  bool failRename = false, failClose = false;
  bool copyUnsupported = false;  // the writer then copies by blocks
  std::int64_t written = 0;

  int OpenExclusive(const std::string& path) override { return real().OpenExclusive(path); }
  int CreateNew(const std::string& path) override { return real().CreateNew(path); }
  std::int64_t Read(int fd, void* buffer, std::int64_t count) override {
    return real().Read(fd, buffer, count);
  }
  std::int64_t ReadAt(int fd, void* buffer, std::int64_t count, std::int64_t offset) override {
    if (failReadsFrom >= 0 && offset + count > failReadsFrom) {
      if (offset >= failReadsFrom) return -1;
      count = failReadsFrom - offset;
    }
    return real().ReadAt(fd, buffer, count, offset);
  }
  std::int64_t Write(int fd, const void* buffer, std::int64_t count) override {
    if (failWritesAfter >= 0) count = std::min(count, failWritesAfter - written);
    if (count <= 0) return -1;
    const std::int64_t put = real().Write(fd, buffer, count);
    written += std::max<std::int64_t>(put, 0);
    return put;
  }
  void WillNeed(int fd, std::int64_t offset, std::int64_t count) override {
    real().WillNeed(fd, offset, count);
  }
  // A copy through ReadAt and Write, so that their faults apply to it.
  std::int64_t CopyRange(int in, std::int64_t offset, int out, std::int64_t count) override {
    if (copyUnsupported) return kCopyUnsupported;
    char buffer[8192];
    std::int64_t done = 0;
    while (done < count) {
      const std::int64_t got = ReadAt(in, buffer, std::min<std::int64_t>(count - done, sizeof buffer), offset + done);
      if (got <= 0) break;
      const std::int64_t put = Write(out, buffer, got);
      done += std::max<std::int64_t>(put, 0);
      if (put != got) break;
    }
    return done > 0 || count == 0 ? done : -1;
  }
  std::int64_t Seek(int fd, std::int64_t offset, SeekOrigin origin) override {
    return real().Seek(fd, offset, origin);
  }
  bool Close(int fd) override { return real().Close(fd) && !failClose; }
  PathInfo Inspect(const std::string& path) override { return real().Inspect(path); }
  bool Rename(const std::string& from, const std::string& to) override {
    return !failRename && real().Rename(from, to);
  }
  bool Remove(const std::string& path) override { return real().Remove(path); }
  bool SetCurrentFolder(const std::string& path) override { return real().SetCurrentFolder(path); }

 private:
  static FileApi& real() { return PlatformFiles(); }
};

}  // namespace corvella::test
