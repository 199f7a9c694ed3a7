// `count`: how many parts each recording holds, in the window's words.
#include "cli/Commands.h"
#include "cli/Finding.h"

namespace corvella::cli {

int Count(Job& job) {
  const Options& options = job.options;
  Console& console = job.console;
  bool failed = false;
  split::TrackList list;
  if (!ReadTrackList(job, list)) return kExitFailed;
  for (const std::string& file : options.files) {
    if (console.Stopped()) break;
    split::Found found;
    wave::Error error;
    {
      Console::Bar bar(console, file);
      std::unique_ptr<wave::Source> source = job.Open(file, &error);
      if (source) {
        error = Find(job, file, *source, RequestFor(options, list, file), bar, found);
        // The titles are only checked against the count where they do not
        // set it.
        if (error == wave::ErrorCode::TitlesMismatch && options.tracks) error = {};
      } else {
        failed = true;
        continue;
      }
    }
    if (console.Stopped()) break;
    const bool counted = !error || error == wave::ErrorCode::TitlesMismatch;
    if (error && error != wave::ErrorCode::Stopped) {
      console.Report(file, error);
      failed = true;
    }
    // A file that could not be read whole has no count to give.
    if (!counted) continue;
    const int parts = static_cast<int>(found.parts.size());
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
