#include "wave/Mmio.h"

#include <cerrno>
#include <cstring>
#include <random>

#include "wave/ByteOrder.h"

namespace corvella::wave {
namespace {

constexpr std::uint32_t kRiffId = FourCC("RIFF");
constexpr int kNameAttempts = 16;

// A fresh hidden name in the destination folder, for a part being written.
std::string TemporaryName() {
  static std::mt19937_64 random{std::random_device{}()};
  static const char kHex[] = "0123456789abcdef";
  std::string name = ".corvella-";
  std::uint64_t bits = random();
  for (int i = 0; i < 12; ++i, bits >>= 4) name += kHex[bits & 15];
  return name + ".tmp";
}

}  // namespace

std::unique_ptr<MmioFile> MmioFile::OpenRead(FileApi& files, const std::string& path, int& why) {
  const int fd = files.OpenExclusive(path, why);
  if (fd < 0) return nullptr;
  return std::unique_ptr<MmioFile>(new MmioFile(files, fd));
}

std::unique_ptr<MmioFile> MmioFile::Create(FileApi& files, int folder, const std::string& name,
                                           int& why) {
  const PathInfo existing = files.Inspect(folder, name);
  why = existing.kind == PathKind::Folder  ? EISDIR
        : existing.kind == PathKind::Other ? EINVAL
        : existing.locked                  ? EWOULDBLOCK
        : existing.readOnly                ? EACCES
                                           : 0;
  if (why != 0) return nullptr;
  std::string temp;
  int fd = files.CreateUnnamed(folder, why);
  // Where the file system cannot hold a file without a name, a hidden name
  // serves; only a name clash is worth another try.
  for (int attempt = 0; fd < 0 && why == EOPNOTSUPP && attempt < kNameAttempts; ++attempt) {
    temp = TemporaryName();
    fd = files.CreateNew(folder, temp, why);
    if (fd < 0 && why == EEXIST) why = EOPNOTSUPP;
  }
  if (fd < 0) {
    if (why == EOPNOTSUPP) why = EEXIST;
    return nullptr;
  }
  std::unique_ptr<MmioFile> file(new MmioFile(files, fd));
  file->output_ = true;
  file->folder_ = folder;
  file->name_ = name;
  file->tempName_ = temp;
  if (!temp.empty()) files.MarkPending(folder, temp);
  return file;
}

MmioFile::~MmioFile() {
  if (output_) {
    Discard();
  } else if (fd_ >= 0) {
    files_.Close(fd_);
  }
}

void MmioFile::Discard() {
  if (fd_ >= 0) files_.Close(fd_);
  fd_ = -1;
  if (!tempName_.empty()) {
    files_.Remove(folder_, tempName_);
    files_.MarkPending(-1, "");
    tempName_.clear();
  }
  output_ = false;
}

bool MmioFile::LinkTemporary() {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string temp = TemporaryName();
    const int linked = files_.Link(fd_, folder_, temp);
    if (linked == 0) {
      tempName_ = temp;
      files_.MarkPending(folder_, temp);
      return true;
    }
    if (linked != EEXIST) return false;
  }
  return false;
}

bool MmioFile::Publish() {
  if (!output_) return false;
  if (failed_) {
    Discard();
    return false;
  }
  if (tempName_.empty()) {
    // The file has no name yet: give it the final one, unless an older file
    // holds it; then a hidden name first, and a rename over the old file.
    const int linked = files_.Link(fd_, folder_, name_);
    if (linked == 0) {
      const bool closed = files_.Close(fd_);
      if (!closed) Fail(errno);
      fd_ = -1;
      output_ = false;
      if (!closed) files_.Remove(folder_, name_);
      return closed;
    }
    if (linked != EEXIST) Fail(linked);
    // An older file holds the name: replaced in one step where the system
    // can, else under a hidden name first and then renamed over it.
    const int replaced = linked == EEXIST ? files_.Replace(fd_, folder_, name_) : linked;
    if (replaced == 0) {
      const bool closed = files_.Close(fd_);
      if (!closed) Fail(errno);
      fd_ = -1;
      output_ = false;
      return closed;
    }
    if (replaced != EOPNOTSUPP) Fail(replaced);
    if (replaced != EOPNOTSUPP || !LinkTemporary()) {
      Discard();
      return false;
    }
  }
  const bool closed = files_.Close(fd_);
  if (!closed) Fail(errno);
  fd_ = -1;
  if (!closed || !files_.Rename(folder_, tempName_, name_)) {
    if (closed) Fail(errno);
    Discard();
    return false;
  }
  files_.MarkPending(-1, "");
  tempName_.clear();
  output_ = false;
  return true;
}

std::int64_t MmioFile::Read(void* buffer, std::int64_t count) {
  const std::int64_t got = files_.ReadAt(fd_, buffer, count, position_);
  if (got > 0) position_ += got;
  return got;
}

std::int64_t MmioFile::ReadAt(std::int64_t offset, void* buffer, std::int64_t count) {
  return files_.ReadAt(fd_, buffer, count, offset);
}

void MmioFile::WillNeed(std::int64_t offset, std::int64_t count) {
  files_.WillNeed(fd_, offset, count);
}

