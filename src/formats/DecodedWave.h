// The WAV parts of a recording that a decoder delivers (FLAC): written as
// the reference decoder writes the whole file, each sample in the smallest
// container that holds it (8-bit unsigned, 16, 24 or 32 bits), left-
// justified there, with WAVE_FORMAT_EXTENSIBLE giving its valid bits and
// its speakers wherever plain PCM cannot (more than two channels, a width
// other than 8 or 16 bits, a layout other than the default).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "formats/Formats.h"
#include "wave/Error.h"
#include "wave/PartWriter.h"
#include "wave/Shape.h"
#include "wave/Source.h"

namespace corvella::formats {

// The WAV shape of the parts of `info`, a recording delivered as 32-bit
// integers with its own width in `info.bits`: `mono` when mixed down to one
// channel; `defaultMask` the speakers its format takes where it says none.
wave::ShapeRequest DecodedShape(const wave::SourceInfo& info, bool mono, std::uint32_t defaultMask);

// Writes frames [start, end) of `reader` as the WAV file `name` in `folder`.
wave::Error WriteDecodedWave(wave::Source& reader, std::int64_t start, std::int64_t end,
                             const wave::ShapeRequest& shape, wave::Folder& folder,
                             const std::string& name, const wave::WriteOptions& options,
                             wave::FileId* written);

}  // namespace corvella::formats
