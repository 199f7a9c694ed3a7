// The platform's file calls, behind one seam. The multimedia I/O layer uses
// nothing else, so tests can put a faulty file system in its place.
#pragma once

#include <cstdint>
#include <string>

namespace corvella {

enum class SeekOrigin { FromStart, FromEnd };

enum class PathKind { Missing, RegularFile, Folder, Other };

struct PathInfo {
  PathKind kind = PathKind::Missing;
  bool readOnly = false;  // no write permission for anyone: the user protected it
  bool locked = false;    // another opener holds an exclusive lock on it
};

class FileApi {
 public:
  virtual ~FileApi() = default;

  // Opens an existing regular file for reading and takes an exclusive lock
  // on it without waiting. Returns a descriptor, or -1 when the file is
  // missing, unreadable, not a regular file or locked by another opener.
  virtual int OpenExclusive(const std::string& path) = 0;
  // Creates a new file for reading and writing; fails if the name exists.
  virtual int CreateNew(const std::string& path) = 0;
  // Reads or writes up to count bytes, retrying short transfers. Returns the
  // bytes moved (0 at the end of a file) or -1 when nothing could be moved.
  virtual std::int64_t Read(int fd, void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Write(int fd, const void* buffer, std::int64_t count) = 0;
  // Reads up to count bytes at `offset`, leaving the position alone. Returns
  // the bytes read (fewer at the end of the file) or -1.
  virtual std::int64_t ReadAt(int fd, void* buffer, std::int64_t count, std::int64_t offset) = 0;
  // Tells the system that the bytes will be read soon, so it can fetch them
  // from the disk in one go.
  virtual void WillNeed(int fd, std::int64_t offset, std::int64_t count) = 0;
  // Copies count bytes from offset inOffset of `in` to the position of `out`
  // inside the kernel, without passing them through the program. Returns the
  // bytes copied (fewer at the end of `in`), -1 on error, or kCopyUnsupported
  // when the files cannot be copied this way; the caller then copies by blocks.
  static constexpr std::int64_t kCopyUnsupported = -2;
  virtual std::int64_t CopyRange(int in, std::int64_t inOffset, int out, std::int64_t count) = 0;
  // Returns the new position, or -1.
  virtual std::int64_t Seek(int fd, std::int64_t offset, SeekOrigin origin) = 0;
  // False when the close reported an error (data may not have reached the disk).
  virtual bool Close(int fd) = 0;

  virtual PathInfo Inspect(const std::string& path) = 0;
  // Replaces `to` atomically with `from`.
  virtual bool Rename(const std::string& from, const std::string& to) = 0;
  virtual bool Remove(const std::string& path) = 0;
  virtual bool SetCurrentFolder(const std::string& path) = 0;
};

// The real file system of the machine.
FileApi& PlatformFiles();

}  // namespace corvella
