#include "split/ListText.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <set>

#include "wave/Text.h"

namespace corvella::split {
namespace {

using Json = nlohmann::json;

// JSON nested deeper than any cut list is refused before it is parsed, so
// that no input can drive the parser's recursion far.
constexpr int kDeepestJson = 32;

std::string JsonTooDeep(const std::string& text, const std::string& what) {
  int depth = 0;
  bool inString = false, escaped = false;
  std::size_t line = 0;
  for (const char c : text) {
    if (c == '\n') ++line;
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '"') inString = true;
    if ((c == '[' || c == '{') && ++depth > kDeepestJson) {
      return LineText(line) + ": nested too deeply for " + what;
    }
    if (c == ']' || c == '}') --depth;
  }
  return "";
}

}  // namespace

std::string Quoted(const std::string& text) {
  std::string quoted(1, '"');
  quoted += wave::Printable(text);
  quoted += '"';
  return quoted;
}

std::string LineText(std::size_t index) {
  return "line " + std::to_string(index + 1);
}

std::string ParseJsonText(const std::string& text, const std::string& what,
                          nlohmann::json& document) {
  if (auto error = JsonTooDeep(text, what); !error.empty()) return error;
  // A key given twice in one object would leave one of its values unread:
  // such a list is refused, as one with a number too large for a double.
  std::vector<std::set<std::string>> keys;  // of each object open
  std::string twice;
  const Json::parser_callback_t noteKeys = [&](int, Json::parse_event_t event, Json& parsed) {
    if (event == Json::parse_event_t::object_start) keys.emplace_back();
    if (event == Json::parse_event_t::object_end && !keys.empty()) keys.pop_back();
    if (event == Json::parse_event_t::key && !keys.empty() && twice.empty()) {
      const std::string key = parsed.get<std::string>();
      if (!keys.back().insert(key).second) twice = key;
    }
    return true;
  };
  try {
    document = Json::parse(text, noteKeys);
  } catch (const Json::parse_error& e) {
    const auto upTo = std::min<std::size_t>(e.byte > 0 ? e.byte - 1 : 0, text.size());
    const auto line =
        std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(upTo), '\n');
    return LineText(static_cast<std::size_t>(line)) + ": not valid JSON";
  } catch (const Json::exception&) {
    return "not valid JSON: a number too large to read";
  }
  if (!twice.empty()) return "not valid JSON: the key " + Quoted(twice) + " is given twice";
  return "";
}

std::vector<std::string_view> TextLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto end = text.find('\n');
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

std::string WithLineFeeds(const std::string& input) {
  std::string text;
  text.reserve(input.size());
  for (std::size_t i = 0; i < input.size(); ++i) {
    if (input[i] != '\r') {
      text += input[i];
    } else if (i + 1 >= input.size() || input[i + 1] != '\n') {
      text += '\n';
    }
  }
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);  // a byte order mark
  return text;
}

std::string_view CueWord(std::string_view& line) {
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  std::string_view word;
  if (!line.empty() && line.front() == '"') {
    const auto close = line.find('"', 1);
    word = line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
    line.remove_prefix(close == std::string_view::npos ? line.size() : close + 1);
  } else {
    const auto end = line.find_first_of(" \t");
    word = line.substr(0, end);
    line.remove_prefix(end == std::string_view::npos ? line.size() : end);
  }
  return word;
}

wave::Error ReadListFile(const std::string& path, const std::string& what, std::string& text) {
  const std::string subject = path == "-" ? "stdin" : path;
  const auto refused = [&](std::string why) {
    return wave::Error{wave::ErrorCode::Refused, std::move(why), subject};
  };
  // Far more than any list of parts; a bound on what a mistaken file costs.
  constexpr std::size_t kLargest = 64 << 20;
  std::ifstream file;
  std::istream* in = &std::cin;
  if (path != "-") {
    // The name as typed, in UTF-8 on every system.
    const std::filesystem::path name(std::u8string(path.begin(), path.end()));
    std::error_code error;
    if (std::filesystem::is_directory(name, error)) return refused(wave::ReasonOf(EISDIR));
    file.open(name, std::ios::binary);
    if (!file) return refused(wave::ReasonOf(errno));
    in = &file;
  }
  std::string block(65536, '\0');
  while (*in) {
    in->read(block.data(), static_cast<std::streamsize>(block.size()));
    text.append(block, 0, static_cast<std::size_t>(in->gcount()));
    if (text.size() > kLargest) return refused("larger than 64 MiB: not " + what);
  }
  if (in->bad()) return refused("unable to read it");
  return {};
}

std::optional<std::int64_t> CueTimeOf(std::string_view time) {
  const auto number = [](std::string_view digits, std::int64_t most) -> std::optional<std::int64_t> {
    if (digits.empty() || digits.size() > 6) return std::nullopt;
    std::int64_t value = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + (c - '0');
    }
    if (value > most) return std::nullopt;
    return value;
  };
  const auto colon1 = time.find(':'), colon2 = time.rfind(':');
  if (colon1 == std::string_view::npos || colon1 == colon2) return std::nullopt;
  const auto minutes = number(time.substr(0, colon1), 99999);
  const auto seconds = number(time.substr(colon1 + 1, colon2 - colon1 - 1), 59);
  const auto frames = number(time.substr(colon2 + 1), 74);
  if (!minutes || !seconds || !frames) return std::nullopt;
  return (*minutes * 60 + *seconds) * 75 + *frames;
}

}  // namespace corvella::split
