#include "mp3/Mp3Writer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "mp3/Id3.h"
#include "wave/Mmio.h"

namespace corvella::mp3 {
namespace {

// The largest encoder delay and padding a LAME header holds: 12 bits each.
constexpr int kLargestDelay = 4095;
// The Xing header with every field (flags, frames, bytes, seek table,
// quality) and the LAME extension after it.
constexpr int kXingBytes = 8 + 4 + 4 + 100 + 4;
constexpr int kLameBytes = 36;

void PutBe32(std::uint8_t* at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

// An ID3v2.4 tag of text frames in UTF-8, after `kept` (frames of the
// source's tag); empty when there is nothing to say.
Bytes Id3Tag(const Mp3PartOptions& options, const Bytes& kept) {
  Bytes frames = kept;
  auto text = [&](const char* id, const std::string& value) {
    if (value.empty()) return;
    frames.insert(frames.end(), id, id + 4);
    PutSyncSafe(frames, static_cast<std::uint32_t>(value.size() + 1));
    frames.push_back(0);
    frames.push_back(0);
    frames.push_back(3);  // UTF-8
    frames.insert(frames.end(), value.begin(), value.end());
  };
  text("TIT2", options.title);
  if (options.track > 0) {
    std::string number = std::to_string(options.track);
    if (options.tracks > 0) {
      number.push_back('/');
      number.append(std::to_string(options.tracks));
    }
    text("TRCK", number);
  }
  text("TPE1", options.tags.artist);
  text("TALB", options.tags.album);
  text("TDRC", options.tags.date);
  // The recording's own genre and comments are among the kept frames
  // already, as many as it has.
  if (!options.keepTags) text("TCON", options.tags.genre);
  if (!options.keepTags && !options.tags.comment.empty()) {
    // Language unknown ("XXX"), no short description.
    const std::string& value = options.tags.comment;
    frames.insert(frames.end(), {'C', 'O', 'M', 'M'});
    PutSyncSafe(frames, static_cast<std::uint32_t>(value.size() + 5));
    frames.insert(frames.end(), {0, 0, 3, 'X', 'X', 'X', 0});
    frames.insert(frames.end(), value.begin(), value.end());
  }
  if (frames.empty()) return frames;
  Bytes tag = {'I', 'D', '3', 4, 0, 0};
  PutSyncSafe(tag, static_cast<std::uint32_t>(frames.size()));
  tag.insert(tag.end(), frames.begin(), frames.end());
  return tag;
}

// The smallest bitrate whose frames of `like`'s kind hold `bytes` after the
// side information; 0 when none does.
int BitrateHolding(const FrameHeader& like, int bytes) {
  for (int index = 1; index <= kLargestBitrateIndex; ++index) {
    const FrameHeader h = WithBitrate(like, index);
    if (h.Bytes() - h.MainDataOffset() >= bytes) return index;
  }
  return 0;
}

// A Layer III frame whose granules hold nothing (silence) and whose main
// data end with `reservoir`: the bytes the next frame reaches back for.
Bytes SilentFrame(const FrameHeader& h, const Bytes& reservoir) {
  Bytes frame(static_cast<std::size_t>(h.Bytes()), 0);
  std::memcpy(frame.data(), h.raw, 4);
  std::copy(reservoir.begin(), reservoir.end(), frame.end() - static_cast<std::ptrdiff_t>(reservoir.size()));
  return frame;
}

class FrameReader {
 public:
  explicit FrameReader(Mp3Source& source) : source_(source) {}
  // Frame `k` whole, and its header.
  bool Read(std::int64_t k, Bytes& frame, FrameHeader& header) {
    const FrameIndex& index = source_.Frames();
    frame.resize(static_cast<std::size_t>(index.FrameBytes(k)));
    if (source_.Files().ReadAt(source_.Descriptor(), frame.data(), index.FrameBytes(k),
                               index.Offset(k)) != index.FrameBytes(k))
      return false;
    return !ParseHeader(frame.data(), header);
  }

 private:
  Mp3Source& source_;
};

}  // namespace

std::vector<std::uint8_t> Id3v24Tag(const Mp3PartOptions& options) { return Id3Tag(options, {}); }

std::uint16_t LameCrc(const std::uint8_t* bytes, std::size_t count, std::uint16_t crc) {
  // A byte at a time through a table of the 256 remainders.
  static const std::array<std::uint16_t, 256> table = [] {
    std::array<std::uint16_t, 256> t{};
    for (unsigned n = 0; n < 256; ++n) {
      unsigned r = n;
      for (int bit = 0; bit < 8; ++bit) r = (r & 1) ? (r >> 1) ^ 0xA001 : r >> 1;
      t[n] = static_cast<std::uint16_t>(r);
    }
    return t;
  }();
  for (std::size_t i = 0; i < count; ++i)
    crc = static_cast<std::uint16_t>((crc >> 8) ^ table[(crc ^ bytes[i]) & 0xFF]);
  return crc;
}

wave::Error WritePart(Mp3Source& source, std::int64_t start, std::int64_t end, wave::Folder& folder,
                      const std::string& name, const Mp3PartOptions& options, wave::FileId* written) {
  const FrameIndex& index = source.Frames();
  const FrameHeader& shape = index.first;
  const std::int64_t spf = shape.SamplesPerFrame();
  const std::int64_t length = end - start;
  const std::int64_t decodedFirst = start + index.Lead();
  const std::int64_t firstNeeded = decodedFirst / spf;
  std::int64_t lastNeeded = std::min((end + index.Lead() - 1) / spf, index.Frames() - 1);
  const wave::Error unreadable{wave::ErrorCode::UnableToWrite, "the recording's frames cannot be read"};
  FrameReader reader(source);
  Bytes frame;
  FrameHeader header;

  // Which frames, and what goes before them.
  std::int64_t copyFrom = std::max<std::int64_t>(firstNeeded - (shape.layer == 3 ? 2 : 1), 0);
  // Layers I and II: whole frames, one before the first needed to fill the
  // synthesis filter, or two where that puts the part's first frame on an
  // even one of the recording: libmpg123 rounds its synthesis by the phase
  // of its ring of blocks, which a decode of the whole from its start has
  // there on even frames.
  if (shape.layer != 3 && copyFrom % 2 == 1) --copyFrom;
  Bytes silent;
  int emptyFrames = 0;
  int delay = 0;
  if (shape.layer == 3) {
    if (!reader.Read(copyFrom, frame, header)) return unreadable;
    const int reach = MainDataBegin(header, frame.data());
    // The frames before it that hold the bytes it reaches back for.
    std::int64_t from = copyFrom;
    Bytes reservoir;
    while (static_cast<int>(reservoir.size()) < reach && from > 0) {
      --from;
      if (!reader.Read(from, frame, header)) return unreadable;
      reservoir.insert(reservoir.begin(), frame.begin() + header.MainDataOffset(), frame.end());
    }
    if (static_cast<int>(reservoir.size()) > reach)
      reservoir.erase(reservoir.begin(), reservoir.end() - reach);
    // libmpg123 after a start decodes only the frames just before the first
    // it plays (four), counts reservoir bytes only from the frames it
    // decoded (a frame reaching back further is played as silence), and
    // rounds its synthesis a little differently in each phase of its ring
    // of blocks: in a stream of one granule a frame, one frame moves the
    // phase and two bring it back. So a part has at most four frames before
    // the first it plays, and as many as a decode of the whole from its
    // start has there, counted in pairs. Other decoders decode every frame
    // of a part and are exact whatever it holds.
    constexpr std::int64_t kDecodedBefore = 4;
    const std::int64_t wholeBefore =
        firstNeeded - std::max<std::int64_t>(index.Lead() / spf - kDecodedBefore, 0);
    const bool oneGranule = spf == 576;
    auto inPhase = [&](std::int64_t before) { return !oneGranule || (before - wholeBefore) % 2 == 0; };
    auto delayFits = [&](std::int64_t start) {
      const std::int64_t d = decodedFirst - start * spf - kDecoderDelay;
      return d >= 0 && d <= kLargestDelay;
    };
    if (!inPhase(firstNeeded - from) && from > 0)
      --from;  // one frame more from the recording
    if (delayFits(from) && firstNeeded - from <= kDecodedBefore && inPhase(firstNeeded - from)) {
      copyFrom = from;
      delay = static_cast<int>(decodedFirst - from * spf - kDecoderDelay);
    } else {
      // A silent frame made for the purpose carries the reservoir, and the
      // decoder starts after it as it starts on a new stream; an empty one
      // before it where the phase asks for one more frame.
      const int bitrate = BitrateHolding(shape, static_cast<int>(reservoir.size()));
      if (bitrate == 0) return {wave::ErrorCode::UnableToWrite, "no frame holds the bit reservoir"};
      silent = SilentFrame(WithBitrate(shape, bitrate), reservoir);
      emptyFrames = inPhase(firstNeeded - copyFrom + 1) ? 0 : 1;
      delay = static_cast<int>(decodedFirst - copyFrom * spf + (1 + emptyFrames) * spf - kDecoderDelay);
    }
    // Frames after the part, which the padding skips (it holds at most
    // 4095 samples, the decoder's delay among them), where the part has
    // fewer than six audio frames: ffmpeg tells an MP3 by a run of frame
    // headers and takes a shorter one for something else.
    constexpr std::int64_t kFramesTold = 6;
    const std::int64_t framesBefore = firstNeeded - copyFrom + (silent.empty() ? 0 : 1) + emptyFrames;
    auto trailing = [&](std::int64_t last) { return (last + 1) * spf - (end + index.Lead()); };
    while (lastNeeded + 1 < index.Frames() && trailing(lastNeeded + 1) <= kLargestDelay - kDecoderDelay &&
           framesBefore + lastNeeded - firstNeeded + 1 < kFramesTold) {
      ++lastNeeded;
    }
  }
  const std::int64_t copied = lastNeeded - copyFrom + 1;
  const std::int64_t audioFrames = copied + (silent.empty() ? 0 : 1) + emptyFrames;
  const std::int64_t padding = audioFrames * spf - delay - length;

  wave::Error error;
  std::unique_ptr<wave::MmioFile> out = wave::CreatePart(folder, name, options.keep, error);
  if (!out) return error;
  Bytes kept;
  if (options.keepTags) {
    const Bytes whole = FirstId3v2Tag(source.Files(), source.Descriptor(), index.tagBytes);
    // The title and track are the part's; the length the whole's.
    std::vector<std::string> replaced = {"TIT2", "TRCK", "TLEN"};
    if (!options.tags.artist.empty()) replaced.push_back("TPE1");
    if (!options.tags.album.empty()) replaced.push_back("TALB");
    if (!options.tags.date.empty()) replaced.insert(replaced.end(), {"TDRC", "TYER"});
    kept = Id3v24Frames(whole, replaced);
  }
  const Bytes tag = Id3Tag(options, kept);
  if (!tag.empty() && out->Write(tag.data(), static_cast<std::int64_t>(tag.size())) < 0)
    return wave::WriteFailure(*out);

  // The Info frame, written again once the part's bytes are known.
  Bytes info;
  std::int64_t infoAt = out->Position();
  int lameAt = 0;
  if (shape.layer == 3) {
    const FrameHeader firstCopied = [&] {
      FrameHeader h;
      reader.Read(copyFrom, frame, h);
      return h;
    }();
    int bitrate = firstCopied.bitrateIndex;
    const FrameHeader at = WithBitrate(shape, bitrate);
    if (at.Bytes() - at.MainDataOffset() < kXingBytes + kLameBytes)
      bitrate = BitrateHolding(shape, kXingBytes + kLameBytes);
    const FrameHeader infoHeader = WithBitrate(shape, bitrate);
    info.assign(static_cast<std::size_t>(infoHeader.Bytes()), 0);
    std::memcpy(info.data(), infoHeader.raw, 4);
    lameAt = infoHeader.MainDataOffset() + kXingBytes;
    if (out->Write(info.data(), static_cast<std::int64_t>(info.size())) < 0) return wave::WriteFailure(*out);
  }

  // The frames, with what the Xing header needs: bytes, where each
  // hundredth of the frames begins, whether the bitrate varies, the CRC.
  std::array<std::int64_t, 100> toc{};
  std::int64_t audioBytes = 0;
  std::int64_t frameNumber = 0;
  std::uint16_t musicCrc = 0;
  bool variable = false;
  int bitrateSeen = -1;
  std::size_t nextPercent = 0;
  // Notes one frame of the part. `bitrateIndex` -1: a frame of our own.
  auto account = [&](const std::uint8_t* bytes, std::int64_t count, int bitrateIndex) {
    while (nextPercent < toc.size() &&
           static_cast<std::int64_t>(nextPercent) * audioFrames / 100 <= frameNumber) {
      toc[nextPercent++] = audioBytes;
    }
    if (bitrateIndex >= 0) {
      if (bitrateSeen >= 0 && bitrateIndex != bitrateSeen) variable = true;
      bitrateSeen = bitrateIndex;
    }
    musicCrc = LameCrc(bytes, static_cast<std::size_t>(count), musicCrc);
    audioBytes += count;
    ++frameNumber;
  };
  if (emptyFrames > 0) {
    const Bytes empty = SilentFrame(WithBitrate(shape, 1), {});
    account(empty.data(), static_cast<std::int64_t>(empty.size()), -1);
    if (out->Write(empty.data(), static_cast<std::int64_t>(empty.size())) < 0) return wave::WriteFailure(*out);
  }
  if (!silent.empty()) {
    account(silent.data(), static_cast<std::int64_t>(silent.size()), -1);
    if (out->Write(silent.data(), static_cast<std::int64_t>(silent.size())) < 0)
      return wave::WriteFailure(*out);
  }
  // The source's frames in blocks of those that lie one after another.
  constexpr std::int64_t kBlockBytes = 1 << 20;
  Bytes block;
  for (std::int64_t k = copyFrom; k <= lastNeeded;) {
    if (options.stopRequested && options.stopRequested()) return {wave::ErrorCode::Stopped};
    std::int64_t last = k;
    std::int64_t bytes = index.FrameBytes(k);
    while (last < lastNeeded && index.Offset(last + 1) == index.Offset(last) + index.FrameBytes(last) &&
           bytes + index.FrameBytes(last + 1) <= kBlockBytes) {
      ++last;
      bytes += index.FrameBytes(last);
    }
    block.resize(static_cast<std::size_t>(bytes));
    if (source.Files().ReadAt(source.Descriptor(), block.data(), bytes, index.Offset(k)) != bytes)
      return unreadable;
    for (std::int64_t at = 0; k <= last; ++k) {
      if (ParseHeader(block.data() + at, header)) return unreadable;
      account(block.data() + at, index.FrameBytes(k), header.bitrateIndex);
      at += index.FrameBytes(k);
    }
    if (out->Write(block.data(), bytes) != bytes) return wave::WriteFailure(*out);
  }

  if (!info.empty()) {
    const std::int64_t total = static_cast<std::int64_t>(info.size()) + audioBytes;
    std::uint8_t* xing = info.data() + lameAt - kXingBytes;
    std::memcpy(xing, variable ? "Xing" : "Info", 4);
    PutBe32(xing + 4, 0x0F);
    PutBe32(xing + 8, static_cast<std::uint32_t>(audioFrames));
    PutBe32(xing + 12, static_cast<std::uint32_t>(total));
    for (std::size_t i = 0; i < 100; ++i) {
      const std::int64_t at = toc[i] + static_cast<std::int64_t>(info.size());
      xing[16 + i] = static_cast<std::uint8_t>(std::min<std::int64_t>(at * 256 / total, 255));
    }
    PutBe32(xing + 116, 0);
    std::uint8_t* lame = info.data() + lameAt;
    const std::string& encoder = index.gapless.encoder.empty() ? "LAME3.100" : index.gapless.encoder;
    std::memcpy(lame, encoder.data(), std::min<std::size_t>(encoder.size(), 9));
    lame[9] = variable ? 0x04 : 0x01;  // revision 0; VBR or CBR
    lame[21] = static_cast<std::uint8_t>(delay >> 4);
    lame[22] = static_cast<std::uint8_t>((delay & 0x0F) << 4 | (padding >> 8 & 0x0F));
    lame[23] = static_cast<std::uint8_t>(padding & 0xFF);
    PutBe32(lame + 28, static_cast<std::uint32_t>(total));
    lame[32] = static_cast<std::uint8_t>(musicCrc >> 8);
    lame[33] = static_cast<std::uint8_t>(musicCrc);
    const std::uint16_t tagCrc = LameCrc(info.data(), static_cast<std::size_t>(lameAt + 34));
    lame[34] = static_cast<std::uint8_t>(tagCrc >> 8);
    lame[35] = static_cast<std::uint8_t>(tagCrc);
    const std::int64_t resume = out->Position();
    out->Seek(infoAt);
    if (out->Write(info.data(), static_cast<std::int64_t>(info.size())) < 0) return wave::WriteFailure(*out);
    out->Seek(resume);
  }
  return wave::PublishPart(*out, folder, name, options.keep, written);
}

}  // namespace corvella::mp3
