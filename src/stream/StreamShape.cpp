#include "stream/StreamShape.h"

#include <algorithm>
#include <cstring>

#include "wave/ByteOrder.h"
#include "wave/Shape.h"

namespace corvella::stream {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A header larger than this before the samples is not a recording's.
constexpr std::size_t kLargestHeader = 16 << 20;

// Opens a header made to describe one silent frame after it as a WAV source.
wave::Error OpenShape(Bytes header, StreamShape& shape) {
  wave::Shape opened;
  if (wave::Error error = wave::OpenShape(std::move(header), opened)) return error;
  shape.files = std::move(opened.files);
  shape.source = std::move(opened.source);
  return {};
}


}  // namespace

bool OpenSize(std::uint64_t value, int bytes) {
  // A 64-bit size left open: 0, all ones, or the largest signed value (as
  // ffmpeg writes to a pipe).
  if (bytes == 8) return value == 0 || wave::OpenWave64Size(value);
  // Programs that cannot seek back put a stand-in near the largest size:
  // all ones, 0x7FFFFFFF, 0x7FFFF000 (sox), 0x7FFFFFFE, ...
  return value == 0 || value >= 0x7FFF0000;
}

HeaderReader::State HeaderReader::Refuse(wave::Error error) {
  error_ = std::move(error);
  return state_ = State::Refused;
}

wave::Error HeaderReader::Ended() const {
  if (state_ == State::Refused) return error_;
  if (bytes_.empty()) return {wave::ErrorCode::UnableToRead, "the stream is empty"};
  return {wave::ErrorCode::UnableToRead, "the stream ends inside its header"};
}

HeaderReader::State HeaderReader::Take(const std::uint8_t* bytes, std::size_t count) {
  if (state_ != State::NeedMore) return state_;
  bytes_.insert(bytes_.end(), bytes, bytes + count);
  return Parse();
}

HeaderReader::State HeaderReader::Parse() {
  if (bytes_.size() < 12) return State::NeedMore;
  const std::uint32_t outer = wave::ReadLe32(bytes_.data());
  const bool rf64 = outer == wave::FourCC("RF64") || outer == wave::FourCC("BW64");
  const bool w64 = bytes_.size() >= 16 && std::memcmp(bytes_.data(), wave::kW64Riff, 16) == 0;
  if (w64 && bytes_.size() < 40) return State::NeedMore;
  if (!wave::LooksLikeWave(bytes_.data(), bytes_.size())) {
    return Refuse({wave::ErrorCode::NotValidWav,
                   "not a WAV stream (--raw RATE:CHANNELS:FORMAT reads samples without a header)"});
  }
  const wave::ChunkForm form = w64 ? wave::ChunkForm::Wave64 : wave::ChunkForm::Riff;
  const std::size_t headerBytes = static_cast<std::size_t>(wave::HeaderBytesOf(form));
  // Goes on from the chunk it stopped at: a header that comes a few bytes
  // at a time costs no more than one that comes whole.
  std::size_t& at = at_;
  if (w64 && at < 40) at = 40;
  std::int64_t& ds64 = ds64_;
  std::int64_t& frameBytes = frameBytes_;
  // A chunk's name: for Wave64, a GUID of the standard family.
  const auto named = [&](std::size_t chunk, const char(&id)[5]) {
    return wave::ReadLe32(&bytes_[chunk]) == wave::FourCC(id) &&
           (!w64 || std::memcmp(&bytes_[chunk + 4], wave::kW64Tail, sizeof wave::kW64Tail) == 0);
  };
  for (;;) {
    if (bytes_.size() < at + headerBytes) return State::NeedMore;
    const wave::ChunkHeader chunk = wave::ReadChunkHeader(&bytes_[at], form);
    const bool open = w64 && (chunk.stored == 0 || wave::OpenWave64Size(chunk.stored));
    if (w64 && chunk.stored < 24 && !open)
      return Refuse({wave::ErrorCode::NotValidWav, "a Wave64 chunk shorter than its header"});
    if (named(at, "data")) {
      shape_.dataOffset = static_cast<std::int64_t>(at + headerBytes);
      if (w64) {
        shape_.sizeOffset = static_cast<std::int64_t>(at + 16);
        shape_.sizeBytes = 8;
        shape_.declaredBytes =
            open ? -1
                : static_cast<std::int64_t>(std::min<std::uint64_t>(chunk.bodyBytes, INT64_MAX / 2));
        break;
      }
      const auto size = static_cast<std::uint32_t>(chunk.bodyBytes);
      const bool inDs64 = rf64 && size == 0xFFFFFFFF && ds64 >= 0;
      shape_.sizeOffset = inDs64 ? ds64 + 8 : static_cast<std::int64_t>(at + 4);
      shape_.sizeBytes = inDs64 ? 8 : 4;
      const std::uint64_t declared = inDs64 ? wave::ReadLe64(&bytes_[ds64 + 8]) : size;
      shape_.declaredBytes =
          OpenSize(declared, shape_.sizeBytes)
              ? -1
              : static_cast<std::int64_t>(std::min<std::uint64_t>(declared, INT64_MAX / 2));
      // A size from 0x7FFF0000 up may be a stand-in or a true size.
      if (shape_.sizeBytes == 4 && declared >= 0x7FFF0000 && declared != 0xFFFFFFFF)
        shape_.maybeBytes = static_cast<std::int64_t>(declared);
      break;
    }
    const std::uint64_t body = std::min<std::uint64_t>(chunk.bodyBytes, kLargestHeader);
    const auto next = static_cast<std::size_t>(
        wave::ChunkAfter(static_cast<std::int64_t>(at), body, form));
    if (open) return Refuse(wave::ErrorCode::NoDataChunk);  // a chunk to the end before the samples
    if (next > kLargestHeader) {
      return Refuse({wave::ErrorCode::Unsupported,
                     "more than 16 MiB of header before the samples: not a recording's"});
    }
    if (bytes_.size() < next) return State::NeedMore;
    if (!w64 && named(at, "ds64") && body >= 28) ds64 = static_cast<std::int64_t>(at + 8);
    if (named(at, "fmt ") && body >= 16)
      frameBytes = std::max<std::int64_t>(1, wave::ReadLe16(&bytes_[at + headerBytes + 12]));
    at = next;
  }
  if (rf64 && ds64 < 0)
    return Refuse({wave::ErrorCode::NotValidWav, "an RF64 stream without its ds64 chunk"});
  const auto dataOffset = static_cast<std::size_t>(shape_.dataOffset);
  rest_.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(dataOffset), bytes_.end());
  bytes_.resize(dataOffset);
  // The header as it would be with one silent frame after it.
  Bytes header = bytes_;
  header.resize(header.size() + static_cast<std::size_t>(frameBytes));
  const auto frame = static_cast<std::uint64_t>(frameBytes);
  if (w64) {
    wave::WriteLe64(&header[16], header.size());
    wave::WriteLe64(&header[shape_.sizeOffset], 24 + frame);
  } else {
    if (rf64) {
      wave::WriteLe32(header.data() + 4, 0xFFFFFFFF);
      wave::WriteLe64(&header[ds64], header.size() - 8);
    } else {
      wave::WriteLe32(header.data() + 4, static_cast<std::uint32_t>(header.size() - 8));
    }
    if (shape_.sizeBytes == 8) {
      wave::WriteLe64(&header[shape_.sizeOffset], frame);
      wave::WriteLe64(&header[shape_.sizeOffset + 8], 1);  // the frame count
    } else {
      wave::WriteLe32(&header[shape_.sizeOffset], static_cast<std::uint32_t>(frame));
    }
  }
  if (wave::Error error = OpenShape(std::move(header), shape_)) return Refuse(error);
  return state_ = State::Done;
}

