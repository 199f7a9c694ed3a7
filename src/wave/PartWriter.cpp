#include "wave/PartWriter.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "wave/ByteOrder.h"
#include "wave/Samples.h"

namespace corvella::wave {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Bytes copied by the kernel between two looks at the stop request.
constexpr std::int64_t kCopyStep = 8 << 20;
// Bytes read at a time where frames pass through the program.
constexpr std::int64_t kBlockBytes = 131072;
// bext: where the 64-bit time reference (in frames) lies.
constexpr std::size_t kTimeReference = 338;

bool StopRequested(const WriteOptions& options) {
  return options.stopRequested && options.stopRequested();
}

enum class Copy { Done, Failed, Unsupported, Stopped };

// Copies `bytes` bytes from `offset` of the source's file to `out` in the
// kernel, a step at a time.
Copy KernelCopy(MmioFile& in, std::int64_t offset, std::int64_t bytes, MmioFile& out,
                const WriteOptions& options) {
  for (std::int64_t done = 0; done < bytes;) {
    if (StopRequested(options)) return Copy::Stopped;
    const std::int64_t step = std::min(kCopyStep, bytes - done);
    const std::int64_t copied = out.CopyFrom(in, offset + done, step);
    if (copied == FileApi::kCopyUnsupported && done == 0) return Copy::Unsupported;
    if (copied != step) return Copy::Failed;
    done += step;
  }
  return Copy::Done;
}

// Copies frames [start, end) block by block through the program, mixed to
// one channel when asked.
Copy BlockCopy(WaveSource& source, std::int64_t start, std::int64_t end, bool mix, MmioFile& out,
               const WriteOptions& options) {
  const SourceInfo& info = source.Info();
  const std::int64_t frameBytes = info.FrameBytes();
  const std::int64_t framesPerBlock = kBlockBytes / frameBytes;
  Bytes buffer(static_cast<std::size_t>(std::min(kBlockBytes, (end - start) * frameBytes)));
  for (std::int64_t frame = start; frame < end;) {
    if (StopRequested(options)) return Copy::Stopped;
    const std::int64_t count = std::min(end - frame, framesPerBlock);
    std::int64_t bytes = count * frameBytes;
    // The range lies inside the data chunk, so a short read means the source
    // changed under us or the disk failed: the part would be incomplete.
    if (source.File().ReadAt(source.DataOffset() + frame * frameBytes, buffer.data(), bytes) !=
        bytes) {
      return Copy::Failed;
    }
    if (mix) {
      MixDown(buffer.data(), static_cast<std::size_t>(count), info.channels, info.sampleType);
      bytes = count * BytesOf(info.sampleType);
    }
    if (out.Write(buffer.data(), bytes) != bytes) return Copy::Failed;
    frame += count;
  }
  return Copy::Done;
}

void PutId(Bytes& out, const char (&id)[5]) {
  out.insert(out.end(), id, id + 4);
}

void PutLe(Bytes& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutChunk(Bytes& out, std::uint32_t id, const Bytes& body) {
  PutLe(out, id, 4);
  PutLe(out, body.size(), 4);
  out.insert(out.end(), body.begin(), body.end());
  if (body.size() & 1) out.push_back(0);
}

}  // namespace

Bytes PartFormatBody(const WaveSource& source, bool mix) {
  const WaveFormat& format = source.Format();
  const SourceInfo& info = source.Info();
  if (!info.plain16 && !mix) return format.bytes;
  const int channels = mix ? 1 : info.channels;
  const int blockAlign = channels * (info.plain16 ? 2 : format.blockAlign / format.channels);
  Bytes body = info.plain16 ? Bytes(16, 0) : format.bytes;
  if (info.plain16) {
    WriteLe16(body.data(), kTagPcm);
    WriteLe16(body.data() + 14, format.bits);
  }
  WriteLe16(body.data() + 2, static_cast<std::uint16_t>(channels));
  WriteLe32(body.data() + 4, static_cast<std::uint32_t>(info.rate));
  WriteLe32(body.data() + 8, static_cast<std::uint32_t>(info.rate * blockAlign));
  WriteLe16(body.data() + 12, static_cast<std::uint16_t>(blockAlign));
  // A mixed extensible part is front centre.
  if (mix && format.extensible) WriteLe32(body.data() + 20, 0x4);
  return body;
}

namespace {

// A Wave64 chunk: its GUID, its size with the 24 bytes of header, the body,
// and zero bytes up to a multiple of 8.
void PutW64Chunk(Bytes& out, std::uint32_t id, const Bytes& body) {
  if (id == FourCC("LIST")) {
    out.insert(out.end(), kW64List, kW64List + 16);
  } else {
    PutLe(out, id, 4);
    out.insert(out.end(), kW64Tail, kW64Tail + 12);
  }
  PutLe(out, body.size() + 24, 8);
  out.insert(out.end(), body.begin(), body.end());
  out.resize(out.size() + (8 - out.size() % 8) % 8, 0);
}

}  // namespace

namespace {

// A LIST-INFO chunk's body with a track's names: each field's text ends
// in a zero byte, and an odd size is padded.
Bytes InfoBody(const TrackTags& track) {
  Bytes body;
  PutLe(body, FourCC("INFO"), 4);
  // Built bit by bit: GCC 12 warns wrongly of the same with +.
  std::string number = std::to_string(track.number);
  if (track.count > 0) number.append("/").append(std::to_string(track.count));
  for (const auto& [id, text] : {std::pair{FourCC("INAM"), &track.title},
                                 {FourCC("IPRT"), &number},
                                 {FourCC("IART"), &track.artist},
                                 {FourCC("IPRD"), &track.album},
                                 {FourCC("ICRD"), &track.date}}) {
    if (text->empty()) continue;
    PutLe(body, id, 4);
    PutLe(body, text->size() + 1, 4);
    body.insert(body.end(), text->begin(), text->end());
    body.push_back(0);
    if ((text->size() + 1) & 1) body.push_back(0);
  }
  return body;
}

// The fields of a LIST-INFO body, in order: each id and its text.
std::vector<std::pair<std::uint32_t, Bytes>> InfoFields(const Bytes& body) {
  std::vector<std::pair<std::uint32_t, Bytes>> fields;
  for (std::size_t at = 4; body.size() >= at + 8;) {
    const ChunkHeader field = ReadChunkHeader(&body[at], ChunkForm::Riff);
    if (field.bodyBytes > body.size() - at - 8) break;
    const auto begin = body.begin() + static_cast<std::ptrdiff_t>(at + 8);
    fields.push_back({field.id, Bytes(begin, begin + static_cast<std::ptrdiff_t>(field.bodyBytes))});
    at = static_cast<std::size_t>(ChunkAfter(static_cast<std::int64_t>(at), field.bodyBytes,
                                             ChunkForm::Riff));
  }
  return fields;
}

// The source's LIST-INFO with a track's names: the track's fields where it
// has them, the source's others kept.
Bytes MergedInfo(const Bytes& source, const TrackTags& track) {
  Bytes body = InfoBody(track);
  std::vector<std::uint32_t> given;
  for (const auto& [id, text] : InfoFields(body)) given.push_back(id);
  for (const auto& [id, text] : InfoFields(source)) {
    if (std::find(given.begin(), given.end(), id) != given.end()) continue;
    PutLe(body, id, 4);
    PutLe(body, text.size(), 4);
    body.insert(body.end(), text.begin(), text.end());
    if (text.size() & 1) body.push_back(0);
  }
  return body;
}

// A cue chunk's points as a part of `frames` frames from `startFrame` has
// them: moved by the part's start, those outside it left out.
Bytes PartCues(const Bytes& body, std::int64_t startFrame, std::int64_t frames) {
  constexpr std::size_t kPoint = 24;  // id, position, chunk, chunk start, block start, offset
  if (body.size() < 4) return body;
  const std::size_t count = std::min<std::size_t>(ReadLe32(body.data()), (body.size() - 4) / kPoint);
  Bytes out(4, 0);
  std::uint32_t kept = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const std::uint8_t* point = body.data() + 4 + k * kPoint;
    const auto offset = static_cast<std::int64_t>(ReadLe32(point + 20));
    if (offset < startFrame || offset >= startFrame + frames) continue;
    Bytes moved(point, point + kPoint);
    const auto position = static_cast<std::int64_t>(ReadLe32(point + 4));
    WriteLe32(moved.data() + 4, static_cast<std::uint32_t>(std::clamp<std::int64_t>(
                                    position - startFrame, 0, frames - 1)));
    WriteLe32(moved.data() + 20, static_cast<std::uint32_t>(offset - startFrame));
    out.insert(out.end(), moved.begin(), moved.end());
    ++kept;
  }
  WriteLe32(out.data(), kept);
  return out;
}

}  // namespace

