#include "support/FlacMaker.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_decoder.h>
#include <FLAC/stream_encoder.h>

#include <cstring>
#include <random>
#include <stdexcept>

namespace corvella::test {
namespace {

// A stream in memory that libFLAC writes, and goes back into to set its
// STREAMINFO right at the end.
struct Memory {
  Bytes bytes;
  std::size_t at = 0;
};

FLAC__StreamEncoderWriteStatus Put(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                   size_t bytes, uint32_t, uint32_t, void* user) {
  auto* m = static_cast<Memory*>(user);
  if (m->bytes.size() < m->at + bytes) m->bytes.resize(m->at + bytes);
  std::memcpy(m->bytes.data() + m->at, buffer, bytes);
  m->at += bytes;
  return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}

FLAC__StreamEncoderSeekStatus GoTo(const FLAC__StreamEncoder*, FLAC__uint64 offset, void* user) {
  static_cast<Memory*>(user)->at = static_cast<std::size_t>(offset);
  return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
}

FLAC__StreamEncoderTellStatus Where(const FLAC__StreamEncoder*, FLAC__uint64* offset, void* user) {
  *offset = static_cast<Memory*>(user)->at;
  return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

std::uint8_t Crc8(const std::uint8_t* data, std::size_t size) {
  std::uint8_t crc = 0;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int b = 0; b < 8; ++b)
      crc = static_cast<std::uint8_t>(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
  }
  return crc;
}

std::uint16_t Crc16(const std::uint8_t* data, std::size_t size) {
  std::uint16_t crc = 0;
  for (std::size_t i = 0; i < size; ++i) {
    crc = static_cast<std::uint16_t>(crc ^ (data[i] << 8));
    for (int b = 0; b < 8; ++b)
      crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x8005 : crc << 1);
  }
  return crc;
}

// FLAC's UTF-8-like coding of frame and sample numbers.
Bytes CodedNumber(std::uint64_t value) {
  if (value < 0x80) return {static_cast<std::uint8_t>(value)};
  int bytes = 2;
  while (bytes < 7 && value >= (std::uint64_t{1} << (5 * bytes + 1))) ++bytes;
  Bytes out(static_cast<std::size_t>(bytes));
  for (int i = bytes - 1; i > 0; --i, value >>= 6)
    out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(0x80 | (value & 0x3F));
  const std::uint8_t lead = static_cast<std::uint8_t>(0xFF << (8 - bytes));
  out[0] = static_cast<std::uint8_t>(bytes == 7 ? 0xFE : lead | value);
  return out;
}

std::size_t CodedLength(std::uint8_t lead) {
  std::size_t length = 1;
  if (lead & 0x80)
    while (length < 7 && (lead & (0x80 >> length))) ++length;
  return length;
}

constexpr std::size_t kStreamInfo = 8;  // "fLaC" and the block's header

}  // namespace

Bytes EncodeFlac(const FlacStream& stream) {
  FLAC__StreamEncoder* encoder = FLAC__stream_encoder_new();
  FLAC__stream_encoder_set_channels(encoder, static_cast<uint32_t>(stream.channels));
  FLAC__stream_encoder_set_bits_per_sample(encoder, static_cast<uint32_t>(stream.bits));
  FLAC__stream_encoder_set_sample_rate(encoder, static_cast<uint32_t>(stream.rate));
  FLAC__stream_encoder_set_compression_level(encoder, static_cast<uint32_t>(stream.level));
  FLAC__stream_encoder_set_blocksize(encoder, static_cast<uint32_t>(stream.blocksize));
  FLAC__stream_encoder_set_streamable_subset(encoder, false);
  Memory memory;
  if (FLAC__stream_encoder_init_stream(encoder, Put, GoTo, Where, nullptr, &memory) !=
      FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
    FLAC__stream_encoder_delete(encoder);
    throw std::runtime_error("libFLAC cannot encode the test stream");
  }
  const auto frames = static_cast<uint32_t>(stream.samples.size() / stream.channels);
  FLAC__stream_encoder_process_interleaved(encoder, stream.samples.data(), frames);
  FLAC__stream_encoder_finish(encoder);
  FLAC__stream_encoder_delete(encoder);
  if (!stream.md5) {
    const std::uint8_t none[16] = {};
    SetMd5(memory.bytes, none);
  }
  return memory.bytes;
}

