// MPEG audio (Layer I, II and III of MPEG-1, 2 and 2.5) frame by frame:
// the frame header, the stream's frames found and checked one after
// another, and the Xing/Info header with its LAME extension that says how
// many samples the encoder added before and after the recording.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wave/FileApi.h"

namespace corvella::mp3 {

enum class Version { Mpeg1, Mpeg2, Mpeg25 };

// A size in four seven-bit bytes, as ID3v2 writes them; and in four plain
// big-endian bytes.
std::int64_t SyncSafe(const std::uint8_t* bytes);
std::int64_t Be32(const std::uint8_t* bytes);

// One frame header, decoded field by field.
struct FrameHeader {
  Version version = Version::Mpeg1;
  int layer = 3;  // 1, 2 or 3
  bool crc = false;
  int bitrateIndex = 0;  // 1-14
  int bitrate = 0;       // bits per second
  int rate = 0;          // samples per second
  bool padded = false;
  int mode = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
  std::uint8_t raw[4] = {};

  int Channels() const { return mode == 3 ? 1 : 2; }
  int SamplesPerFrame() const;
  int Bytes() const;
  // Layer III: the side information after the header (and CRC).
  int SideInfoBytes() const;
  // Layer III: where the frame's own main data begin, from its start.
  int MainDataOffset() const { return 4 + (crc ? 2 : 0) + SideInfoBytes(); }
  // Whether `other` belongs to the same stream: version, layer, rate and
  // channels.
  bool SameStream(const FrameHeader& other) const;
};

// Why four bytes are no frame header, or nothing when they are one.
// Free-format frames (bitrate index 0) are refused: their size is not in
// the header.
std::optional<std::string> ParseHeader(const std::uint8_t* bytes, FrameHeader& header);

// The header of a frame at `bitrateIndex` otherwise like `like`, without
// CRC and padding.
FrameHeader WithBitrate(const FrameHeader& like, int bitrateIndex);
// The largest bitrate index of a layer and version: 14.
constexpr int kLargestBitrateIndex = 14;
// The bitrates of Layer III at a sampling rate, in kbit/s, lowest first;
// none where the rate is no MPEG audio rate.
std::vector<int> LayerIIIBitrates(std::int64_t rate);

// Layer III: how many bytes back, into earlier frames' main data, a frame's
// own data begin (the bit reservoir). `frame` holds the whole frame.
int MainDataBegin(const FrameHeader& header, const std::uint8_t* frame);

// What a Xing or Info header in the first frame says, with its LAME
// extension where there is one.
struct GaplessInfo {
  bool present = false;    // a Xing/Info header: the frame holds no audio
  bool lame = false;       // with the encoder's delay and padding
  int delay = 0;           // samples the encoder put before the recording
  int padding = 0;         // and after it
  std::int64_t frames = -1;  // audio frames, where given
  std::string encoder;       // the LAME extension's nine bytes naming it
};

// Reads the Xing/Info header of the frame `frame` (its `size` bytes).
GaplessInfo ReadGaplessInfo(const FrameHeader& header, const std::uint8_t* frame, int size);

// The decoders' own delay: a gapless decoder skips it and the encoder's delay.
constexpr int kDecoderDelay = 529;

// The frames of a stream, checked one after another.
struct FrameIndex {
  FrameHeader first;               // of the first audio frame: the stream's shape
  std::vector<std::int64_t> offsets;  // each audio frame's first byte
  std::vector<std::uint16_t> sizes;   // and its length
  GaplessInfo gapless;
  std::int64_t infoOffset = -1;  // the Xing/Info frame, where there is one
  std::int64_t infoBytes = 0;
  std::int64_t tagBytes = 0;  // ID3v2 tags before the frames
  // What was skipped under salvage, in a few words each.
  std::vector<std::string> skipped;

  std::int64_t Frames() const { return static_cast<std::int64_t>(offsets.size()); }
  std::int64_t Offset(std::int64_t k) const { return offsets[static_cast<std::size_t>(k)]; }
  std::int64_t FrameBytes(std::int64_t k) const { return sizes[static_cast<std::size_t>(k)]; }
  // The decoded samples before the recording's first: the encoder's delay
  // and the decoder's, where a LAME header gives them.
  std::int64_t Lead() const { return gapless.lame ? gapless.delay + kDecoderDelay : 0; }
  // The recording's length in frames of samples.
  std::int64_t Samples() const;
};

struct ScanResult {
  bool ok = false;
  std::string why;  // where and what, when not ok
  bool damaged = false;  // frames were found, then damage: salvage may help
};

// Finds the frames of the open file `fd`: past ID3v2 tags at its start, up
// to the ID3v1, ID3v2, APE or Lyrics3 tags at its end. Lost sync, a frame
// cut short and a header that changes the stream's shape are refused with
// the byte and frame; with `salvage` they are skipped (said in `skipped`).
ScanResult ScanFrames(wave::FileApi& files, int fd, bool salvage, FrameIndex& index);

// Layer III: the frames from which a decoder must start so that frame `k`
// on decodes exactly as in a decode of the whole stream: two whole frames
// before it, and the earlier frames holding their reservoir data.
std::int64_t WarmStart(const FrameIndex& index, std::int64_t k);

}  // namespace corvella::mp3
