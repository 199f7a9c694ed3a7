#include "wave/Shape.h"

#include "wave/Format.h"
#include "wave/ByteOrder.h"

namespace corvella::wave {
namespace {

using Bytes = std::vector<std::uint8_t>;
const char kShapeName[] = "shape.wav";

void PutLe(Bytes& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

Error OpenShape(Bytes header, Shape& shape) {
  shape.files = std::make_unique<MemoryFiles>();
  shape.files->Put(kShapeName, std::move(header));
  OpenedWave opened = OpenWave(*shape.files, kShapeName, Acceptance::AnyWave);
  if (!opened.source) return opened.error;
  shape.source = std::move(opened.source);
  return {};
}

Error MakeShape(const ShapeRequest& wanted, Shape& shape) {
  const int blockAlign = wanted.channels * wanted.bits / 8;
  const std::uint16_t tag = wanted.isFloat ? kTagFloat : kTagPcm;
  Bytes fmt;
  PutLe(fmt, wanted.extensible ? kTagExtensible : tag, 2);
  PutLe(fmt, static_cast<std::uint64_t>(wanted.channels), 2);
  PutLe(fmt, static_cast<std::uint64_t>(wanted.rate), 4);
  PutLe(fmt, static_cast<std::uint64_t>(wanted.rate * blockAlign), 4);
  PutLe(fmt, static_cast<std::uint64_t>(blockAlign), 2);
  PutLe(fmt, static_cast<std::uint64_t>(wanted.bits), 2);
  if (wanted.extensible) {
    PutLe(fmt, 22, 2);
    PutLe(fmt, static_cast<std::uint64_t>(wanted.validBits > 0 ? wanted.validBits : wanted.bits), 2);
    PutLe(fmt, wanted.channelMask, 4);
    // The subformat GUID: the tag, then KSDATAFORMAT_SUBTYPE's common tail.
    static constexpr std::uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                   0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    PutLe(fmt, tag, 2);
    fmt.insert(fmt.end(), kGuidTail, kGuidTail + sizeof kGuidTail);
  }
  Bytes header;
  PutLe(header, FourCC("RIFF"), 4);
  PutLe(header, 4 + 8 + fmt.size() + 8 + static_cast<std::uint64_t>(blockAlign), 4);
  PutLe(header, FourCC("WAVE"), 4);
  PutLe(header, FourCC("fmt "), 4);
  PutLe(header, fmt.size(), 4);
  header.insert(header.end(), fmt.begin(), fmt.end());
  PutLe(header, FourCC("data"), 4);
  PutLe(header, static_cast<std::uint64_t>(blockAlign), 4);
  header.resize(header.size() + static_cast<std::size_t>(blockAlign), wanted.bits == 8 ? 128 : 0);
  return OpenShape(std::move(header), shape);
}

}  // namespace corvella::wave
