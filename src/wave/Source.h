// An open source recording, as the searches and the level measures see it:
// its shape, and its samples read by byte offset from the first frame.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "wave/Format.h"

namespace corvella::wave {

struct SourceInfo {
  int channels = 0;
  std::int64_t rate = 0;
  // Whole frames of audio.
  std::int64_t frames = 0;
  // How ReadSamples delivers samples (host byte order).
  SampleType sampleType = SampleType::S16;
  // The recording's own sample width, 4 to 32, for integer samples: its full
  // scale. A decoder may deliver them widened to 32 bits. For float samples
  // the width they are stored in, 32 or 64, whatever they are delivered as.
  int bits = 16;
  // The bytes from the first frame on that the searches read. A plain
  // 16-bit recording is read to the end of its file, chunks after the data
  // included, as Corvella has always read it; any other only to its last
  // frame.
  std::int64_t extentBytes = 0;
  // The speakers of the channels, as WAVE_FORMAT_EXTENSIBLE's mask gives
  // them; 0 when the recording does not say.
  std::uint32_t channelMask = 0;
  // Plain 16-bit PCM, mono or stereo, in a RIFF file whose data size is
  // true: read to the end of its file, and its parts written with the
  // classic 44-byte header.
  bool plain16 = false;
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
  // A second reader of the same open recording, for another thread: for a
  // Sequential() source, which takes reads from one thread at a time. Null
  // where there is none (the source then serves one thread).
  virtual std::unique_ptr<Source> Fork() { return nullptr; }

  // Why the last read failed, in a few words with where ("bad frame CRC at
  // 1:02.500"); empty when nothing more is known than that it failed.
  virtual std::string Failure() const {
    std::lock_guard lock(failureMutex_);
    return failure_;
  }
  // Whether the last failure puts every sample read before it in doubt (a
  // signature that does not match): then no part of the recording is kept.
  virtual bool WholeInDoubt() const { return false; }
  // What a front end should tell the user about the recording, beyond its
  // parts: a header that was wrong and was read past, bytes ignored.
  const std::vector<std::string>& Notes() const { return notes_; }

 protected:
  // Keeps why a read failed; reads may fail on two threads at once.
  void Fail(std::string why) {
    std::lock_guard lock(failureMutex_);
    if (failure_.empty()) failure_ = std::move(why);
  }

  SourceInfo info_;
  std::vector<std::string> notes_;

 private:
  mutable std::mutex failureMutex_;
  std::string failure_;
};

}  // namespace corvella::wave
