// A recording's shape without its samples: a WAV header that describes one
// silent frame, opened as a WAV source, so that the fmt checks and the
// parts' headers are those of every WAV. Raw samples on a stream, and a
// decoder's samples written as WAV parts, are described by one.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "wave/Error.h"
#include "wave/MemoryFiles.h"
#include "wave/WaveSource.h"

namespace corvella::wave {

struct ShapeRequest {
  std::int64_t rate = 44100;
  int channels = 2;
  int bits = 16;       // of the container: 8 (unsigned), 16, 24, 32; 32 or 64 for floats
  int validBits = 0;   // of those, the recording's own; 0 for all of them
  bool isFloat = false;
  // WAVE_FORMAT_EXTENSIBLE, with the speakers of the channels.
  bool extensible = false;
  std::uint32_t channelMask = 0;
};

struct Shape {
  std::unique_ptr<MemoryFiles> files;  // holds the header the source reads
  std::unique_ptr<WaveSource> source;  // 1 frame long
};

// A header for `wanted`, opened; refused as the WAV reader refuses it.
Error MakeShape(const ShapeRequest& wanted, Shape& shape);
// A header as a stream gives it, with one silent frame after it, opened.
Error OpenShape(std::vector<std::uint8_t> header, Shape& shape);

}  // namespace corvella::wave
