// `split`: every part of every recording as NAME_001.wav, NAME_002.wav, ...
// in one destination folder, each name printed once its file is complete.
// No part replaces a source of the run or a part written earlier in it.
//
// The parts are written by a pool of threads while the scanner goes on
// looking for the next ones: copies (which the kernel does) overlap the
// judging, and encoded parts (FLAC) use every core, one part per thread. A
// decoder is not shared: each writer reads through a fork of it. What the
// writers did is told back to the first thread in the parts' order, and it
// alone speaks to the console.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <thread>

#include "batch/OutputName.h"
#include "batch/PartWalk.h"
#include "batch/Plan.h"
#include "cli/Commands.h"
#include "cli/CutList.h"
#include "cli/Text.h"
#include "cli/Tracks.h"
#include "formats/Formats.h"
#include "wave/PartWriter.h"

namespace corvella::cli {
namespace {

// A recording opened for splitting, with how its parts are written.
struct Recording {
  std::string file;
  std::unique_ptr<wave::Source> source;
  formats::PartPlan plan;
  // One writer at a time reads a decoder that cannot be forked.
  std::mutex reading;
};

// One part to write, and once written, what became of it.
struct Task {
  std::size_t index = 0;  // its place in the run's order
  Recording* recording = nullptr;
  formats::PartPlan::Part part;
  std::string shown;  // the name as printed
  wave::Error error;
};

// The files no part of the run may replace: its sources, and its cut list
// (also when it comes through stdin from a file).
void KeepRunFiles(Job& job, wave::KeptFiles& keep) {
  for (const std::string& file : job.options.files) {
    const wave::FileId id = job.files.InspectPath(file).id;
    if (id.Known()) keep.Add(id, "a source of this run");
  }
  const std::string& cuts = job.options.cuts;
  const wave::FileId id = cuts.empty()  ? wave::FileId{}
                          : cuts == "-" ? job.files.StandardInputId()
                                        : job.files.InspectPath(cuts).id;
  if (id.Known()) keep.Add(id, "the cut list of this run");
  const std::string& names = job.options.names;
  const wave::FileId listId = names.empty()  ? wave::FileId{}
                              : names == "-" ? job.files.StandardInputId()
                                             : job.files.InspectPath(names).id;
  if (listId.Known()) keep.Add(listId, "the track list of this run");
}

// The writers of one run: a thread per core, each taking the next part.
class Writer {
 public:
  Writer(Job& job, wave::Folder& folder) : job_(job), folder_(folder) {
    KeepRunFiles(job, keep_);
    const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    for (unsigned i = 0; i < cores; ++i) threads_.emplace_back([this] { Run(); });
  }
  ~Writer() {
    {
      std::lock_guard lock(mutex_);
      closing_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }

  const wave::KeptFiles& Kept() const { return keep_; }

  void Add(Task task) {
    {
      std::lock_guard lock(mutex_);
      task.index = added_++;
      frames_ += task.part.end - task.part.start;
      waiting_.push_back(std::move(task));
    }
    wake_.notify_all();
  }
  // The parts written (or refused) since the last call, in the order they
  // were added; with `all`, after waiting for every part given so far,
  // telling `progress` meanwhile how much of them is written.
  std::vector<Task> Done(bool all, detect::Progress* progress = nullptr) {
    std::unique_lock lock(mutex_);
    if (all) {
      while (!wake_.wait_for(lock, std::chrono::milliseconds(200),
                             [this] { return waiting_.empty() && busy_ == 0; })) {
        if (progress && frames_ > 0) progress->Report(static_cast<int>(written_ * 100 / frames_));
      }
    }
    std::vector<Task> ready;
    for (auto it = done_.find(released_); it != done_.end(); it = done_.find(++released_)) {
      ready.push_back(std::move(it->second));
      done_.erase(it);
    }
    if (all) frames_ = written_ = 0;
    return ready;
  }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return closing_ || !waiting_.empty(); });
      if (waiting_.empty()) return;
      Task task = std::move(waiting_.front());
      waiting_.pop_front();
      ++busy_;
      lock.unlock();
      Write(task);
      lock.lock();
      --busy_;
      written_ += task.part.end - task.part.start;
      done_.emplace(task.index, std::move(task));
      wake_.notify_all();
    }
  }

  void Write(Task& task) {
    if (job_.console.Stopped()) {
      task.error = wave::ErrorCode::Stopped;
      return;
    }
    Recording& recording = *task.recording;
    wave::Source* reader = recording.source.get();
    std::unique_ptr<wave::Source> fork;
    std::unique_lock<std::mutex> alone;
    if (reader->Sequential()) {
      fork = reader->Fork();
      if (fork) {
        reader = fork.get();
      } else {
        alone = std::unique_lock(recording.reading);
      }
    }
    task.error = recording.plan.Write(*reader, task.part, folder_, &keep_,
                                      [this] { return job_.console.Stopped(); });
  }

  Job& job_;
  wave::Folder& folder_;
  wave::KeptFiles keep_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> waiting_;
  std::map<std::size_t, Task> done_;
  std::size_t added_ = 0, released_ = 0;
  int busy_ = 0;
  std::int64_t frames_ = 0, written_ = 0;  // of the parts given since the last full wait
  bool closing_ = false;
  std::vector<std::thread> threads_;  // last: they start once everything else is in place
};

