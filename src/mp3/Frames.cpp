#include "mp3/Frames.h"

#include <algorithm>
#include <cstring>

#include "wave/Tags.h"

namespace corvella::mp3 {
namespace {

// Kilobits per second by version (MPEG-1, then MPEG-2 and 2.5), layer and
// index 1-14.
constexpr int kBitrates[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
constexpr int kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

std::string At(std::int64_t byte, std::int64_t frame) {
  return "at byte " + std::to_string(byte) + " (frame " + std::to_string(frame + 1) + ")";
}

// Where the frames end: before the tags that end the file, each found by
// its own mark, in whatever order taggers left them.
std::int64_t FramesEnd(wave::FileApi& files, int fd, std::int64_t begin, std::int64_t end) {
  for (bool found = true; found && end > begin;) {
    found = false;
    std::uint8_t tail[32] = {};
    // ID3v1: "TAG" and 125 bytes.
    if (end - begin >= 128 && files.ReadAt(fd, tail, 3, end - 128) == 3 &&
        std::memcmp(tail, "TAG", 3) == 0) {
      end -= 128;
      found = true;
      continue;
    }
    // APEv2 (or v1): a 32-byte footer whose size counts the items and the
    // footer, and a header of 32 bytes where flagged.
    if (end - begin >= 32 && files.ReadAt(fd, tail, 32, end - 32) == 32 &&
        std::memcmp(tail, "APETAGEX", 8) == 0) {
      const std::int64_t size = tail[12] | tail[13] << 8 | tail[14] << 16 |
                                static_cast<std::int64_t>(tail[15]) << 24;
      const bool header = (tail[23] & 0x80) != 0;
      const std::int64_t whole = size + (header ? 32 : 0);
      if (size >= 32 && whole <= end - begin) {
        end -= whole;
        found = true;
        continue;
      }
    }
    // ID3v2 with a footer ("3DI"): header, body and footer.
    if (end - begin >= 10 && files.ReadAt(fd, tail, 10, end - 10) == 10 &&
        std::memcmp(tail, "3DI", 3) == 0) {
      const std::int64_t whole = SyncSafe(tail + 6) + 20;
      if (whole <= end - begin) {
        end -= whole;
        found = true;
        continue;
      }
    }
    // Lyrics3 v2: its size in six digits, then "LYRICS200".
    if (end - begin >= 15 && files.ReadAt(fd, tail, 15, end - 15) == 15 &&
        std::memcmp(tail + 6, "LYRICS200", 9) == 0) {
      std::int64_t size = 0;
      bool digits = true;
      for (int i = 0; i < 6; ++i) {
        digits = digits && tail[i] >= '0' && tail[i] <= '9';
        size = size * 10 + (tail[i] - '0');
      }
      if (digits && size + 15 <= end - begin) {
        end -= size + 15;
        found = true;
      }
    }
  }
  return end;
}

}  // namespace

std::int64_t SyncSafe(const std::uint8_t* b) {
  return (b[0] & 0x7F) << 21 | (b[1] & 0x7F) << 14 | (b[2] & 0x7F) << 7 | (b[3] & 0x7F);
}

std::int64_t Be32(const std::uint8_t* b) {
  return static_cast<std::int64_t>(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
}

int FrameHeader::SamplesPerFrame() const {
  if (layer == 1) return 384;
  if (layer == 2) return 1152;
  return version == Version::Mpeg1 ? 1152 : 576;
}

int FrameHeader::Bytes() const {
  const int pad = padded ? 1 : 0;
  if (layer == 1) return (12 * bitrate / rate + pad) * 4;
  const int factor = layer == 3 && version != Version::Mpeg1 ? 72 : 144;
  return factor * bitrate / rate + pad;
}

int FrameHeader::SideInfoBytes() const {
  if (layer != 3) return 0;
  if (version == Version::Mpeg1) return mode == 3 ? 17 : 32;
  return mode == 3 ? 9 : 17;
}

bool FrameHeader::SameStream(const FrameHeader& other) const {
  return version == other.version && layer == other.layer && rate == other.rate &&
         Channels() == other.Channels();
}

std::optional<std::string> ParseHeader(const std::uint8_t* b, FrameHeader& h) {
  if (b[0] != 0xFF || (b[1] & 0xE0) != 0xE0) return "no frame header (lost sync)";
  const int versionBits = b[1] >> 3 & 3;
  const int layerBits = b[1] >> 1 & 3;
  if (versionBits == 1) return "a frame header of a reserved MPEG version";
  if (layerBits == 0) return "a frame header of a reserved layer";
  h.version = versionBits == 3 ? Version::Mpeg1 : versionBits == 2 ? Version::Mpeg2 : Version::Mpeg25;
  h.layer = 4 - layerBits;
  h.crc = (b[1] & 1) == 0;
  h.bitrateIndex = b[2] >> 4;
  const int rateIndex = b[2] >> 2 & 3;
  if (h.bitrateIndex == 0) return "a free-format frame (its size is not in its header)";
  if (h.bitrateIndex == 15) return "a frame header with a forbidden bitrate";
  if (rateIndex == 3) return "a frame header with a reserved sample rate";
  const int v = h.version == Version::Mpeg1 ? 0 : 1;
  h.bitrate = kBitrates[v][h.layer - 1][h.bitrateIndex] * 1000;
  h.rate = kRates[static_cast<int>(h.version)][rateIndex];
  h.padded = (b[2] & 2) != 0;
  h.mode = b[3] >> 6;
  std::memcpy(h.raw, b, 4);
  return std::nullopt;
}

std::vector<int> LayerIIIBitrates(std::int64_t rate) {
  for (int version = 0; version < 3; ++version) {
    if (std::find(std::begin(kRates[version]), std::end(kRates[version]), rate) ==
        std::end(kRates[version]))
      continue;
    const int* row = kBitrates[version == 0 ? 0 : 1][2];
    return std::vector<int>(row + 1, row + kLargestBitrateIndex + 1);
  }
  return {};
}

FrameHeader WithBitrate(const FrameHeader& like, int bitrateIndex) {
  FrameHeader h = like;
  h.bitrateIndex = bitrateIndex;
  h.bitrate = kBitrates[like.version == Version::Mpeg1 ? 0 : 1][like.layer - 1][bitrateIndex] * 1000;
  h.crc = false;
  h.padded = false;
  h.raw[1] = static_cast<std::uint8_t>(h.raw[1] | 1);
  h.raw[2] = static_cast<std::uint8_t>((bitrateIndex << 4) | (h.raw[2] & 0x0D));
  return h;
}

int MainDataBegin(const FrameHeader& header, const std::uint8_t* frame) {
  const std::uint8_t* side = frame + 4 + (header.crc ? 2 : 0);
  if (header.version == Version::Mpeg1) return side[0] << 1 | side[1] >> 7;
  return side[0];
}

GaplessInfo ReadGaplessInfo(const FrameHeader& header, const std::uint8_t* frame, int size) {
  GaplessInfo info;
  if (header.layer != 3) return info;
  int at = header.MainDataOffset();
  if (at + 8 > size) return info;
  if (std::memcmp(frame + at, "Xing", 4) != 0 && std::memcmp(frame + at, "Info", 4) != 0)
    return info;
  info.present = true;
  const std::int64_t flags = Be32(frame + at + 4);
  at += 8;
  if (flags & 1) {
    if (at + 4 > size) return info;
    info.frames = Be32(frame + at);
    at += 4;
  }
  if (flags & 2) at += 4;
  if (flags & 4) at += 100;
  if (flags & 8) at += 4;
  // The LAME extension: nine bytes of encoder version, then at 21 bytes in
  // the delay and padding, twelve bits each.
  if (at + 24 > size) return info;
  const std::uint8_t* lame = frame + at;
  const bool named = std::memcmp(lame, "LAME", 4) == 0 || std::memcmp(lame, "Lavf", 4) == 0 ||
                     std::memcmp(lame, "Lavc", 4) == 0 || std::memcmp(lame, "L3.9", 4) == 0;
  if (!named) return info;
  info.lame = true;
  info.encoder.assign(reinterpret_cast<const char*>(lame), 9);
  info.delay = lame[21] << 4 | lame[22] >> 4;
  info.padding = (lame[22] & 0x0F) << 8 | lame[23];
  return info;
}

std::int64_t FrameIndex::Samples() const {
  const std::int64_t decoded = Frames() * first.SamplesPerFrame();
  // The padding is of the stream's last frame: not where frames are missing.
  if (!gapless.lame) return decoded;
  if (gapless.frames >= 0 && gapless.frames != Frames()) return std::max<std::int64_t>(decoded - Lead(), 0);
  const std::int64_t end =
      std::min<std::int64_t>(decoded, decoded - gapless.padding + kDecoderDelay);
  return std::max<std::int64_t>(end - Lead(), 0);
}

ScanResult ScanFrames(wave::FileApi& files, int fd, bool salvage, FrameIndex& index) {
  index = FrameIndex();
  const std::int64_t size = files.Size(fd);
  if (size < 0) return {false, "its length cannot be read"};
  const std::int64_t begin = wave::PastId3v2Tags(files, fd);
  index.tagBytes = begin;
  // Where the tags at the end seem to begin; a frame that runs on past that
  // point to the end of the file shows they were bytes of audio that only
  // looked like a tag.
  std::int64_t end = FramesEnd(files, fd, begin, size);

  // Read in blocks; a frame is at most 2881 bytes (Layer II at 384 kbit/s
  // and 8 kHz would be more, but has no such rate).
  constexpr std::int64_t kBlock = 1 << 16;
  std::vector<std::uint8_t> block;
  std::int64_t blockAt = -1;
  auto bytesAt = [&](std::int64_t at, std::int64_t count) -> const std::uint8_t* {
    if (at < 0 || at + count > size) return nullptr;
    if (blockAt < 0 || at < blockAt || at + count > blockAt + static_cast<std::int64_t>(block.size())) {
      const std::int64_t want = std::min(std::max(kBlock, count), size - at);
      block.resize(static_cast<std::size_t>(want));
      if (files.ReadAt(fd, block.data(), want, at) != want) return nullptr;
      blockAt = at;
    }
    return block.data() + (at - blockAt);
  };
  // Whether frames of the stream follow one another from `at` to `limit`.
  auto TilesTo = [&](std::int64_t at, std::int64_t limit) {
    while (at < limit) {
      const std::uint8_t* b = bytesAt(at, 4);
      FrameHeader h;
      if (!b || ParseHeader(b, h) || (!index.offsets.empty() && !h.SameStream(index.first)))
        return false;
      at += h.Bytes();
    }
    return at == limit;
  };
  // A header at `at` that fits the stream (or starts it) and whose frame ends
  // before `end`.
  auto frameAt = [&](std::int64_t at, FrameHeader& h, std::string& why) {
    const std::uint8_t* b = bytesAt(at, 4);
    if (!b) {
      why = "the stream ends inside a frame header";
      return false;
    }
    if (auto wrong = ParseHeader(b, h)) {
      why = *wrong;
      return false;
    }
    if (!index.offsets.empty() && !h.SameStream(index.first)) {
      why = "a frame header that changes the stream (its version, layer, rate or channels)";
      return false;
    }
    if (at + h.Bytes() > end && end < size && TilesTo(at, size)) end = size;
    if (at + h.Bytes() > end) {
      why = "a frame cut short (the stream ends " + std::to_string(end - at) + " bytes into a frame of " +
            std::to_string(h.Bytes()) + ")";
      return false;
    }
    return true;
  };
  // Under salvage: the next place where two frames of the stream follow
  // one another (or one ends the stream).
  auto resync = [&](std::int64_t from) -> std::int64_t {
    for (std::int64_t at = from; at + 4 <= end; ++at) {
      const std::uint8_t* b = bytesAt(at, 4);
      if (!b) return -1;
      if (b[0] != 0xFF) continue;
      FrameHeader h, next;
      std::string why;
      if (!frameAt(at, h, why)) continue;
      if (at + h.Bytes() == end || frameAt(at + h.Bytes(), next, why)) return at;
    }
    return -1;
  };

  std::int64_t at = begin;
  bool firstFrame = true;
  while (at < end) {
    FrameHeader h;
    std::string why;
    if (!frameAt(at, h, why)) {
      // A tag appended after the frames without a mark at the end of the file.
      const std::uint8_t* b = bytesAt(at, 10);
      if (b && std::memcmp(b, "ID3", 3) == 0 && at + 10 + SyncSafe(b + 6) + ((b[5] & 0x10) ? 10 : 0) >= end)
        break;
      if (b && std::memcmp(b, "TAG", 3) == 0 && end - at == 128) break;
      const bool started = !index.offsets.empty() || index.infoOffset >= 0;
      if (!salvage) {
        if (!started) return {false, why + " at byte " + std::to_string(at) + ", where the first frame should be"};
        return {false, why + " " + At(at, index.Frames()), true};
      }
      const std::int64_t next = resync(at + 1);
      if (next < 0) {
        index.skipped.push_back("the last " + std::to_string(end - at) + " bytes, from byte " +
                                std::to_string(at) + " (" + why + ")");
        break;
      }
      index.skipped.push_back(std::to_string(next - at) + " bytes from byte " + std::to_string(at) +
                              " after frame " + std::to_string(index.Frames()) + " (" + why + ")");
      at = next;
      continue;
    }
    if (firstFrame) {
      firstFrame = false;
      const std::uint8_t* whole = bytesAt(at, h.Bytes());
      if (!whole) return {false, "its first frame cannot be read"};
      index.gapless = ReadGaplessInfo(h, whole, h.Bytes());
      if (index.gapless.present) {
        index.infoOffset = at;
        index.infoBytes = h.Bytes();
        index.first = h;
        at += h.Bytes();
        continue;
      }
    }
    if (index.offsets.empty()) index.first = h;
    index.offsets.push_back(at);
    index.sizes.push_back(static_cast<std::uint16_t>(h.Bytes()));
    at += h.Bytes();
  }
  if (index.offsets.empty()) return {false, "it holds no MPEG audio frames"};
  return {true, {}};
}

std::int64_t WarmStart(const FrameIndex& index, std::int64_t k) {
  const std::int64_t whole = std::max<std::int64_t>(k - 2, 0);
  if (index.first.layer != 3) return whole;
  const int reservoir = index.first.version == Version::Mpeg1 ? 511 : 255;
  const int overhead = index.first.MainDataOffset() + (index.first.crc ? 0 : 2);
  std::int64_t start = whole;
  for (std::int64_t held = 0; start > 0 && held < reservoir;) {
    --start;
    held += std::max<std::int64_t>(index.FrameBytes(start) - overhead, 0);
  }
  return start;
}

}  // namespace corvella::mp3
