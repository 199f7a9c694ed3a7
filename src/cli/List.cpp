// `list`: the parts split would write, with their peaks, in one of the
// listing formats.
#include <filesystem>

#include "batch/OutputName.h"
#include "batch/PartWalk.h"
#include "batch/Plan.h"
#include "cli/Commands.h"
#include "cli/Listing.h"
#include "detect/Levels.h"

namespace corvella::cli {

int List(Job& job) {
  const Options& options = job.options;
  Console& console = job.console;
  bool failed = false;
  std::vector<ListedFile> listed;
  const detect::DetectParams params = options.Detection();
  const std::string folder = job.ShownFolder();
  for (const std::string& file : options.files) {
    if (console.Stopped()) break;
    ListedFile entry;
    entry.file = file;
    entry.noiseFloor = params.noiseFloor;
    entry.gapThreshold = params.gapThreshold;
    entry.minPart = options.minPart;
    entry.padBefore = options.padBefore;
    entry.padAfter = options.padAfter;
    Console::Bar bar(console, file);
    wave::Error refusal;
    std::unique_ptr<wave::Source> source = job.Open(file, &refusal);
    if (!source) {
      entry.error = wave::MessageOf(refusal);
      failed = true;
      listed.push_back(std::move(entry));
      continue;
    }
    entry.channels = source->Info().channels;
    entry.rate = source->Info().rate;
    entry.frames = source->Info().frames;
    detect::Scanner scanner(*source, params, bar);
    batch::WalkResult walk;
    auto parts = batch::PlanParts(batch::FindParts(scanner, walk), entry.frames, options.Plan(entry.rate));
    const wave::Error error = walk.readFailed ? wave::ErrorCode::UnableToRead
                              : walk.stopped  ? wave::ErrorCode::Stopped
                                              : detect::MeasurePeaks(*source, parts);
    if (error) {
      // A file that could not be measured whole lists no parts at all.
      if (error != wave::ErrorCode::Stopped) console.Report(file, error);
      entry.error = wave::MessageOf(error);
      failed = true;
    } else {
      const std::string name = std::filesystem::path(file).filename().string();
      for (std::size_t k = 0; k < parts.size(); ++k) {
        const int number = static_cast<int>(k) + 1;
        entry.parts.push_back({number, parts[k], batch::BuildOutputPath(folder, name, number)});
      }
    }
    listed.push_back(std::move(entry));
  }
  if (console.Stopped()) return console.StopStatus();
  const std::string refused = ListingRefusal(options.Format(), listed);
  if (!refused.empty()) {
    console.Report("list", refused);
    return kExitFailed;
  }
  WriteListing(console.out(), options.Format(), listed);
  if (!console.Deliver()) return console.OutputStatus();
  return job.Status(failed);
}

}  // namespace corvella::cli
