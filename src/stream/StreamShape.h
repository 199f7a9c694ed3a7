// What a recording arriving as a stream is: its WAV header read from the
// first bytes of a pipe or a growing file, or the shape `--raw` gives
// samples without one. Either way the recording is described by a WAV
// source held in memory (its header and one silent frame), so that the
// checks of the fmt chunk and the parts' headers are those of every WAV.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wave/Error.h"
#include "wave/MemoryFiles.h"
#include "wave/WaveSource.h"

namespace corvella::stream {

struct StreamShape {
  std::unique_ptr<wave::MemoryFiles> files;
  std::unique_ptr<wave::WaveSource> source;  // the header's, 1 frame long
  // Bytes of the stream before the first frame.
  std::int64_t dataOffset = 0;
  // Where in the stream the header keeps the data's size, to be read again
  // when a growing file is finished: the data chunk's 32-bit size, or
  // ds64's 64-bit one. -1 for raw samples.
  std::int64_t sizeOffset = -1;
  int sizeBytes = 4;
  // The data's length as the header gives it, or -1 when the header leaves
  // it open (0, or a stand-in from 0x7FFF0000 up: what a program writing to
  // a pipe leaves, as it cannot go back to fill it in).
  std::int64_t declaredBytes = -1;
  // A 32-bit size in the stand-ins' range, which a true 2 to 4 GiB recording
  // may also have: where the stream goes on past it, what follows tells
  // which it is. -1 for any other.
  std::int64_t maybeBytes = -1;

  const wave::SourceInfo& Info() const { return source->Info(); }
};

// Reads a WAV header from the first bytes of a stream, as they come.
class HeaderReader {
 public:
  enum class State { NeedMore, Done, Refused };
  // Takes the next bytes of the stream. Once Done, the bytes after the
  // header (the first samples) are in Rest().
  State Take(const std::uint8_t* bytes, std::size_t count);
  // Says what was wrong once Refused, or what the stream ended without.
  wave::Error Error() const { return error_; }
  // When the stream ended before the header did: why.
  wave::Error Ended() const;
  StreamShape TakeShape() { return std::move(shape_); }
  const std::vector<std::uint8_t>& Rest() const { return rest_; }

 private:
  State Refuse(wave::Error error);
  State Parse();

  std::vector<std::uint8_t> bytes_;
  std::vector<std::uint8_t> rest_;
  StreamShape shape_;
  wave::Error error_;
  State state_ = State::NeedMore;
  std::size_t at_ = 12;     // the next chunk's header
  std::int64_t ds64_ = -1;  // the ds64 body's offset
  std::int64_t frameBytes_ = 1;
};

struct OpenedShape {
  std::unique_ptr<StreamShape> shape;  // null when refused
  wave::Error error;                   // why
};

// The shape of raw samples: "RATE:CHANNELS:FORMAT" with FORMAT one of u8,
// s16le, s24le, s32le, f32le, f64le. Refused, saying what is wrong, when
// the text says no such thing.
OpenedShape RawShape(const std::string& text);

// Whether `value`, a size field of a stream's header, means "unknown".
bool OpenSize(std::uint64_t value, int bytes);

}  // namespace corvella::stream
