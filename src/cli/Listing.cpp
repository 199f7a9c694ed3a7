#include "cli/Listing.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "cli/Plan.h"

namespace corvella::cli {
namespace {

std::string Format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

std::string PeakText(int peak) {
  return peak > 0 ? Format("%.1f", LevelDb(peak)) : std::string("-inf");
}

// A duration as m:ss.sss.
std::string Clock(double seconds) {
  char text[64];
  const long minutes = static_cast<long>(seconds / 60);
  std::snprintf(text, sizeof text, "%ld:%06.3f", minutes, seconds - 60.0 * static_cast<double>(minutes));
  return text;
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string Stem(const std::string& output) {
  const std::filesystem::path path(output);
  return path.stem().string();
}

void WriteText(std::ostream& out, const std::vector<ListedFile>& files) {
  for (const ListedFile& f : files) {
    if (!f.error.empty()) {
      out << f.file << ": " << f.error << "\n";
      continue;
    }
    const double length = Seconds(f.summary.frames, f.summary.rate);
    out << f.file << ": " << f.parts.size() << (f.parts.size() == 1 ? " part" : " parts") << " ("
        << f.summary.rate << " Hz, " << f.summary.channels
        << (f.summary.channels == 1 ? " channel, " : " channels, ") << Clock(length) << ")\n";
    if (f.parts.empty()) continue;
    char line[512];
    std::snprintf(line, sizeof line, "  %5s  %10s  %10s  %9s  %9s  %s\n", "part", "start", "end",
                  "length", "peak dBFS", "output");
    out << line;
    for (const ListedPart& p : f.parts) {
      const double start = Seconds(p.span.start, f.summary.rate);
      const double end = Seconds(p.span.end, f.summary.rate);
      std::snprintf(line, sizeof line, "  %5d  %10s  %10s  %8.3fs  %9s  %s\n", p.number,
                    Clock(start).c_str(), Clock(end).c_str(), end - start,
                    PeakText(p.span.peak).c_str(), p.output.c_str());
      out << line;
    }
  }
}

void WriteCsv(std::ostream& out, const std::vector<ListedFile>& files) {
  out << "file,part,start_frame,end_frame,start,end,duration,peak_dbfs,output\n";
  for (const ListedFile& f : files) {
    for (const ListedPart& p : f.parts) {
      const double start = Seconds(p.span.start, f.summary.rate);
      const double end = Seconds(p.span.end, f.summary.rate);
      out << CsvField(f.file) << ',' << p.number << ',' << p.span.start << ',' << p.span.end << ','
          << Format("%.6f", start) << ',' << Format("%.6f", end) << ',' << Format("%.6f", end - start)
          << ',' << PeakText(p.span.peak) << ',' << CsvField(p.output) << '\n';
    }
  }
}

void WriteJson(std::ostream& out, const std::vector<ListedFile>& files) {
  out << "[";
  for (std::size_t i = 0; i < files.size(); ++i) {
    const ListedFile& f = files[i];
    out << (i ? ",\n" : "\n") << "  {\"file\": " << JsonString(f.file);
    if (!f.error.empty()) {
      out << ", \"error\": " << JsonString(f.error) << "}";
      continue;
    }
    out << ", \"rate\": " << f.summary.rate << ", \"channels\": " << f.summary.channels
        << ", \"frames\": " << f.summary.frames << ",\n   \"noise_floor\": " << f.noiseFloor
        << ", \"threshold_db\": " << Format("%.2f", LevelDb(f.noiseFloor))
        << ", \"gap_threshold\": " << f.gapThreshold
        << ", \"gap\": " << Format("%.6f", f.gapThreshold / 44100.0)
        << ", \"min_part\": " << Format("%.6f", f.minPart)
        << ", \"pad_before\": " << Format("%.6f", f.padBefore)
        << ", \"pad_after\": " << Format("%.6f", f.padAfter) << ",\n   \"parts\": [";
    for (std::size_t k = 0; k < f.parts.size(); ++k) {
      const ListedPart& p = f.parts[k];
      out << (k ? ",\n    " : "\n    ") << "{\"number\": " << p.number
          << ", \"start_frame\": " << p.span.start << ", \"end_frame\": " << p.span.end
          << ", \"start\": " << Format("%.6f", Seconds(p.span.start, f.summary.rate))
          << ", \"end\": " << Format("%.6f", Seconds(p.span.end, f.summary.rate))
          << ", \"peak_dbfs\": " << (p.span.peak > 0 ? Format("%.2f", LevelDb(p.span.peak)) : "null")
          << ", \"output\": " << JsonString(p.output) << "}";
    }
    out << (f.parts.empty() ? "]}" : "\n   ]}");
  }
  out << (files.empty() ? "]\n" : "\n]\n");
}

void WriteLabels(std::ostream& out, const std::vector<ListedFile>& files) {
  for (const ListedFile& f : files) {
    for (const ListedPart& p : f.parts) {
      out << Format("%.6f", Seconds(p.span.start, f.summary.rate)) << '\t'
          << Format("%.6f", Seconds(p.span.end, f.summary.rate)) << '\t' << Stem(p.output) << '\n';
    }
  }
}

void WriteCue(std::ostream& out, const std::vector<ListedFile>& files) {
  int track = 0;
  for (const ListedFile& f : files) {
    if (!f.error.empty()) continue;
    const std::string name = std::filesystem::path(f.file).filename().string();
    out << "FILE " << JsonString(name) << " WAVE\n";
    for (const ListedPart& p : f.parts) {
      char number[16];
      std::snprintf(number, sizeof number, "%02d", ++track);
      out << "  TRACK " << number << " AUDIO\n"
          << "    TITLE " << JsonString(Stem(p.output)) << "\n"
          << "    INDEX 01 " << CueTime(Seconds(p.span.start, f.summary.rate)) << "\n";
    }
  }
}

}  // namespace

double Seconds(std::int64_t frame, std::int64_t rate) {
  return rate > 0 ? static_cast<double>(frame) / static_cast<double>(rate) : 0.0;
}

std::string CueTime(double seconds) {
  const auto total = static_cast<long long>(std::floor(seconds * 75.0 + 1e-9));
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", total / (75 * 60), (total / 75) % 60,
                total % 75);
  return text;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

void WriteListing(std::ostream& out, ListFormat format, const std::vector<ListedFile>& files) {
  switch (format) {
    case ListFormat::Text: return WriteText(out, files);
    case ListFormat::Csv: return WriteCsv(out, files);
    case ListFormat::Json: return WriteJson(out, files);
    case ListFormat::Labels: return WriteLabels(out, files);
    case ListFormat::Cue: return WriteCue(out, files);
  }
}

}  // namespace corvella::cli
