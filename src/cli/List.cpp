// `list`: the parts split would write, with their peaks, in one of the
// listing formats.
#include "batch/OutputName.h"
#include "cli/Commands.h"
#include "cli/Finding.h"
#include "cli/Listing.h"
#include "cli/Picture.h"
#include "detect/Units.h"
#include "messages/Messages.h"

namespace corvella::cli {

int List(Job& job) {
  const Options& options = job.options;
  Console& console = job.console;
  bool failed = false;
  std::vector<ListedFile> listed;
  const detect::DetectParams params = options.Detection();
  const std::string folder = job.ShownFolder();
  const bool drawn = options.Format() == ListFormat::Svg || options.Format() == ListFormat::Html;
  split::TrackList list;
  if (!ReadTrackList(job, list)) return kExitFailed;
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
    wave::Error error;
    std::unique_ptr<wave::Source> source = job.Open(file, &error);
    if (!source) {
      entry.error = messages::MessageOf(error);
      if (!messages::InOwnWords(error.code)) entry.reason = error.detail;
      failed = true;
      listed.push_back(std::move(entry));
      continue;
    }
    entry.channels = source->Info().channels;
    entry.rate = source->Info().rate;
    entry.frames = source->Info().frames;
    split::Request request = RequestFor(options, list, file);
    request.peaks = true;
    if (drawn) request.pictureColumns = kPictureColumns;
    request.gapGiven = options.gapGiven;
    split::Found found;
    error = Find(job, file, *source, request, bar, found);
    if (found.choice && found.choice->found) {
      entry.tracksFloorDb = found.choice->floorDb;
      entry.noiseFloor = detect::NoiseFloorFromDb(found.choice->floorDb);
    }
    entry.picture = std::move(found.picture);
    if (error) {
      // A file that could not be measured whole lists no parts at all.
      if (error != wave::ErrorCode::Stopped) console.Report(file, error);
      entry.error = messages::MessageOf(error);
      if (!messages::InOwnWords(error.code)) entry.reason = error.detail;
      failed = true;
    } else {
      for (const split::Part& part : found.parts) {
        ListedPart shown{part.number, part.span, batch::JoinPath(folder, part.name), {}, {}};
        if (part.track) {
          shown.title = part.track->title;
          shown.artist = part.track->artist;
        }
        entry.parts.push_back(std::move(shown));
      }
      if (!request.titles.empty()) {
        entry.artist = options.artist.value_or(list.artist);
        entry.album = request.titles.front().album;
        entry.date = request.titles.front().date;
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
