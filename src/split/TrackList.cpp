#include "split/TrackList.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <nlohmann/json.hpp>

#include "batch/OutputName.h"
#include "split/ListText.h"
#include "wave/Text.h"

namespace corvella::split {
namespace {

using Json = nlohmann::json;
using wave::IsUtf8;
using wave::Printable;

// More titles than any side, or any cue sheet, holds.
constexpr std::size_t kMostTracks = 999;

std::string Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return "";
  return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

bool StartsWithWord(std::string_view line, std::string_view word) {
  if (line.size() < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(line[i])) != word[i]) return false;
  }
  return true;
}

// A title without the track number typed before it: "1. ", "01 - ",
// "A1 ", "B2) " (in a list whose every title is numbered); a bare "7 " only on the
// seventh title, so that "99 Red Balloons" keeps its name as the third.
bool HasSideNumber(const std::string& line) {
  return line.size() > 1 && std::isalpha(static_cast<unsigned char>(line[0])) &&
         std::isdigit(static_cast<unsigned char>(line[1]));
}

std::string WithoutNumber(const std::string& line, std::size_t position, bool sides) {
  std::size_t at = 0;
  const bool side = sides && HasSideNumber(line);
  if (side) at = 1;
  if (!side && !line.empty() && !std::isdigit(static_cast<unsigned char>(line[0]))) return line;
  const std::size_t digits = at;
  while (at < line.size() && at - digits < 3 && std::isdigit(static_cast<unsigned char>(line[at])))
    ++at;
  if (at == digits || at >= line.size()) return line;
  if (std::isdigit(static_cast<unsigned char>(line[at]))) return line;
  const std::size_t numberEnd = at;
  bool marked = false;
  if (line[at] == '.' || line[at] == ')' || line[at] == ':') {
    ++at;
    marked = true;
  }
  const std::size_t spaces = at;
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
  if (at == spaces && !marked) return line;  // "7th Heaven"
  if (at < line.size() && line[at] == '-' && at + 1 < line.size() && line[at + 1] == ' ') {
    at += 2;
    marked = true;
    while (at < line.size() && line[at] == ' ') ++at;
  }
  if (at == spaces && line[at - 1] != ' ' && marked && at < line.size() &&
      std::isdigit(static_cast<unsigned char>(line[at]))) {
    return line;  // "1.5 Miles"
  }
  const std::string rest = line.substr(at);
  if (rest.empty()) return line;
  if (!marked && !side && std::stoul(line.substr(0, numberEnd)) != position) return line;
  return rest;
}

// "2.", "A1)", "3 -": a track number whose title is missing.
bool BareNumber(const std::string& title) {
  std::size_t at = 0;
  if (at < title.size() && std::isalpha(static_cast<unsigned char>(title[at]))) ++at;
  const std::size_t digits = at;
  while (at < title.size() && std::isdigit(static_cast<unsigned char>(title[at]))) ++at;
  if (at == digits || at - digits > 3) return false;
  while (at < title.size() && title[at] == ' ') ++at;
  return at + 1 == title.size() && std::strchr(".):-", title[at]) != nullptr;
}

// A track's duration as sleeves print it: "3:05", "12:40", "1:02:17".
std::optional<double> DurationOf(std::string_view text) {
  int fields[3] = {0, 0, 0};
  std::size_t count = 0, digits = 0;
  for (const char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c))) {
      if (++digits > 3 || (count > 0 && digits > 2)) return std::nullopt;
      fields[count] = fields[count] * 10 + (c - '0');
    } else if (c == ':' && digits > 0 && count < 2) {
      ++count;
      digits = 0;
    } else {
      return std::nullopt;
    }
  }
  if (count == 0 || digits != 2) return std::nullopt;
  for (std::size_t k = 1; k <= count; ++k) {
    if (fields[k] > 59) return std::nullopt;
  }
  if (count == 2) return fields[0] * 3600.0 + fields[1] * 60.0 + fields[2];
  return fields[0] * 60.0 + fields[1];
}

