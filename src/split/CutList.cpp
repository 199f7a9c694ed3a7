#include "split/CutList.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

#include "batch/OutputName.h"
#include "split/ListText.h"
#include "wave/Text.h"

namespace corvella::split {
namespace {

using Json = nlohmann::json;
using wave::CueQuoted;
using wave::Fixed;
using wave::FromSpreadsheetText;
using wave::Printable;

// Times beyond this many seconds (over 3000 years) are typing errors, and
// would overflow a frame count.
constexpr double kLongestSeconds = 1e11;

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// A whole number as a person types it: no sign, digits only.
std::optional<std::int64_t> WholeNumber(std::string_view text) {
  text = Trimmed(text);
  if (text.empty() || text.front() == '-') return std::nullopt;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<double> Number(std::string_view text) {
  text = Trimmed(text);
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

bool Blank(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

// --- JSON, as list --format json writes it ---------------------------------

std::optional<std::string> FromHex(const std::string& hex) {
  if (hex.size() % 2) return std::nullopt;
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
    if (error != std::errc() || end != hex.data() + i + 2) return std::nullopt;
    bytes += static_cast<char>(value);
  }
  return bytes;
}

// A name from `key`, or exactly from its hexadecimal bytes in `key_bytes`
// where list gave them (names that are not UTF-8).
std::string JsonName(const Json& object, const std::string& key, const std::string& where,
                     std::optional<std::string>& name) {
  const auto bytes = object.find(key + "_bytes");
  if (bytes != object.end()) {
    const auto decoded = bytes->is_string() ? FromHex(bytes->get<std::string>()) : std::nullopt;
    if (!decoded) return where + ": " + key + "_bytes is not a string of hexadecimal bytes";
    name = *decoded;
    return "";
  }
  const auto text = object.find(key);
  if (text == object.end() || text->is_null()) return "";
  if (!text->is_string()) return where + ": " + key + " is not a string";
  name = text->get<std::string>();
  return "";
}

std::string JsonFrame(const Json& part, const char* key, const std::string& where,
                      std::optional<std::int64_t>& frame) {
  const auto value = part.find(key);
  if (value == part.end() || value->is_null()) return "";
  if (!value->is_number_integer() || value->get<std::int64_t>() < 0) {
    return where + ": " + key + " is not a whole number of frames";
  }
  frame = value->get<std::int64_t>();
  return "";
}

std::string JsonSeconds(const Json& part, const char* key, const std::string& where,
                        std::optional<double>& seconds) {
  const auto value = part.find(key);
  if (value == part.end() || value->is_null()) return "";
  if (!value->is_number()) return where + ": " + key + " is not a number of seconds";
  seconds = value->get<double>();
  return "";
}

std::string ParseJson(const std::string& text, CutList& list) {
  Json document;
  if (auto error = ParseJsonText(text, "a cut list", document); !error.empty()) return error;
  std::vector<const Json*> objects;
  if (document.is_array()) {
    for (const Json& object : document) objects.push_back(&object);
  } else {
    objects.push_back(&document);
  }
  for (std::size_t i = 0; i < objects.size(); ++i) {
    const Json& object = *objects[i];
    const std::string entry = "entry " + std::to_string(i + 1);
    if (!object.is_object()) return entry + ": not an object with the parts of a recording";
    CutGroup group;
    if (auto error = JsonName(object, "file", entry, group.file); !error.empty()) return error;
    const std::string about = group.file ? "of " + Quoted(*group.file) : "of " + entry;
    for (const char* key : {"frames", "rate"}) {
      const auto value = object.find(key);
      if (value == object.end()) continue;
      if (!value->is_number_integer() || value->get<std::int64_t>() < 0) {
        return entry + ": " + key + " is not a whole number";
      }
      (std::string(key) == "frames" ? group.frames : group.rate) = value->get<std::int64_t>();
    }
    if (const auto error = object.find("error"); error != object.end() && error->is_string()) {
      group.error = error->get<std::string>();
    }
    const auto parts = object.find("parts");
    if (parts == object.end() && !group.error) return entry + ": no \"parts\"";
    if (parts != object.end() && !parts->is_array()) return entry + ": \"parts\" is not a list";
    for (std::size_t k = 0; parts != object.end() && k < parts->size(); ++k) {
      const Json& part = (*parts)[k];
      Cut cut;
      cut.where = "part " + std::to_string(k + 1) + " " + about;
      if (!part.is_object()) return cut.where + ": not an object";
      for (const std::string& error : {JsonFrame(part, "start_frame", cut.where, cut.startFrame),
                                       JsonFrame(part, "end_frame", cut.where, cut.endFrame),
                                       JsonSeconds(part, "start", cut.where, cut.start),
                                       JsonSeconds(part, "end", cut.where, cut.end),
                                       JsonName(part, "output", cut.where, cut.name)}) {
        if (!error.empty()) return error;
      }
      if (!cut.startFrame && !cut.start) return cut.where + ": neither start_frame nor start";
      if (!cut.endFrame && !cut.end) return cut.where + ": neither end_frame nor end";
      group.cuts.push_back(std::move(cut));
    }
    list.groups.push_back(std::move(group));
  }
  return "";
}

// --- CSV (RFC 4180), as list --format csv writes it -------------------------

struct CsvRecord {
  std::vector<std::string> fields;
  std::size_t line = 0;  // where it begins
};

std::string ReadCsv(const std::string& text, std::vector<CsvRecord>& records) {
  std::size_t line = 0, at = 0;
  while (at < text.size()) {
    CsvRecord record;
    record.line = line;
    std::string field;
    bool ended = false;
    while (!ended) {
      if (at < text.size() && text[at] == '"') {
        const std::size_t opened = line;
        for (++at;; ++at) {
          if (at >= text.size()) return LineText(opened) + ": a quoted field is never closed";
          if (text[at] == '"') {
            if (at + 1 < text.size() && text[at + 1] == '"') {
              field += '"';
              ++at;
              continue;
            }
            ++at;
            break;
          }
          if (text[at] == '\n') ++line;
          field += text[at];
        }
        if (at < text.size() && text[at] != ',' && text[at] != '\n') {
          return LineText(line) + ": text after the closing quote of a field";
        }
      }
      for (; at < text.size() && text[at] != ',' && text[at] != '\n'; ++at) {
        if (text[at] == '"') return LineText(line) + ": a quote inside a field that is not quoted";
        field += text[at];
      }
      record.fields.push_back(std::move(field));
      field.clear();
      if (at >= text.size() || text[at] == '\n') ended = true;
      if (at < text.size() && text[at] == '\n') ++line;
      ++at;
    }
    const bool empty = record.fields.size() == 1 && Blank(record.fields[0]);
    if (!empty) records.push_back(std::move(record));
  }
  return "";
}

std::string ParseCsv(const std::string& text, CutList& list) {
  std::vector<CsvRecord> records;
  if (auto error = ReadCsv(text, records); !error.empty()) return error;
  if (records.empty()) return "the cut list is empty";
  const std::vector<std::string>& header = records[0].fields;
  for (std::size_t c = 0; c < header.size(); ++c) {
    if (std::find(header.begin(), header.begin() + static_cast<std::ptrdiff_t>(c), header[c]) !=
        header.begin() + static_cast<std::ptrdiff_t>(c)) {
      return "line 1: the column " + Quoted(header[c]) + " stands twice in the header";
    }
  }
  auto column = [&](const char* name) -> std::optional<std::size_t> {
    const auto at = std::find(header.begin(), header.end(), name);
    if (at == header.end()) return std::nullopt;
    return static_cast<std::size_t>(at - header.begin());
  };
  const auto file = column("file"), output = column("output");
  const auto startFrame = column("start_frame"), endFrame = column("end_frame");
  const auto start = column("start"), end = column("end"), duration = column("duration");
  if (!(startFrame || start) || !(endFrame || end)) {
    return "line 1: the header names no start_frame or start, or no end_frame or end column";
  }
  for (std::size_t r = 1; r < records.size(); ++r) {
    const CsvRecord& record = records[r];
    Cut cut;
    cut.where = LineText(record.line);
    if (record.fields.size() != header.size()) {
      return cut.where + ": " + std::to_string(record.fields.size()) +
             " fields where the header has " + std::to_string(header.size());
    }
    auto frame = [&](std::optional<std::size_t> c, const char* name,
                     std::optional<std::int64_t>& value) -> std::string {
      if (!c || Blank(record.fields[*c])) return "";
      value = WholeNumber(record.fields[*c]);
      if (!value || *value < 0) return cut.where + ": " + name + " is not a whole number of frames";
      return "";
    };
    auto seconds = [&](std::optional<std::size_t> c, const char* name,
                       std::optional<double>& value) -> std::string {
      if (!c || Blank(record.fields[*c])) return "";
      value = Number(record.fields[*c]);
      if (!value) return cut.where + ": " + name + " is not a number of seconds";
      return "";
    };
    for (const std::string& error :
         {frame(startFrame, "start_frame", cut.startFrame),
          frame(endFrame, "end_frame", cut.endFrame), seconds(start, "start", cut.start),
          seconds(end, "end", cut.end), seconds(duration, "duration", cut.duration)}) {
      if (!error.empty()) return error;
    }
    if (!cut.startFrame && !cut.start) return cut.where + ": no start";
    if (!cut.endFrame && !cut.end) return cut.where + ": no end";
    if (output && !record.fields[*output].empty())
      cut.name = FromSpreadsheetText(record.fields[*output]);
    // Rows go to the group of their file, in the order the files come.
    const std::optional<std::string> name =
        file ? std::optional(FromSpreadsheetText(record.fields[*file])) : std::nullopt;
    auto group = std::find_if(list.groups.begin(), list.groups.end(),
                              [&](const CutGroup& g) { return g.file == name; });
    if (group == list.groups.end())
      group = list.groups.insert(list.groups.end(), CutGroup{name, {}, {}, {}, {}});
    group->cuts.push_back(std::move(cut));
  }
  if (list.groups.empty()) list.groups.emplace_back();
  return "";
}

// --- Label tracks: START<TAB>END<TAB>NAME in seconds ------------------------

std::string ParseLabels(const std::string& text, CutList& list) {
  CutGroup group;
  const auto lines = TextLines(text);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    // A backslash starts the frequency line an editor adds to a label.
    if (Blank(line) || line.front() == '\\') continue;
    Cut cut;
    cut.where = LineText(i);
    const auto tab1 = line.find('\t');
    const auto tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab1 == std::string_view::npos) return cut.where + ": not a label (START<TAB>END<TAB>NAME)";
    cut.start = Number(line.substr(0, tab1));
    cut.end = Number(line.substr(
        tab1 + 1, tab2 == std::string_view::npos ? std::string_view::npos : tab2 - tab1 - 1));
    if (!cut.start || !cut.end)
      return cut.where + ": not a label (START<TAB>END<TAB>NAME, in seconds)";
    if (tab2 != std::string_view::npos && line.find('\t', tab2 + 1) != std::string_view::npos) {
      return cut.where + ": more than three fields (START<TAB>END<TAB>NAME)";
    }
    if (tab2 != std::string_view::npos && tab2 + 1 < line.size())
      cut.name = FromSpreadsheetText(std::string(line.substr(tab2 + 1)));
    group.cuts.push_back(std::move(cut));
  }
  list.groups.push_back(std::move(group));
  return "";
}

// --- Cue sheets: each track from its INDEX 01 to the next one's -------------

std::string ParseCue(const std::string& text, CutList& list) {
  const auto lines = TextLines(text);
  Cut* track = nullptr;
  std::string trackLine;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view rest = lines[i];
    const std::string_view command = CueWord(rest);
    if (command == "FILE") {
      if (track && !track->cueStart) return trackLine + ": the track has no INDEX 01";
      track = nullptr;
      list.groups.push_back({std::string(CueWord(rest)), {}, {}, {}, {}});
    } else if (command == "TRACK") {
      if (list.groups.empty()) return LineText(i) + ": a TRACK before any FILE";
      if (track && !track->cueStart) return trackLine + ": the track has no INDEX 01";
      list.groups.back().cuts.emplace_back();
      track = &list.groups.back().cuts.back();
      track->where = trackLine = LineText(i);
    } else if (command == "INDEX") {
      if (!track) return LineText(i) + ": an INDEX outside a TRACK";
      const std::string_view number = CueWord(rest), time = CueWord(rest);
      if (WholeNumber(number) != 1) continue;  // a pregap, or a mark inside the track
      if (track->cueStart) return LineText(i) + ": a second INDEX 01 in the track";
      track->cueStart = CueTimeOf(time);
      if (!track->cueStart)
        return LineText(i) + ": not a cue sheet time (mm:ss:ff, 75 frames a second)";
    }
  }
  if (track && !track->cueStart) return trackLine + ": the track has no INDEX 01";
  if (list.groups.empty()) return "the cue sheet names no FILE";
  return "";
}

// --- Choosing a recording's cuts and making parts of them -------------------

// The last component of a path, after the system's separators.
std::string BaseName(const std::string& path) {
  const batch::NameParts parts = batch::SplitFileName(path);
  return parts.stem + parts.extension;
}

std::string Choose(const CutList& list, const std::string& file, std::size_t files,
                   const CutGroup*& chosen) {
  // A cue sheet names files as list quotes them there.
  std::string cueName = CueQuoted(BaseName(file));
  cueName = cueName.substr(1, cueName.size() - 2);
  std::vector<const CutGroup*> exact, named;
  // A CSV list names files as a terminal would show them.
  const bool shown = list.format == CutFormat::Csv;
  for (const CutGroup& group : list.groups) {
    if (!group.file) continue;
    if (*group.file == file || (shown && *group.file == Printable(file))) exact.push_back(&group);
    const std::string base = BaseName(*group.file);
    if (base == BaseName(file) || (shown && base == Printable(BaseName(file))) ||
        (list.format == CutFormat::Cue && base == cueName)) {
      named.push_back(&group);
    }
  }
  const auto& found = exact.empty() ? named : exact;
  if (found.size() > 1) return "the cut list names this recording more than once";
  if (found.size() == 1) {
    chosen = found[0];
    return "";
  }
  if (list.groups.size() == 1 && !list.groups[0].file) {
    if (files > 1) {
      return "the cut list names no recording, so it can serve only one: give one FILE";
    }
    chosen = &list.groups[0];
    return "";
  }
  for (const CutGroup& group : list.groups) {
    if (group.file) return "the cut list is for another recording (" + Quoted(*group.file) + ")";
  }
  return "the cut list has no parts for this recording";
}

// Seconds as the nearest frame.
std::optional<std::int64_t> FrameAt(double seconds, std::int64_t rate) {
  const double frames = seconds * static_cast<double>(rate);
  if (!(seconds >= 0) || seconds > kLongestSeconds || frames > 4e18) return std::nullopt;
  return std::llround(frames);
}

// A cut's edge: its frame, which its seconds (where the list gives both)
// must agree with, or its seconds rounded to the nearest frame.
std::string Edge(const std::optional<std::int64_t>& frame, const std::optional<double>& seconds,
                 const char* name, const Cut& cut, std::int64_t rate, std::int64_t& edge) {
  if (rate <= 0 && !frame) {
    return cut.where + ": the recording has no sample rate, so the list must give " + name +
           "_frame";
  }
  const std::optional<std::int64_t> fromSeconds =
      seconds && rate > 0 ? FrameAt(*seconds, rate) : std::nullopt;
  if (seconds && rate > 0 && !fromSeconds) {
    return cut.where + ": " + name + " is not a time in the recording";
  }
  if (frame && fromSeconds) {
    // The seconds list prints are rounded to the microsecond.
    const double apart =
        std::abs(*seconds * static_cast<double>(rate) - static_cast<double>(*frame));
    if (apart > 0.5 + 1e-6 * static_cast<double>(rate)) {
      return cut.where + ": " + name + " (" + Fixed(*seconds, 6) + " s) and " + name + "_frame (" +
             std::to_string(*frame) + ") disagree: edit one and clear the other";
    }
  }
  edge = frame ? *frame : *fromSeconds;
  return "";
}

// A part's file name from the name the list gives: its last component,
// which must be a name of its own.
bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// A part's extension tells the format it is written in: a name keeps its
// own where that is the part's, an audio extension that is not gives way
// to the part's, and any other name (a label, "Take 1.5") gets it added.
std::string WithExtension(const std::string& name, const std::string& wanted) {
  if (wanted.empty()) return name;
  const batch::NameParts parts = batch::SplitFileName(name);
  if (SameText(parts.extension, wanted)) return name;
  for (const char* audio : {".wav", ".wave", ".bwf", ".rf64", ".w64", ".flac", ".aif", ".aiff",
                            ".aifc", ".caf", ".ogg", ".oga", ".opus", ".mp3"}) {
    if (!parts.stem.empty() && SameText(parts.extension, audio)) return parts.stem + wanted;
  }
  return name + wanted;
}

// A part's file name from the name the list gives: its last component,
// which must be a name of its own.
std::string FileName(const Cut& cut, const std::string& wanted, std::string& name) {
  name = BaseName(*cut.name);
  if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string::npos) {
    return cut.where + ": " + Quoted(*cut.name) + " is not a file name";
  }
  name = WithExtension(name, wanted);
  return "";
}

