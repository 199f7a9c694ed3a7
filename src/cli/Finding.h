// What the commands share to find a recording's parts: the request made from
// the options, the track list of --names read once for the run, and what the
// finding says put in the command line's words.
#pragma once

#include <string>
#include <vector>

#include "cli/Job.h"
#include "split/Find.h"
#include "split/TrackList.h"

namespace corvella::cli {

// The track list of --names (none without it), read once for the run;
// false after saying why it cannot be used ("corvella-cli: LIST: why").
bool ReadTrackList(Job& job, split::TrackList& list);

// What the options ask of the recording at `path`, its parts named with
// `extension` where it is not the recording's own.
split::Request RequestFor(const Options& options, const split::TrackList& list,
                          const std::string& path, const std::string& extension = "");

// An error of the finding with the command line's words for it: the tracks
// a recording does not hold, or titles that do not fit its parts.
wave::Error Worded(const wave::Error& error, const Options& options, const split::Request& request,
                   const split::Found& found);

// Finds the parts of `source` and says on stderr what the user should know
// besides: a choice of tracks another silence could have made.
wave::Error Find(Job& job, const std::string& file, wave::Source& source,
                 const split::Request& request, detect::Progress& progress, split::Found& found,
                 const split::PartSink& sink = {});

// "2.31 s, 1.80 s, 3.02 s": the silences between the parts.
std::string GapLengths(const std::vector<detect::PartSpan>& parts, std::int64_t rate);

}  // namespace corvella::cli
