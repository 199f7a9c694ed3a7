// How samples are stored: the fmt chunk of a WAV file as parsed, and the
// sample types the searches and writers handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvella::wave {

// A sample as it lies in a buffer: unsigned 8-bit (offset by 128), signed
// 16-, 24- (packed, three bytes) and 32-bit integers, 32- and 64-bit floats.
enum class SampleType { U8, S16, S24, S32, F32, F64 };

int BytesOf(SampleType type);
bool IsFloat(SampleType type);
// "8-bit", "24-bit", "32-bit float", ...
std::string NameOf(SampleType type);

inline constexpr std::uint16_t kTagPcm = 1;
inline constexpr std::uint16_t kTagFloat = 3;
inline constexpr std::uint16_t kTagExtensible = 0xFFFE;

// The body of a fmt chunk, field by field.
struct WaveFormat {
  std::uint16_t tag = 0;
  std::uint16_t channels = 0;
  std::uint32_t rate = 0;
  std::uint32_t byteRate = 0;
  std::uint16_t blockAlign = 0;
  std::uint16_t bits = 0;  // the container's width
  // WAVE_FORMAT_EXTENSIBLE: the extension's fields, and the format tag that
  // the subformat GUID carries when it is one of the standard ones.
  bool extensible = false;
  std::uint16_t validBits = 0;
  std::uint32_t channelMask = 0;
  std::uint16_t subTag = 0;
  bool standardSubformat = false;
  // The body as stored, for parts that repeat it.
  std::vector<std::uint8_t> bytes;

  // Parses a body of at least 16 bytes.
  static WaveFormat Parse(const std::uint8_t* body, std::size_t size);
  // The tag that says how samples are coded: the subformat's for EXTENSIBLE.
  std::uint16_t CodingTag() const { return extensible ? subTag : tag; }
};

// "PCM", "IEEE float", "A-law", ..., or "format tag 0x1234".
std::string TagName(std::uint16_t tag);

}  // namespace corvella::wave
