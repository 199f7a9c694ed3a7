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
#include "stream/Intake.h"

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

// What the command line shows of a recording split as it comes in: the
// state of the recording on the bar's line, each part on a line of its own.
class Parts final : public stream::IntakeListener {
 public:
  Parts(Job& job, Console::Bar& bar, std::string base)
      : job_(job), bar_(bar), shownFolder_(job.ShownFolder()), base_(std::move(base)) {}

  bool OutputFailed() const { return outputFailed_; }

  void Began(const stream::StreamShape& shape) override {
    rate_ = shape.Info().rate;
    began_ = RecordingBegan(job_.options.follow, shape.dataOffset, rate_ * shape.Info().FrameBytes());
  }

  void Taking(std::int64_t frames, int parts, double level) override {
    const auto now = std::chrono::steady_clock::now();
    if (now - drawn_ <= std::chrono::milliseconds(250)) return;
    drawn_ = now;
    bar_.Show("recording " +
              Duration(static_cast<double>(frames) / static_cast<double>(rate_)) + ", " +
              std::to_string(parts) + " parts written, level " + PeakText(level) + " dBFS");
  }

  bool StopRequested() override { return job_.console.Stopped(); }

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
  Console::Bar& bar_;
  std::string shownFolder_;
  std::string base_;  // "stream.wav", the followed file's stem or --name, with ".wav"
  std::int64_t rate_ = 0;
  SystemClock::time_point began_ = SystemClock::now();
  std::chrono::steady_clock::time_point drawn_ = std::chrono::steady_clock::now();
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
  stream::OpenedShape raw;
  if (!options.raw.empty() && !(raw = stream::RawShape(options.raw)).shape) {
    console.Report("--raw", raw.error);
    return kExitUsage;
  }
  stream::OpenedInput opened = followed ? stream::FollowedFile(options.follow, options.idle)
                                        : stream::OpenedInput{stream::StandardInput(), {}};
  if (!opened.input) {
    console.Report(subject, opened.error);
    return kExitFailed;
  }
  stream::Input& input = *opened.input;
  wave::KeptFiles keep;
  KeepInput(job, keep);
  // The parts are WAV files whatever the followed file is called.
  const std::string base =
      (options.streamName ? *options.streamName
       : followed         ? batch::SplitFileName(batch::FileNameOf(options.follow)).stem
                          : std::string("stream")) +
      ".wav";
  stream::IntakeSettings settings;
  settings.detect = options.Detection();
  settings.minPart = options.minPart;
  settings.padBefore = options.padBefore;
  settings.padAfter = options.padAfter;
  settings.write.mono = options.mono;
  settings.write.keepMetadata = options.keepMetadata;
  settings.write.keep = &keep;
  settings.bufferSeconds = options.buffer;
  settings.followed = followed;
  Console::Bar bar(console, subject);
  Parts parts(job, bar, base);
  const stream::IntakeEnd end =
      stream::SplitAsItComes(input, std::move(raw.shape), settings, *folder, parts);
  bar.Clear();
  if (!end.began) {
    if (end.noRate) {
      console.Report(subject, "a sample rate of 0: no time to judge a gap by");
      return kExitFailed;
    }
    if (console.Stopped() && !end.refused) return console.StopStatus();
    console.Report(subject, end.refused);
    return kExitFailed;
  }
  if (end.overrun) {
    console.Report(subject, "writing the parts fell more than " + Fixed(options.buffer, 0) +
                                " s of audio behind the input: stopped there (no sample was "
                                "dropped; --buffer allows more)");
  } else if (end.failure) {
    console.Report(subject, end.failure);
  } else if (end.framesShort > 0) {
    console.Report(subject, "the stream ended " + std::to_string(end.framesShort) +
                                " frames before its header says: the parts hold what came");
  }
  if (end.bytesLeftOut > 0) {
    console.Report(subject, std::to_string(end.bytesLeftOut) +
                                " bytes at the end make no whole frame: left out");
  }
  if (!end.note.empty()) console.Report(subject, end.note);
  return job.Status(end.Failed() || parts.OutputFailed());
}

}  // namespace corvella::cli
