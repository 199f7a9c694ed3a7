// `split`: every part of every recording as NAME_001.wav, NAME_002.wav, ...
// in one destination folder, each name printed once its file is complete.
#include <filesystem>

#include "batch/OutputName.h"
#include "batch/PartWalk.h"
#include "batch/Plan.h"
#include "cli/Commands.h"
#include "cli/Session.h"
#include "wave/PartWriter.h"

namespace corvella::cli {
namespace {

class SplitRun {
 public:
  SplitRun(const Options& options, Console& console, wave::Folder& folder)
      : options_(options), console_(console), folder_(folder) {}

  // A part refused or not written, or stdout failing for another reason
  // than a closed pipe.
  bool failed() const { return failed_ || outputFailed_; }

  void File(const std::string& file) {
    Console::Bar bar(console_, file);
    std::unique_ptr<wave::WaveSource> source = OpenSource(console_, file);
    if (!source) {
      failed_ = true;
      return;
    }
    const std::string name = std::filesystem::path(file).filename().string();
    auto write = [&](const detect::PartSpan& part, int number) {
      Write(*source, name, part, number);
    };
    detect::Scanner scanner(*source, options_.Detection(), bar);
    batch::WalkResult walk;
    if (!options_.Planned()) {
      walk = batch::WalkParts(scanner, write);
    } else {
      const auto found = batch::FindParts(scanner, walk);
      const auto parts =
          batch::PlanParts(found, source->Info().frames, options_.Plan(source->Info().rate));
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
    const std::string shown = batch::JoinPath(options_.outputDir, name);
    wave::WriteOptions write;
    write.mono = options_.mono;
    write.stopRequested = [this] { return console_.Stopped(); };
    const wave::Error error = wave::WritePart(source, part.start, part.end, folder_, name, write);
    if (error == wave::ErrorCode::Stopped) return;
    if (error) {
      console_.Report(shown, error);
      failed_ = true;
      return;
    }
    // A closed or full stdout stops the listing of names, never the parts.
    if (!options_.quiet && listing_) {
      console_.out() << Printable(shown) << '\n';
      listing_ = console_.Deliver();
      outputFailed_ = !listing_ && !console_.OutClosed();
    }
  }

  const Options& options_;
  Console& console_;
  wave::Folder& folder_;
  bool failed_ = false;
  bool listing_ = true;
  bool outputFailed_ = false;
};

}  // namespace

int Split(const Options& options, Console& console) {
  wave::Error error;
  const std::string destination = options.outputDir.empty() ? "." : options.outputDir;
  std::unique_ptr<wave::Folder> folder =
      wave::Folder::Open(wave::PlatformFiles(), destination, error);
  if (!folder) {
    console.Report(destination, "No such folder for the parts! (" + error.detail + ")");
    return kExitFailed;
  }
  SplitRun run(options, console, *folder);
  for (const std::string& file : options.files) {
    if (console.Stopped()) break;
    run.File(file);
  }
  return ExitStatus(console, run.failed());
}

}  // namespace corvella::cli