std::int64_t MmioFile::Length() {
  return files_.Size(fd_);
}

FileId MmioFile::Id() {
  return files_.IdOf(fd_);
}

std::int64_t MmioFile::Write(const void* buffer, std::int64_t count) {
  if (count == 0) return 0;
  const std::int64_t put = files_.WriteAt(fd_, buffer, count, position_);
  if (put > 0) position_ += put;
  if (put != count) Fail(errno);
  windowStart_ = -1;
  return put;
}

std::int64_t MmioFile::CopyFrom(MmioFile& source, std::int64_t offset, std::int64_t count) {
  if (count == 0) return 0;
  const std::int64_t put = files_.CopyRange(source.fd_, offset, fd_, position_, count);
  if (put == FileApi::kCopyUnsupported) return put;
  if (put > 0) position_ += put;
  if (put != count) Fail(errno);
  windowStart_ = -1;
  return put;
}

bool MmioFile::HeaderAt(std::int64_t offset, std::uint8_t* out, int count) {
  auto inWindow = [&] {
    return windowStart_ >= 0 && offset >= windowStart_ &&
           offset + count <= windowStart_ + windowLength_;
  };
  if (!inWindow()) {
    if (offset < 0) return false;
    const std::int64_t got = files_.ReadAt(fd_, window_, sizeof window_, offset);
    windowStart_ = offset;
    windowLength_ = got > 0 ? got : 0;
    if (!inWindow()) return false;
  }
  std::memcpy(out, window_ + (offset - windowStart_), static_cast<std::size_t>(count));
  return true;
}

ChunkHeader ReadChunkHeader(const std::uint8_t* bytes, ChunkForm form) {
  ChunkHeader header;
  header.id = ReadLe32(bytes);
  if (form == ChunkForm::Riff) {
    header.stored = header.bodyBytes = ReadLe32(bytes + 4);
  } else {
    header.stored = ReadLe64(bytes + 16);
    header.bodyBytes = header.stored >= 24 ? header.stored - 24 : 0;
  }
  return header;
}

std::int64_t ChunkAfter(std::int64_t at, std::uint64_t bodyBytes, ChunkForm form) {
  const std::int64_t next = at + HeaderBytesOf(form) + static_cast<std::int64_t>(bodyBytes);
  if (form == ChunkForm::Riff) return next + static_cast<std::int64_t>(bodyBytes & 1);
  return next + (8 - next % 8) % 8;
}

bool MmioFile::DescendRiff(MMCKINFO& ck) {
  const std::uint32_t wanted = ck.ckid != 0 ? ck.ckid : kRiffId;
  std::int64_t at = position_;
  std::uint8_t header[12];
  while (HeaderAt(at, header, 8)) {
    const ChunkHeader chunk = ReadChunkHeader(header, ChunkForm::Riff);
    if (chunk.id == wanted && HeaderAt(at + 8, header + 8, 4) &&
        ReadLe32(header + 8) == ck.fccType) {
      ck.ckid = chunk.id;
      ck.cksize = static_cast<std::uint32_t>(chunk.bodyBytes);
      ck.dwDataOffset = at + 8;
      ck.dwFlags = 0;
      position_ = at + 12;
      return true;
    }
    at = ChunkAfter(at, chunk.bodyBytes, ChunkForm::Riff);
  }
  return false;
}

bool MmioFile::DescendChunk(MMCKINFO& ck, const MMCKINFO& parent) {
  return DescendChunk(ck, parent.dwDataOffset + static_cast<std::int64_t>(parent.cksize));
}

bool MmioFile::DescendChunk(MMCKINFO& ck, std::int64_t parentEnd) {
  std::int64_t at = position_;
  std::uint8_t header[8];
  while (at + 8 <= parentEnd && HeaderAt(at, header, 8)) {
    const ChunkHeader chunk = ReadChunkHeader(header, ChunkForm::Riff);
    if (chunk.id == ck.ckid) {
      ck.cksize = static_cast<std::uint32_t>(chunk.bodyBytes);
      ck.dwDataOffset = at + 8;
      ck.dwFlags = 0;
      position_ = at + 8;
      return true;
    }
    at = ChunkAfter(at, chunk.bodyBytes, ChunkForm::Riff);
  }
  return false;
}

bool MmioFile::NextChunk(MMCKINFO& ck, std::int64_t parentEnd) {
  std::uint8_t header[8];
  if (position_ + 8 > parentEnd || !HeaderAt(position_, header, 8)) return false;
  const ChunkHeader chunk = ReadChunkHeader(header, ChunkForm::Riff);
  ck.ckid = chunk.id;
  ck.cksize = static_cast<std::uint32_t>(chunk.bodyBytes);
  ck.dwDataOffset = position_ + 8;
  ck.dwFlags = 0;
  position_ = ChunkAfter(position_, chunk.bodyBytes, ChunkForm::Riff);
  return true;
}

void MmioFile::Ascend(const MMCKINFO& ck) {
  position_ = ChunkAfter(ck.dwDataOffset - 8, ck.cksize, ChunkForm::Riff);
}

}  // namespace corvella::wave
