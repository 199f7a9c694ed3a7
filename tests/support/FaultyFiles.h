// The real file system with faults switched in: writes or reads that fail
// after a number of bytes, a rename that fails.
#pragma once

#include "wave/FileApi.h"

namespace corvella::test {

class FaultyFiles : public FileApi {
 public:
  // -1 means never fail.
  std::int64_t failWritesAfter = -1;  // bytes of all writes together
  std::int64_t failReadsAfter = -1;   // bytes of all reads together
  std::int64_t failReadsFrom = -1;   // positioned reads and copies touching this offset fail
  bool failRename = false;
  bool failClose = false;
  bool copyUnsupported = false;  // kernel copies refused: the writer copies by blocks
  std::int64_t written = 0;
  std::int64_t read = 0;

  int OpenExclusive(const std::string& path) override { return real().OpenExclusive(path); }
  int CreateNew(const std::string& path) override { return real().CreateNew(path); }
  std::int64_t Read(int fd, void* buffer, std::int64_t count) override;
  std::int64_t Write(int fd, const void* buffer, std::int64_t count) override;
  std::int64_t ReadAt(int fd, void* buffer, std::int64_t count, std::int64_t offset) override;
  void WillNeed(int fd, std::int64_t offset, std::int64_t count) override {
    real().WillNeed(fd, offset, count);
  }
  // Copies through Read and Write, so their faults apply to kernel copies too.
  std::int64_t CopyRange(int in, std::int64_t inOffset, int out, std::int64_t count) override;
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
  bool ReadBudget(std::int64_t& count) const;
};

}  // namespace corvella::test
