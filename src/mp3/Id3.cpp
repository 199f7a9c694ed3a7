#include "mp3/Id3.h"

#include <algorithm>

#include "mp3/Frames.h"
#include "wave/Utf8.h"

namespace corvella::mp3 {
namespace {

void PutUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | c >> 6));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | c >> 12));
    out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | c >> 18));
    out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// UTF-16 to UTF-8, up to the first NUL; a lone surrogate becomes U+FFFD.
std::string FromUtf16(const std::uint8_t* data, std::size_t size, bool bigEndian) {
  std::string out;
  const auto unit = [&](std::size_t i) {
    return static_cast<std::uint32_t>(bigEndian ? data[i] << 8 | data[i + 1]
                                                : data[i + 1] << 8 | data[i]);
  };
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    std::uint32_t c = unit(i);
    if (c == 0) break;
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < size && unit(i + 2) >= 0xDC00 && unit(i + 2) < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    PutUtf8(out, c);
  }
  return out;
}

// A text in one of ID3v2's four encodings, to its end or its first NUL
// (v2.4 separates several values with it: the first is taken). `used`
// receives the bytes it took, its NUL included.
std::string Text(std::uint8_t encoding, const std::uint8_t* data, std::size_t size,
                 std::size_t* used = nullptr) {
  if (encoding == 1 || encoding == 2) {
    bool big = encoding == 2;
    std::size_t from = 0;
    if (encoding == 1 && size >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF))) {
      big = data[0] == 0xFE;
      from = 2;
    }
    std::size_t end = from;
    while (end + 1 < size && (data[end] != 0 || data[end + 1] != 0)) end += 2;
    if (used) *used = std::min(size, end + 2);
    return FromUtf16(data + from, end - from, big);
  }
  const std::size_t end = static_cast<std::size_t>(std::find(data, data + size, 0) - data);
  if (used) *used = std::min(size, end + 1);
  const std::string text(reinterpret_cast<const char*>(data), end);
  return encoding == 3 ? text : wave::Latin1ToUtf8(text);
}

}  // namespace

void PutSyncSafe(Bytes& out, std::uint32_t v) {
  for (int shift : {21, 14, 7, 0}) out.push_back(static_cast<std::uint8_t>(v >> shift & 0x7F));
}

Bytes FirstId3v2Tag(wave::FileApi& files, int fd, std::int64_t tagBytes) {
  Bytes head(10);
  if (tagBytes < 10 || files.ReadAt(fd, head.data(), 10, 0) != 10) return {};
  const std::int64_t size = 10 + SyncSafe(&head[6]);
  Bytes whole(static_cast<std::size_t>(std::min(size, tagBytes)));
  if (files.ReadAt(fd, whole.data(), static_cast<std::int64_t>(whole.size()), 0) !=
      static_cast<std::int64_t>(whole.size()))
    return {};
  return whole;
}

void ForEachId3Frame(const Bytes& tag,
                     const std::function<void(const std::string& id, const std::uint8_t* data,
                                              std::size_t size, bool packed)>& frame) {
  if (tag.size() < 10) return;
  const int major = tag[3];
  const std::uint8_t flags = tag[5];
  if ((major != 3 && major != 4) || (flags & 0x80)) return;
  std::size_t at = 10;
  if (flags & 0x40) {  // an extended header
    if (tag.size() < at + 4) return;
    at += static_cast<std::size_t>(major == 4 ? SyncSafe(&tag[at]) : Be32(&tag[at]) + 4);
  }
  while (at + 10 <= tag.size() && tag[at] != 0) {
    const std::string id(reinterpret_cast<const char*>(&tag[at]), 4);
    const auto size = static_cast<std::size_t>(major == 4 ? SyncSafe(&tag[at + 4]) : Be32(&tag[at + 4]));
    const std::uint8_t frameFlags = tag[at + 9];
    if (size > tag.size() - at - 10) break;
    const bool packed = major == 3 ? (frameFlags & 0xC0) != 0 : (frameFlags & 0x0F) != 0;
    frame(id, &tag[at + 10], size, packed);
    at += 10 + size;
  }
}

Bytes Id3v24Frames(const Bytes& tag, const std::vector<std::string>& replaced) {
  Bytes out;
  ForEachId3Frame(tag, [&](const std::string& id, const std::uint8_t* data, std::size_t size, bool packed) {
    if (packed || std::find(replaced.begin(), replaced.end(), id) != replaced.end()) return;
    out.insert(out.end(), id.begin(), id.end());
    PutSyncSafe(out, static_cast<std::uint32_t>(size));
    out.push_back(0);
    out.push_back(0);
    out.insert(out.end(), data, data + size);
  });
  return out;
}

wave::Tags Id3Tags(const Bytes& tag) {
  wave::Tags tags;
  ForEachId3Frame(tag, [&](const std::string& id, const std::uint8_t* data, std::size_t size, bool packed) {
    if (packed || size < 2) return;
    std::string* into = id == "TPE1"                    ? &tags.artist
                        : id == "TALB"                  ? &tags.album
                        : id == "TDRC" || id == "TYER"  ? &tags.date
                        : id == "TCON"                  ? &tags.genre
                        : id == "COMM"                  ? &tags.comment
                                                        : nullptr;
    if (!into || !into->empty()) return;
    if (id == "COMM") {
      // Encoding, language, a short description, then the comment.
      if (size < 5) return;
      std::size_t used = 0;
      Text(data[0], data + 4, size - 4, &used);
      *into = Text(data[0], data + 4 + used, size - 4 - used);
    } else {
      *into = Text(data[0], data + 1, size - 1);
    }
  });
  return tags;
}

}  // namespace corvella::mp3
