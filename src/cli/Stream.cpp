// split of a recording still coming in: "-" reads it from stdin, --follow
// from a file another program is writing. Each part is named as soon as its
// end is known and printed on a line of its own (name, start, length),
// flushed at once for whatever picks the parts up. The end of the input,
// Ctrl-C and SIGTERM all finish the part under way and keep it.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <map>
#include <sstream>

#include "batch/OutputName.h"
#include "cli/Commands.h"
#include "cli/Text.h"
#include "stream/Input.h"
#include "stream/LiveSplit.h"
#include "stream/StreamShape.h"

namespace corvella::cli {
namespace {

using SystemClock = std::chrono::system_clock;

// "2026-12-06_14-03-27", in local time.
std::string LocalTimeText(SystemClock::time_point when) {
  const std::time_t seconds = SystemClock::to_time_t(when);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text << std::put_time(&local, "%Y-%m-%d_%H-%M-%S");
  return text.str();
}

// "1:02:03": hours, minutes, seconds.
std::string Duration(double seconds) {
  const auto whole = static_cast<long long>(seconds);
  return std::to_string(whole / 3600) + ":" + ZeroFilled(whole / 60 % 60, 2) + ":" +
         ZeroFilled(whole % 60, 2);
}

// When the recording a followed file holds began: its last change, less
// the samples it already holds. Now, for a pipe.
SystemClock::time_point RecordingBegan(const std::string& followed, std::int64_t dataOffset,
                                       std::int64_t byteRate) {
  const SystemClock::time_point now = SystemClock::now();
  if (followed.empty() || byteRate <= 0) return now;
  std::error_code error;
  const std::filesystem::path path(std::u8string(followed.begin(), followed.end()));
  const auto size = std::filesystem::file_size(path, error);
  if (error) return now;
  const auto changed = std::filesystem::last_write_time(path, error);
  if (error) return now;
  const auto held = std::chrono::duration<double>(
      static_cast<double>(std::max<std::int64_t>(static_cast<std::int64_t>(size) - dataOffset, 0)) /
      static_cast<double>(byteRate));
  return std::chrono::time_point_cast<SystemClock::duration>(
      std::chrono::file_clock::to_sys(changed) -
      std::chrono::duration_cast<std::chrono::file_clock::duration>(held));
}

// Whether `bytes` begin as a chunk does: four letters, digits or spaces.
bool Named(const std::vector<std::uint8_t>& bytes) {
  return std::all_of(bytes.begin(), bytes.begin() + 4, [](std::uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ';
  });
}

class Parts final : public stream::LiveListener {
 public:
  Parts(Job& job, std::string base, std::int64_t rate)
      : job_(job), shownFolder_(job.ShownFolder()), base_(std::move(base)), rate_(rate) {}

  void Began(SystemClock::time_point when) { began_ = when; }
  bool OutputFailed() const { return outputFailed_; }

  std::string NameFor(int number, std::int64_t start) override {
    if (!job_.options.nameTime) return batch::PartFileName(base_, number);
    const auto offset = std::chrono::duration_cast<SystemClock::duration>(
        std::chrono::duration<double>(static_cast<double>(start) / static_cast<double>(rate_)));
    const batch::NameParts parts = batch::SplitFileName(base_);
    std::string name = parts.stem + "_" + LocalTimeText(began_ + offset);
    // Two parts begun in the same second: the later one gets a count.
    std::string unique = name + parts.extension;
    for (int again = 2; used_.count(unique) > 0; ++again)
      unique = name + "_" + std::to_string(again) + parts.extension;
    return unique;
  }

  void Written(const stream::LivePart& part) override {
    Remember(part);
    if (job_.options.quiet || !listing_) return;
    const double rate = static_cast<double>(rate_);
    job_.console.out() << Printable(batch::JoinPath(shownFolder_, part.name)) << '\t'
                       << Clock(static_cast<double>(part.start) / rate) << '\t'
                       << Clock(static_cast<double>(part.end - part.start) / rate) << '\n';
    listing_ = job_.console.Deliver();
    outputFailed_ = !listing_ && !job_.console.OutClosed();
  }

