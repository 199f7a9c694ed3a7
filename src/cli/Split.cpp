// `split`: every part of every recording as NAME_001.wav, NAME_002.wav, ...
// in one destination folder, each name printed once its file is complete.
// No part replaces a source of the run or a part written earlier in it.
//
// The parts are written on a second thread while the scanner goes on
// looking for the next ones, so the copying (which the kernel does) and the
// judging overlap. The writer takes the parts in order; what it did is told
// back to the first thread, which alone speaks to the console.
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <thread>

#include <unistd.h>

#include "batch/OutputName.h"
#include "batch/PartWalk.h"
#include "batch/Plan.h"
#include "cli/Commands.h"
#include "cli/CutList.h"
#include "cli/Text.h"
#include "sndfile/SndWriter.h"
#include "wave/PartWriter.h"
#include "wave/WaveSource.h"

namespace corvella::cli {
namespace {

// One part to write, and once written, what became of it.
struct Task {
  wave::Source* source;
  detect::PartSpan part;
  std::string name;   // in the destination folder
  std::string shown;  // as printed
  // How: Corvella's own WAV writer (0), or libsndfile's in this format,
  // tagged as part `track` of `tracks`.
  int format = 0;
  int track = 0;
  int tracks = 0;
  sndfile::Tags tags;
  wave::Error error;
};

// The files no part of the run may replace: its sources, and its cut list
// (also when it comes through stdin from a file).
wave::KeptFiles KeptByRun(Job& job) {
  wave::KeptFiles keep;
  for (const std::string& file : job.options.files) {
    const wave::FileId id = job.files.InspectPath(file).id;
    if (id.Known()) keep.push_back({id, "a source of this run"});
  }
  const std::string& cuts = job.options.cuts;
  const wave::FileId id = cuts.empty()  ? wave::FileId{}
                          : cuts == "-" ? job.files.IdOf(STDIN_FILENO)
                                        : job.files.InspectPath(cuts).id;
  if (id.Known()) keep.push_back({id, "the cut list of this run"});
  return keep;
}

// Writes parts, in the order given, on a thread of its own.
class Writer {
 public:
  Writer(Job& job, wave::Folder& folder)
      : job_(job), folder_(folder), keep_(KeptByRun(job)), thread_([this] { Run(); }) {}
  ~Writer() {
    {
      std::lock_guard lock(mutex_);
      closing_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  void Add(Task task) {
    {
      std::lock_guard lock(mutex_);
      waiting_.push_back(std::move(task));
    }
    wake_.notify_all();
  }
  // The parts written (or refused) since the last call, in order; with
  // `all`, after waiting for every part given so far.
  std::deque<Task> Done(bool all) {
    std::unique_lock lock(mutex_);
    if (all) wake_.wait(lock, [this] { return waiting_.empty() && !busy_; });
    return std::exchange(done_, {});
  }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return closing_ || !waiting_.empty(); });
      if (waiting_.empty()) return;
      Task task = std::move(waiting_.front());
      waiting_.pop_front();
      busy_ = true;
      lock.unlock();
      Write(task);
      lock.lock();
      busy_ = false;
      done_.push_back(std::move(task));
      wake_.notify_all();
    }
  }

  void Write(Task& task) {
    if (job_.console.Stopped()) {
      task.error = wave::ErrorCode::Stopped;
      return;
    }
    wave::FileId id;
    auto stop = [this] { return job_.console.Stopped(); };
    if (task.format == 0) {
      wave::WriteOptions options;
      options.mono = job_.options.mono;
      options.keepMetadata = job_.options.keepMetadata;
      options.keep = &keep_;
      options.stopRequested = stop;
      task.error = wave::WritePart(static_cast<wave::WaveSource&>(*task.source), task.part.start,
                                   task.part.end, folder_, task.name, options, &id);
    } else {
      sndfile::SndWriteOptions options;
      options.format = task.format;
      options.mono = job_.options.mono;
      options.keep = &keep_;
      options.stopRequested = stop;
      options.title = batch::SplitFileName(task.name).stem;
      options.track = task.track;
      options.tracks = task.tracks;
      options.tags = task.tags;
      task.error = sndfile::WritePart(*task.source, task.part.start, task.part.end, folder_,
                                      task.name, options, &id);
    }
    if (!task.error) keep_.push_back({id, "written earlier in this run"});
  }

  Job& job_;
  wave::Folder& folder_;
  wave::KeptFiles keep_;  // the writer's own
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> waiting_, done_;
  bool busy_ = false;
  bool closing_ = false;
  std::thread thread_;
};

