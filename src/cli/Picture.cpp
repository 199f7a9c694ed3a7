#include "cli/Picture.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "cli/Text.h"
#include "detect/Units.h"

namespace corvella::cli {
namespace {

constexpr double kQuietestDb = -90;  // at the centre line

const char kSvgStyle[] =
    "text{font-family:sans-serif;font-size:12px;fill:#222}"
    ".frame{fill:#fbfbfb;stroke:#bbb}.centre{stroke:#ccc}"
    ".envelope{fill:#2d3e50}"
    ".band{fill:#2b7bd6;fill-opacity:.35}.pad{fill:#2b7bd6;fill-opacity:.13}"
    ".dropped{fill:none;stroke:#888;stroke-dasharray:4 3}"
    ".strip{fill:#eef1f4}.number{font-size:11px;fill:#124}"
    ".command{font-family:monospace;font-size:11px;fill:#333}"
    "line.floor{stroke:#d33;stroke-width:1}g.floor text{fill:#d33}"
    ".tick{stroke:#999}.error{fill:#b00}";

std::string Px(double value) {
  return Fixed(value, 1);
}

// Where a frame stands across the picture.
double X(std::int64_t frame, std::int64_t frames) {
  return kPictureLeft +
         (frames > 0 ? static_cast<double>(frame) * kPictureColumns / static_cast<double>(frames)
                     : 0);
}

// How far from the centre line a level reaches: 0 dBFS at the edges; on a
// linear scale, in proportion to the amplitude, so that noise far below the
// music lies flat on the line.
double Reach(double db, bool linear) {
  const double share = linear ? std::clamp(detect::FractionOfDb(db), 0.0, 1.0)
                              : (std::clamp(db, kQuietestDb, 0.0) - kQuietestDb) / -kQuietestDb;
  return share * (kEnvelopeHeight / 2.0);
}

// The first `count` columns of UTF-8 `text`, and how many it has: a
// character of three or four bytes (CJK, most of them) takes two, as wide
// scripts are drawn; one that would not fit whole is left out.
std::string FirstCharacters(const std::string& text, std::size_t count, std::size_t* has = nullptr) {
  std::size_t columns = 0, end = text.size();
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if ((byte & 0xC0) == 0x80) continue;
    const std::size_t width = byte >= 0xE1 ? 2 : 1;
    if (columns + width > count) end = std::min(end, at);
    columns += width;
  }
  if (has) *has = columns;
  return text.substr(0, end);
}

// A part's label: its number, and its title cut to what fits in `room`
// pixels (at about 6.5 a character of the strip's type) with an ellipsis;
// the number whole, whatever the room.
std::string Label(int number, const std::string& title, double room) {
  const std::string label = std::to_string(number);
  if (title.empty()) return label;
  const auto fits = static_cast<std::size_t>(std::max(room, 0.0) / 6.5);
  std::size_t characters = 0;
  FirstCharacters(title, 0, &characters);
  if (label.size() + 1 + characters <= fits) return label + " " + title;
  if (fits < label.size() + 3) return label;
  return label + " " + FirstCharacters(title, fits - label.size() - 2) + "\xE2\x80\xA6";
}

std::string TimeText(double seconds) {
  const auto whole = static_cast<long long>(seconds);
  return std::to_string(whole / 60) + ":" + ZeroFilled(whole % 60, 2);
}

std::string Summary(const ListedFile& f) {
  return std::to_string(f.rate) + " Hz, " + std::to_string(f.channels) +
         (f.channels == 1 ? " channel, " : " channels, ") +
         Clock(detect::Seconds(f.frames, f.rate)) + ", " + std::to_string(f.parts.size()) +
         (f.parts.size() == 1 ? " part" : " parts");
}

// A band over frames [start, end) of the envelope.
void Band(std::ostream& out, const char* kind, std::int64_t start, std::int64_t end,
          std::int64_t frames) {
  const double x = X(start, frames), width = std::max(X(end, frames) - x, 1.0);
  out << "<rect class=\"" << kind << "\" x=\"" << Px(x) << "\" y=\"" << kEnvelopeTop
      << "\" width=\"" << Px(width) << "\" height=\"" << kEnvelopeHeight << "\"/>";
}

// A file's row: its own group, placed `top` pixels down.
// `command`: with the command line under it (the page gives it as text).
void Row(std::ostream& out, const ListedFile& f, int top, bool command) {
  out << "<g class=\"file\" data-file=\"" << XmlText(f.file) << "\" transform=\"translate(0," << top
      << ")\"";
  if (f.error.empty() && f.picture)
    out << " data-frames=\"" << f.frames << "\" data-rate=\"" << f.rate << "\"";
  if (!f.error.empty() || !f.picture) {
    out << " data-error=\"" << XmlText(f.error) << "\"><text x=\"" << kPictureLeft << "\" y=\"16\">"
        << XmlText(f.file) << ": <tspan class=\"error\">" << XmlText(f.error)
        << "</tspan></text></g>\n";
    return;
  }
  const Picture& p = *f.picture;
  const double centre = kEnvelopeTop + kEnvelopeHeight / 2.0;
  out << ">\n<text x=\"" << kPictureLeft << "\" y=\"16\">" << XmlText(f.file) << " \xE2\x80\x94 "
      << Summary(f) << "</text>\n<rect class=\"frame\" x=\"" << kPictureLeft << "\" y=\""
      << kEnvelopeTop << "\" width=\"" << kPictureColumns << "\" height=\"" << kEnvelopeHeight
      << "\"/>\n<rect class=\"strip\" x=\"" << kPictureLeft << "\" y=\"" << kStripTop
      << "\" width=\"" << kPictureColumns << "\" height=\"" << kStripHeight << "\"/>\n";
  // The parts: what padding added lighter, what was found shaded.
  for (std::size_t k = 0; k < f.parts.size(); ++k) {
    const ListedPart& part = f.parts[k];
    out << "<g class=\"part\" data-number=\"" << part.number << "\" data-start-frame=\""
        << part.span.start << "\" data-end-frame=\"" << part.span.end << "\">";
    const detect::PartSpan found = k < p.found.size() ? p.found[k] : part.span;
    if (part.span.start < found.start) Band(out, "pad", part.span.start, found.start, f.frames);
    if (found.end < part.span.end) Band(out, "pad", found.end, part.span.end, f.frames);
    Band(out, "band", found.start, found.end, f.frames);
    // Its number and title on the strip above, dark on light, cut off
    // where the next part's label begins.
    const double x = X(found.start, f.frames) + 2;
    const double room = (k + 1 < f.parts.size() ? X(f.parts[k + 1].span.start, f.frames)
                                                : kPictureLeft + kPictureColumns) - x - 4;
    out << "<text class=\"number\" x=\"" << Px(x) << "\" y=\"" << kStripTop + 12 << "\">"
        << XmlText(Label(part.number, part.title, room))
        << "</text>";
    if (!part.title.empty()) out << "<title>" << XmlText(part.title) << "</title>";
    out << "</g>\n";
  }
  for (const detect::PartSpan& dropped : p.dropped) {
    out << "<g class=\"dropped\" data-start-frame=\"" << dropped.start << "\" data-end-frame=\""
        << dropped.end << "\">";
    Band(out, "dropped", dropped.start, dropped.end, f.frames);
    out << "</g>\n";
  }
  // The envelope, mirrored about the centre line: its upper edge left to
  // right, then its lower edge back.
  const std::size_t n = p.columns.size();
  const double step = n > 0 ? static_cast<double>(kPictureColumns) / static_cast<double>(n) : 1.0;
  out << "<path class=\"envelope\" d=\"M" << kPictureLeft << " " << Px(centre);
  for (std::size_t c = 0; c < n; ++c) {
    const double y = centre - Reach(detect::LevelDb(p.columns[c]), f.linear);
    out << "L" << Px(kPictureLeft + step * static_cast<double>(c)) << " " << Px(y) << "L"
        << Px(kPictureLeft + step * static_cast<double>(c + 1)) << " " << Px(y);
  }
  for (std::size_t c = n; c-- > 0;) {
    const double y = centre + Reach(detect::LevelDb(p.columns[c]), f.linear);
    out << "L" << Px(kPictureLeft + step * static_cast<double>(c + 1)) << " " << Px(y) << "L"
        << Px(kPictureLeft + step * static_cast<double>(c)) << " " << Px(y);
  }
  out << "Z\"/>\n<line class=\"centre\" x1=\"" << kPictureLeft << "\" y1=\"" << Px(centre)
      << "\" x2=\"" << kPictureLeft + kPictureColumns << "\" y2=\"" << Px(centre) << "\"/>\n";
  // The noise floor, at its level on both sides.
  out << "<g class=\"floor\" data-db=\"" << Fixed(p.floorDb, 2) << "\">";
  for (double side : {-1.0, 1.0}) {
    const double y = centre + side * Reach(p.floorDb, f.linear);
    out << "<line class=\"floor\" x1=\"" << kPictureLeft << "\" y1=\"" << Px(y) << "\" x2=\""
        << kPictureLeft + kPictureColumns << "\" y2=\"" << Px(y) << "\"/>";
  }
  out << "<text x=\"4\" y=\"" << Px(centre - Reach(p.floorDb, f.linear) + 4) << "\">" << Fixed(p.floorDb, 0)
      << " dB</text></g>\n";
  // The time axis: ticks at round steps, about ten of them, in m:ss.
  const double seconds = detect::Seconds(f.frames, f.rate);
  double tick = 1;
  for (double s : {1.0, 2.0, 5.0, 10.0, 15.0, 30.0, 60.0, 120.0, 300.0, 600.0, 900.0, 1800.0,
                   3600.0, 7200.0, 10800.0, 21600.0, 43200.0, 86400.0}) {
    tick = s;
    if (seconds / s <= 12) break;
  }
  while (seconds / tick > 12) tick *= 2;  // recordings of weeks
  const int bottom = kEnvelopeTop + kEnvelopeHeight;
  out << "<g class=\"axis\">";
  for (double t = 0; t <= seconds + 1e-9 && f.rate > 0; t += tick) {
    const double x = X(static_cast<std::int64_t>(t * static_cast<double>(f.rate)), f.frames);
    out << "<line class=\"tick\" x1=\"" << Px(x) << "\" y1=\"" << bottom << "\" x2=\"" << Px(x)
        << "\" y2=\"" << bottom + 5 << "\"/><text x=\"" << Px(x - 10) << "\" y=\"" << bottom + 18
        << "\">" << TimeText(t) << "</text>";
  }
  out << "</g>\n";
  if (command && !f.command.empty()) {
    out << "<text class=\"command\" x=\"" << kPictureLeft << "\" y=\"" << bottom + 38 << "\">"
        << XmlText(f.command) << "</text>\n";
  }
  out << "</g>\n";
}

// A row per file; the page gives the style once for all its pictures.
void SvgOf(std::ostream& out, const std::vector<ListedFile>& files, bool standalone) {
  const int height = std::max<int>(1, static_cast<int>(files.size())) * kRowHeight;
  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"picture\" width=\"" << kPictureWidth
      << "\" height=\"" << height << "\" viewBox=\"0 0 " << kPictureWidth << " " << height
      << "\">\n";
  if (standalone) out << "<style>" << kSvgStyle << "</style>\n";
  int top = 0;
  for (const ListedFile& f : files) {
    Row(out, f, top, standalone);
    top += kRowHeight;
  }
  out << "</svg>\n";
}

// The level histogram of `levels` as bars, with its marks.
void Histogram(std::ostream& out, const Picture& p) {
  constexpr int kStep = 6, kBar = 16, kWidth = 360, kLabel = 60;
  const int lowest = p.levels.Lowest();
  std::vector<std::int64_t> rows(static_cast<std::size_t>(-lowest / kStep + 1), 0);
  const auto& counts = p.levels.Counts();
  for (std::size_t i = 0; i < counts.size(); ++i)
    rows[i / detect::LevelHistogram::kStepsPerDb / kStep] += counts[i];
  std::size_t top = rows.size(), bottom = 0;
  while (top > 0 && rows[top - 1] == 0) --top;
  while (bottom < top && rows[bottom] == 0) ++bottom;
  const std::int64_t most = std::max<std::int64_t>(1, *std::max_element(rows.begin(), rows.end()));
  const int height = static_cast<int>(top - bottom) * kBar + 4;
  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"histogram\" width=\""
      << kLabel + kWidth + 200 << "\" height=\"" << height << "\">\n";
  int y = 0;
  for (std::size_t i = top; i-- > bottom; y += kBar) {
    const int low = lowest + static_cast<int>(i) * kStep;
    std::string marks;
    auto mark = [&](double db, const char* what) {
      if (db >= low && db < low + kStep)
        marks += std::string(marks.empty() ? "\xE2\x86\x90 " : ", ") + what;
    };
    if (p.estimate.found) {
      mark(p.estimate.musicDb, "music");
      mark(p.estimate.noiseDb, "noise");
    }
    mark(p.suggestionDb, "suggested floor");
    out << "<text x=\"0\" y=\"" << y + 12 << "\">" << low << " dB</text><rect class=\"bar\" x=\""
        << kLabel << "\" y=\"" << y + 2 << "\" width=\""
        << Px(static_cast<double>(rows[i]) * kWidth / static_cast<double>(most)) << "\" height=\""
        << kBar - 4 << "\"/><text x=\"" << kLabel + kWidth + 8 << "\" y=\"" << y + 12 << "\">"
        << marks << "</text>\n";
  }
  out << "</svg>\n";
}

const char kPageStyle[] =
    "body{font-family:sans-serif;color:#222;margin:0;padding:16px 40px;max-width:1280px}"
    "h1{font-size:20px}h2{font-size:16px;margin:24px 0 4px}"
    "svg.picture{display:block;max-width:100%;height:auto}"
    "table{border-collapse:collapse;font-size:13px;margin:8px 0}"
    "td,th{border-bottom:1px solid #ddd;padding:2px 10px;text-align:right}"
    "td.name,th.name{text-align:left}"
    ".bar{fill:#2d3e50}.parameters{font-size:13px;color:#444}"
    "code.command{font-size:13px;background:#f4f4f4;padding:2px 4px;user-select:all}"
    "#readout{position:fixed;right:12px;top:8px;font-size:13px;background:#fff;padding:2px 6px}"
    "@media print{body{padding:0;max-width:none;width:190mm}#readout{display:none}"
    "section{page-break-inside:avoid}svg{max-width:100%;height:auto}@page{size:A4;margin:10mm}}";

// Shows the time under the pointer over a picture; the page works without.
std::string PageScript() {
  const std::string width = std::to_string(kPictureWidth), left = std::to_string(kPictureLeft),
                    columns = std::to_string(kPictureColumns);
  return "document.querySelectorAll('g.file[data-frames]').forEach(function(g){"
         "var svg=g.ownerSVGElement,o=document.getElementById('readout');"
         "svg.addEventListener('mousemove',function(e){var b=svg.getBoundingClientRect();"
         "var x=(e.clientX-b.left)*" +
         width + "/b.width-" + left + ";if(x<0||x>" + columns +
         "){o.textContent='';return;}var s=x/" + columns +
         "*g.dataset.frames/g.dataset.rate;"
         "o.textContent=Math.floor(s/60)+':'+('0'+(s%60).toFixed(2)).slice(-5);});});";
}

}  // namespace