  void Failed(const stream::LivePart& part, const wave::Error& error) override {
    Remember(part);
    job_.console.Report(batch::JoinPath(shownFolder_, part.name), error);
  }

 private:
  void Remember(const stream::LivePart& part) {
    if (job_.options.nameTime) used_.insert({part.name, part.number});
  }

  Job& job_;
  std::string shownFolder_;
  std::string base_;  // "stream.wav", the followed file's stem or --name, with ".wav"
  std::int64_t rate_;
  SystemClock::time_point began_ = SystemClock::now();
  std::map<std::string, int> used_;
  bool listing_ = true;
  bool outputFailed_ = false;
};

// The files no part may replace: the one followed, or what stdin reads.
void KeepInput(Job& job, wave::KeptFiles& keep) {
  const wave::FileId id = job.options.follow.empty() ? job.files.StandardInputId()
                                                     : job.files.InspectPath(job.options.follow).id;
  if (id.Known()) keep.Add(id, "the recording being split");
}

}  // namespace

int SplitStream(Job& job) {
  const Options& options = job.options;
  Console& console = job.console;
  const bool followed = !options.follow.empty();
  const std::string subject = followed ? options.follow : "stdin";
  wave::Error error;
  const std::string destination = options.outputDir.empty() ? "." : options.outputDir;
  std::unique_ptr<wave::Folder> folder = wave::Folder::Open(job.files, destination, error);
  if (!folder) {
    console.Report(destination, "No such folder for the parts! (" + error.detail + ")");
    return kExitFailed;
  }
  if (!followed && stream::StandardInputIsTerminal()) {
    console.Report("stdin", "is a terminal: pipe a recording in (... | corvella-cli split -)");
    return kExitUsage;
  }
  std::string why;
  std::unique_ptr<stream::StreamShape> shape;
  if (!options.raw.empty() && !(shape = stream::RawShape(options.raw, why))) {
    console.Report("--raw", why);
    return kExitUsage;
  }
  std::unique_ptr<stream::Input> input =
      followed ? stream::FollowedFile(options.follow, options.idle, why) : stream::StandardInput();
  if (!input) {
    console.Report(subject, wave::Error{wave::ErrorCode::UnableToOpen, why});
    return kExitFailed;
  }
  wave::KeptFiles keep;
  KeepInput(job, keep);
  // The parts are WAV files whatever the followed file is called.
  const std::string base =
      (options.streamName ? *options.streamName
       : followed         ? batch::SplitFileName(batch::FileNameOf(options.follow)).stem
                          : std::string("stream")) +
      ".wav";

  stream::Spool spool(*input);
  stream::HeaderReader header;
  std::unique_ptr<Parts> parts;
  std::unique_ptr<stream::LiveSplit> split;
  std::int64_t frameBytes = 1;
  std::int64_t remaining = -1;     // of the data a pipe's header declares
  bool maybeEnd = false;           // ... with a size that may be a stand-in
  std::vector<std::uint8_t> past;  // the first bytes past such a size
  std::vector<std::uint8_t> chunk, carry;
  Console::Bar bar(console, subject);
  auto drawn = std::chrono::steady_clock::now();

  // Once the recording's shape is known: the parts' writer.
  const auto begin = [&] {
    const wave::SourceInfo& info = shape->Info();
    frameBytes = info.FrameBytes();
    input->KnowHeader(*shape);
    if (!followed) {
      remaining = shape->declaredBytes;
      if (shape->maybeBytes >= 0) {
        remaining = shape->maybeBytes;
        maybeEnd = true;
      }
    }
    spool.Limit(
        static_cast<std::int64_t>(options.buffer * static_cast<double>(info.rate)) * frameBytes,
        options.buffer, followed);
    parts = std::make_unique<Parts>(job, base, info.rate);
    parts->Began(RecordingBegan(options.follow, shape->dataOffset, info.rate * frameBytes));
    stream::LiveOptions live;
    live.detect = options.Detection();
    live.plan = options.Plan(info.rate);
    live.write.mono = options.mono;
    live.write.keepMetadata = options.keepMetadata;
    live.write.keep = &keep;
    split = std::make_unique<stream::LiveSplit>(*shape->source, live, *folder, *parts);
  };
  if (shape) begin();

  // Whole frames to the split; a frame cut by the chunk's end waits.
  const auto feed = [&](const std::uint8_t* data, std::size_t size) {
    carry.insert(carry.end(), data, data + size);
    const std::int64_t frames = static_cast<std::int64_t>(carry.size()) / frameBytes;
    split->Take(carry.data(), frames);
    carry.erase(carry.begin(), carry.begin() + frames * frameBytes);
  };

  stream::Spool::State state = stream::Spool::State::Bytes;
  for (;;) {
    if (console.Stopped()) spool.Stop();
    state = spool.Next(chunk);
    // Stopped with nothing more read: what came is all there is.
    if (state == stream::Spool::State::Waiting) {
      if (!console.Stopped()) continue;
      state = stream::Spool::State::End;
      break;
    }
    if (state != stream::Spool::State::Bytes) break;
    const std::uint8_t* data = chunk.data();
    std::size_t size = chunk.size();
    if (!shape) {
      const auto read = header.Take(data, size);
      if (read == stream::HeaderReader::State::NeedMore) continue;
      if (read == stream::HeaderReader::State::Refused) {
        spool.Stop();
        console.Report(subject, header.Error());
        return kExitFailed;
      }
      shape = std::make_unique<stream::StreamShape>(header.TakeShape());
      if (shape->Info().rate <= 0) {
        spool.Stop();
        console.Report(subject, "a sample rate of 0: no time to judge a gap by");
        return kExitFailed;
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
    const auto now = std::chrono::steady_clock::now();
    if (now - drawn > std::chrono::milliseconds(250)) {
      drawn = now;
      bar.Show(
          "recording " +
          Duration(static_cast<double>(split->Frames()) / static_cast<double>(shape->Info().rate)) +
          ", " + std::to_string(split->Parts()) + " parts written, level " +
          PeakText(split->Level()) + " dBFS");
    }
    // The data the header declares are all there: what follows is not samples.
    if (remaining == 0 && !maybeEnd) {
      spool.Stop();
      break;
    }
  }
  bar.Clear();
  bool failed = false;
  if (!split) {
    if (console.Stopped()) return console.StopStatus();
    console.Report(subject, state == stream::Spool::State::Failed
                                ? wave::Error{wave::ErrorCode::UnableToRead, input->Failure()}
                                : header.Ended());
    return kExitFailed;
  }
  // A few bytes past a size that may be a stand-in, and then the end: no
  // chunk is that short, so they are samples.
  if (maybeEnd && !past.empty() && !console.Stopped()) feed(past.data(), past.size());
  split->Finish();
  if (state == stream::Spool::State::Overrun) {
    console.Report(subject, "writing the parts fell more than " + Fixed(options.buffer, 0) +
                                " s of audio behind the input: stopped there (no sample was "
                                "dropped; --buffer allows more)");
    failed = true;
  } else if (state == stream::Spool::State::Failed) {
    console.Report(subject, wave::Error{wave::ErrorCode::UnableToRead, input->Failure()});
    failed = true;
  } else if (!input->Failure().empty()) {
    console.Report(subject, input->Failure());
    failed = true;
  } else if (remaining > 0 && !maybeEnd && !console.Stopped()) {
    console.Report(subject, "the stream ended " + std::to_string(remaining / frameBytes) +
                                " frames before its header says: the parts hold what came");
    failed = true;
  }
  if (!carry.empty()) {
    console.Report(
        subject, std::to_string(carry.size()) + " bytes at the end make no whole frame: left out");
  }
  if (const std::string note = input->Note(); !note.empty()) console.Report(subject, note);
  failed = failed || split->Failed() || parts->OutputFailed();
  return job.Status(failed);
}

}  // namespace corvella::cli