OpenedShape RawShape(const std::string& text) {
  const auto refused = [](std::string why) {
    return OpenedShape{nullptr, {wave::ErrorCode::Refused, std::move(why)}};
  };
  const std::string why = "RATE:CHANNELS:FORMAT is needed, as 44100:2:s16le, not '" + text + "'";
  const std::size_t first = text.find(':');
  const std::size_t second = first == std::string::npos ? first : text.find(':', first + 1);
  if (second == std::string::npos) return refused(why);
  const auto number = [](const std::string& digits, long long most) -> long long {
    if (digits.empty() || digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return -1;
    const long long value = std::stoll(digits);
    return value >= 1 && value <= most ? value : -1;
  };
  const long long rate = number(text.substr(0, first), 4000000);
  const long long channels = number(text.substr(first + 1, second - first - 1), 64);
  const std::string format = text.substr(second + 1);
  struct Known {
    const char* name;
    int bits;
    bool isFloat;
  };
  static constexpr Known kFormats[] = {{"u8", 8, false},     {"s16le", 16, false},
                                       {"s24le", 24, false}, {"s32le", 32, false},
                                       {"f32le", 32, true},  {"f64le", 64, true}};
  const Known* known = nullptr;
  for (const Known& candidate : kFormats) {
    if (format == candidate.name) known = &candidate;
  }
  if (rate < 0 || channels < 0) return refused(why);
  if (!known)
    return refused("FORMAT is one of u8, s16le, s24le, s32le, f32le, f64le, not '" + format + "'");
  // As a recorder would write the same samples: plain PCM or float up to
  // 16 bits or floats in stereo, WAVE_FORMAT_EXTENSIBLE beyond.
  wave::ShapeRequest wanted;
  wanted.rate = rate;
  wanted.channels = static_cast<int>(channels);
  wanted.bits = known->bits;
  wanted.isFloat = known->isFloat;
  wanted.extensible = channels > 2 || (!known->isFloat && known->bits > 16);
  wanted.channelMask = channels == 1 ? 0x4 : channels == 2 ? 0x3 : 0;
  wave::Shape made;
  if (const wave::Error error = wave::MakeShape(wanted, made))
    return refused(error.detail.empty() ? "these samples cannot be read" : error.detail);
  auto shape = std::make_unique<StreamShape>();
  shape->files = std::move(made.files);
  shape->source = std::move(made.source);
  return {std::move(shape), {}};
}

}  // namespace corvella::stream