std::string ParseCutListText(const std::string& input, CutList& list) {
  list = CutList{};
  const std::string text = WithLineFeeds(input);
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "the cut list is empty";
  if (text[first] == '[' || text[first] == '{') {
    list.format = CutFormat::Json;
    return ParseJson(text, list);
  }
  const auto lines = TextLines(std::string_view(text).substr(first));
  std::string_view head = lines.front();
  std::string_view words = head;
  const std::string_view command = CueWord(words);
  for (const char* cue :
       {"FILE", "TRACK", "REM", "PERFORMER", "TITLE", "CATALOG", "SONGWRITER", "CDTEXTFILE"}) {
    if (command == cue) {
      list.format = CutFormat::Cue;
      return ParseCue(text, list);
    }
  }
  if (head.find('\t') != std::string_view::npos && Number(head.substr(0, head.find('\t')))) {
    list.format = CutFormat::Labels;
    return ParseLabels(text, list);
  }
  if (head.find(',') != std::string_view::npos && head.find("start") != std::string_view::npos) {
    list.format = CutFormat::Csv;
    return ParseCsv(text, list);
  }
  if (head.find(" Hz, ") != std::string_view::npos ||
      head.find(": no parts") != std::string_view::npos) {
    return "list's text table cannot be read back: list the parts with --format json, csv or "
           "labels";
  }
  return "line " +
         std::to_string(
             std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(first), '\n') +
             1) +
         ": not a cut list (JSON, CSV, a label track or a cue sheet, as list writes them)";
}

