#include "cli/Listing.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string_view>

#include "batch/OutputName.h"
#include "cli/Picture.h"
#include "cli/Text.h"
#include "cli/Finding.h"
#include "detect/Units.h"
#include "messages/Messages.h"

namespace corvella::cli {
namespace {

using detect::Seconds;

// The same in JSON, where only finite numbers exist.
std::string PeakJson(double peak) {
  const double db = detect::LevelDb(peak);
  return std::isfinite(db) ? Fixed(db, 2) : "null";
}

std::string CsvField(const std::string& raw) {
  const std::string text = SpreadsheetText(raw);
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string Stem(const std::string& output) {
  return batch::SplitFileName(output).stem;
}

void WriteText(std::ostream& out, const std::vector<ListedFile>& files) {
  for (const ListedFile& f : files) {
    if (!f.error.empty()) {
      out << Printable(f.file) << ": " << f.error << "\n";
      continue;
    }
    out << Printable(f.file) << ": " << f.parts.size() << (f.parts.size() == 1 ? " part" : " parts")
        << " (" << f.rate << " Hz, " << f.channels
        << (f.channels == 1 ? " channel, " : " channels, ") << Clock(Seconds(f.frames, f.rate))
        << ")\n";
    if (f.parts.empty()) continue;
    out << "  " << PadLeft("part", 5) << "  " << PadLeft("start", 10) << "  " << PadLeft("end", 10)
        << "  " << PadLeft("length", 9) << "  " << PadLeft("peak dBFS", 9) << "  output\n";
    for (const ListedPart& p : f.parts) {
      const double start = Seconds(p.span.start, f.rate);
      const double end = Seconds(p.span.end, f.rate);
      out << "  " << PadLeft(std::to_string(p.number), 5) << "  " << PadLeft(Clock(start), 10)
          << "  " << PadLeft(Clock(end), 10) << "  " << PadLeft(Fixed(end - start, 3), 8) << "s  "
          << PadLeft(PeakText(p.span.peak), 9) << "  " << Printable(p.output) << "\n";
    }
    if (f.tracksFloorDb) {
      out << "  tracks at " << Fixed(*f.tracksFloorDb, 1) << " dBFS";
      std::vector<detect::PartSpan> spans;
      for (const ListedPart& p : f.parts) spans.push_back(p.span);
      if (spans.size() > 1) out << "; the silences between them: " << GapLengths(spans, f.rate);
      out << "\n";
    }
  }
}

void WriteCsv(std::ostream& out, const std::vector<ListedFile>& files) {
  out << "file,part,start_frame,end_frame,start,end,duration,peak_dbfs,output\n";
  for (const ListedFile& f : files) {
    for (const ListedPart& p : f.parts) {
      const double start = Seconds(p.span.start, f.rate);
      const double end = Seconds(p.span.end, f.rate);
      out << CsvField(f.file) << ',' << p.number << ',' << p.span.start << ',' << p.span.end << ','
          << Fixed(start, 6) << ',' << Fixed(end, 6) << ',' << Fixed(end - start, 6) << ','
          << PeakText(p.span.peak) << ',' << CsvField(p.output) << '\n';
    }
  }
}

void WriteJson(std::ostream& out, const std::vector<ListedFile>& files) {
  out << "[";
  for (std::size_t i = 0; i < files.size(); ++i) {
    const ListedFile& f = files[i];
    out << (i ? ",\n" : "\n") << "  {" << JsonPath("file", f.file);
    if (!f.error.empty()) {
      out << ", " << JsonError(f.error, f.reason) << "}";
      continue;
    }
    out << ", \"rate\": " << f.rate << ", \"channels\": " << f.channels
        << ", \"frames\": " << f.frames << ",\n   \"noise_floor\": " << f.noiseFloor
        << ", \"threshold_db\": "
        << Fixed(f.tracksFloorDb ? *f.tracksFloorDb : detect::AmplitudeDb(f.noiseFloor), 2)
        << ", \"gap_threshold\": " << f.gapThreshold
        << ", \"gap\": " << Fixed(detect::GapSeconds(f.gapThreshold), 6)
        << ", \"min_part\": " << Fixed(f.minPart, 6)
        << ", \"pad_before\": " << Fixed(f.padBefore, 6)
        << ", \"pad_after\": " << Fixed(f.padAfter, 6);
    if (f.tracksFloorDb) out << ", \"tracks\": " << f.parts.size();
    for (auto [key, value] :
         {std::pair{"artist", &f.artist}, {"album", &f.album}, {"date", &f.date}}) {
      if (!value->empty()) out << ", \"" << key << "\": " << JsonString(*value);
    }
    out << ",\n   \"parts\": [";
    for (std::size_t k = 0; k < f.parts.size(); ++k) {
      const ListedPart& p = f.parts[k];
      out << (k ? ",\n    " : "\n    ") << "{\"number\": " << p.number
          << ", \"start_frame\": " << p.span.start << ", \"end_frame\": " << p.span.end
          << ", \"start\": " << Fixed(Seconds(p.span.start, f.rate), 6)
          << ", \"end\": " << Fixed(Seconds(p.span.end, f.rate), 6)
          << ", \"peak_dbfs\": " << PeakJson(p.span.peak)
          << ", " << JsonPath("output", p.output);
      if (!p.title.empty()) out << ", \"title\": " << JsonString(p.title);
      if (!p.artist.empty()) out << ", \"artist\": " << JsonString(p.artist);
      out << "}";
    }
    out << (f.parts.empty() ? "]}" : "\n   ]}");
  }
  out << (files.empty() ? "]\n" : "\n]\n");
}

void WriteLabels(std::ostream& out, const std::vector<ListedFile>& files) {
  for (const ListedFile& f : files) {
    for (const ListedPart& p : f.parts) {
      out << Fixed(Seconds(p.span.start, f.rate), 6) << '\t'
          << Fixed(Seconds(p.span.end, f.rate), 6) << '\t' << LabelName(Stem(p.output)) << '\n';
    }
  }
}

void WriteCue(std::ostream& out, const std::vector<ListedFile>& files) {
  int track = 0;
  for (const ListedFile& f : files) {
    if (!f.error.empty()) continue;
    const std::string name = batch::FileNameOf(f.file);
    // The side's names, where a track list gave them.
    if (track == 0 && !f.date.empty()) {
      // Bare, as players write a year; quoted where it holds a space.
      const bool bare = std::all_of(f.date.begin(), f.date.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) ||
               std::string_view("-./:").find(c) != std::string_view::npos;
      });
      out << "REM DATE " << (bare ? f.date : CueQuoted(f.date)) << "\n";
    }
    if (track == 0 && !f.artist.empty()) out << "PERFORMER " << CueQuoted(f.artist) << "\n";
    if (track == 0 && !f.album.empty()) out << "TITLE " << CueQuoted(f.album) << "\n";
    out << "FILE " << CueQuoted(name) << " WAVE\n";
    for (const ListedPart& p : f.parts) {
      out << "  TRACK " << ZeroFilled(++track, 2) << " AUDIO\n"
          << "    TITLE " << CueQuoted(p.title.empty() ? Stem(p.output) : p.title) << "\n";
      if (!p.artist.empty() && p.artist != f.artist)
        out << "    PERFORMER " << CueQuoted(p.artist) << "\n";
      out << "    INDEX 01 " << CueTime(Seconds(p.span.start, f.rate)) << "\n";
    }
  }
}

}  // namespace