// "A1", "12", "3.": the side or number column of a tabbed list.
bool NumberColumn(std::string_view text) {
  std::size_t at = 0;
  if (at < text.size() && std::isalpha(static_cast<unsigned char>(text[at]))) ++at;
  const std::size_t digits = at;
  while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
  if (at == digits || at - digits > 3) return false;
  if (at < text.size() && (text[at] == '.' || text[at] == ')')) ++at;
  return at == text.size();
}

// A line's duration where it stands apart from the title: in brackets at
// the end (always), or bare at the end or the start (`bare`: only in a
// list whose every title has one there).
struct Timed {
  std::string title;
  std::optional<double> seconds;
};

Timed Bracketed(const std::string& line) {
  if (line.size() < 6) return {line, std::nullopt};
  const char close = line.back();
  const char open = close == ')' ? '(' : close == ']' ? '[' : '\0';
  const std::size_t at = open ? line.rfind(open) : std::string::npos;
  if (at == std::string::npos || at == 0) return {line, std::nullopt};
  const auto seconds = DurationOf(Trim(std::string_view(line).substr(at + 1, line.size() - at - 2)));
  if (!seconds) return {line, std::nullopt};
  std::string title = Trim(std::string_view(line).substr(0, at));
  return {title.empty() ? line : title, title.empty() ? std::nullopt : seconds};
}

Timed TrailingTime(const std::string& line) {
  const std::size_t space = line.find_last_of(" \t");
  if (space == std::string::npos) return {line, std::nullopt};
  const auto seconds = DurationOf(std::string_view(line).substr(space + 1));
  std::string title = Trim(std::string_view(line).substr(0, space));
  // "Title - 3:05"
  if (title.size() > 2 && (title.back() == '-')) title = Trim(std::string_view(title).substr(0, title.size() - 1));
  if (!seconds || title.empty()) return {line, std::nullopt};
  return {title, seconds};
}

Timed LeadingTime(const std::string& line) {
  const std::size_t space = line.find_first_of(" \t");
  if (space == std::string::npos) return {line, std::nullopt};
  const auto seconds = DurationOf(std::string_view(line).substr(0, space));
  std::string title = Trim(std::string_view(line).substr(space + 1));
  if (!seconds || title.empty()) return {line, std::nullopt};
  return {title, seconds};
}

std::string ParseText(const std::string& text, TrackList& names) {
  const auto lines = TextLines(text);
  std::vector<bool> tabbed;  // a title from a column: no number to take off
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string line = Trim(lines[i]);
    if (line.empty()) continue;
    if (names.tracks.empty()) {
      // The side's own lines, before its first title.
      bool header = false;
      for (auto [word, field] : {std::pair{"artist:", &names.artist},
                                 {"performer:", &names.artist},
                                 {"album:", &names.album},
                                 {"date:", &names.date},
                                 {"year:", &names.date}}) {
        const std::string_view key(word);
        if (StartsWithWord(line, key)) {
          *field = Trim(std::string_view(line).substr(key.size()));
          header = true;
          break;
        }
      }
      if (header) continue;
    }
    if (names.tracks.size() == kMostTracks) return LineText(i) + ": more than 999 titles";
    TrackTitle track{line, "", std::nullopt, std::nullopt, std::nullopt};
    if (line.find('\t') != std::string::npos) {
      // Columns: the number goes, the first duration is the track's, the
      // first text its title and the next its artist.
      std::vector<std::string> texts;
      std::string_view rest = line;
      while (!rest.empty() || texts.empty()) {
        const std::size_t tab = rest.find('\t');
        const std::string column = Trim(rest.substr(0, tab));
        rest = tab == std::string_view::npos ? std::string_view() : rest.substr(tab + 1);
        const auto seconds = DurationOf(column);
        if (seconds && !track.seconds) {
          track.seconds = seconds;
        } else if (!column.empty() && !(texts.empty() && NumberColumn(column))) {
          texts.push_back(column);
        }
        if (tab == std::string_view::npos) break;
      }
      if (texts.empty()) return LineText(i) + ": a line of columns without a title";
      track.title = texts[0];
      if (texts.size() > 1) track.artist = texts[1];
      tabbed.push_back(true);
    } else {
      const Timed timed = Bracketed(line);
      track.title = timed.title;
      track.seconds = timed.seconds;
      tabbed.push_back(false);
    }
    names.tracks.push_back(std::move(track));
  }
  // A bare time at the end or the start of the line is a duration only
  // where every title has one there: "10:15 Saturday Night" alone is a title.
  for (const auto& take : {TrailingTime, LeadingTime}) {
    const bool every = std::all_of(names.tracks.begin(), names.tracks.end(), [&](const TrackTitle& t) {
      return t.seconds || take(t.title).seconds;
    });
    if (!every) continue;
    for (TrackTitle& track : names.tracks) {
      if (track.seconds) continue;
      const Timed timed = take(track.title);
      track.title = timed.title;
      track.seconds = timed.seconds;
    }
    break;
  }
  // Side numbers ("A1 ", "B2) ") are taken off only in a list whose every
  // title is numbered, so that "U2 Live" in a plain list keeps its name.
  const bool sides = std::all_of(names.tracks.begin(), names.tracks.end(), [](const TrackTitle& t) {
    return HasSideNumber(t.title) || std::isdigit(static_cast<unsigned char>(t.title[0]));
  });
  for (std::size_t k = 0; k < names.tracks.size(); ++k) {
    std::string& title = names.tracks[k].title;
    if (!tabbed[k]) title = WithoutNumber(title, k + 1, sides);
    if (BareNumber(title)) {
      return "title " + std::to_string(k + 1) + " (\"" + Printable(title) +
             "\"): a track number without a title";
    }
  }
  return "";
}