Error ChunkBody(WaveSource& source, const ChunkPlace& place, std::int64_t startFrame,
                std::int64_t frames, const std::optional<TrackTags>& track,
                std::vector<std::uint8_t>& body) {
  body.resize(static_cast<std::size_t>(place.size));
  if (source.File().ReadAt(place.offset, body.data(), place.size) != place.size)
    return {ErrorCode::UnableToRead, "a metadata chunk could not be read"};
  if (place.id == FourCC("bext") && body.size() >= kTimeReference + 8) {
    const std::uint64_t reference = ReadLe64(body.data() + kTimeReference);
    const auto by = static_cast<std::uint64_t>(startFrame);
    if (reference > ~std::uint64_t{0} - by) {
      return {ErrorCode::UnableToWrite,
              "its broadcast time reference (" + std::to_string(reference) +
                  ") cannot be moved on to the part's start: it would pass the largest there is"};
    }
    WriteLe64(body.data() + kTimeReference, reference + by);
  }
  if (place.id == FourCC("cue ")) body = PartCues(body, startFrame, frames);
  if (track && place.id == FourCC("LIST") && body.size() >= 4 &&
      ReadLe32(body.data()) == FourCC("INFO"))
    body = MergedInfo(body, *track);
  return {};
}

namespace {

// The chunks a part carries from its source, read afresh for each part,
// their LIST-INFO with a track's names where there is one; `info` says
// whether the source had a LIST-INFO.
Error MetadataOf(WaveSource& source, std::int64_t startFrame, std::int64_t frames, bool w64,
                 const std::optional<TrackTags>& track, bool& info, Bytes& out) {
  Bytes body;
  info = false;
  for (const ChunkPlace& place : source.Metadata()) {
    if (Error error = ChunkBody(source, place, startFrame, frames, track, body)) return error;
    if (place.id == FourCC("LIST") && body.size() >= 4 && ReadLe32(body.data()) == FourCC("INFO"))
      info = true;
    if (w64) {
      PutW64Chunk(out, place.id, body);
    } else {
      PutChunk(out, place.id, body);
    }
  }
  return {};
}

// Everything before the samples of a Wave64 part.
Bytes W64Header(const Bytes& format, const Bytes& metadata, std::uint64_t dataBytes) {
  Bytes header(kW64Riff, kW64Riff + 16);
  Bytes fmt;
  PutW64Chunk(fmt, FourCC("fmt "), format);
  // The data chunk comes last and needs no padding after it (other readers
  // would take the padding for samples).
  PutLe(header, 40 + fmt.size() + metadata.size() + 24 + dataBytes, 8);
  PutLe(header, FourCC("wave"), 4);
  header.insert(header.end(), kW64Tail, kW64Tail + 12);
  header.insert(header.end(), fmt.begin(), fmt.end());
  header.insert(header.end(), metadata.begin(), metadata.end());
  PutLe(header, FourCC("data"), 4);
  header.insert(header.end(), kW64Tail, kW64Tail + 12);
  PutLe(header, dataBytes + 24, 8);
  return header;
}

// Everything before the samples: RIFF or RF64 with its ds64, fmt, the
// carried chunks, the data chunk's header.
Bytes Header(const Bytes& format, const Bytes& metadata, std::uint64_t dataBytes,
             std::uint64_t frames, std::uint64_t riffLimit) {
  Bytes fmt;
  PutChunk(fmt, FourCC("fmt "), format);
  const std::uint64_t plainRiff =
      4 + fmt.size() + metadata.size() + 8 + dataBytes + (dataBytes & 1);
  const bool rf64 = plainRiff > riffLimit || dataBytes > 0xFFFFFFFF;
  Bytes header;
  if (!rf64) {
    PutId(header, "RIFF");
    PutLe(header, plainRiff, 4);
    PutId(header, "WAVE");
  } else {
    PutId(header, "RF64");
    PutLe(header, 0xFFFFFFFF, 4);
    PutId(header, "WAVE");
    PutId(header, "ds64");
    PutLe(header, 28, 4);
    PutLe(header, plainRiff + 36, 8);  // the RIFF size, ds64 included
    PutLe(header, dataBytes, 8);
    PutLe(header, frames, 8);
    PutLe(header, 0, 4);  // no table of other sizes
  }
  header.insert(header.end(), fmt.begin(), fmt.end());
  header.insert(header.end(), metadata.begin(), metadata.end());
  PutId(header, "data");
  PutLe(header, rf64 ? 0xFFFFFFFF : dataBytes, 4);
  return header;
}

}  // namespace