class SplitRun {
 public:
  SplitRun(Job& job, wave::Folder& folder)
      : job_(job), console_(job.console), shownFolder_(job.ShownFolder()), writer_(job, folder) {}

  // A part refused or not written, or stdout failing for another reason
  // than a closed pipe.
  bool failed() const { return failed_ || outputFailed_; }

  // A recording opened, with how its parts are to be written.
  struct Opened {
    std::string file;
    std::unique_ptr<wave::Source> source;
    const sndfile::SndSource* snd = nullptr;
    int format = 0;         // 0 for Corvella's own WAV writer, else libsndfile's format
    sndfile::Tags tags;     // for FLAC parts
    std::string extension;  // of the parts, where --to sets it
  };

  // Opens a recording and settles how its parts are written; false after
  // reporting why it cannot be split.
  bool Open(const std::string& file, Opened& opened) {
    opened.file = file;
    opened.source = job_.Open(file);
    if (!opened.source) {
      failed_ = true;
      return false;
    }
    const Options& options = job_.options;
    // WAV parts of a WAV source are Corvella's own; the rest libsndfile's.
    opened.snd = dynamic_cast<const sndfile::SndSource*>(opened.source.get());
    if (opened.snd || options.to == "flac") {
      const wave::Error refusal =
          sndfile::PartFormat(opened.source->Info(), opened.snd ? opened.snd->Format() : 0,
                              opened.snd && opened.snd->Lossy(), options.to, opened.format);
      if (refusal) {
        console_.Report(file, refusal);
        failed_ = true;
        return false;
      }
      // The tags libsndfile's parts carry.
      if (opened.snd) {
        opened.tags = opened.snd->tags();
      } else if (auto* wave = dynamic_cast<wave::WaveSource*>(opened.source.get())) {
        opened.tags = sndfile::TagsOfWave(*wave);
      }
      // Vorbis comments are UTF-8; INFO text from older programs is Latin-1.
      for (std::string* tag : {&opened.tags.artist, &opened.tags.album, &opened.tags.date,
                               &opened.tags.genre, &opened.tags.comment}) {
        if (!IsUtf8(*tag)) *tag = Latin1ToUtf8(*tag);
      }
    }
    opened.extension = options.to.empty() ? "" : "." + options.to;
    return true;
  }

