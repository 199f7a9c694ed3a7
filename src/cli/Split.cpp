// `split`: every part of every recording as NAME_001.wav, NAME_002.wav, ...
// in one destination folder, each name printed once its file is complete.
// No part replaces a source of the run or a part written earlier in it.
//
// The parts are written on a second thread while the scanner goes on
// looking for the next ones, so the copying (which the kernel does) and the
// judging overlap. The writer takes the parts in order; what it did is told
// back to the first thread, which alone speaks to the console.
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>

#include "batch/OutputName.h"
#include "batch/PartWalk.h"
#include "batch/Plan.h"
#include "cli/Commands.h"
#include "sndfile/SndWriter.h"
#include "wave/PartWriter.h"

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

// Writes parts, in the order given, on a thread of its own.
class Writer {
 public:
  Writer(Job& job, wave::Folder& folder) : job_(job), folder_(folder), thread_([this] { Run(); }) {
    for (const std::string& file : job.options.files) {
      const wave::FileId id = job.files.InspectPath(file).id;
      if (id.Known()) keep_.push_back({id, "a source of this run"});
    }
  }
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
      task.error = sndfile::WritePart(*task.source, task.part.start, task.part.end, folder_, task.name,
                                      options, &id);
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

  void File(const std::string& file) {
    Console::Bar bar(console_, file);
    std::unique_ptr<wave::Source> source = job_.Open(file);
    if (!source) {
      failed_ = true;
      return;
    }
    const Options& options = job_.options;
    const std::string name = std::filesystem::path(file).filename().string();
    // WAV parts of a WAV source are Corvella's own; the rest libsndfile's.
    const auto* snd = dynamic_cast<const sndfile::SndSource*>(source.get());
    int format = 0;
    if (snd || options.to == "flac") {
      const wave::Error refusal = sndfile::PartFormat(source->Info(), snd ? snd->Format() : 0,
                                                      snd && snd->Lossy(), options.to, format);
      if (refusal) {
        console_.Report(file, refusal);
        failed_ = true;
        return;
      }
    }
    const std::string extension = options.to.empty() ? "" : "." + options.to;
    int tracks = 0;  // known before writing where parts are tagged with their count
    auto write = [&](const detect::PartSpan& part, int number) {
      const std::string partName = batch::PartFileName(name, number, extension);
      writer_.Add({source.get(), part, partName, batch::JoinPath(shownFolder_, partName), format, number,
                   tracks, snd ? snd->tags() : sndfile::Tags{}, {}});
    };
    // Parts are found first, and written after, where they are tagged with
    // their count, and where the source is a decoder that the writer and the
    // scanner cannot share.
    const bool first = (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC || source->Sequential();
    // The bar, and the names of the parts written meanwhile, once a block.
    struct Progress final : detect::Progress {
      SplitRun& run;
      Console::Bar& bar;
      Progress(SplitRun& r, Console::Bar& b) : run(r), bar(b) {}
      void Report(int percent) override { bar.Report(percent); }
      void Pump() override { run.Tell(false); }
      bool StopRequested() override { return bar.StopRequested(); }
    } progress(*this, bar);
    detect::Scanner scanner(*source, options.Detection(), progress);
    batch::WalkResult walk;
    if (!options.Planned() && !first) {
      walk = batch::WalkParts(scanner, write);
    } else {
      const auto found = batch::FindParts(scanner, walk);
      const auto parts =
          batch::PlanParts(found, source->Info().frames, options.Plan(source->Info().rate));
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

 private:
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
  for (const std::string& file : job.options.files) {
    if (job.console.Stopped()) break;
    run.File(file);
  }
  return job.Status(run.failed());
}

}  // namespace corvella::cli
