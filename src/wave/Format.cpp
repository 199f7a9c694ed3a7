#include "wave/Format.h"

#include <cstring>

#include "wave/ByteOrder.h"

namespace corvella::wave {
namespace {

// The GUID of the standard subformats, after its first two bytes (which
// hold the format tag): xxxxxxxx-0000-0010-8000-00aa00389b71.
constexpr std::uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

}  // namespace

int BytesOf(SampleType type) {
  switch (type) {
    case SampleType::U8:
      return 1;
    case SampleType::S16:
      return 2;
    case SampleType::S24:
      return 3;
    case SampleType::S32:
      return 4;
    case SampleType::F32:
      return 4;
    case SampleType::F64:
      return 8;
  }
  return 2;
}

bool IsFloat(SampleType type) {
  return type == SampleType::F32 || type == SampleType::F64;
}

std::string NameOf(SampleType type) {
  switch (type) {
    case SampleType::U8:
      return "8-bit";
    case SampleType::S16:
      return "16-bit";
    case SampleType::S24:
      return "24-bit";
    case SampleType::S32:
      return "32-bit";
    case SampleType::F32:
      return "32-bit float";
    case SampleType::F64:
      return "64-bit float";
  }
  return "";
}

WaveFormat WaveFormat::Parse(const std::uint8_t* body, std::size_t size) {
  WaveFormat f;
  f.tag = ReadLe16(body);
  f.channels = ReadLe16(body + 2);
  f.rate = ReadLe32(body + 4);
  f.byteRate = ReadLe32(body + 8);
  f.blockAlign = ReadLe16(body + 12);
  f.bits = ReadLe16(body + 14);
  f.bytes.assign(body, body + size);
  // The extension: its size (2), valid bits (2), channel mask (4), GUID (16).
  if (f.tag == kTagExtensible && size >= 40 && ReadLe16(body + 16) >= 22) {
    f.extensible = true;
    f.validBits = ReadLe16(body + 18);
    f.channelMask = ReadLe32(body + 20);
    f.subTag = ReadLe16(body + 24);
    f.standardSubformat = std::memcmp(body + 26, kGuidTail, sizeof kGuidTail) == 0;
  }
  return f;
}

std::string TagName(std::uint16_t tag) {
  switch (tag) {
    case 0x0001:
      return "PCM";
    case 0x0002:
      return "Microsoft ADPCM";
    case 0x0003:
      return "IEEE float";
    case 0x0006:
      return "A-law";
    case 0x0007:
      return "mu-law";
    case 0x0011:
      return "IMA ADPCM";
    case 0x0031:
      return "GSM 6.10";
    case 0x0050:
      return "MPEG";
    case 0x0055:
      return "MP3";
    case 0xFFFE:
      return "extensible";
    default:
      break;
  }
  static const char kHex[] = "0123456789ABCDEF";
  std::string text = "format tag 0x";
  for (int shift = 12; shift >= 0; shift -= 4) text += kHex[(tag >> shift) & 15];
  return text;
}

}  // namespace corvella::wave