  // Finds the parts of a recording and writes them.
  void File(const std::string& file) {
    Console::Bar bar(console_, file);
    Opened opened;
    if (!Open(file, opened)) return;
    const Options& options = job_.options;
    wave::Source& source = *opened.source;
    const std::string name = std::filesystem::path(file).filename().string();
    int tracks = 0;  // known before writing where parts are tagged with their count
    auto write = [&](const detect::PartSpan& part, int number) {
      Add(opened, part, batch::PartFileName(name, number, opened.extension), number, tracks);
    };
    // Parts are found first, and written after, where they are tagged with
    // their count, and where the source is a decoder that the writer and the
    // scanner cannot share.
    const bool first =
        (opened.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC || source.Sequential();
    // The bar, and the names of the parts written meanwhile, once a block.
    struct Progress final : detect::Progress {
      SplitRun& run;
      Console::Bar& bar;
      Progress(SplitRun& r, Console::Bar& b) : run(r), bar(b) {}
      void Report(int percent) override { bar.Report(percent); }
      void Pump() override { run.Tell(false); }
      bool StopRequested() override { return bar.StopRequested(); }
    } progress(*this, bar);
    detect::Scanner scanner(source, options.Detection(), progress);
    batch::WalkResult walk;
    if (!options.Planned() && !first) {
      walk = batch::WalkParts(scanner, write);
    } else {
      const auto found = batch::FindParts(scanner, walk);
      const auto parts =
          batch::PlanParts(found, source.Info().frames, options.Plan(source.Info().rate));
      tracks = static_cast<int>(parts.size());
      for (std::size_t k = 0; !walk.readFailed && k < parts.size() && !console_.Stopped(); ++k) {
        write(parts[k], static_cast<int>(k) + 1);
      }
    }
    // Every part of the file is written before its source is let go.
    Tell(true);
    if (walk.readFailed) {
      console_.Report(file, wave::ErrorCode::UnableToRead);
      failed_ = true;
    }
  }

  // Writes the parts a cut list names for a recording.
  void Cuts(Opened& opened, const std::vector<PlannedPart>& parts) {
    const int tracks = static_cast<int>(parts.size());
    for (std::size_t k = 0; k < parts.size() && !console_.Stopped(); ++k) {
      Add(opened, parts[k].span, parts[k].name, static_cast<int>(k) + 1, tracks);
      Tell(false);
    }
    Tell(true);
  }

 private:
  void Add(const Opened& opened, const detect::PartSpan& part, const std::string& name, int number,
           int tracks) {
    writer_.Add({opened.source.get(),
                 part,
                 name,
                 batch::JoinPath(shownFolder_, name),
                 opened.format,
                 number,
                 tracks,
                 opened.tags,
                 {}});
  }

  // Prints what the writer has done: the names written, the parts refused.
  void Tell(bool all) {
    for (const Task& task : writer_.Done(all)) {
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
  Writer writer_;
  bool failed_ = false;
  bool listing_ = true;
  bool outputFailed_ = false;
};

// Reads the cut list named by --cuts ("-": stdin); "" or why not.
std::string ReadCutList(const std::string& path, std::string& text) {
  // Far more than any list of parts; a bound on what a mistaken file costs.
  constexpr std::size_t kLargest = 64 << 20;
  std::ifstream file;
  std::istream* in = &std::cin;
  if (path != "-") {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) return wave::ReasonOf(EISDIR);
    file.open(path, std::ios::binary);
    if (!file) return wave::ReasonOf(errno);
    in = &file;
  }
  std::string block(65536, '\0');
  while (*in) {
    in->read(block.data(), static_cast<std::streamsize>(block.size()));
    text.append(block, 0, static_cast<std::size_t>(in->gcount()));
    if (text.size() > kLargest) return "larger than 64 MiB: not a cut list";
  }
  if (in->bad()) return "unable to read it";
  return "";
}

// split --cuts: every recording's parts settled and checked before the
// first is written, so that a list that does not fit writes nothing. Each
// recording is opened to be checked, and again to be split, so that no
// more of them are open at once than in any split.
int SplitByCuts(Job& job, wave::Folder& folder, SplitRun& run) {
  const std::string& cuts = job.options.cuts;
  const std::string shown = cuts == "-" ? "stdin" : cuts;
  std::string text;
  CutList list;
  std::string error = ReadCutList(cuts, text);
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
  const wave::KeptFiles kept = KeptByRun(job);
  std::map<std::string, std::string> names;  // each part's name, and whose part it is
  bool failed = false;
  for (const std::string& file : job.options.files) {
    if (job.console.Stopped()) return job.console.StopStatus();
    Planned plan{file, {}, {}};
    {
      SplitRun::Opened opened;
      if (!run.Open(file, opened)) {
        failed = true;
        continue;
      }
      plan.info = opened.source->Info();
      error = ResolveCuts(list, file, job.options.files.size(), plan.info, opened.extension,
                          plan.parts);
    }
    for (std::size_t k = 0; error.empty() && k < plan.parts.size(); ++k) {
      const std::string& name = plan.parts[k].name;
      const auto [at, added] = names.emplace(name, file);
      if (!added) {
        error = "two parts are named \"" + Printable(name) + "\"" +
                (at->second == file ? "" : " (one of " + Printable(at->second) + ")");
      }
      const wave::FileId id = folder.Inspect(name).id;
      for (const auto& [keptId, why] : kept) {
        if (error.empty() && id.Known() && id == keptId) {
          error = "part \"" + Printable(name) + "\" would replace " + why;
        }
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
    SplitRun::Opened opened;
    if (!run.Open(plan.file, opened)) continue;
    const wave::SourceInfo& info = opened.source->Info();
    if (info.frames != plan.info.frames || info.rate != plan.info.rate ||
        info.channels != plan.info.channels) {
      job.console.Report(plan.file, "changed while the run went on: not split");
      changed = true;
      continue;
    }
    run.Cuts(opened, plan.parts);
  }
  return job.Status(run.failed() || changed);
}

}  // namespace

int Split(Job& job) {
  wave::Error error;
  const std::string destination = job.options.outputDir.empty() ? "." : job.options.outputDir;
  std::unique_ptr<wave::Folder> folder = wave::Folder::Open(job.files, destination, error);
  if (!folder) {
    job.console.Report(destination, "No such folder for the parts! (" + error.detail + ")");
    return kExitFailed;
  }
  SplitRun run(job, *folder);
  if (!job.options.cuts.empty()) return SplitByCuts(job, *folder, run);
  for (const std::string& file : job.options.files) {
    if (job.console.Stopped()) break;
    run.File(file);
  }
  return job.Status(run.failed());
}

}  // namespace corvella::cli