class SplitRun {
 public:
  SplitRun(Job& job, wave::Folder& folder, const TrackNames& names)
      : job_(job),
        console_(job.console),
        shownFolder_(job.ShownFolder()),
        names_(names),
        titles_(NamesOfParts(job.options, names)),
        folder_(folder),
        writer_(job, folder) {}

  // A part refused or not written, or stdout failing for another reason
  // than a closed pipe.
  bool failed() const { return failed_ || outputFailed_; }
  const wave::KeptFiles& Kept() const { return writer_.Kept(); }

  // Opens a recording and settles how its parts are written; false after
  // reporting why it cannot be split.
  bool Open(const std::string& file, Recording& recording) {
    recording.file = file;
    recording.source = job_.Open(file);
    if (!recording.source) {
      failed_ = true;
      return false;
    }
    const Options& options = job_.options;
    formats::PartSettings settings;
    settings.target = options.to == "flac"  ? formats::PartTarget::Flac
                      : options.to == "wav" ? formats::PartTarget::Wave
                                            : formats::PartTarget::Source;
    settings.mono = options.mono;
    settings.keepMetadata = options.keepMetadata;
    std::vector<std::string> notes;
    const wave::Error refusal =
        formats::PartPlan::Make(*recording.source, settings, recording.plan, notes);
    if (refusal) {
      console_.Report(file, refusal);
      failed_ = true;
      return false;
    }
    for (const std::string& note : notes) console_.Report(file, note);
    return true;
  }

