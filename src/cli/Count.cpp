// `count`: how many parts each recording holds, in the window's words.
#include "batch/PartWalk.h"
#include "batch/Plan.h"
#include "cli/Commands.h"
#include "cli/Tracks.h"

namespace corvella::cli {

int Count(Job& job) {
  const Options& options = job.options;
  Console& console = job.console;
  bool failed = false;
  TrackNames names;
  if (!ReadTrackNames(job, names)) return kExitFailed;
  for (const std::string& file : options.files) {
    if (console.Stopped()) break;
    int parts = 0;
    bool counted = false;
    {
      Console::Bar bar(console, file);
      std::unique_ptr<wave::Source> source = job.Open(file);
      failed = failed || !source;
      if (source && options.tracks) {
        FoundTracks found;
        std::string refusal;
        counted = FindTracks(job, file, *source, bar, TracksWanted(options, names), found, refusal);
        parts = static_cast<int>(found.tracks.parts.size());
        failed = failed || !counted;
      } else if (source) {
        detect::Scanner scanner(*source, options.Detection(), bar);
        batch::WalkResult walk;
        if (options.Planned()) {
          const auto found = batch::FindParts(scanner, walk);
          const auto planned =
              batch::PlanParts(found, source->Info().frames, options.Plan(source->Info().rate));
          parts = walk.readFailed || walk.stopped ? 0 : static_cast<int>(planned.size());
        } else {
          walk = batch::WalkParts(scanner, [](const detect::PartSpan&, int) {});
          parts = walk.parts;
        }
        if (walk.readFailed) console.Report(file, Job::ReadFailure(*source));
        failed = failed || walk.readFailed;
        counted = !walk.readFailed;
      }
    }
    if (console.Stopped()) break;
    // A file that could not be read whole has no count to give.
    if (!counted) continue;
    if (!options.names.empty() && !options.tracks) {
      if (const std::string error =
              TitleMismatch(names.tracks.size(), static_cast<std::size_t>(parts));
          !error.empty()) {
        console.Report(file, error);
        failed = true;
      }
    }
    const std::string name = Printable(file);
    if (parts < 1) {
      console.out() << "No parts in file \"" << name << "\" found!\n";
    } else {
      console.out() << "File \"" << name << "\" contains " << parts << " parts!\n";
    }
    if (!console.Deliver()) return console.OutputStatus();
  }
  return job.Status(failed);
}

}  // namespace corvella::cli
