// split of a recording still coming in: "-" reads it from stdin, --follow
// from a file another program is writing. Each part is named as soon as its
// end is known and printed on a line of its own (its name, or with
// --format json an object with its place in the recording), flushed at once
// for whatever picks the parts up. The end of the input,
// Ctrl-C and SIGTERM all finish the part under way and keep it.
#include <chrono>

#include "batch/OutputName.h"
#include "cli/Commands.h"
#include "cli/Listing.h"
#include "cli/Text.h"
#include "stream/Input.h"
#include "stream/Intake.h"
#include "stream/Naming.h"

namespace corvella::cli {
namespace {

// Seconds without growth that end a followed file, unless --idle is given.
constexpr double kFollowedIdle = 60;

// "1:02:03": hours, minutes, seconds.
std::string Duration(double seconds) {
  const auto whole = static_cast<long long>(seconds);
  return std::to_string(whole / 3600) + ":" + ZeroFilled(whole / 60 % 60, 2) + ":" +
         ZeroFilled(whole % 60, 2);
}

// What the command line shows of a recording split as it comes in: the
// state of the recording on the bar's line, each part on a line of its own.
class Parts final : public stream::IntakeListener {
 public:
  Parts(Job& job, Console::Bar& bar, std::string base)
      : job_(job), bar_(bar), shownFolder_(job.ShownFolder()), names_(std::move(base), job.options.nameTime) {}

  bool OutputFailed() const { return outputFailed_; }
  stream::PartNames& Names() { return names_; }

  void Began(const stream::StreamShape& shape) override {
    rate_ = shape.Info().rate;
    names_.Began(stream::RecordingBegan(job_.options.follow, shape.dataOffset,
                                        rate_ * shape.Info().FrameBytes()),
                 rate_);
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

  // Said once for each thing waited for, and shown on the bar's line.
  void Waiting(const std::string& what) override {
    if (what == waitingFor_) return;
    waitingFor_ = what;
    bar_.Clear();
    job_.console.Report(job_.options.follow.empty() ? "stdin" : job_.options.follow,
                        "waiting for " + what + (idle_ > 0 ? "; it ends after " + Fixed(idle_, 0) +
                                                                 " s without growth, or on Ctrl-C"
                                                           : "; Ctrl-C ends it"));
  }
  void IdleAfter(double seconds) { idle_ = seconds; }

  std::string NameFor(int number, std::int64_t start) override {
    return names_.NameFor(number, start);
  }

  // As a file's split says them: the name alone, or an object.
  void Written(const stream::LivePart& part) override {
    Remember(part);
    const std::string shown = batch::JoinPath(shownFolder_, part.name);
    if (!json_) {
      if (!job_.options.quiet) Line(Printable(shown));
      return;
    }
    Line(WrittenPartJson(Source(), part.number, shown, part.start, part.end, rate_));
  }

  void Failed(const stream::LivePart& part, const wave::Error& error) override {
    Remember(part);
    const std::string shown = batch::JoinPath(shownFolder_, part.name);
    job_.console.Report(shown, error);
    if (json_) Line(RefusedPartJson(Source(), part.number, shown, error));
  }

 private:
  void Remember(const stream::LivePart& part) { names_.Used(part.name); }
  // The recording as given: the file followed, or "-" for stdin.
  std::string Source() const { return job_.options.follow.empty() ? "-" : job_.options.follow; }
  // A closed or full stdout stops the listing, never the parts.
  void Line(const std::string& text) {
    if (!listing_) return;
    job_.console.out() << text << '\n';
    listing_ = job_.console.Deliver();
    outputFailed_ = !listing_ && !job_.console.OutClosed();
  }

  Job& job_;
  Console::Bar& bar_;
  std::string shownFolder_;
  stream::PartNames names_;
  std::string waitingFor_;
  double idle_ = 0;
  std::int64_t rate_ = 0;
  std::chrono::steady_clock::time_point drawn_ = std::chrono::steady_clock::now();
  bool json_ = job_.options.Format() == ListFormat::Json;
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
  std::unique_ptr<wave::Folder> folder = job.OpenDestination();
  if (!folder) return kExitFailed;
  if (!followed && stream::StandardInputIsTerminal()) {
    console.Report("stdin", "is a terminal: pipe a recording in (... | corvella-cli split -)");
    return kExitUsage;
  }
  stream::OpenedShape raw;
  if (!options.raw.empty() && !(raw = stream::RawShape(options.raw)).shape) {
    console.Report("--raw", raw.error);
    return kExitUsage;
  }
  // A followed file whose writer is gone ends after a minute without growth
  // unless --idle says otherwise.
  const double idle = followed && options.idle <= 0 ? kFollowedIdle : options.idle;
  stream::OpenedInput opened = followed ? stream::FollowedFile(options.follow, idle)
                                        : stream::OpenedInput{stream::StandardInput(), {}};
  if (!opened.input) return job.RefuseRun(subject, opened.error);
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
  settings.write.wave = true;  // the parts are WAV files, whatever the stream is
  settings.bufferSeconds = options.buffer;
  settings.followed = followed;
  Console::Bar bar(console, subject);
  Parts parts(job, bar, base);
  parts.IdleAfter(idle);
  parts.Names().AvoidTaken([&folder = *folder](const std::string& name) {
    return folder.Inspect(name).kind != wave::PathKind::Missing;
  });
  const stream::IntakeEnd end =
      stream::SplitAsItComes(input, std::move(raw.shape), settings, *folder, parts);
  bar.Clear();
  if (!end.began) {
    if (end.noRate) return job.RefuseRun(subject, "a sample rate of 0: no time to judge a gap by");
    if (console.Stopped() && !end.refused) return console.StopStatus();
    return job.RefuseRun(subject, end.refused);
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
  for (const std::string& name : end.removed) {
    console.Report(batch::JoinPath(job.ShownFolder(), name),
                   "held bytes its writer put after the samples (a chunk, not audio): removed; "
                   "split the finished file for this part");
    // (A part under way is never named: the live split says so itself.)
  }
  if (!end.note.empty()) console.Note(subject, end.note);
  return job.Status(end.Failed() || parts.OutputFailed());
}

}  // namespace corvella::cli
