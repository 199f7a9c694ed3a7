// The platform's file calls, behind one seam. Sources are opened from full
// paths; parts are created inside a destination folder opened once, so a
// name always lands where the kernel resolved the folder. Tests put a faulty
// file system in its place, the fuzz target one held in memory.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>

namespace corvella::wave {

// The identity of a file: the same under every name, link and spelling.
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileId&) const = default;
  bool Known() const { return device != 0 || inode != 0; }
};

enum class PathKind { Missing, RegularFile, Folder, Other };

struct PathInfo {
  PathKind kind = PathKind::Missing;
  bool readOnly = false;  // no write permission for anyone, or not for this user
  bool locked = false;    // another opener holds an exclusive lock on it
  FileId id;
};

class FileApi {
 public:
  virtual ~FileApi() = default;

  // Opens an existing regular file for reading and takes an exclusive lock
  // on it without waiting. Returns a descriptor, or -1 with `why` set to the
  // errno that tells the reason (EWOULDBLOCK when another opener holds it,
  // EISDIR for a folder, EINVAL for anything else that is not a plain file).
  virtual int OpenExclusive(const std::string& path, int& why) = 0;
  // Reads up to count bytes at `offset`. Returns the bytes read (fewer at the
  // end of the file, 0 past it) or -1.
  virtual std::int64_t ReadAt(int fd, void* buffer, std::int64_t count, std::int64_t offset) = 0;
  // The file's length in bytes, or -1.
  virtual std::int64_t Size(int fd) = 0;
  virtual FileId IdOf(int fd) = 0;
  // The identity of what the process's standard input reads from.
  virtual FileId StandardInputId() { return {}; }
  // Tells the system that the bytes will be read soon, so it can fetch them
  // from the disk in one go.
  virtual void WillNeed(int fd, std::int64_t offset, std::int64_t count) = 0;

  // What is at `path` now.
  virtual PathInfo InspectPath(const std::string& path) = 0;

  // Opens a folder to create files in; -1 with `why` on failure.
  virtual int OpenFolder(const std::string& path, int& why) = 0;
  // Creates the folder `path` (its parent must exist). Returns 0, or the
  // errno (EEXIST when something is there).
  virtual int MakeFolder(const std::string& path) {
    (void)path;
    return ENOTSUP;
  }
  virtual PathInfo Inspect(int folder, const std::string& name) = 0;
  // Creates a file without a name in `folder`, so that nothing is left
  // behind whatever happens to the program before Link names it. Returns -1
  // with `why` EOPNOTSUPP where the file system cannot.
  virtual int CreateUnnamed(int folder, int& why) = 0;
  // Creates the new file `name` in `folder`; -1 with `why` EEXIST when the
  // name is taken.
  virtual int CreateNew(int folder, const std::string& name, int& why) = 0;
  // Writes count bytes at `offset`. Returns the bytes written or -1.
  virtual std::int64_t WriteAt(int fd, const void* buffer, std::int64_t count,
                               std::int64_t offset) = 0;
  // Copies count bytes from `inOffset` of `in` to `outOffset` of `out` inside
  // the kernel, never through the program. Returns the bytes copied (fewer at
  // the end of `in`), -1 on error, or kCopyUnsupported when the caller must
  // copy by blocks.
  static constexpr std::int64_t kCopyUnsupported = -2;
  virtual std::int64_t CopyRange(int in, std::int64_t inOffset, int out, std::int64_t outOffset,
                                 std::int64_t count) = 0;
  // Gives an unnamed file its name in `folder`. Returns 0, or the errno
  // (EEXIST when the name is taken).
  virtual int Link(int fd, int folder, const std::string& name) = 0;
  // Gives an unnamed file its name in `folder` in one step, replacing the
  // file that holds it. Returns 0, or the errno (EOPNOTSUPP where the system
  // cannot: the caller then names it and renames it over the older file).
  virtual int Replace(int fd, int folder, const std::string& name) {
    (void)fd, (void)folder, (void)name;
    return EOPNOTSUPP;
  }
  // Replaces `to` in `folder` atomically with `from`.
  virtual bool Rename(int folder, const std::string& from, const std::string& to) = 0;
  virtual bool Remove(int folder, const std::string& name) = 0;
  // False when the close reported an error (data may not have reached the disk).
  virtual bool Close(int fd) = 0;

  // The named temporary file of the part under way ("" once there is none),
  // so that a program ending at once can remove it.
  virtual void MarkPending(int folder, const std::string& name) {
    (void)folder;
    (void)name;
  }
};

// The real file system of the machine.
FileApi& PlatformFiles();

// Removes the pending temporary file of the real file system, if any. Safe
// to call from a signal handler.
void RemovePendingTemporary();

// `path` as the system resolves it, links and ".." followed; `path` itself
// when it cannot be resolved.
std::string ResolvedPath(const std::string& path);

}  // namespace corvella::wave