std::string CueTime(double seconds) {
  const auto total = static_cast<long long>(std::floor(seconds * 75.0 + 1e-9));
  return ZeroFilled(total / (75 * 60), 2) + ":" + ZeroFilled((total / 75) % 60, 2) + ":" +
         ZeroFilled(total % 75, 2);
}

std::string JsonString(const std::string& text) {
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string JsonPath(const std::string& key, const std::string& path) {
  std::string text = "\"" + key + "\": " + JsonString(path);
  if (!IsUtf8(path)) text += ", \"" + key + "_bytes\": \"" + Hex(path) + "\"";
  return text;
}

std::string JsonError(const std::string& sentence, const std::string& reason) {
  std::string text = "\"error\": " + JsonString(sentence);
  if (!reason.empty()) text += ", \"reason\": " + JsonString(reason);
  return text;
}

std::string JsonError(const wave::Error& error) {
  return JsonError(messages::MessageOf(error),
                   messages::InOwnWords(error.code) ? std::string() : error.detail);
}

namespace {

std::string PartJsonHead(const std::string& file, int number, const std::string& path) {
  return "{" + JsonPath("file", file) + ", \"part\": " + std::to_string(number) + ", " +
         JsonPath("path", path);
}

}  // namespace

std::string WrittenPartJson(const std::string& file, int number, const std::string& path,
                            std::int64_t start, std::int64_t end, std::int64_t rate) {
  return PartJsonHead(file, number, path) + ", \"start_frame\": " + std::to_string(start) +
         ", \"end_frame\": " + std::to_string(end) +
         ", \"start\": " + Fixed(Seconds(start, rate), 6) +
         ", \"end\": " + Fixed(Seconds(end, rate), 6) + "}";
}

std::string RefusedPartJson(const std::string& file, int number, const std::string& path,
                            const wave::Error& error) {
  return PartJsonHead(file, number, path) + ", " + JsonError(error) + "}";
}

void JsonArray::Add(const std::string& object) {
  out_ << (begun_ ? ",\n  " : "[\n  ") << object;
  begun_ = true;
}

void JsonArray::End() { out_ << (begun_ ? "\n]\n" : "[]\n"); }

std::string LabelName(const std::string& text) { return SpreadsheetText(text); }

std::string ListingRefusal(ListFormat format, const std::vector<ListedFile>& files) {
  if (format == ListFormat::Labels && files.size() > 1) {
    return "a label track holds the labels of one recording; list the recordings one at a time, "
           "or as json or csv";
  }
  if (format != ListFormat::Cue) return "";
  std::size_t tracks = 0;
  for (const ListedFile& f : files) tracks += f.parts.size();
  if (tracks <= 99) return "";
  return "a cue sheet holds at most 99 tracks, and these recordings have " +
         std::to_string(tracks) +
         " parts; list them as json, csv or labels, or with a longer --gap or --min-part";
}

void WriteListing(std::ostream& out, ListFormat format, const std::vector<ListedFile>& files) {
  switch (format) {
    case ListFormat::Text:
      return WriteText(out, files);
    case ListFormat::Csv:
      return WriteCsv(out, files);
    case ListFormat::Json:
      return WriteJson(out, files);
    case ListFormat::Labels:
      return WriteLabels(out, files);
    case ListFormat::Svg:
      return WriteSvg(out, files);
    case ListFormat::Html:
      return WriteHtml(out, files);
    case ListFormat::Cue:
      return WriteCue(out, files);
  }
}

}  // namespace corvella::cli
