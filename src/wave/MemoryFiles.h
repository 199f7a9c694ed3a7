// A file system held in memory: files of bytes in folders named by path.
// The fuzz target feeds recordings through it without touching a disk, and
// reads the parts written back from it.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "wave/FileApi.h"

namespace corvella::wave {

class MemoryFiles final : public FileApi {
 public:
  using Bytes = std::vector<std::uint8_t>;

  // Puts a file at `path` ("folder/name"), replacing any.
  void Put(const std::string& path, Bytes bytes);
  // The file at `path`, or null.
  const Bytes* Get(const std::string& path) const;
  void Erase(const std::string& path) { files_.erase(path); }
  // The paths of all files, sorted.
  std::vector<std::string> Paths() const;

  int OpenExclusive(const std::string& path, int& why) override;
  std::int64_t ReadAt(int fd, void* buffer, std::int64_t count, std::int64_t offset) override;
  std::int64_t Size(int fd) override;
  FileId IdOf(int fd) override;
  void WillNeed(int, std::int64_t, std::int64_t) override {}
  PathInfo InspectPath(const std::string& path) override;
  int OpenFolder(const std::string& path, int& why) override;
  PathInfo Inspect(int folder, const std::string& name) override;
  int CreateUnnamed(int folder, int& why) override;
  int CreateNew(int folder, const std::string& name, int& why) override;
  std::int64_t WriteAt(int fd, const void* buffer, std::int64_t count,
                       std::int64_t offset) override;
  std::int64_t CopyRange(int in, std::int64_t inOffset, int out, std::int64_t outOffset,
                         std::int64_t count) override;
  int Link(int fd, int folder, const std::string& name) override;
  bool Rename(int folder, const std::string& from, const std::string& to) override;
  bool Remove(int folder, const std::string& name) override;
  bool Close(int fd) override;

 private:
  struct File {
    Bytes bytes;
    std::uint64_t inode;
  };
  struct Handle {
    std::shared_ptr<File> file;
    std::string lockedPath;  // the path held exclusively, for a source
    bool folder = false;
    std::string path;  // a folder's path
  };
  std::string PathIn(int folder, const std::string& name) const;
  Handle* Find(int fd);
  int Add(Handle handle);

  std::map<std::string, std::shared_ptr<File>> files_;
  std::map<int, Handle> handles_;
  mutable std::mutex handlesMutex_;
  std::set<std::string> locked_;
  int nextFd_ = 3;
  std::uint64_t nextInode_ = 1;
};

}  // namespace corvella::wave
