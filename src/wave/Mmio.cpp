#include "wave/Mmio.h"

#include <cstring>
#include <random>

#include "wave/ByteOrder.h"

namespace corvella {
namespace {

constexpr std::uint32_t kRiffId = FourCC("RIFF");

std::string FolderOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string TemporaryName(const std::string& folder) {
  static std::mt19937_64 random{std::random_device{}()};
  static const char kHex[] = "0123456789abcdef";
  std::string name = folder + ".corvella-";
  std::uint64_t bits = random();
  for (int i = 0; i < 12; ++i, bits >>= 4) name += kHex[bits & 15];
  return name + ".tmp";
}

}  // namespace

std::unique_ptr<MmioFile> MmioFile::OpenRead(FileApi& files, const std::string& name) {
  int fd = files.OpenExclusive(name);
  if (fd < 0) return nullptr;
  return std::unique_ptr<MmioFile>(new MmioFile(files, fd));
}

std::unique_ptr<MmioFile> MmioFile::Create(FileApi& files, const std::string& path) {
  PathInfo existing = files.Inspect(path);
  if (existing.kind == PathKind::Folder || existing.kind == PathKind::Other) return nullptr;
  if (existing.kind == PathKind::RegularFile && (existing.readOnly || existing.locked)) {
    return nullptr;
  }
  const std::string folder = FolderOf(path);
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string temp = TemporaryName(folder);
    int fd = files.CreateNew(temp);
    if (fd >= 0) {
      std::unique_ptr<MmioFile> file(new MmioFile(files, fd));
      file->finalPath_ = path;
      file->tempPath_ = temp;
      return file;
    }
    // Only a name clash is worth another try.
    if (files.Inspect(temp).kind == PathKind::Missing) break;
  }
  return nullptr;
}

MmioFile::~MmioFile() {
  CloseHandle();
  if (!tempPath_.empty()) files_.Remove(tempPath_);
}

void MmioFile::CloseHandle() {
  if (fd_ >= 0 && !files_.Close(fd_)) failed_ = true;
  fd_ = -1;
}

bool MmioFile::Publish() {
  if (tempPath_.empty()) return false;
  CloseHandle();
  if (failed_ || !files_.Rename(tempPath_, finalPath_)) {
    files_.Remove(tempPath_);
    tempPath_.clear();
    return false;
  }
  tempPath_.clear();
  return true;
}

std::int64_t MmioFile::Read(void* buffer, std::int64_t count) {
  std::int64_t got = files_.Read(fd_, buffer, count);
  if (got > 0) position_ += got;
  return got;
}

std::int64_t MmioFile::ReadAt(std::int64_t offset, void* buffer, std::int64_t count) {
  return files_.ReadAt(fd_, buffer, count, offset);
}

void MmioFile::WillNeed(std::int64_t offset, std::int64_t count) { files_.WillNeed(fd_, offset, count); }

std::int64_t MmioFile::Write(const void* buffer, std::int64_t count) {
  if (count == 0) return 0;
  std::int64_t put = files_.Write(fd_, buffer, count);
  if (put > 0) position_ += put;
  if (put != count) failed_ = true;
  windowStart_ = -1;
  return put;
}

std::int64_t MmioFile::CopyFrom(MmioFile& source, std::int64_t offset, std::int64_t count) {
  if (count == 0) return 0;
  const std::int64_t put = files_.CopyRange(source.fd_, offset, fd_, count);
  if (put == FileApi::kCopyUnsupported) return put;
  if (put > 0) position_ += put;
  if (put != count) failed_ = true;
  windowStart_ = -1;
  return put;
}

std::int64_t MmioFile::Seek(std::int64_t offset, SeekOrigin origin) {
  std::int64_t at = files_.Seek(fd_, offset, origin);
  if (at >= 0) {
    position_ = at;
  } else {
    failed_ = true;
  }
  return at;
}