// Whether a list's FILE names `file`: the same name, whatever its
// extension (a list made from side-a.wav serves side-a.flac).
bool SameRecording(const std::string& named, const std::string& file) {
  return batch::SplitFileName(batch::FileNameOf(named)).stem ==
         batch::SplitFileName(batch::FileNameOf(file)).stem;
}

std::string ParseCueNames(const std::string& text, const std::string& file, TrackList& names) {
  const auto lines = TextLines(text);
  // Of a sheet for several files, the tracks of the recording's; the
  // tracks of a sheet that names only other recordings are none of its.
  bool anyFile = false, ours = true;
  std::string other;
  TrackTitle* track = nullptr;
  std::string trackLine;
  std::optional<std::int64_t> previous;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view rest = lines[i];
    const std::string_view command = CueWord(rest);
    if (command == "FILE") {
      const std::string named(CueWord(rest));
      if (!anyFile || !ours) {
        ours = file.empty() || SameRecording(named, file);
        if (!ours && other.empty()) other = named;
      } else {
        ours = false;  // the recording's tracks have ended
      }
      anyFile = true;
      track = nullptr;
      previous.reset();
    } else if (command == "TRACK") {
      if (!ours) {
        track = nullptr;
        continue;
      }
      if (names.tracks.size() == kMostTracks) return LineText(i) + ": more than 999 tracks";
      names.tracks.emplace_back();
      track = &names.tracks.back();
      trackLine = LineText(i);
    } else if (command == "TITLE") {
      if (track || ours) (track ? track->title : names.album) = std::string(CueWord(rest));
    } else if (command == "PERFORMER") {
      if (track || ours) (track ? track->artist : names.artist) = std::string(CueWord(rest));
    } else if (command == "REM" && CueWord(rest) == "DATE" && !track && !anyFile) {
      names.date = std::string(CueWord(rest));
    } else if (command == "INDEX" && ours) {
      // The times are anchors for the tracks: they must say one thing.
      if (!track) return LineText(i) + ": an INDEX outside a TRACK";
      const std::string_view number = CueWord(rest), time = CueWord(rest);
      const std::optional<std::int64_t> at = CueTimeOf(time);
      if (!at) return LineText(i) + ": not a cue sheet time (mm:ss:ff, 75 frames a second)";
      if (number != "01" && number != "1") continue;  // a pregap, or a mark inside the track
      if (track->cueStart) return LineText(i) + ": a second INDEX 01 in the track";
      if (previous && *at <= *previous)
        return LineText(i) + ": INDEX 01 comes before the previous track's";
      track->cueStart = previous = at;
    }
  }
  if (anyFile && names.tracks.empty() && !other.empty())
    return "the track list is for another recording (\"" + Printable(other) + "\")";
  if (names.tracks.empty()) return "the cue sheet has no TRACK";
  return "";
}