std::unique_ptr<Folder> Folder::Open(FileApi& files, const std::string& path, Error& error) {
  int why = 0;
  const int fd = files.OpenFolder(path, why);
  if (fd < 0) {
    error = {ErrorCode::UnableToCreate, ReasonOf(why)};
    return nullptr;
  }
  return std::unique_ptr<Folder>(new Folder(files, fd));
}

Folder::~Folder() {
  files_.Close(fd_);
}

void KeptFiles::Add(const FileId& id, const std::string& reason) {
  std::lock_guard lock(mutex_);
  files_.push_back({id, reason});
}

void KeptFiles::Clear() {
  std::lock_guard lock(mutex_);
  files_.clear();
}

std::string KeptFiles::ReasonFor(Folder& folder, const std::string& name) const {
  std::lock_guard lock(mutex_);
  return ReasonForLocked(folder, name);
}

std::string KeptFiles::ReasonForLocked(Folder& folder, const std::string& name) const {
  const FileId existing = folder.Inspect(name).id;
  for (const auto& [id, reason] : files_) {
    if (existing.Known() && existing == id) return reason;
  }
  return "";
}

bool KeptFiles::Publish(MmioFile& out, Folder& folder, const std::string& name, FileId* written,
                        Error& error) {
  if (turn_ && !turn_()) {
    error = ErrorCode::Stopped;
    return false;
  }
  std::lock_guard lock(mutex_);
  const std::string reason = ReasonForLocked(folder, name);
  if (!reason.empty()) {
    error = {ErrorCode::UnableToCreate, reason};
    return false;
  }
  const FileId id = out.Id();
  if (!out.Publish()) {
    error = WriteFailure(out);
    return false;
  }
  files_.push_back({id, "written earlier in this run"});
  if (written) *written = id;
  return true;
}