std::string Resolve(const CutList& list, const std::string& file, std::size_t files,
                    const wave::SourceInfo& info, const std::string& extension,
                    std::vector<PlannedPart>& parts) {
  parts.clear();
  const CutGroup* group = nullptr;
  if (auto error = Choose(list, file, files, group); !error.empty()) return error;
  if (group->error) return "the cut list has no parts for this recording: " + *group->error;
  if ((group->frames && *group->frames != info.frames) ||
      (group->rate && *group->rate != info.rate)) {
    return "the cut list was made from a recording of " +
           (group->frames ? std::to_string(*group->frames) : std::string("?")) + " frames at " +
           (group->rate ? std::to_string(*group->rate) : std::string("?")) +
           " Hz, and this one has " + std::to_string(info.frames) + " frames at " +
           std::to_string(info.rate) + " Hz";
  }
  if (group->cuts.empty()) return "the cut list has no parts for this recording";
  const std::int64_t rate = info.rate;
  const std::string name = BaseName(file);
  const std::string wanted = extension.empty() ? batch::SplitFileName(name).extension : extension;
  struct Placed {
    PlannedPart part;
    const Cut* cut;
  };
  std::vector<Placed> placed;
  for (std::size_t k = 0; k < group->cuts.size(); ++k) {
    const Cut& cut = group->cuts[k];
    std::int64_t start = 0, end = 0;
    if (cut.cueStart) {
      // 1/75 s as the nearest frame, exactly; the track runs to the next one.
      start = (*cut.cueStart * rate * 2 + 75) / 150;
      const Cut* next = k + 1 < group->cuts.size() ? &group->cuts[k + 1] : nullptr;
      end = next ? (*next->cueStart * rate * 2 + 75) / 150 : info.frames;
    } else {
      for (const std::string& error : {Edge(cut.startFrame, cut.start, "start", cut, rate, start),
                                       Edge(cut.endFrame, cut.end, "end", cut, rate, end)}) {
        if (!error.empty()) return error;
      }
    }
    if (start >= info.frames) {
      return cut.where + ": the cut starts past the end of the recording (at frame " +
             std::to_string(start) + " of " + std::to_string(info.frames) + ")";
    }
    if (end < start) return cut.where + ": the cut ends before it starts";
    if (end == start) return cut.where + ": the cut holds no frame";
    if (end > info.frames) {
      return cut.where + ": the cut runs past the end of the recording (to frame " +
             std::to_string(end) + " of " + std::to_string(info.frames) + ")";
    }
    // A spreadsheet's duration column edited alone would go unheeded.
    if (cut.duration && rate > 0 &&
        std::abs(*cut.duration - static_cast<double>(end - start) / static_cast<double>(rate)) >
            2e-6 + 1.0 / static_cast<double>(rate)) {
      return cut.where + ": duration (" + Fixed(*cut.duration, 6) +
             " s) disagrees with start and end (" +
             Fixed(static_cast<double>(end - start) / static_cast<double>(rate), 6) +
             " s): correct or clear it";
    }
    PlannedPart part{{start, end, 0}, ""};
    if (cut.name && !cut.name->empty()) {
      if (auto error = FileName(cut, wanted, part.name); !error.empty()) return error;
    }
    placed.push_back({part, &cut});
  }
  std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
    return a.part.span.start < b.part.span.start;
  });
  for (std::size_t k = 0; k < placed.size(); ++k) {
    if (k > 0 && placed[k].part.span.start < placed[k - 1].part.span.end) {
      return placed[k - 1].cut->where + " and " + placed[k].cut->where + ": the cuts overlap";
    }
    if (placed[k].part.name.empty()) {
      placed[k].part.name = batch::PartFileName(name, static_cast<int>(k) + 1, extension);
    }
    if (placed[k].part.name.size() > 255) {
      return placed[k].cut->where + ": " + Quoted(placed[k].part.name) +
             " is too long for a file name";
    }
    parts.push_back(placed[k].part);
  }
  return "";
}

}  // namespace

wave::Error ParseCutList(const std::string& text, CutList& list) {
  std::string why = ParseCutListText(text, list);
  if (why.empty()) return {};
  return {wave::ErrorCode::Refused, std::move(why)};
}

wave::Error ResolveCuts(const CutList& list, const std::string& file, std::size_t files,
                        const wave::SourceInfo& info, const std::string& extension,
                        std::vector<PlannedPart>& parts) {
  std::string why = Resolve(list, file, files, info, extension, parts);
  if (why.empty()) return {};
  return {wave::ErrorCode::Refused, std::move(why)};
}

}  // namespace corvella::split
