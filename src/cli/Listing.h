// The parts `split` would write, as a table, CSV, JSON, a label track or a
// cue sheet.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "detect/LevelSurvey.h"
#include "detect/Params.h"
#include "split/Find.h"

namespace corvella::cli {

struct ListedPart {
  int number = 0;
  detect::PartSpan span;
  std::string output;  // the file split would write
  std::string title;   // from --names
  std::string artist;  // the track's own, from --names
};

// What the pictures show beyond the parts.
using Picture = split::PictureSurvey;

struct ListedFile {
  std::string file;   // as given
  std::string error;  // the refusal, when the file could not be listed
  std::string reason;  // and why, where it says
  int channels = 0;
  std::int64_t rate = 0;
  std::int64_t frames = 0;
  int noiseFloor = 0;
  int gapThreshold = 0;
  double minPart = 0, padBefore = 0, padAfter = 0;  // seconds
  std::vector<ListedPart> parts;
  std::optional<Picture> picture;  // for the svg and html formats
  bool linear = false;             // the picture's level scale: linear, not dB
  std::string command;             // the split that writes the parts listed
  // With --tracks: the floor they were found at, in dBFS.
  std::optional<double> tracksFloorDb;
  std::string artist, album, date;  // from --names
};

void WriteListing(std::ostream& out, ListFormat format, const std::vector<ListedFile>& files);
// Why the files cannot be listed in `format` at all ("" when they can): a
// label track is one recording's, a cue sheet numbers at most 99 tracks.
std::string ListingRefusal(ListFormat format, const std::vector<ListedFile>& files);

// A cue sheet time: minutes, seconds and frames of 1/75 second, rounded down.
std::string CueTime(double seconds);
// A JSON string: every byte that is not UTF-8 becomes U+FFFD.
std::string JsonString(const std::string& text);
// `"key": "name"` for a path, and where the name is no UTF-8, `"key_bytes"`
// with its bytes in hex beside it, so that a script can still find it.
std::string JsonPath(const std::string& key, const std::string& path);

// `"error": "sentence"`, and `"reason": "..."` where the error has one
// beside its sentence: the same words as on stderr, split for a script.
std::string JsonError(const wave::Error& error);
std::string JsonError(const std::string& sentence, const std::string& reason = {});

// What split --format json says of a part of `file` (as given, "-" for
// stdin), numbered `number`, written as `path`: its frames [start, end) and
// their times where it was written, else why it was not.
std::string WrittenPartJson(const std::string& file, int number, const std::string& path,
                            std::int64_t start, std::int64_t end, std::int64_t rate);
std::string RefusedPartJson(const std::string& file, int number, const std::string& path,
                            const wave::Error& error);

// Objects printed as the elements of one JSON array, each as soon as it is
// known: "[", the objects one to a line, "]" once the command ends.
class JsonArray {
 public:
  explicit JsonArray(std::ostream& out) : out_(out) {}
  void Add(const std::string& object);
  void End();

 private:
  std::ostream& out_;
  bool begun_ = false;
};
// A label's name on one line of a label track, as a CSV cell holds it:
// control characters (tabs and line breaks too) as \xNN escapes, and a name
// that would begin like a formula neutralised.
std::string LabelName(const std::string& text);

}  // namespace corvella::cli