Error WriteFailure(const MmioFile& out) {
  return {ErrorCode::UnableToWrite, out.Failure() != 0 ? ReasonOf(out.Failure()) : ""};
}

Error PublishPart(MmioFile& out, Folder& folder, const std::string& name, KeptFiles* keep,
                  FileId* written) {
  Error error;
  if (keep) {
    keep->Publish(out, folder, name, written, error);
    return error;
  }
  const FileId id = out.Id();
  if (!out.Publish()) return WriteFailure(out);
  if (written) *written = id;
  return {};
}

std::unique_ptr<MmioFile> CreatePart(Folder& folder, const std::string& name, const KeptFiles* keep,
                                     Error& error) {
#ifdef _WIN32
  // A backslash separates folders there, a colon names a stream of a file.
  constexpr char kNotInNames[] = "/\\:";
#else
  constexpr char kNotInNames[] = "/";
#endif
  if (name.empty() || name == "." || name == ".." ||
      name.find_first_of(kNotInNames) != std::string::npos) {
    error = {ErrorCode::UnableToCreate, "not a file name"};
    return nullptr;
  }
  if (keep) {
    const std::string reason = keep->ReasonFor(folder, name);
    if (!reason.empty()) {
      error = {ErrorCode::UnableToCreate, reason};
      return nullptr;
    }
  }
  int why = 0;
  std::unique_ptr<MmioFile> out = MmioFile::Create(folder.Files(), folder.Descriptor(), name, why);
  if (!out) error = {ErrorCode::UnableToCreate, ReasonOf(why)};
  return out;
}

