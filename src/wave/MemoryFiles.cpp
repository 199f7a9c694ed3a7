#include "wave/MemoryFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace corvella::wave {

void MemoryFiles::Put(const std::string& path, Bytes bytes) {
  files_[path] = std::make_shared<File>(File{std::move(bytes), nextInode_++});
}

const MemoryFiles::Bytes* MemoryFiles::Get(const std::string& path) const {
  const auto at = files_.find(path);
  return at == files_.end() ? nullptr : &at->second->bytes;
}

std::vector<std::string> MemoryFiles::Paths() const {
  std::vector<std::string> paths;
  for (const auto& [path, file] : files_) paths.push_back(path);
  return paths;
}

std::string MemoryFiles::PathIn(int folder, const std::string& name) const {
  std::lock_guard lock(handlesMutex_);
  const auto at = handles_.find(folder);
  const std::string base = at == handles_.end() ? "" : at->second.path;
  return base.empty() ? name : base + "/" + name;
}

MemoryFiles::Handle* MemoryFiles::Find(int fd) {
  // Readers on other threads look handles up while files are opened; a
  // handle itself stays where it is in the map.
  std::lock_guard lock(handlesMutex_);
  const auto at = handles_.find(fd);
  return at == handles_.end() ? nullptr : &at->second;
}

int MemoryFiles::Add(Handle handle) {
  std::lock_guard lock(handlesMutex_);
  handles_[nextFd_] = std::move(handle);
  return nextFd_++;
}

int MemoryFiles::OpenExclusive(const std::string& path, int& why) {
  const auto at = files_.find(path);
  why = at == files_.end() ? ENOENT : locked_.count(path) ? EWOULDBLOCK : 0;
  if (why != 0) return -1;
  locked_.insert(path);
  return Add({at->second, path, false, ""});
}

std::int64_t MemoryFiles::ReadAt(int fd, void* buffer, std::int64_t count, std::int64_t offset) {
  Handle* handle = Find(fd);
  if (!handle || !handle->file || offset < 0 || count < 0) return -1;
  const auto size = static_cast<std::int64_t>(handle->file->bytes.size());
  const std::int64_t got = std::clamp<std::int64_t>(size - offset, 0, count);
  if (got > 0)
    std::memcpy(buffer, handle->file->bytes.data() + offset, static_cast<std::size_t>(got));
  return got;
}

std::int64_t MemoryFiles::Size(int fd) {
  Handle* handle = Find(fd);
  return handle && handle->file ? static_cast<std::int64_t>(handle->file->bytes.size()) : -1;
}

FileId MemoryFiles::IdOf(int fd) {
  Handle* handle = Find(fd);
  return handle && handle->file ? FileId{1, handle->file->inode} : FileId{};
}

int MemoryFiles::OpenFolder(const std::string& path, int& why) {
  why = 0;
  return Add({nullptr, "", true, path});
}

PathInfo MemoryFiles::Inspect(int folder, const std::string& name) {
  return InspectPath(PathIn(folder, name));
}

PathInfo MemoryFiles::InspectPath(const std::string& path) {
  PathInfo info;
  const auto at = files_.find(path);
  if (at == files_.end()) return info;
  info.kind = PathKind::RegularFile;
  info.locked = locked_.count(path) > 0;
  info.id = {1, at->second->inode};
  return info;
}

int MemoryFiles::CreateUnnamed(int folder, int& why) {
  why = 0;
  (void)folder;
  return Add({std::make_shared<File>(File{{}, nextInode_++}), "", false, ""});
}

int MemoryFiles::CreateNew(int folder, const std::string& name, int& why) {
  const std::string path = PathIn(folder, name);
  why = files_.count(path) ? EEXIST : 0;
  if (why != 0) return -1;
  auto file = std::make_shared<File>(File{{}, nextInode_++});
  files_[path] = file;
  return Add({file, "", false, ""});
}

std::int64_t MemoryFiles::WriteAt(int fd, const void* buffer, std::int64_t count,
                                  std::int64_t offset) {
  Handle* handle = Find(fd);
  if (!handle || !handle->file || offset < 0 || count < 0) return -1;
  Bytes& bytes = handle->file->bytes;
  if (static_cast<std::int64_t>(bytes.size()) < offset + count)
    bytes.resize(static_cast<std::size_t>(offset + count));
  if (count > 0) std::memcpy(bytes.data() + offset, buffer, static_cast<std::size_t>(count));
  return count;
}

std::int64_t MemoryFiles::CopyRange(int in, std::int64_t inOffset, int out, std::int64_t outOffset,
                                    std::int64_t count) {
  Handle* source = Find(in);
  if (!source || !source->file) return -1;
  const Bytes& from = source->file->bytes;
  const std::int64_t got =
      std::clamp<std::int64_t>(static_cast<std::int64_t>(from.size()) - inOffset, 0, count);
  if (Find(out) == source) return -1;
  return got == 0 ? 0 : WriteAt(out, from.data() + inOffset, got, outOffset);
}

int MemoryFiles::Link(int fd, int folder, const std::string& name) {
  Handle* handle = Find(fd);
  const std::string path = PathIn(folder, name);
  if (!handle || !handle->file) return EBADF;
  if (files_.count(path)) return EEXIST;
  files_[path] = handle->file;
  return 0;
}

bool MemoryFiles::Rename(int folder, const std::string& from, const std::string& to) {
  const auto at = files_.find(PathIn(folder, from));
  if (at == files_.end()) return false;
  auto file = at->second;
  files_.erase(at);
  files_[PathIn(folder, to)] = file;
  return true;
}

bool MemoryFiles::Remove(int folder, const std::string& name) {
  return files_.erase(PathIn(folder, name)) > 0;
}

bool MemoryFiles::Close(int fd) {
  Handle* handle = Find(fd);
  if (!handle) return false;
  if (!handle->lockedPath.empty()) locked_.erase(handle->lockedPath);
  std::lock_guard lock(handlesMutex_);
  handles_.erase(fd);
  return true;
}

}  // namespace corvella::wave
