// What the lists a user hands Corvella (cut lists, track lists) share: the
// file read whole, its lines as LF alone, a cue sheet's words, JSON read
// with the limits every list keeps, and how a line and a name are quoted in
// the reasons a list is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "wave/Error.h"

namespace corvella::split {

// Reads a list (`what`: "a cut list") from a file or, for "-", stdin; a
// refusal names the file ("stdin" for -) and says why.
wave::Error ReadListFile(const std::string& path, const std::string& what, std::string& text);

// Line breaks as LF alone, whether written CR LF or CR, and no byte order
// mark.
std::string WithLineFeeds(const std::string& input);
std::vector<std::string_view> TextLines(std::string_view text);
// The next word of a cue sheet line, or its quoted string, taken off it.
std::string_view CueWord(std::string_view& line);
// JSON for `what` ("a cut list"): refused when nested too deeply, with a
// key given twice in an object, or a number too large. "" or why, with the
// line where that showed.
std::string ParseJsonText(const std::string& text, const std::string& what,
                          nlohmann::json& document);

// A cue sheet's time, mm:ss:ff (frames of 1/75 s; the minutes may pass 99),
// in 1/75 s; none when the text is no such time.
std::optional<std::int64_t> CueTimeOf(std::string_view text);

// "line 7", for the line of index 6.
std::string LineText(std::size_t index);
// A name in quotes, as a terminal can show it.
std::string Quoted(const std::string& text);

}  // namespace corvella::split
