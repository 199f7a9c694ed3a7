// Cut lists: the parts to write as `list` prints them (JSON, CSV, a label
// track or a cue sheet), perhaps edited by hand since, read back for
// `split --cuts`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "detect/Params.h"
#include "wave/Error.h"
#include "wave/Source.h"

namespace corvella::split {

enum class CutFormat { Json, Csv, Labels, Cue };

// One cut as the list gives it: in frames where the list has them, in
// seconds otherwise, or in a cue sheet's 1/75 s.
struct Cut {
  std::optional<std::int64_t> startFrame, endFrame;
  std::optional<double> start, end;      // seconds
  std::optional<double> duration;        // seconds: must agree with the edges
  std::optional<std::int64_t> cueStart;  // 1/75 s; the track ends where the next begins
  std::optional<std::string> name;       // the part's file name as given
  std::string where;                     // "line 7", "part 3 of rec.wav": for messages
};

// The cuts of one recording.
struct CutGroup {
  std::optional<std::string> file;           // the recording it names
  std::optional<std::int64_t> frames, rate;  // its length and rate, where the list says
  std::optional<std::string> error;          // why `list` refused it
  std::vector<Cut> cuts;
};

struct CutList {
  CutFormat format = CutFormat::Json;
  std::vector<CutGroup> groups;
};

// Reads a cut list, its format recognised from the content. Refused with
// why it cannot be read, with the line where that showed.
wave::Error ParseCutList(const std::string& text, CutList& list);

struct PlannedPart {
  detect::PartSpan span;
  std::string name;  // in the destination folder
};

// The parts the list names for `file` (as given on the command line, one of
// `files` given), a recording of `info`: the list's group for it, its cuts
// in frames (seconds rounded to the nearest frame), in order, each with its
// name reduced to its last component, or "NAME_001.ext" where the list
// gives none. `extension` (".flac") replaces a name's own where --to asks;
// "" keeps it, and label names take the recording's. Refused with why the
// list cannot be used for the recording.
wave::Error ResolveCuts(const CutList& list, const std::string& file, std::size_t files,
                        const wave::SourceInfo& info, const std::string& extension,
                        std::vector<PlannedPart>& parts);

}  // namespace corvella::split
