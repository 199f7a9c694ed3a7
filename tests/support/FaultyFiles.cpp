#include "support/FaultyFiles.h"

#include <algorithm>

namespace corvella::test {

// Shortens a read to what is left of the budget; false when nothing is.
bool FaultyFiles::ReadBudget(std::int64_t& count) const {
  if (failReadsAfter < 0) return true;
  const std::int64_t allowed = std::max<std::int64_t>(failReadsAfter - read, 0);
  count = std::min(count, allowed);
  return allowed > 0;
}

std::int64_t FaultyFiles::Read(int fd, void* buffer, std::int64_t count) {
  if (!ReadBudget(count)) return -1;
  std::int64_t got = real().Read(fd, buffer, count);
  if (got > 0) read += got;
  return got;
}

std::int64_t FaultyFiles::CopyRange(int in, std::int64_t inOffset, int out, std::int64_t count) {
  if (copyUnsupported) return kCopyUnsupported;
  if (failReadsFrom >= 0 && inOffset + count > failReadsFrom) return -1;
  if (real().Seek(in, inOffset, SeekOrigin::FromStart) != inOffset) return -1;
  char buffer[8192];
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t got = Read(in, buffer, std::min<std::int64_t>(count - done, sizeof buffer));
    if (got <= 0) break;
    const std::int64_t put = Write(out, buffer, got);
    if (put > 0) done += put;
    if (put != got) return done > 0 ? done : -1;
  }
  return done > 0 || count == 0 ? done : -1;
}

std::int64_t FaultyFiles::ReadAt(int fd, void* buffer, std::int64_t count, std::int64_t offset) {
  if (failReadsFrom >= 0 && offset + count > failReadsFrom) {
    if (offset >= failReadsFrom) return -1;
    count = failReadsFrom - offset;
  }
  if (!ReadBudget(count)) return -1;
  std::int64_t got = real().ReadAt(fd, buffer, count, offset);
  if (got > 0) read += got;
  return got;
}

std::int64_t FaultyFiles::Write(int fd, const void* buffer, std::int64_t count) {
  if (failWritesAfter >= 0) {
    const std::int64_t allowed = std::max<std::int64_t>(failWritesAfter - written, 0);
    if (allowed == 0) return -1;
    count = std::min(count, allowed);
  }
  std::int64_t put = real().Write(fd, buffer, count);
  if (put > 0) written += put;
  return put;
}

}  // namespace corvella::test
