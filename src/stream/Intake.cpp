#include "stream/Intake.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "detect/Units.h"

namespace corvella::stream {
namespace {

// Whether `bytes` begin as a chunk does: four letters, digits or spaces.
bool Named(const std::vector<std::uint8_t>& bytes) {
  return std::all_of(bytes.begin(), bytes.begin() + 4, [](std::uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ';
  });
}

}  // namespace

IntakeEnd SplitAsItComes(Input& input, std::unique_ptr<StreamShape> shape,
                         const IntakeSettings& settings, wave::Folder& folder,
                         IntakeListener& listener) {
  IntakeEnd end;
  // The parts as they are written, to be taken back should some of their
  // bytes turn out to be no samples.
  struct Told final : IntakeListener {
    IntakeListener& inner;
    std::vector<LivePart> written;
    explicit Told(IntakeListener& i) : inner(i) {}
    void Began(const StreamShape& shape) override { inner.Began(shape); }
    void Waiting(const std::string& what) override { inner.Waiting(what); }
    void Taking(std::int64_t frames, int parts, double level) override {
      inner.Taking(frames, parts, level);
    }
    bool StopRequested() override { return inner.StopRequested(); }
    std::string NameFor(int number, std::int64_t start) override {
      return inner.NameFor(number, start);
    }
    void Written(const LivePart& part) override {
      written.push_back(part);
      inner.Written(part);
    }
    void Failed(const LivePart& part, const wave::Error& error) override {
      inner.Failed(part, error);
    }
  } told(listener);
  Spool spool(input);
  HeaderReader header;
  std::unique_ptr<LiveSplit> split;
  std::int64_t frameBytes = 1;
  std::int64_t remaining = -1;     // of the data a pipe's header declares
  bool maybeEnd = false;           // ... with a size that may be a stand-in
  std::vector<std::uint8_t> past;  // the first bytes past such a size
  std::vector<std::uint8_t> chunk, carry;

  // Once the recording's shape is known: the parts' writer.
  const auto begin = [&] {
    const wave::SourceInfo& info = shape->Info();
    frameBytes = info.FrameBytes();
    input.KnowHeader(*shape);
    if (!settings.followed) {
      remaining = shape->declaredBytes;
      if (shape->maybeBytes >= 0) {
        remaining = shape->maybeBytes;
        maybeEnd = true;
      }
    }
    spool.Limit(static_cast<std::int64_t>(settings.bufferSeconds * static_cast<double>(info.rate)) *
                    frameBytes,
                settings.bufferSeconds, settings.followed);
    listener.Began(*shape);
    end.began = true;
    LiveOptions live;
    live.detect = settings.detect;
    live.plan = {detect::FramesFromSeconds(settings.minPart, info.rate),
                 detect::FramesFromSeconds(settings.padBefore, info.rate),
                 detect::FramesFromSeconds(settings.padAfter, info.rate)};
    live.write = settings.write;
    split = std::make_unique<LiveSplit>(*shape->source, live, folder, told);
  };
  if (shape) begin();

  // Whole frames to the split; a frame cut by the chunk's end waits.
  const auto feed = [&](const std::uint8_t* data, std::size_t size) {
    carry.insert(carry.end(), data, data + size);
    const std::int64_t frames = static_cast<std::int64_t>(carry.size()) / frameBytes;
    split->Take(carry.data(), frames);
    carry.erase(carry.begin(), carry.begin() + frames * frameBytes);
  };

  Spool::State state = Spool::State::Bytes;
  for (;;) {
    if (listener.StopRequested()) spool.Stop();
    state = spool.Next(chunk);
    // Stopped with nothing more read: what came is all there is.
    if (state == Spool::State::Waiting) {
      if (const std::string what = input.WaitingFor(); !what.empty()) listener.Waiting(what);
      if (!listener.StopRequested()) continue;
      state = Spool::State::End;
      break;
    }
    if (state != Spool::State::Bytes) break;
    const std::uint8_t* data = chunk.data();
    std::size_t size = chunk.size();
    if (!shape) {
      const auto read = header.Take(data, size);
      if (read == HeaderReader::State::NeedMore) continue;
      if (read == HeaderReader::State::Refused) {
        spool.Stop();
        end.refused = header.Error();
        return end;
      }
      shape = std::make_unique<StreamShape>(header.TakeShape());
      if (shape->Info().rate <= 0) {
        spool.Stop();
        end.noRate = true;
        return end;
      }
      begin();
      chunk = header.Rest();
      data = chunk.data();
      size = chunk.size();
    }
    if (remaining == 0 && maybeEnd) {
      past.insert(past.end(), data, data + size);
      size = 0;
    }
    if (remaining >= 0) {
      const std::size_t whole = size;
      size = static_cast<std::size_t>(
          std::min<std::int64_t>(remaining, static_cast<std::int64_t>(size)));
      remaining -= static_cast<std::int64_t>(size);
      if (remaining == 0 && maybeEnd && whole > 0) past.assign(data + size, data + whole);
    }
    feed(data, size);
    if (remaining == 0 && maybeEnd && past.size() >= 8) {
      // Past a size that may be a stand-in: a chunk header (four letters,
      // as every chunk name is) means it was true; anything else is samples.
      if (Named(past)) {
        past.clear();
        spool.Stop();
        break;
      }
      remaining = -1;
      maybeEnd = false;
      feed(past.data(), past.size());
      past.clear();
    }
    listener.Taking(split->Frames(), split->Parts(), split->Level());
    // The data the header declares are all there: what follows is not samples.
    if (remaining == 0 && !maybeEnd) {
      spool.Stop();
      break;
    }
  }
  if (!split) {
    if (!listener.StopRequested()) {
      end.refused = state == Spool::State::Failed
                        ? wave::Error{wave::ErrorCode::UnableToRead, input.Failure()}
                        : header.Ended();
    }
    return end;
  }
  // A few bytes past a size that may be a stand-in, and then the end: no
  // chunk is that short, so they are samples.
  if (maybeEnd && !past.empty() && !listener.StopRequested()) feed(past.data(), past.size());
  // A followed file's finished header may say the samples ended before the
  // bytes taken for them did.
  std::optional<std::int64_t> samplesEnd;
  if (const std::int64_t bytes = input.SamplesEnd(); bytes >= 0 && bytes / frameBytes < split->Frames())
    samplesEnd = bytes / frameBytes;
  split->Finish(samplesEnd);
  for (const LivePart& part : told.written) {
    if (!samplesEnd || part.end <= *samplesEnd) continue;
    folder.Files().Remove(folder.Descriptor(), part.name);
    end.removed.push_back(part.name);
  }
  if (state == Spool::State::Overrun) {
    end.overrun = true;
  } else if (state == Spool::State::Failed) {
    end.failure = {wave::ErrorCode::UnableToRead, input.Failure()};
  } else if (!input.Failure().empty()) {
    end.failure = {wave::ErrorCode::Refused, input.Failure()};
  } else if (remaining > 0 && !maybeEnd && !listener.StopRequested()) {
    end.framesShort = remaining / frameBytes;
  }
  end.bytesLeftOut = static_cast<std::int64_t>(carry.size());
  end.note = input.Note();
  end.partsFailed = split->Failed();
  return end;
}

}  // namespace corvella::stream
