// FLAC streams made in the test with libFLAC's encoder, and the odd ones
// other programs leave: variable block sizes, frames from two streams,
// headers that say the wrong length, signature or width. Frames are found
// with libFLAC's decoder and rewritten with their CRCs made right again.
#pragma once

#include <cstdint>
#include <vector>

#include "support/WavBuilder.h"

namespace corvella::test {

struct FlacStream {
  int channels = 2;
  int bits = 16;
  int rate = 44100;
  // Interleaved, right-aligned b-bit samples.
  std::vector<std::int32_t> samples;
  int blocksize = 4096;
  bool md5 = true;
  int level = 5;
};

// The stream as libFLAC encodes it, with STREAMINFO, a seek table and padding.
Bytes EncodeFlac(const FlacStream& stream);

// Where the audio frames lie: [start, end) byte ranges, in order.
struct FrameSpan {
  std::size_t start = 0, end = 0;
};
std::vector<FrameSpan> FramesOf(const Bytes& flac);

// A stream decoded by libFLAC itself, as the yardstick for Corvella's own
// reading: its shape, its samples (interleaved, right-aligned), whether it
// decoded without error and its MD5 signature matched.
struct DecodedFlac {
  int channels = 0, bits = 0, rate = 0;
  std::uint64_t total = 0;  // STREAMINFO's
  std::vector<std::int32_t> samples;
  bool clean = false;
  bool md5Matched = false;
};
DecodedFlac DecodeFlac(const Bytes& flac);

// STREAMINFO's fields, patched in place: the total frame count (36 bits),
// the bits per sample, the MD5 signature, the smallest and largest block.
void SetTotal(Bytes& flac, std::uint64_t total);
void SetBits(Bytes& flac, int bits);
void SetMd5(Bytes& flac, const std::uint8_t (&md5)[16]);
void SetBlockSizes(Bytes& flac, int smallest, int largest);

// A frame renumbered: with `variable`, by its first sample (the variable
// block size numbering), else by its frame number; CRC-8 and CRC-16 set.
Bytes Renumbered(const Bytes& flac, const FrameSpan& frame, bool variable, std::uint64_t number);

// Samples of a recording in quiet and loud passages, for tests of parts:
// `frames` frames of b-bit samples, loud (about a quarter of full scale)
// from `loud[i].first` to `loud[i].second`.
std::vector<std::int32_t> Passages(int channels, int bits, std::int64_t frames,
                                   const std::vector<std::pair<std::int64_t, std::int64_t>>& loud,
                                   unsigned seed = 1);

}  // namespace corvella::test