Error PartHeader(WaveSource& source, std::int64_t startFrame, std::int64_t frames,
                 const WriteOptions& options, std::vector<std::uint8_t>& header) {
  const SourceInfo& info = source.Info();
  const bool mix = options.mono && info.channels > 1;
  const std::int64_t dataBytes = frames * (mix ? BytesOf(info.sampleType) : info.FrameBytes());
  const bool w64 = source.Layout() == Layout::Wave64 && !options.wave;
  Bytes metadata;
  bool hadInfo = false;
  if (options.keepMetadata) {
    if (Error error =
            MetadataOf(source, startFrame, frames, w64, options.track, hadInfo, metadata)) {
      return error == ErrorCode::UnableToRead
                 ? Error{ErrorCode::UnableToWrite, "the recording's metadata could not be read"}
                 : error;
    }
  }
  if (options.track && !hadInfo) {
    if (w64) {
      PutW64Chunk(metadata, FourCC("LIST"), InfoBody(*options.track));
    } else {
      PutChunk(metadata, FourCC("LIST"), InfoBody(*options.track));
    }
  }
  header =
      w64 ? W64Header(PartFormatBody(source, mix), metadata, static_cast<std::uint64_t>(dataBytes))
          : Header(PartFormatBody(source, mix), metadata, static_cast<std::uint64_t>(dataBytes),
                   static_cast<std::uint64_t>(frames), options.riffLimit);
  return {};
}

Error WritePart(WaveSource& source, std::int64_t startFrame, std::int64_t endFrame, Folder& folder,
                const std::string& name, const WriteOptions& options, FileId* written) {
  Error error;
  std::unique_ptr<MmioFile> out = CreatePart(folder, name, options.keep, error);
  if (!out) return error;

  const SourceInfo& info = source.Info();
  const bool mix = options.mono && info.channels > 1;
  const std::int64_t frames = std::max<std::int64_t>(endFrame - startFrame, 0);
  const std::int64_t dataBytes = frames * (mix ? BytesOf(info.sampleType) : info.FrameBytes());
  const bool w64 = source.Layout() == Layout::Wave64 && !options.wave;
  Bytes header;
  if (Error refusal = PartHeader(source, startFrame, frames, options, header)) return refusal;
  if (out->Write(header.data(), static_cast<std::int64_t>(header.size())) !=
      static_cast<std::int64_t>(header.size())) {
    return WriteFailure(*out);
  }

  Copy copy = Copy::Unsupported;
  if (!mix) {
    copy = KernelCopy(source.File(), source.DataOffset() + startFrame * info.FrameBytes(),
                      dataBytes, *out, options);
  }
  if (copy == Copy::Unsupported)
    copy = BlockCopy(source, startFrame, startFrame + frames, mix, *out, options);
  if (copy == Copy::Stopped) return {ErrorCode::Stopped};
  if (copy == Copy::Failed && source.Failure().size() > 0 && out->Failure() == 0)
    return {ErrorCode::UnableToWrite, source.Failure()};
  const std::uint8_t pad = 0;
  if (copy != Copy::Done || (!w64 && (dataBytes & 1) && out->Write(&pad, 1) != 1))
    return WriteFailure(*out);
  return PublishPart(*out, folder, name, options.keep, written);
}

}  // namespace corvella::wave

