// The parts `split` would write, as a table, CSV, JSON, a label track or a
// cue sheet.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "engine/Engine.h"

namespace corvella::cli {

enum class ListFormat { Text, Csv, Json, Labels, Cue };

struct ListedPart {
  int number = 0;
  PartSpan span;
  std::string output;  // the file split would write
};

struct ListedFile {
  std::string file;   // as given
  std::string error;  // the refusal, when the file could not be listed
  SourceSummary summary;
  int noiseFloor = 0;
  int gapThreshold = 0;
  double minPart = 0, padBefore = 0, padAfter = 0;  // seconds
  std::vector<ListedPart> parts;
};

void WriteListing(std::ostream& out, ListFormat format, const std::vector<ListedFile>& files);

// Seconds of a frame index at a rate (0 when the rate is 0).
double Seconds(std::int64_t frame, std::int64_t rate);
// A cue sheet time: minutes, seconds and frames of 1/75 second, rounded down.
std::string CueTime(double seconds);
std::string JsonString(const std::string& text);

}  // namespace corvella::cli
