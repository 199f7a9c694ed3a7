// Cut lists: the parts to write as `list` prints them (JSON, CSV, a label
// track or a cue sheet), perhaps edited by hand since, read back for
// `split --cuts`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>
#include <string_view>

#include "detect/Params.h"
#include "wave/Source.h"

namespace corvella::cli {

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

// Reads a cut list, its format recognised from the content. Returns "" or
// why it cannot be read, with the line where that showed.
std::string ParseCutList(const std::string& text, CutList& list);

struct PlannedPart {
  detect::PartSpan span;
  std::string name;  // in the destination folder
};

// The parts the list names for `file` (as given on the command line, one of
// `files` given), a recording of `info`: the list's group for it, its cuts
// in frames (seconds rounded to the nearest frame), in order, each with its
// name reduced to its last component, or "NAME_001.ext" where the list
// gives none. `extension` (".flac") replaces a name's own where --to asks;
// "" keeps it, and label names take the recording's. Returns "" or why the
// list cannot be used for the recording.
std::string ResolveCuts(const CutList& list, const std::string& file, std::size_t files,
                        const wave::SourceInfo& info, const std::string& extension,
                        std::vector<PlannedPart>& parts);

// Reads a list a user hands the command line (`what`: "a cut list"), from
// a file or, for "-", stdin; "" or why not.
std::string ReadListFile(const std::string& path, const std::string& what, std::string& text);

// The texts a user hands the command line (cut lists, track lists) read
// alike: line breaks as LF alone, whether written CR LF or CR, and no byte
// order mark.
std::string WithLineFeeds(const std::string& input);
std::vector<std::string_view> TextLines(std::string_view text);
// The next word of a cue sheet line, or its quoted string, taken off it.
std::string_view CueWord(std::string_view& line);
// JSON for `what` ("a cut list"): refused when nested too deeply, with a
// key given twice in an object, or a number too large. "" or why, with the
// line where that showed.
std::string ParseJsonText(const std::string& text, const std::string& what,
                          nlohmann::json& document);

}  // namespace corvella::cli