namespace corvella::wave {

std::unique_ptr<GrowingPart> GrowingPart::Start(WaveSource& shape, std::int64_t startFrame,
                                                Folder& folder, const std::string& name,
                                                const WriteOptions& options, Error& error) {
  std::unique_ptr<GrowingPart> part(new GrowingPart(shape, startFrame, folder, options));
  part->out_ = CreatePart(folder, name, options.keep, error);
  if (!part->out_) return nullptr;
  // The header as for no frames: it is written again, sizes filled in, at
  // the end.
  if ((error = PartHeader(shape, startFrame, 0, options, part->header_))) return nullptr;
  const auto size = static_cast<std::int64_t>(part->header_.size());
  if (part->out_->Write(part->header_.data(), size) != size) {
    error = WriteFailure(*part->out_);
    return nullptr;
  }
  return part;
}

bool GrowingPart::Append(const std::uint8_t* frames, std::int64_t count) {
  if (count <= 0) return true;
  const SourceInfo& info = shape_.Info();
  std::int64_t bytes = count * info.FrameBytes();
  const std::uint8_t* data = frames;
  if (options_.mono && info.channels > 1) {
    mixed_.assign(frames, frames + bytes);
    const int width = BytesOf(info.sampleType);
    SamplesFromLittleEndian(mixed_.data(), static_cast<std::size_t>(count * info.channels), width);
    MixDown(mixed_.data(), static_cast<std::size_t>(count), info.channels, info.sampleType);
    bytes = count * width;
    SamplesToLittleEndian(mixed_.data(), static_cast<std::size_t>(count), width);
    data = mixed_.data();
  }
  if (out_->Write(data, bytes) != bytes) return false;
  frames_ += count;
  dataBytes_ += bytes;
  return true;
}

// Moves the samples on by `by` bytes, from the last block back, so that a
// header grown by that much fits before them.
bool GrowingPart::MoveData(std::int64_t from, std::int64_t by) {
  FileApi& files = out_->Files();
  const int fd = out_->Descriptor();
  Bytes block(static_cast<std::size_t>(std::min<std::int64_t>(dataBytes_, 1 << 20)));
  for (std::int64_t end = dataBytes_; end > 0;) {
    const std::int64_t size = std::min<std::int64_t>(end, static_cast<std::int64_t>(block.size()));
    end -= size;
    if (files.ReadAt(fd, block.data(), size, from + end) != size ||
        files.WriteAt(fd, block.data(), size, from + end + by) != size) {
      out_->Fail(errno);
      return false;
    }
  }
  return true;
}

Error GrowingPart::Finish(const std::string& name, FileId* written) {
  Bytes header;
  if (Error error = PartHeader(shape_, startFrame_, frames_, options_, header)) return error;
  const auto before = static_cast<std::int64_t>(header_.size());
  const auto after = static_cast<std::int64_t>(header.size());
  // Past 4 GiB the part becomes RF64, whose header is longer.
  if (after != before && !MoveData(before, after - before)) return WriteFailure(*out_);
  if (out_->Files().WriteAt(out_->Descriptor(), header.data(), after, 0) != after) {
    out_->Fail(errno);
    return WriteFailure(*out_);
  }
  out_->Seek(after + dataBytes_);
  const std::uint8_t pad = 0;
  if ((dataBytes_ & 1) && out_->Write(&pad, 1) != 1) return WriteFailure(*out_);
  out_->SetName(name);
  return PublishPart(*out_, folder_, name, options_.keep, written);
}

}  // namespace corvella::wave