bool MmioFile::HeaderAt(std::int64_t offset, std::uint8_t* out, int count) {
  auto inWindow = [&] {
    return windowStart_ >= 0 && offset >= windowStart_ &&
           offset + count <= windowStart_ + windowLength_;
  };
  if (!inWindow()) {
    if (files_.Seek(fd_, offset, SeekOrigin::FromStart) != offset) return false;
    std::int64_t got = files_.Read(fd_, window_, sizeof window_);
    position_ = offset + (got > 0 ? got : 0);
    windowStart_ = offset;
    windowLength_ = got > 0 ? got : 0;
    if (!inWindow()) return false;
  }
  std::memcpy(out, window_ + (offset - windowStart_), static_cast<std::size_t>(count));
  return true;
}

bool MmioFile::DescendRiff(MMCKINFO& ck) {
  std::int64_t at = position_;
  std::uint8_t header[12];
  while (HeaderAt(at, header, 8)) {
    std::uint32_t id = ReadLe32(header);
    std::uint32_t size = ReadLe32(header + 4);
    if (id == kRiffId && HeaderAt(at + 8, header + 8, 4) && ReadLe32(header + 8) == ck.fccType) {
      ck.ckid = id;
      ck.cksize = size;
      ck.dwDataOffset = at + 8;
      ck.dwFlags = 0;
      return Seek(at + 12, SeekOrigin::FromStart) == at + 12;
    }
    at += 8 + static_cast<std::int64_t>(size) + (size & 1);
  }
  return false;
}

bool MmioFile::DescendChunk(MMCKINFO& ck, const MMCKINFO& parent) {
  const std::int64_t parentEnd = parent.dwDataOffset + static_cast<std::int64_t>(parent.cksize);
  std::int64_t at = position_;
  std::uint8_t header[8];
  while (at + 8 <= parentEnd && HeaderAt(at, header, 8)) {
    std::uint32_t id = ReadLe32(header);
    std::uint32_t size = ReadLe32(header + 4);
    if (id == ck.ckid) {
      ck.cksize = size;
      ck.dwDataOffset = at + 8;
      ck.dwFlags = 0;
      return Seek(at + 8, SeekOrigin::FromStart) == at + 8;
    }
    at += 8 + static_cast<std::int64_t>(size) + (size & 1);
  }
  return false;
}

bool MmioFile::Ascend(MMCKINFO& ck) {
  if ((ck.dwFlags & MMIO_DIRTY) == 0) {
    std::int64_t end = ck.dwDataOffset + static_cast<std::int64_t>(ck.cksize) + (ck.cksize & 1);
    return Seek(end, SeekOrigin::FromStart) == end;
  }
  const std::int64_t length = position_ - ck.dwDataOffset;
  if (length < 0 || length > 0xFFFFFFFFLL) {
    failed_ = true;
    return false;
  }
  if (static_cast<std::uint32_t>(length) != ck.cksize) {
    std::uint8_t size[4];
    WriteLe32(size, static_cast<std::uint32_t>(length));
    if (Seek(ck.dwDataOffset - 4, SeekOrigin::FromStart) < 0 || Write(size, 4) != 4) return false;
    ck.cksize = static_cast<std::uint32_t>(length);
  }
  if (Seek(ck.dwDataOffset + length, SeekOrigin::FromStart) < 0) return false;
  if (length & 1) {
    const std::uint8_t pad = 0;
    if (Write(&pad, 1) != 1) return false;
  }
  ck.dwFlags &= ~MMIO_DIRTY;
  return !failed_;
}

bool MmioFile::CreateChunk(MMCKINFO& ck, bool riff) {
  std::uint8_t header[12];
  WriteLe32(header, riff ? kRiffId : ck.ckid);
  WriteLe32(header + 4, ck.cksize);
  WriteLe32(header + 8, ck.fccType);
  const int length = riff ? 12 : 8;
  const std::int64_t at = position_;
  if (riff) ck.ckid = kRiffId;
  ck.dwDataOffset = at + 8;
  ck.dwFlags = MMIO_DIRTY;
  return Write(header, length) == length;
}

}  // namespace corvella