std::vector<FrameSpan> FramesOf(const Bytes& flac) {
  struct Reader {
    const Bytes* flac;
    std::size_t at = 0;
    std::vector<FrameSpan> frames;
    std::size_t previous = 0;
    FLAC__StreamDecoder* decoder = nullptr;
  } reader{&flac, 0, {}, 0, nullptr};
  reader.decoder = FLAC__stream_decoder_new();
  auto read = [](const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes, void* user) {
    auto* r = static_cast<Reader*>(user);
    const std::size_t n = std::min(*bytes, r->flac->size() - r->at);
    std::memcpy(buffer, r->flac->data() + r->at, n);
    r->at += n;
    *bytes = n;
    return n == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM
                  : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
  };
  auto tell = [](const FLAC__StreamDecoder*, FLAC__uint64* offset, void* user) {
    *offset = static_cast<Reader*>(user)->at;
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
  };
  auto write = [](const FLAC__StreamDecoder* decoder, const FLAC__Frame*,
                  const FLAC__int32* const[], void* user) {
    auto* r = static_cast<Reader*>(user);
    FLAC__uint64 end = 0;
    FLAC__stream_decoder_get_decode_position(decoder, &end);
    r->frames.push_back({r->previous, static_cast<std::size_t>(end)});
    r->previous = static_cast<std::size_t>(end);
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  };
  auto error = [](const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {};
  FLAC__stream_decoder_init_stream(reader.decoder, read, nullptr, tell, nullptr, nullptr, write,
                                   nullptr, error, &reader);
  FLAC__stream_decoder_process_until_end_of_metadata(reader.decoder);
  FLAC__uint64 first = 0;
  FLAC__stream_decoder_get_decode_position(reader.decoder, &first);
  reader.previous = static_cast<std::size_t>(first);
  FLAC__stream_decoder_process_until_end_of_stream(reader.decoder);
  FLAC__stream_decoder_delete(reader.decoder);
  return reader.frames;
}

DecodedFlac DecodeFlac(const Bytes& flac) {
  struct Reader {
    const Bytes* flac;
    std::size_t at = 0;
    DecodedFlac out;
    bool errors = false;
  } reader{&flac, 0, {}, false};
  FLAC__StreamDecoder* decoder = FLAC__stream_decoder_new();
  FLAC__stream_decoder_set_md5_checking(decoder, true);
  auto read = [](const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes, void* user) {
    auto* r = static_cast<Reader*>(user);
    const std::size_t n = std::min(*bytes, r->flac->size() - r->at);
    std::memcpy(buffer, r->flac->data() + r->at, n);
    r->at += n;
    *bytes = n;
    return n == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM
                  : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
  };
  auto write = [](const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                  const FLAC__int32* const buffer[], void* user) {
    auto* r = static_cast<Reader*>(user);
    for (std::uint32_t i = 0; i < frame->header.blocksize; ++i)
      for (std::uint32_t c = 0; c < frame->header.channels; ++c)
        r->out.samples.push_back(buffer[c][i]);
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  };
  auto metadata = [](const FLAC__StreamDecoder*, const FLAC__StreamMetadata* block, void* user) {
    auto* r = static_cast<Reader*>(user);
    if (block->type != FLAC__METADATA_TYPE_STREAMINFO) return;
    r->out.channels = static_cast<int>(block->data.stream_info.channels);
    r->out.bits = static_cast<int>(block->data.stream_info.bits_per_sample);
    r->out.rate = static_cast<int>(block->data.stream_info.sample_rate);
    r->out.total = block->data.stream_info.total_samples;
  };
  auto error = [](const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* user) {
    static_cast<Reader*>(user)->errors = true;
  };
  FLAC__stream_decoder_init_stream(decoder, read, nullptr, nullptr, nullptr, nullptr, write,
                                   metadata, error, &reader);
  const bool decoded = FLAC__stream_decoder_process_until_end_of_stream(decoder);
  reader.out.md5Matched = FLAC__stream_decoder_finish(decoder);
  reader.out.clean = decoded && !reader.errors;
  FLAC__stream_decoder_delete(decoder);
  return reader.out;
}

void SetTotal(Bytes& flac, std::uint64_t total) {
  std::uint8_t* p = flac.data() + kStreamInfo + 13;  // the low four bits, then four bytes
  p[0] = static_cast<std::uint8_t>((p[0] & 0xF0) | ((total >> 32) & 0x0F));
  for (int i = 1; i <= 4; ++i) p[i] = static_cast<std::uint8_t>(total >> (8 * (4 - i)));
}

void SetBits(Bytes& flac, int bits) {
  // Five bits of bits-per-sample minus one: the low bit of byte 12 and the
  // top four of byte 13.
  std::uint8_t* p = flac.data() + kStreamInfo + 12;
  const int code = bits - 1;
  p[0] = static_cast<std::uint8_t>((p[0] & 0xFE) | (code >> 4));
  p[1] = static_cast<std::uint8_t>((p[1] & 0x0F) | ((code & 0x0F) << 4));
}

void SetMd5(Bytes& flac, const std::uint8_t (&md5)[16]) {
  std::memcpy(flac.data() + kStreamInfo + 18, md5, 16);
}

void SetBlockSizes(Bytes& flac, int smallest, int largest) {
  std::uint8_t* p = flac.data() + kStreamInfo;
  p[0] = static_cast<std::uint8_t>(smallest >> 8);
  p[1] = static_cast<std::uint8_t>(smallest);
  p[2] = static_cast<std::uint8_t>(largest >> 8);
  p[3] = static_cast<std::uint8_t>(largest);
  std::memset(p + 4, 0, 6);  // the frame sizes: not known
}

Bytes Renumbered(const Bytes& flac, const FrameSpan& frame, bool variable, std::uint64_t number) {
  const std::uint8_t* in = flac.data() + frame.start;
  const std::size_t numberLength = CodedLength(in[4]);
  const int blockCode = in[2] >> 4, rateCode = in[2] & 0x0F;
  const std::size_t extra = (blockCode == 6   ? 1
                             : blockCode == 7 ? 2
                                              : 0) +
                            (rateCode == 12                     ? 1
                             : rateCode == 13 || rateCode == 14 ? 2
                                                                : 0);
  Bytes out(in, in + 4);
  out[1] = static_cast<std::uint8_t>((out[1] & 0xFE) | (variable ? 1 : 0));
  const Bytes coded = CodedNumber(number);
  out.insert(out.end(), coded.begin(), coded.end());
  const std::uint8_t* rest = in + 4 + numberLength;
  out.insert(out.end(), rest, rest + extra);
  out.push_back(Crc8(out.data(), out.size()));
  // The subframes, without the old header's CRC-8, and a new CRC-16.
  out.insert(out.end(), rest + extra + 1, flac.data() + frame.end - 2);
  const std::uint16_t crc = Crc16(out.data(), out.size());
  out.push_back(static_cast<std::uint8_t>(crc >> 8));
  out.push_back(static_cast<std::uint8_t>(crc));
  return out;
}

std::vector<std::int32_t> Passages(int channels, int bits, std::int64_t frames,
                                   const std::vector<std::pair<std::int64_t, std::int64_t>>& loud,
                                   unsigned seed) {
  std::mt19937 random(seed);
  const std::int32_t quarter = static_cast<std::int32_t>((std::int64_t{1} << (bits - 1)) / 4);
  std::uniform_int_distribution<std::int32_t> music(-quarter, quarter);
  std::vector<std::int32_t> samples(static_cast<std::size_t>(frames * channels), 0);
  for (const auto& [from, to] : loud) {
    for (std::int64_t f = from; f < to; ++f) {
      for (int c = 0; c < channels; ++c) {
        samples[static_cast<std::size_t>(f * channels + c)] =
            (f == from || f == to - 1) && c == 0 ? quarter : music(random);
      }
    }
  }
  return samples;
}

}  // namespace corvella::test
