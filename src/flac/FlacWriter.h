// FLAC parts through libFLAC's encoder: any integer width from 4 to 32 bits,
// 1 to 8 channels, with an MD5 signature, a seek table, Vorbis comments and,
// when asked, a WAV source's chunks as `flac --keep-foreign-metadata` keeps
// them. The same safety as every part: the file takes its name only when
// complete, and an older file of that name is kept on any failure. Parts
// are independent: one encoder per thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "wave/Error.h"
#include "wave/PartWriter.h"
#include "wave/Source.h"
#include "wave/Tags.h"

namespace corvella::flac {

// The most channels a FLAC stream holds, and the highest rate.
inline constexpr int kMostChannels = 8;
inline constexpr std::int64_t kHighestRate = 1048575;

struct FlacPartOptions {
  bool mono = false;
  wave::KeptFiles* keep = nullptr;
  std::function<bool()> stopRequested;
  // Vorbis comments: TITLE, TRACKNUMBER, TRACKTOTAL and the carried tags
  // (UTF-8).
  std::string title;
  int track = 0;
  int tracks = 0;
  wave::Tags tags;
  // The speakers of the channels; kept as WAVEFORMATEXTENSIBLE_CHANNEL_MASK
  // where it is not FLAC's default for the channel count.
  std::uint32_t channelMask = 0;
  // The bodies of APPLICATION blocks with id "riff" (each without the id):
  // the chunks of a WAV file around the part's samples.
  std::vector<std::vector<std::uint8_t>> riffBlocks;
};

// Why the samples of `info` cannot become FLAC, or nothing: float samples
// (FLAC holds integers; a lossy recording's decoded ones become 24-bit),
// more than 8 channels, a rate FLAC cannot hold.
wave::Error FlacRefusal(const wave::SourceInfo& info, bool lossy, bool mono);

// The speakers FLAC takes its channels for when no mask says otherwise (as
// WAVEFORMATEXTENSIBLE's mask), for 1 to 8 channels; 0 beyond.
std::uint32_t DefaultMask(int channels);

// The largest body an APPLICATION block holds.
inline constexpr std::size_t kLargestBlock = (1 << 24) - 1 - 4;

// Writes frames [start, end) of `source` as the FLAC file `name` in
// `folder`. A lossy recording (delivered as float) becomes 24-bit.
wave::Error WritePart(wave::Source& source, std::int64_t start, std::int64_t end,
                      wave::Folder& folder, const std::string& name, const FlacPartOptions& options,
                      wave::FileId* written = nullptr);

}  // namespace corvella::flac
