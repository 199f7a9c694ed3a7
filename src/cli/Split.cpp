// `split`: every part of every recording as NAME_001.wav, NAME_002.wav, ...
// in one destination folder, each name printed once its file is complete.
// No part replaces a source of the run or a part written earlier in it.
#include <filesystem>

#include "batch/OutputName.h"
#include "batch/PartWalk.h"
#include "batch/Plan.h"
#include "cli/Commands.h"
#include "wave/PartWriter.h"

namespace corvella::cli {
namespace {

class SplitRun {
 public:
  SplitRun(Job& job, wave::Folder& folder) : job_(job), console_(job.console), folder_(folder) {
    shownFolder_ = job.ShownFolder();
    for (const std::string& file : job.options.files) {
      const wave::FileId id = job.files.InspectPath(file).id;
      if (id.Known()) keep_.push_back({id, "a source of this run"});
    }
  }

  // A part refused or not written, or stdout failing for another reason
  // than a closed pipe.
  bool failed() const { return failed_ || outputFailed_; }

  void File(const std::string& file) {
    Console::Bar bar(console_, file);
    std::unique_ptr<wave::WaveSource> source = job_.Open(file);
    if (!source) {
      failed_ = true;
      return;
    }
    const Options& options = job_.options;
    const std::string name = std::filesystem::path(file).filename().string();
    auto write = [&](const detect::PartSpan& part, int number) {
      Write(*source, name, part, number);
    };
    detect::Scanner scanner(*source, options.Detection(), bar);
    batch::WalkResult walk;
    if (!options.Planned()) {
      walk = batch::WalkParts(scanner, write);
    } else {
      const auto found = batch::FindParts(scanner, walk);
      const auto parts =
          batch::PlanParts(found, source->Info().frames, options.Plan(source->Info().rate));
      for (std::size_t k = 0; !walk.readFailed && k < parts.size() && !console_.Stopped(); ++k) {
        bar.Report(static_cast<int>(k * 100 / parts.size()));
        write(parts[k], static_cast<int>(k) + 1);
      }
    }
    if (walk.readFailed) {
      console_.Report(file, wave::ErrorCode::UnableToRead);
      failed_ = true;
    }
  }

 private:
  void Write(wave::WaveSource& source, const std::string& sourceName, const detect::PartSpan& part,
             int number) {
    const std::string name = batch::PartFileName(sourceName, number);
    const std::string shown = batch::JoinPath(shownFolder_, name);
    wave::WriteOptions write;
    write.mono = job_.options.mono;
    write.keepMetadata = job_.options.keepMetadata;
    write.keep = &keep_;
    write.stopRequested = [this] { return console_.Stopped(); };
    wave::FileId id;
    const wave::Error error =
        wave::WritePart(source, part.start, part.end, folder_, name, write, &id);
    if (error == wave::ErrorCode::Stopped) return;
    if (error) {
      console_.Report(shown, error);
      failed_ = true;
      return;
    }
    keep_.push_back({id, "written earlier in this run"});
    // A closed or full stdout stops the listing of names, never the parts.
    if (!job_.options.quiet && listing_) {
      console_.out() << Printable(shown) << '\n';
      listing_ = console_.Deliver();
      outputFailed_ = !listing_ && !console_.OutClosed();
    }
  }

  Job& job_;
  Console& console_;
  wave::Folder& folder_;
  std::string shownFolder_;
  wave::KeptFiles keep_;
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
