// `levels`: the recording's levels, and the options that split it: a noise
// floor between its noise and its music, and a gap between the silences
// inside its parts and those between them. The window peaks stream into
// summaries: the memory is the same for a recording of any length or rate.
#include <cmath>
#include <nlohmann/json.hpp>

#include "batch/Analysis.h"
#include "cli/Commands.h"
#include "cli/Finding.h"
#include "cli/Listing.h"
#include "cli/Text.h"
#include "detect/Units.h"

namespace corvella::cli {
namespace {

// "10 ms", "10.02 ms", "1000 ms": a window's real length.
std::string WindowLength(std::int64_t frames, std::int64_t rate) {
  std::string text = Fixed(1000.0 * detect::Seconds(frames, rate > 0 ? rate : 44100), 2);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text + " ms";
}

// "0.50", and short gaps to the tenth of a millisecond: "0.0050".
std::string GapText(double seconds) {
  return Fixed(seconds, seconds < 0.1 ? 4 : 2);
}

using Json = nlohmann::ordered_json;

// A figure as the text shows it: `digits` after the point.
double Rounded(double value, int digits) {
  const double scale = std::pow(10.0, digits);
  return std::round(value * scale) / scale;
}

// What --format json prints of a recording: its shape and its levels.
Json JsonLevels(const std::string& file, const wave::SourceInfo& info,
                const detect::LevelEstimate& estimate) {
  Json object;
  object["file"] = file;
  if (!IsUtf8(file)) object["file_bytes"] = Hex(file);
  object["rate"] = info.rate;
  object["channels"] = info.channels;
  object["seconds"] = Rounded(detect::Seconds(info.frames, info.rate), 3);
  object["noise_db"] = estimate.found ? Json(Rounded(estimate.noiseDb, 1)) : Json();
  object["music_db"] = estimate.found ? Json(Rounded(estimate.musicDb, 1)) : Json();
  return object;
}

// One line, spaced as the other JSON objects the command line prints.
std::string JsonText(const Json& object) {
  const auto dump = [](const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
  };
  std::string text = "{";
  for (const auto& [key, value] : object.items()) {
    if (text.size() > 1) text += ", ";
    text += dump(Json(key)) + ": " + dump(value);
  }
  return text + "}";
}

// A small histogram of the window levels in 6 dB steps, with the noise,
// music and suggested levels marked.
void WriteHistogram(std::ostream& out, const detect::LevelHistogram& levels,
                    const detect::LevelEstimate& estimate, double suggestionDb) {
  constexpr int kStep = 6;
  constexpr int kSteps = detect::LevelHistogram::kStepsPerDb;
  constexpr int kWidth = 40;
  const int lowest = levels.Lowest();
  std::vector<std::int64_t> rows(static_cast<std::size_t>(-lowest / kStep + 1), 0);
  const std::vector<std::int64_t>& counts = levels.Counts();
  for (std::size_t i = 0; i < counts.size(); ++i) rows[i / kSteps / kStep] += counts[i];
  const std::int64_t most = std::max<std::int64_t>(1, *std::max_element(rows.begin(), rows.end()));
  // From the loudest step that holds a window down to the quietest one.
  std::size_t top = rows.size(), bottom = 0;
  while (top > 0 && rows[top - 1] == 0) --top;
  while (bottom < top && rows[bottom] == 0) ++bottom;
  for (std::size_t i = top; i-- > bottom;) {
    const int low = lowest + static_cast<int>(i) * kStep;
    const std::string bar(static_cast<std::size_t>(rows[i] * kWidth / most + (rows[i] > 0 ? 1 : 0)),
                          '#');
    std::string marks;
    auto mark = [&](double db, const char* what) {
      if (db >= low && db < low + kStep)
        marks += std::string(marks.empty() ? "  <- " : ", ") + what;
    };
    if (estimate.found) mark(estimate.musicDb, "music");
    mark(suggestionDb, "suggested floor");
    if (estimate.found) mark(estimate.noiseDb, "noise");
    out << PadLeft(std::to_string(low), 4) << " dB |" << bar << marks << '\n';
  }
}

// The levels of a surveyed recording (`levels`: the windows' peaks, or
// their programme's level), and its histogram.
void WriteLevels(std::ostream& out, const std::string& file, const wave::SourceInfo& info,
                 const batch::WindowSurvey& survey, const detect::LevelHistogram& levels,
                 const detect::LevelEstimate& estimate, double suggestionDb, bool heard = false) {
  out << Printable(file) << ": " << info.rate << " Hz, " << info.channels
      << (info.channels == 1 ? " channel, " : " channels, ")
      << Fixed(detect::Seconds(info.frames, info.rate), 1) << " s, " << survey.Levels().Windows()
      << " windows of " << WindowLength(survey.WindowFrames(), info.rate) << "\n";
  if (estimate.found) {
    out << "  noise floor: " << Fixed(estimate.noiseDb, 1) << " dBFS (quiet passages, "
        << Fixed(100.0 * estimate.quietShare, 1) << "% of the recording)\n"
        << "  music:       from " << Fixed(estimate.musicDb, 1) << " dBFS\n";
  } else if (heard) {
    // Noise whose peaks reach the music's (clicks, hiss, hum) still lies
    // well under it in the programme's level.
    out << "  noise: its peaks reach the music's; the gaps stand apart by the programme's level\n";
  } else {
    out << "  no clear silence: the quiet passages do not stand apart from the music\n";
  }
  WriteHistogram(out, levels, estimate, suggestionDb);
}

// levels --tracks N: the floor and the silences the tracks are found at.
bool LevelsOfTracks(Job& job, const std::string& file, wave::Source& source, Console::Bar& bar,
                    const split::TrackList& list, JsonArray* json) {
  split::Found found;
  if (auto error = Find(job, file, source, RequestFor(job.options, list, file), bar, found)) {
    if (error == wave::ErrorCode::TitlesMismatch) error = {};
    if (error != wave::ErrorCode::Stopped && error) {
      job.console.Report(file, error);
      if (json) json->Add("{" + JsonPath("file", file) + ", " + JsonError(error) + "}");
    }
    if (error) return false;
  }
  bar.Clear();
  const wave::SourceInfo& info = source.Info();
  const detect::TrackChoice& choice = *found.choice;
  const batch::WindowSurvey& survey = *found.survey;
  // Tracks are told apart on the programme's level: its levels are shown.
  const detect::LevelEstimate estimate = detect::EstimateLevels(survey.ProgrammeLevels());
  const std::string suggested =
      "--tracks " + std::to_string(choice.parts) + " --threshold-db " + Fixed(choice.floorDb, 1);
  std::vector<detect::PartSpan> spans;
  for (const split::Part& part : found.parts) spans.push_back(part.span);
  const auto windowSeconds = [&](std::int64_t windows) {
    return detect::Seconds(windows * survey.WindowFrames(), info.rate);
  };
  if (json) {
    Json object = JsonLevels(file, info, estimate);
    object["tracks"] = choice.parts;
    object["threshold_db"] = Rounded(choice.floorDb, 1);
    object["declicked"] = choice.declicked;
    Json gaps = Json::array();
    for (std::size_t k = 1; k < spans.size(); ++k)
      gaps.push_back(Rounded(detect::Seconds(spans[k].start - spans[k - 1].end, info.rate), 3));
    object["gaps"] = gaps;
    if (choice.runnerUp) {
      object["longest_inside"] = {{"seconds", Rounded(windowSeconds(choice.runnerUp->windows), 2)},
                                  {"at", Rounded(windowSeconds(choice.runnerUp->first), 2)}};
    }
    object["suggested"] = suggested;
    json->Add(JsonText(object));
    return true;
  }
  std::ostream& out = job.console.out();
  WriteLevels(out, file, info, survey, survey.ProgrammeLevels(), estimate, choice.floorDb);
  out << "  tracks: " << choice.parts << " at " << Fixed(choice.floorDb, 1) << " dBFS"
      << (choice.declicked ? ", with clicks taken for silence" : "");
  if (choice.parts > 1) out << "; the silences between them: " << GapLengths(spans, info.rate);
  out << "\n";
  if (choice.runnerUp) {
    out << "  the longest silence inside a track: "
        << Fixed(windowSeconds(choice.runnerUp->windows), 2) << " s, at "
        << Clock(windowSeconds(choice.runnerUp->first)) << "\n";
  }
  out << "suggested: " << suggested << "\n";
  return true;
}

}  // namespace

int Levels(Job& job) {
  Console& console = job.console;
  const Options& options = job.options;
  bool failed = false;
  split::TrackList list;
  if (!ReadTrackList(job, list)) return kExitFailed;
  // With --format json, one object a recording: what it measured and
  // suggests, or why not.
  JsonArray array(console.out());
  JsonArray* json = options.Format() == ListFormat::Json ? &array : nullptr;
  const auto refused = [&](const std::string& file, const wave::Error& error) {
    if (json) json->Add("{" + JsonPath("file", file) + ", " + JsonError(error) + "}");
  };
  const auto finish = [&](int status) {
    if (json) {
      json->End();
      if (!console.Deliver()) return console.OutputStatus();
    }
    return status;
  };
  for (const std::string& file : options.files) {
    if (console.Stopped()) break;
    Console::Bar bar(console, file);
    wave::Error refusal;
    std::unique_ptr<wave::Source> source = job.Open(file, &refusal);
    if (!source) {
      refused(file, refusal);
      failed = true;
      continue;
    }
    if (options.tracks) {
      if (!LevelsOfTracks(job, file, *source, bar, list, json)) failed = true;
      if (console.Stopped()) break;
      if (!console.Deliver()) return console.OutputStatus();
      continue;
    }
    const wave::SourceInfo& info = source->Info();
    const detect::DetectParams given = options.Detection();
    batch::WindowSurvey survey(info, detect::GapFrames(given.gapThreshold, info.rate));
    batch::Suggestion suggestion;
    wave::Error error = batch::SurveyWindows(*source, bar, survey);
    if (!error) error = batch::Suggest(*source, survey, given, options.gapGiven, bar, suggestion);
    if (error == wave::ErrorCode::UnableToRead) error = {error.code, source->Failure()};
    if (error) {
      if (error != wave::ErrorCode::Stopped) {
        console.Report(file, error);
        refused(file, error);
      }
      failed = true;
      continue;
    }
    if (console.Stopped()) break;
    bar.Clear();

    const detect::DetectParams& params = suggestion.params;
    const bool byTracks = suggestion.tracks > 0;
    const double suggestionDb = suggestion.FloorDb();
    const detect::StableRange& range = suggestion.range;
    const detect::TrackChoice& clearest = suggestion.clearest;
    const auto optionsOf = [&](const batch::Alternative& reading, bool gapSuggested) {
      if (reading.tracks > 0) return "--tracks " + std::to_string(reading.tracks);
      const detect::DetectParams& p = reading.params;
      std::string text = "--threshold-db " + Fixed(*p.thresholdDb, 1);
      if (p.ignoreClicksMs > 0) text += " --ignore-clicks " + std::to_string(p.ignoreClicksMs);
      if (gapSuggested) {
        text += " --gap " + GapText(detect::GapSeconds(p.gapThreshold));
      } else if (p.gapThreshold != Options().gapThreshold) {
        text += " --gap-threshold " + std::to_string(p.gapThreshold);
      }
      return text;
    };
    batch::Alternative chosen;
    chosen.params = params;
    chosen.tracks = suggestion.tracks;
    chosen.parts = suggestion.parts;
    if (json) {
      Json object = JsonLevels(file, info, suggestion.estimate);
      if (range.found && !byTracks) {
        object["stable"] = {{"parts", range.parts},
                            {"low_db", Rounded(range.lowDb, 1)},
                            {"high_db", Rounded(range.highDb, 1)}};
      }
      if (clearest.found) object["clearest"] = {{"parts", clearest.parts},
                                                {"threshold_db", Rounded(clearest.floorDb, 1)}};
      object["sure"] = suggestion.sure && !suggestion.alternative;
      object["parts"] = suggestion.parts;
      if (byTracks) {
        object["tracks"] = suggestion.tracks;
        if (suggestion.edgesCut) {
          object["edges_cut"] = {{"threshold_db", Rounded(suggestion.edgesCut->floorDb, 1)},
                                 {"seconds", Rounded(suggestion.edgesCut->seconds, 2)}};
        }
      } else {
        object["threshold_db"] = Rounded(suggestionDb, 1);
        object["noise_floor"] = params.noiseFloor;
        object["gap"] = Rounded(detect::GapSeconds(params.gapThreshold), 4);
        object["ignore_clicks"] = params.ignoreClicksMs;
      }
      object["suggested"] = optionsOf(chosen, suggestion.gapSuggested);
      if (suggestion.alternative) {
        const batch::Alternative& other = *suggestion.alternative;
        object["alternative"] = {{"parts", other.parts},
                                 {"suggested", optionsOf(other, !options.gapGiven)}};
      }
      json->Add(JsonText(object));
      if (!console.Deliver()) return console.OutputStatus();
      continue;
    }
    std::ostream& out = console.out();
    WriteLevels(out, file, info, survey, byTracks ? survey.ProgrammeLevels() : survey.Levels(),
                suggestion.estimate, suggestionDb, suggestion.clearest.found);
    if (range.found && !byTracks) {
      out << "  stable: " << range.parts << (range.parts == 1 ? " part" : " parts")
          << " for every threshold from " << Fixed(range.lowDb, 1) << " to "
          << Fixed(range.highDb, 1) << " dBFS (" << Fixed(range.Width(), 1) << " dB)"
          << (range.declicked ? ", with clicks taken for silence" : "") << " at a "
          << GapText(detect::GapSeconds(given.gapThreshold)) << " s gap\n";
    }
    if (clearest.found) {
      const std::int64_t window = survey.WindowFrames();
      std::int64_t shortest = info.frames;
      for (const detect::SilentRun& gap : clearest.gaps) shortest = std::min(shortest, gap.windows);
      out << "  clearest: " << clearest.parts << (clearest.parts == 1 ? " part" : " parts")
          << " at " << Fixed(clearest.floorDb, 1) << " dBFS, parted by silences of "
          << Fixed(detect::Seconds(shortest * window, info.rate), 2) << " s or more";
      if (clearest.runnerUp) {
        out << "; the longest inside a part "
            << Fixed(detect::Seconds(clearest.runnerUp->windows * window, info.rate), 2) << " s";
      }
      out << "\n";
    }
    if (byTracks && suggestion.edgesCut) {
      out << "  the noise floor and gap that give these parts most clearly ("
          << Fixed(suggestion.edgesCut->floorDb, 1) << " dBFS) cut up to " << Fixed(suggestion.edgesCut->seconds, 2)
          << " s of the pieces' sound off (soft starts and fades); --tracks draws them out by the "
             "level of the programme\n";
    } else if (byTracks) {
      out << "  no noise floor and gap give these parts alone: passages inside them are as quiet "
             "as the gaps for as long; --tracks finds them by the level of the programme\n";
    }
    if (!byTracks && params.ignoreClicksMs > 0 && params.ignoreClicksMs != given.ignoreClicksMs) {
      out << "  clicks: " << survey.Parts().Clicks()
          << " short bursts stand alone in the quiet; --ignore-clicks " << params.ignoreClicksMs
          << " takes them for silence\n";
    }
    if (suggestion.alternative) {
      const batch::Alternative& other = *suggestion.alternative;
      out << "  warning: no clear answer: it reads as " << suggestion.parts
          << (suggestion.parts == 1 ? " part" : " parts") << " (" << optionsOf(chosen, suggestion.gapSuggested)
          << ") or as " << other.parts << (other.parts == 1 ? " part" : " parts") << " ("
          << optionsOf(other, !options.gapGiven) << "); check both with list -f html before splitting\n";
    } else if (!suggestion.sure) {
      out << "  warning: no range of thresholds gives the same parts for long"
          << "; the suggestion is a guess: check it with list -f html before splitting\n";
    }
    if (!byTracks) {
      out << "  suggested threshold: " << Fixed(suggestionDb, 1) << " dBFS (--noise-floor "
          << params.noiseFloor << "), giving " << suggestion.parts
          << (suggestion.parts == 1 ? " part" : " parts") << " with a "
          << GapText(detect::GapSeconds(params.gapThreshold)) << " s gap\n";
    }
    // Options the other commands take as they stand.
    out << "suggested: " << optionsOf(chosen, suggestion.gapSuggested) << "\n";
    if (!console.Deliver()) return console.OutputStatus();
  }
  if (console.Stopped()) return finish(console.StopStatus());
  return finish(job.Status(failed));
}

}  // namespace corvella::cli
