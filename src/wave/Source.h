// An open source recording, as the searches and the level measures see it:
// its shape, and its samples read by byte offset from the first frame.
#pragma once

#include <cstdint>
#include <string>

#include "wave/Format.h"

namespace corvella::wave {

struct SourceInfo {
  int channels = 0;
  std::int64_t rate = 0;
  // Whole frames of audio.
  std::int64_t frames = 0;
  // How ReadSamples delivers samples (host byte order).
  SampleType sampleType = SampleType::S16;
  // The recording's own sample width, 8 to 32, for integer samples: its full
  // scale. A decoder may deliver them widened to 32 bits.
  int bits = 16;
  // The bytes from the first frame on that the searches read. A recording in
  // the window's own format is read to the end of its file, chunks after the
  // data included, as the window reads it; any other only to its last frame.
  std::int64_t extentBytes = 0;
  // The window's format: 16-bit PCM, mono or stereo, in a plain RIFF file.
  bool windowFormat = false;
  // "WAV", "FLAC", ...: what the file is, for listings.
  std::string container = "WAV";

  int FrameBytes() const { return channels * BytesOf(sampleType); }
};

class Source {
 public:
  virtual ~Source() = default;
  const SourceInfo& Info() const { return info_; }

  // Reads up to `count` bytes of samples from `offset` bytes past the first
  // frame, in host byte order. Returns the bytes read (fewer at the end of the
  // extent) or -1 when they cannot be read. A source that is not
  // Sequential() takes reads from two threads at once.
  virtual std::int64_t ReadSamples(std::int64_t offset, void* out, std::int64_t count) = 0;
  // Announces that the bytes will be read soon.
  virtual void WillNeed(std::int64_t offset, std::int64_t count) {
    (void)offset;
    (void)count;
  }
  // A decoder reads forward: its blocks are best fetched whole, in order.
  virtual bool Sequential() const { return false; }

 protected:
  SourceInfo info_;
};

}  // namespace corvella::wave