  // Finds the parts of a recording and writes them.
  void File(const std::string& file) {
    Console::Bar bar(console_, file);
    Recording recording;
    if (!Open(file, recording)) return;
    const Options& options = job_.options;
    wave::Source& source = *recording.source;
    const std::string name = batch::FileNameOf(file);
    const std::string extension = recording.plan.Extension();
    int count = 0;  // known before writing where parts are tagged with their count
    auto write = [&](const detect::PartSpan& part, int number) {
      formats::PartPlan::Part planned{
          part.start, part.end, batch::PartFileName(name, number, extension),
          number,     count,    std::nullopt};
      if (!titles_.empty()) {
        // Named and tagged from the track list.
        const PartNames& names = titles_[static_cast<std::size_t>(number - 1)];
        planned.name =
            batch::TrackFileName(number, count, names.title, recording.plan.ExtensionFor(name));
        planned.track =
            wave::TrackTags{names.title, names.artist, names.album, names.date, number, count};
      }
      Add(recording, planned);
    };
    // The bar, and the names of the parts written meanwhile, once a block.
    struct Progress final : detect::Progress {
      SplitRun& run;
      Console::Bar& bar;
      Progress(SplitRun& r, Console::Bar& b) : run(r), bar(b) {}
      void Report(int percent) override { bar.Report(percent); }
      void Pump() override { run.Tell(false); }
      bool StopRequested() override { return bar.StopRequested(); }
    } progress(*this, bar);
    batch::WalkResult walk;
    std::vector<detect::PartSpan> parts;
    if (options.tracks) {
      // One pass to find the tracks, then the parts written.
      FoundTracks found;
      std::string refusal;
      if (!FindTracks(job_, file, source, progress, TracksWanted(options, names_), found,
                      refusal)) {
        failed_ = failed_ || !refusal.empty();
        return;
      }
      batch::PlanOptions plan = options.Plan(source.Info().rate);
      plan.minFrames = 0;  // no track is shorter
      parts = batch::PlanParts(found.tracks.parts, source.Info().frames, plan);
    } else {
      detect::Scanner scanner(source, options.Detection(), progress);
      // Parts are found first, and written after, where they are tagged
      // with their count or named from a list, where --min-part or padding
      // need the neighbours, and where the source is a decoder that reads
      // one way only.
      if (!options.Planned() && !recording.plan.Tagged() && !source.Sequential() &&
          titles_.empty()) {
        walk = batch::WalkParts(scanner, write);
      } else {
        const auto found = batch::FindParts(scanner, walk);
        parts = batch::PlanParts(found, source.Info().frames, options.Plan(source.Info().rate));
        // A recording that cannot be read to its end keeps the parts whose
        // ends were found before the damage; padded, the last of them may
        // reach into it, and is left out.
        if (walk.readFailed && options.Planned() && !parts.empty()) parts.pop_back();
        if (walk.readFailed && source.WholeInDoubt()) parts.clear();
      }
    }
    const std::string mismatch = titles_.empty() ? "" : TitleMismatch(titles_.size(), parts.size());
    if (!mismatch.empty()) {
      if (walk.readFailed) console_.Report(file, Job::ReadFailure(source));
      console_.Report(file, mismatch + ": nothing written");
      failed_ = true;
      return;
    }
    count = static_cast<int>(parts.size());
    // Named from a list, the parts are known whole before the first is
    // written: one that would replace a file of the run (a title that is
    // the recording's name, say) stops them all, so that no half of an
    // album is left.
    for (std::size_t k = 0; k < titles_.size() && k < parts.size(); ++k) {
      const std::string partName = batch::TrackFileName(
          static_cast<int>(k) + 1, count, titles_[k].title, recording.plan.ExtensionFor(name));
      const std::string why = writer_.Kept().ReasonFor(folder_, partName);
      if (!why.empty()) {
        console_.Report(file, "part \"" + Printable(partName) + "\" would replace " + why +
                                  ": nothing written");
        failed_ = true;
        return;
      }
    }
    for (std::size_t k = 0; k < parts.size() && !console_.Stopped(); ++k) {
      write(parts[k], static_cast<int>(k) + 1);
    }
    // Every part of the file is written before its source is let go.
    Tell(true, &bar);
    if (walk.readFailed) {
      console_.Report(file, Job::ReadFailure(source));
      failed_ = true;
    }
  }

  // Writes the parts a cut list names for a recording.
  void Cuts(Recording& recording, const std::vector<PlannedPart>& parts) {
    const int count = static_cast<int>(parts.size());
    for (std::size_t k = 0; k < parts.size() && !console_.Stopped(); ++k) {
      Add(recording, {parts[k].span.start, parts[k].span.end, parts[k].name,
                      static_cast<int>(k) + 1, count, std::nullopt});
      Tell(false);
    }
    Tell(true);
  }

 private:
  void Add(Recording& recording, const formats::PartPlan::Part& part) {
    Task task;
    task.recording = &recording;
    task.part = part;
    task.shown = batch::JoinPath(shownFolder_, part.name);
    writer_.Add(std::move(task));
  }

  // Prints what the writers have done: the names written, the parts refused.
  void Tell(bool all, detect::Progress* progress = nullptr) {
    for (const Task& task : writer_.Done(all, progress)) {
      if (task.error == wave::ErrorCode::Stopped) continue;
      if (task.error) {
        console_.Report(task.shown, task.error);
        failed_ = true;
        continue;
      }
      // A closed or full stdout stops the listing of names, never the parts.
      if (!job_.options.quiet && listing_) {
        console_.out() << Printable(task.shown) << '\n';
        listing_ = console_.Deliver();
        outputFailed_ = !listing_ && !console_.OutClosed();
      }
    }
  }

