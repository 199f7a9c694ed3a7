// `count`: how many parts each recording holds, in the window's words.
#include "cli/Commands.h"
#include "cli/Finding.h"
#include "cli/Listing.h"

namespace corvella::cli {

int Count(Job& job) {
  const Options& options = job.options;
  Console& console = job.console;
  bool failed = false;
  split::TrackList list;
  if (!ReadTrackList(job, list)) return kExitFailed;
  // With --format json, one object a recording: its count, or why not.
  const bool json = options.Format() == ListFormat::Json;
  JsonArray array(console.out());
  const auto refused = [&](const std::string& file, const wave::Error& error) {
    if (json) {
      array.Add("{" + JsonPath("file", file) + ", " + JsonError(error) + "}");
    }
  };
  const auto finish = [&](int status) {
    if (json) {
      array.End();
      if (!console.Deliver()) return console.OutputStatus();
    }
    return status;
  };
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
        refused(file, error);
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
    if (!counted) {
      refused(file, error);
      continue;
    }
    const int parts = static_cast<int>(found.parts.size());
    const std::string name = Printable(file);
    if (json) {
      // A count that does not match the track list is given with the mismatch.
      array.Add("{" + JsonPath("file", file) + ", \"parts\": " + std::to_string(parts) +
                (error ? ", " + JsonError(error) : std::string()) + "}");
    } else if (parts < 1) {
      console.out() << "No parts in file \"" << name << "\" found!\n";
    } else {
      console.out() << "File \"" << name << "\" contains " << parts << " parts!\n";
    }
    if (!console.Deliver()) return console.OutputStatus();
  }
  if (console.Stopped()) return finish(console.StopStatus());
  return finish(job.Status(failed));
}

}  // namespace corvella::cli
