// RIFF file access in the manner of a multimedia file I/O library: chunk
// search and navigation, positioned block reads, and written chunks whose
// sizes are fixed when each chunk is left. Built on FileApi only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "wave/FileApi.h"

namespace corvella {

// Chunk information record.
struct MMCKINFO {
  std::uint32_t ckid = 0;         // chunk identifier
  std::uint32_t cksize = 0;       // body length, pad byte not counted
  std::uint32_t fccType = 0;      // form type of a "RIFF" chunk
  std::int64_t dwDataOffset = 0;  // file offset of the body
  std::uint32_t dwFlags = 0;
};

// Set on a chunk that was created here: leaving it writes its true size.
inline constexpr std::uint32_t MMIO_DIRTY = 0x10000000;

class MmioFile {
 public:
  // Opens an existing file read-only with exclusive access; null on failure.
  static std::unique_ptr<MmioFile> OpenRead(FileApi& files, const std::string& name);
  // Starts a new file for `path`. It is written under a temporary name in the
  // same folder and replaces `path` only in Publish(), so a failed write never
  // leaves a truncated file and never harms an existing one. Null when `path`
  // cannot be created: its folder is missing or not writable, or an existing
  // entry of that name is a folder, read-only or locked by another opener.
  static std::unique_ptr<MmioFile> Create(FileApi& files, const std::string& path);

  MmioFile(const MmioFile&) = delete;
  MmioFile& operator=(const MmioFile&) = delete;
  // Closes the file; an output that was not published is removed.
  ~MmioFile();

  // Finds the next "RIFF" chunk whose form type is ck.fccType, from the
  // current position. Leaves the position just past the form type.
  bool DescendRiff(MMCKINFO& ck);
  // Finds the first chunk with identifier ck.ckid between the current
  // position and the end of `parent`, skipping others whole with their pad
  // bytes. Leaves the position at the body.
  bool DescendChunk(MMCKINFO& ck, const MMCKINFO& parent);
  // Leaves a chunk: the position goes past its body and pad byte. A created
  // chunk first gets its true size written and, when odd, a zero pad byte.
  bool Ascend(MMCKINFO& ck);
  // Writes a chunk header at the position: 12 bytes ("RIFF", size, form type)
  // when `riff`, else 8 (identifier, size). Marks the record MMIO_DIRTY.
  bool CreateChunk(MMCKINFO& ck, bool riff);

  // Returns the bytes read (0 at the end of the file) or -1 on error.
  std::int64_t Read(void* buffer, std::int64_t count);
  // Reads up to count bytes at `offset` without moving the position; returns
  // the bytes read or -1 on error.
  std::int64_t ReadAt(std::int64_t offset, void* buffer, std::int64_t count);
  // Announces that the bytes will be read soon.
  void WillNeed(std::int64_t offset, std::int64_t count);
  // Returns the bytes written or -1 on error.
  std::int64_t Write(const void* buffer, std::int64_t count);
  // Appends count bytes of `source`, from its offset `offset`, at the position,
  // without passing them through the program. Returns the bytes copied, -1 on
  // error, or FileApi::kCopyUnsupported when the caller must copy by blocks.
  std::int64_t CopyFrom(MmioFile& source, std::int64_t offset, std::int64_t count);
  // Returns the new position (offset 0 from the end gives the length) or -1.
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin);

  // Output only: closes the file and moves it to its final name. False when
  // anything failed; the final name then keeps what it held before.
  bool Publish();

 private:
  MmioFile(FileApi& files, int fd) : files_(files), fd_(fd) {}
  // Copies `count` header bytes at `offset` through the read-ahead window.
  bool HeaderAt(std::int64_t offset, std::uint8_t* out, int count);
  void CloseHandle();

  FileApi& files_;
  int fd_ = -1;
  std::int64_t position_ = 0;
  bool failed_ = false;  // a write or seek of an output went wrong
  std::string finalPath_;
  std::string tempPath_;  // non-empty while an output is unpublished

  // A small read-ahead window for chunk headers, so that a search over many
  // tiny chunks costs few reads.
  std::uint8_t window_[4096] = {};
  std::int64_t windowStart_ = -1;
  std::int64_t windowLength_ = 0;
};

}  // namespace corvella