  Job& job_;
  Console& console_;
  std::string shownFolder_;
  const TrackNames& names_;
  std::vector<PartNames> titles_;  // from --names, one a part
  wave::Folder& folder_;
  Writer writer_;
  bool failed_ = false;
  bool listing_ = true;
  bool outputFailed_ = false;
};

// split --cuts: every recording's parts settled and checked before the
// first is written, so that a list that does not fit writes nothing. Each
// recording is opened to be checked, and again to be split, so that no
// more of them are open at once than in any split.
int SplitByCuts(Job& job, wave::Folder& folder, SplitRun& run) {
  const std::string& cuts = job.options.cuts;
  const std::string shown = cuts == "-" ? "stdin" : cuts;
  std::string text;
  CutList list;
  std::string error = ReadListFile(cuts, "a cut list", text);
  if (error.empty()) error = ParseCutList(text, list);
  if (!error.empty()) {
    job.console.Report(shown, error);
    return kExitFailed;
  }
  struct Planned {
    std::string file;
    wave::SourceInfo info;
    std::vector<PlannedPart> parts;
  };
  std::vector<Planned> planned;
  std::map<std::string, std::string> names;  // each part's name, and whose part it is
  bool failed = false;
  for (const std::string& file : job.options.files) {
    if (job.console.Stopped()) return job.console.StopStatus();
    Planned plan{file, {}, {}};
    {
      Recording recording;
      if (!run.Open(file, recording)) {
        failed = true;
        continue;
      }
      plan.info = recording.source->Info();
      error = ResolveCuts(list, file, job.options.files.size(), plan.info,
                          recording.plan.Extension(), plan.parts);
    }
    for (std::size_t k = 0; error.empty() && k < plan.parts.size(); ++k) {
      const std::string& name = plan.parts[k].name;
      const auto [at, added] = names.emplace(name, file);
      if (!added) {
        error = "two parts are named \"" + Printable(name) + "\"" +
                (at->second == file ? "" : " (one of " + Printable(at->second) + ")");
      }
      const std::string why = run.Kept().ReasonFor(folder, name);
      if (error.empty() && !why.empty()) {
        error = "part \"" + Printable(name) + "\" would replace " + why;
      }
    }
    if (!error.empty()) {
      job.console.Report(file, shown + ": " + error);
      failed = true;
      continue;
    }
    planned.push_back(std::move(plan));
  }
  if (failed) {
    job.console.Report("split", "nothing written: the cut list does not fit the recordings");
    return kExitFailed;
  }
  if (list.format == CutFormat::Cue && !job.options.quiet) {
    job.console.Report(shown,
                       "a cue sheet gives times to 1/75 s; each part runs from its track's "
                       "INDEX 01 to the next track's, the last to the end of the recording");
  }
  bool changed = false;
  for (const Planned& plan : planned) {
    if (job.console.Stopped()) break;
    Recording recording;
    if (!run.Open(plan.file, recording)) continue;
    const wave::SourceInfo& info = recording.source->Info();
    if (info.frames != plan.info.frames || info.rate != plan.info.rate ||
        info.channels != plan.info.channels) {
      job.console.Report(plan.file, "changed while the run went on: not split");
      changed = true;
      continue;
    }
    run.Cuts(recording, plan.parts);
  }
  return job.Status(run.failed() || changed);
}

}  // namespace

int Split(Job& job) {
  if (job.options.Streamed()) return SplitStream(job);
  wave::Error error;
  const std::string destination = job.options.outputDir.empty() ? "." : job.options.outputDir;
  std::unique_ptr<wave::Folder> folder = wave::Folder::Open(job.files, destination, error);
  if (!folder) {
    job.console.Report(destination, "No such folder for the parts! (" + error.detail + ")");
    return kExitFailed;
  }
  TrackNames names;
  if (!ReadTrackNames(job, names)) return kExitFailed;
  SplitRun run(job, *folder, names);
  if (!job.options.cuts.empty()) return SplitByCuts(job, *folder, run);
  for (const std::string& file : job.options.files) {
    if (job.console.Stopped()) break;
    run.File(file);
  }
  return job.Status(run.failed());
}

}  // namespace corvella::cli