std::string Text(const Json& object, const char* key, const std::string& where,
                 std::string& value) {
  const auto found = object.find(key);
  if (found == object.end() || found->is_null()) return "";
  if (!found->is_string()) return where + ": " + key + " is not a string";
  value = found->get<std::string>();
  return "";
}

std::string ParseJsonNames(const std::string& text, const std::string& file, TrackList& names) {
  Json document;
  if (auto error = ParseJsonText(text, "a track list", document); !error.empty()) return error;
  std::vector<const Json*> entries;
  if (document.is_array()) {
    for (const Json& entry : document) entries.push_back(&entry);
  } else {
    entries.push_back(&document);
  }
  // The recording's entry: the only one, or the one with its name.
  const Json* chosen = entries.size() == 1 ? entries.front() : nullptr;
  const std::string wanted = batch::FileNameOf(file);
  // One recording's list names it; another's titles must not name this one's
  // parts.
  if (chosen && chosen->is_object() && !file.empty()) {
    const auto named = chosen->find("file");
    if (named != chosen->end() && named->is_string() &&
        !SameRecording(named->get<std::string>(), file)) {
      return "the track list is for another recording (\"" + Printable(named->get<std::string>()) +
             "\")";
    }
  }
  for (std::size_t i = 0; !chosen && i < entries.size(); ++i) {
    const Json& entry = *entries[i];
    const auto named = entry.is_object() ? entry.find("file") : entry.end();
    if (entry.is_object() && named != entry.end() && named->is_string() &&
        SameRecording(named->get<std::string>(), file)) {
      chosen = &entry;
    }
  }
  if (!chosen) return "no entry for \"" + Printable(wanted) + "\"";
  const Json& entry = *chosen;
  if (!entry.is_object()) return "not an object with the parts of a recording";
  for (auto [key, field] :
       {std::pair{"artist", &names.artist}, {"album", &names.album}, {"date", &names.date}}) {
    if (auto error = Text(entry, key, "the recording", *field); !error.empty()) return error;
  }
  for (auto [key, field] : {std::pair{"frames", &names.frames}, {"rate", &names.rate}}) {
    const auto value = entry.find(key);
    if (value == entry.end() || value->is_null()) continue;
    if (!value->is_number_integer() || value->get<std::int64_t>() < 0)
      return std::string("the recording's ") + key + " is not a whole number";
    *field = value->get<std::int64_t>();
  }
  const auto parts = entry.find("parts");
  if (parts == entry.end() || !parts->is_array()) return "the recording has no \"parts\" list";
  if (parts->size() > kMostTracks) return "more than 999 parts";
  // Titles for some parts and not for others would name the others from
  // their file names among the titles.
  std::size_t titled = 0;
  for (const Json& part : *parts) {
    if (part.is_object() && part.contains("title") && !part["title"].is_null()) ++titled;
  }
  for (std::size_t k = 0; k < parts->size(); ++k) {
    const Json& part = (*parts)[k];
    const std::string where = "part " + std::to_string(k + 1);
    if (!part.is_object()) return where + ": not an object";
    TrackTitle track;
    std::string output;
    if (auto error = Text(part, "title", where, track.title); !error.empty()) return error;
    if (auto error = Text(part, "artist", where, track.artist); !error.empty()) return error;
    if (auto error = Text(part, "output", where, output); !error.empty()) return error;
    if (titled > 0 && track.title.empty())
      return where + ": no title, where " + std::to_string(titled) +
             (titled == 1 ? " other part has one" : " other parts have one");
    if (track.title.empty()) track.title = batch::SplitFileName(output).stem;
    const auto start = part.find("start_frame");
    if (start != part.end() && start->is_number_integer() && start->get<std::int64_t>() >= 0)
      track.startFrame = start->get<std::int64_t>();
    names.tracks.push_back(std::move(track));
  }
  return "";
}

