// The one way every front end finds a recording's parts: by the detection
// rule (with the shortest part and padding), at the silences that part a
// given number of tracks, or where a cut list puts them; numbered, named and
// tagged from a track list, with their peaks and a picture's survey where
// asked. What a failed read leaves of them is settled here, once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "batch/Analysis.h"
#include "batch/Plan.h"
#include "detect/LevelSurvey.h"
#include "detect/Levels.h"
#include "detect/Params.h"
#include "detect/Progress.h"
#include "split/CutList.h"
#include "wave/Error.h"
#include "wave/Source.h"
#include "wave/Tags.h"

namespace corvella::split {

// What a front end asks of one recording.
struct Request {
  detect::DetectParams detect;
  // Parts shorter than minPart seconds are dropped; the others are widened
  // into the silence around them by the padding, in seconds.
  double minPart = 0, padBefore = 0, padAfter = 0;
  // Exactly this many parts, at the silences that part them most clearly;
  // 0 for one a title. None: parts wherever the detection finds them.
  std::optional<int> tracks;
  // The noise floor the user gave, in dBFS: tracks are parted at it alone.
  std::optional<double> floorDb;
  // The parts' cuts as a list gives them, instead of finding them; `files`
  // is the number of recordings the list may be for.
  const CutList* cuts = nullptr;
  std::size_t files = 1;
  // The parts' titles and tags, one a part, from a track list, and the
  // recording the list says it was made from (its length and rate).
  std::vector<wave::TrackTags> titles;
  std::optional<std::int64_t> titlesFrames, titlesRate;
  // Where the list expects each track after the first to begin, in seconds
  // after the first, and how long it says they last together (TrackList's
  // Anchors and Total): the tracks are looked for there.
  std::vector<double> anchors;
  std::optional<double> listSeconds;
  // How parts are named: the recording's path as given, and the parts'
  // extension where it is not the recording's own (".flac").
  std::string path;
  std::string extension;
  // Measure each part's loudest sample.
  bool peaks = false;
  // Survey the recording for a picture of this many columns (0: none).
  std::size_t pictureColumns = 0;
  // The gap in `detect` is the user's: the picture's suggested floor is
  // found at it, as `levels` would.
  bool gapGiven = false;
  // Every part is tagged with the count of all: none is handed on before
  // all are known.
  bool wholeFirst = false;

  bool Planned() const { return minPart > 0 || padBefore > 0 || padAfter > 0; }
  batch::PlanOptions Plan(std::int64_t rate) const;
};

// One part as it is listed and written.
struct Part {
  detect::PartSpan span;  // frames [start, end), and the peak where measured
  int number = 0;         // counting from 1
  int count = 0;          // of all parts, where known before the first is handed on
  std::string name;       // the file's name in the destination folder
  std::optional<wave::TrackTags> track;  // from the titles
};

// What a picture of the recording shows beyond its parts.
struct PictureSurvey {
  std::vector<double> columns;            // the recording's peak in each column
  std::vector<detect::PartSpan> found;    // each part as found, before padding
  std::vector<detect::PartSpan> dropped;  // parts shorter than the shortest kept
  double floorDb = 0;                     // the noise floor the parts were found at
  detect::LevelHistogram levels;          // of its 10 ms windows, as levels reports them
  detect::LevelEstimate estimate;
  double suggestionDb = -50;
};

// A choice of tracks that another silence nearly as long could have made.
struct Fragility {
  std::int64_t runnerUpStart = 0, runnerUpLength = 0;  // frames: the silence left
  std::int64_t chosenStart = 0, chosenLength = 0;      // the shortest silence taken
};

// A result no error stops but a listener would doubt.
struct Doubt {
  enum class Kind {
    OneForAll,  // one part holds a long recording whole
    ManyTiny,   // hundreds of parts, most of them a second or two long
    ShortCut,   // the count of tracks forces a cut at a silence far shorter than the others
    ShortTrack,  // or makes a track far shorter than the others
  };
  Kind kind = Kind::OneForAll;
  std::size_t parts = 0;
  std::int64_t frames = 0;   // the recording's length; the parts' median; the short silence's
  std::int64_t typical = 0;  // ShortCut, ShortTrack: the median of the others
  std::int64_t at = 0;       // ShortCut, ShortTrack: where the short one begins
};

struct Found {
  // The parts kept, in order: after a failed read, those whose ends were
  // known before it (none where the whole recording is in doubt, or where
  // the parts rest on a survey of all of it).
  std::vector<Part> parts;
  // How many of them went to the sink while the search went on.
  std::size_t handedOn = 0;
  std::optional<PictureSurvey> picture;
  // With tracks asked for: the choice, and the survey it was made from.
  std::optional<detect::TrackChoice> choice;
  std::shared_ptr<const batch::WindowSurvey> survey;
  std::optional<Fragility> fragile;
  std::optional<Doubt> doubt;
  // Where the track list's times do not fit the recording, and whether the
  // tracks were taken where its times point rather than at the clearest
  // silences.
  std::vector<batch::ListMisfit> misfits;
  bool anchored = false;
};

// Takes each part as soon as it is final, while the search goes on.
using PartSink = std::function<void(const Part& part)>;

// Finds the parts of `source` as `request` asks. Returns UnableToRead (with
// what the reader knows of it) or Stopped; TracksNotFound where the
// recording does not hold the tracks asked for (the choice says how many it
// holds); TitlesMismatch where the parts found are not as many as the
// titles (the parts are then named as if there were none); Refused where a
// cut list does not fit the recording. With a sink, the parts of a plain
// search, unplanned, untitled and of a recording read in any order, are
// handed on as found: the first `handedOn` of `found.parts`.
wave::Error FindParts(wave::Source& source, const Request& request, detect::Progress& progress,
                      Found& found, const PartSink& sink = {});

}  // namespace corvella::split