void WriteSvg(std::ostream& out, const std::vector<ListedFile>& files) {
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  SvgOf(out, files, true);
}

void WriteHtml(std::ostream& out, const std::vector<ListedFile>& files) {
  out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"/><title>Corvella: the "
         "parts of "
      << files.size() << (files.size() == 1 ? " recording" : " recordings") << "</title><style>"
      << kPageStyle << kSvgStyle
      << "</style></head>\n<body><h1>The parts Corvella finds</h1><div id=\"readout\"></div>\n";
  for (const ListedFile& f : files) {
    out << "<section class=\"file\"><h2>" << XmlText(f.file) << "</h2>\n";
    SvgOf(out, {f}, false);
    if (!f.error.empty() || !f.picture) {
      out << "</section>\n";
      continue;
    }
    const Picture& p = *f.picture;
    out << "<p class=\"parameters\">" << Summary(f) << ". Noise floor " << f.noiseFloor << " ("
        << Fixed(p.floorDb, 1) << " dBFS), gap " << Fixed(detect::GapSeconds(f.gapThreshold), 2)
        << " s";
    if (f.minPart > 0) out << ", parts of at least " << Fixed(f.minPart, 2) << " s";
    if (f.padBefore > 0 || f.padAfter > 0) {
      out << ", padded by " << Fixed(f.padBefore, 2) << " s before and " << Fixed(f.padAfter, 2)
          << " s after";
    }
    out << ".</p>\n<table><tr><th>part</th><th>start</th><th>end</th><th>length</th><th>peak "
           "dBFS</th>"
           "<th class=\"name\">output</th></tr>\n";
    for (const ListedPart& part : f.parts) {
      const double start = detect::Seconds(part.span.start, f.rate),
                   end = detect::Seconds(part.span.end, f.rate);
      out << "<tr><td>" << part.number << "</td><td>" << Clock(start) << "</td><td>" << Clock(end)
          << "</td><td>" << Fixed(end - start, 3) << " s</td><td>" << PeakText(part.span.peak)
          << "</td><td class=\"name\">" << XmlText(part.output) << "</td></tr>\n";
    }
    out << "</table>\n";
    if (!f.command.empty()) {
      out << "<p class=\"parameters\">To split it so: <code class=\"command\">"
          << XmlText(f.command) << "</code></p>\n";
    }
    out << "<p class=\"parameters\">Levels of its 10 ms windows; the suggested floor is "
        << Fixed(p.suggestionDb, 1) << " dBFS.</p>\n";
    Histogram(out, p);
    out << "</section>\n";
  }
  out << "<script>//<![CDATA[\n" << PageScript() << "\n//]]></script>\n</body></html>\n";
}

}  // namespace corvella::cli