std::string ParseTrackListText(const std::string& input, const std::string& file, TrackList& names) {
  names = TrackList{};
  const std::string text = WithLineFeeds(input);
  if (!IsUtf8(text)) {
    std::size_t line = 0;
    // The first line that is not UTF-8, for the message.
    for (std::string_view rest : TextLines(text)) {
      if (!IsUtf8(std::string(rest))) break;
      ++line;
    }
    return LineText(line) + ": not UTF-8 text (save the list as UTF-8)";
  }
  const auto first = text.find_first_not_of(" \t\n");
  if (first == std::string::npos) return "the track list is empty";
  std::string error;
  if (text[first] == '[' || text[first] == '{') {
    error = ParseJsonNames(text, file, names);
  } else {
    // A cue sheet by its syntax: a numbered TRACK or a FILE with its type,
    // so that titles in capitals ("TRACK ONE") stay titles.
    bool cue = false;
    for (std::string_view line : TextLines(text)) {
      const std::string_view command = CueWord(line);
      const std::string_view word = CueWord(line);
      if (command == "TRACK" && !word.empty() &&
          word.find_first_not_of("0123456789") == std::string_view::npos)
        cue = true;
      if (command == "FILE" && !word.empty() && !CueWord(line).empty()) cue = true;
    }
    error = cue ? ParseCueNames(text, file, names) : ParseText(text, names);
  }
  if (error.empty() && names.tracks.empty()) error = "the track list names no tracks";
  // A NUL would cut a title short in every tag that holds it.
  for (std::size_t k = 0; error.empty() && k < names.tracks.size(); ++k) {
    const std::string& title = names.tracks[k].title;
    if (title.find('\0') != std::string::npos) {
      error = "title " + std::to_string(k + 1) + " (\"" + Printable(title) +
              "\") holds a NUL character, which no tag takes";
    }
  }
  return error;
}

}  // namespace

wave::Error ParseTrackList(const std::string& text, const std::string& file, TrackList& list) {
  std::string why = ParseTrackListText(text, file, list);
  if (why.empty()) return {};
  return {wave::ErrorCode::Refused, std::move(why)};
}

wave::Error CheckListFits(const TrackList& list, const wave::SourceInfo& info) {
  if ((!list.frames || *list.frames == info.frames) && (!list.rate || *list.rate == info.rate))
    return {};
  const auto known = [](const std::optional<std::int64_t>& v) {
    return v ? std::to_string(*v) : std::string("?");
  };
  return {wave::ErrorCode::Refused, "the track list was made from a recording of " +
                                        known(list.frames) + " frames at " + known(list.rate) +
                                        " Hz, and this one has " + std::to_string(info.frames) +
                                        " frames at " + std::to_string(info.rate) + " Hz"};
}

std::vector<double> TrackList::Anchors() const {
  std::vector<double> anchors;
  if (tracks.size() < 2) return anchors;
  const auto all = [&](auto has) { return std::all_of(tracks.begin(), tracks.end(), has); };
  if (all([](const TrackTitle& t) { return t.cueStart.has_value(); })) {
    for (std::size_t k = 1; k < tracks.size(); ++k)
      anchors.push_back(static_cast<double>(*tracks[k].cueStart - *tracks[0].cueStart) / 75);
  } else if (rate && *rate > 0 && all([](const TrackTitle& t) { return t.startFrame.has_value(); })) {
    for (std::size_t k = 1; k < tracks.size(); ++k)
      anchors.push_back(static_cast<double>(*tracks[k].startFrame - *tracks[0].startFrame) /
                        static_cast<double>(*rate));
  } else if (Total()) {
    double at = 0;
    for (std::size_t k = 0; k + 1 < tracks.size(); ++k) anchors.push_back(at += *tracks[k].seconds);
  }
  return anchors;
}

std::optional<double> TrackList::Total() const {
  double total = 0;
  for (const TrackTitle& track : tracks) {
    if (!track.seconds) return std::nullopt;
    total += *track.seconds;
  }
  return total;
}

std::vector<wave::TrackTags> TitlesOf(const TrackList& list, const SideTags& given) {
  std::vector<wave::TrackTags> titles;
  for (const TrackTitle& track : list.tracks) {
    wave::TrackTags tags;
    tags.title = track.title;
    tags.artist = given.artist          ? *given.artist
                  : !track.artist.empty() ? track.artist
                                          : list.artist;
    tags.album = given.album.value_or(list.album);
    tags.date = given.date.value_or(list.date);
    titles.push_back(std::move(tags));
  }
  return titles;
}

}  // namespace corvella::split
