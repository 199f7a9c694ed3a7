// RIFF file access in the manner of a multimedia file I/O library: chunk
// search and navigation, positioned block reads, and new files that take
// their name only once complete. Built on FileApi only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "wave/FileApi.h"

namespace corvella::wave {

// Chunk information record.
struct MMCKINFO {
  std::uint32_t ckid = 0;         // chunk identifier
  std::uint32_t cksize = 0;       // body length, pad byte not counted
  std::uint32_t fccType = 0;      // form type of an outer chunk
  std::int64_t dwDataOffset = 0;  // file offset of the body
  std::uint32_t dwFlags = 0;
};

// How a chunk's header is laid out: RIFF's (a four-character name, a
// 32-bit size of the body, and a pad byte after an odd body) or Wave64's (a
// 16-byte GUID, a 64-bit size that counts the 24 header bytes, and each
// chunk on a multiple of 8 bytes). The one walk over chunks that a file's
// reader and a stream's header reader share.
enum class ChunkForm { Riff, Wave64 };

struct ChunkHeader {
  std::uint32_t id = 0;  // the name; of a Wave64 GUID, the four characters it begins with
  // The body's length as the header gives it; for Wave64 without the 24
  // header bytes (0 where the stored size is shorter than they are).
  std::uint64_t bodyBytes = 0;
  std::uint64_t stored = 0;  // the size field as stored
};

// Whether a Wave64 chunk's stored size is left open, as a program writing
// to a pipe leaves it (all ones, or the largest signed value): the chunk
// runs to the end.
constexpr bool OpenWave64Size(std::uint64_t stored) {
  return stored == ~std::uint64_t{0} || stored == 0x7FFFFFFFFFFFFFFF;
}

// The bytes a chunk header takes.
constexpr int HeaderBytesOf(ChunkForm form) { return form == ChunkForm::Riff ? 8 : 24; }
// Reads the header that `bytes` (HeaderBytesOf(form) of them) hold.
ChunkHeader ReadChunkHeader(const std::uint8_t* bytes, ChunkForm form);
// Where the chunk after one at `at` with a body of `bodyBytes` begins: past
// the body and its pad byte, or on the next multiple of 8.
std::int64_t ChunkAfter(std::int64_t at, std::uint64_t bodyBytes, ChunkForm form);

class MmioFile {
 public:
  // Opens an existing file read-only with exclusive access; null on failure,
  // with `why` the errno that tells the reason.
  static std::unique_ptr<MmioFile> OpenRead(FileApi& files, const std::string& path, int& why);
  // Starts a new file to be called `name` in `folder`. Nothing appears under
  // that name until Publish(), so a failed write never leaves a truncated
  // file and never harms an existing one. Null when it cannot be created:
  // the name is a folder, or a read-only file, or one locked by another
  // opener, or the folder refuses new files (`why` then tells the reason).
  static std::unique_ptr<MmioFile> Create(FileApi& files, int folder, const std::string& name,
                                          int& why);

  MmioFile(const MmioFile&) = delete;
  MmioFile& operator=(const MmioFile&) = delete;
  // Closes the file; an output that was not published is removed.
  ~MmioFile();

  // Finds the next outer chunk with identifier ck.ckid ("RIFF" when 0) whose
  // form type is ck.fccType, from the current position. Leaves the position
  // just past the form type.
  bool DescendRiff(MMCKINFO& ck);
  // Finds the first chunk with identifier ck.ckid between the current
  // position and the end of `parent` (or `parentEnd`), skipping others whole
  // with their pad bytes. Leaves the position at the body.
  bool DescendChunk(MMCKINFO& ck, const MMCKINFO& parent);
  bool DescendChunk(MMCKINFO& ck, std::int64_t parentEnd);
  // Reads the header of whatever chunk lies at the position, before
  // `parentEnd`, and moves past the whole chunk.
  bool NextChunk(MMCKINFO& ck, std::int64_t parentEnd);
  // Leaves a chunk: the position goes past its body and pad byte.
  void Ascend(const MMCKINFO& ck);

  // Reads at the position and moves it on. Returns the bytes read (0 at the
  // end of the file) or -1 on error.
  std::int64_t Read(void* buffer, std::int64_t count);
  // Reads at `offset` without moving the position.
  std::int64_t ReadAt(std::int64_t offset, void* buffer, std::int64_t count);
  void WillNeed(std::int64_t offset, std::int64_t count);
  // Writes at the position and moves it on. Returns the bytes written or -1.
  std::int64_t Write(const void* buffer, std::int64_t count);
  // Appends count bytes of `source` from its `offset` at the position, inside
  // the kernel. Returns the bytes copied, -1 on error, or
  // FileApi::kCopyUnsupported when the caller must copy by blocks.
  std::int64_t CopyFrom(MmioFile& source, std::int64_t offset, std::int64_t count);
  std::int64_t Position() const { return position_; }
  // The file system and descriptor underneath, for a library that writes
  // the file its own way.
  FileApi& Files() { return files_; }
  int Descriptor() const { return fd_; }
  void Seek(std::int64_t offset) { position_ = offset; }
  // The file's length, or -1.
  std::int64_t Length();
  FileId Id();

  // Output only: the name Publish() gives the file, instead of the one it
  // was created for.
  void SetName(const std::string& name) { name_ = name; }
  // Output only: gives the file its name. False when anything failed on the
  // way; the name then keeps what it held before and nothing is left behind.
  bool Publish();
  // Output only: the errno of the first write, copy or naming that failed,
  // or 0 when none said why.
  int Failure() const { return failure_; }
  // Notes a failure met by someone writing the file its own way.
  void Fail(int errorNumber) {
    failed_ = true;
    if (failure_ == 0) failure_ = errorNumber;
  }

 private:
  MmioFile(FileApi& files, int fd) : files_(files), fd_(fd) {}
  // Copies `count` header bytes at `offset` through the read-ahead window.
  bool HeaderAt(std::int64_t offset, std::uint8_t* out, int count);
  // Links the unnamed output under a fresh hidden name; false when it cannot.
  bool LinkTemporary();
  void Discard();

  FileApi& files_;
  int fd_ = -1;
  std::int64_t position_ = 0;
  bool failed_ = false;  // a write of an output went wrong
  int failure_ = 0;      // its errno
  bool output_ = false;  // created here and not yet published
  int folder_ = -1;
  std::string name_;      // the final name
  std::string tempName_;  // the hidden name while it has one

  // A small read-ahead window for chunk headers, so that a search over many
  // tiny chunks costs few reads.
  std::uint8_t window_[4096] = {};
  std::int64_t windowStart_ = -1;
  std::int64_t windowLength_ = 0;
};

}  // namespace corvella::wave
