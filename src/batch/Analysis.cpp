#include "batch/Analysis.h"

#include <algorithm>
#include <cmath>

#include "batch/PartWalk.h"
#include "detect/Levels.h"
#include "detect/LoudScan.h"
#include "detect/Scanner.h"
#include "detect/Units.h"

namespace corvella::batch {
namespace {

// Floors above this part nothing a user would call silence.
constexpr double kHighestFloorDb = -10.0;
// A silence between parts lasts a quarter of a second at least, unless a
// shorter gap is asked for.
constexpr std::int64_t kShortestGapWindows = 25;
// Clicks are bursts of at most 5 ms.
constexpr int kClickMs = 5;
// A count that holds over this many dB of floors is a sure suggestion.
constexpr double kSureDb = 6.0;

// The loudness rule of the recording at a floor, and where in frames
// [from, to) its first and last loud frames are (-1 where none is).
struct LoudEdges {
  std::int64_t first = -1, last = -1;
};

wave::Error EdgesOf(wave::Source& source, const detect::LoudRule& rule, std::int64_t from,
                    std::int64_t to, LoudEdges& edges) {
  const wave::SourceInfo& info = source.Info();
  const std::int64_t frameBytes = info.FrameBytes();
  const std::int64_t bytes = (to - from) * frameBytes;
  std::vector<double> buffer(static_cast<std::size_t>(bytes) / sizeof(double) + 1);
  if (source.ReadSamples(from * frameBytes, buffer.data(), bytes) != bytes)
    return wave::ErrorCode::UnableToRead;
  const auto samples = static_cast<std::size_t>((to - from) * info.channels);
  const std::size_t first = detect::FirstLoudSample(buffer.data(), samples, rule);
  if (first == samples) return {};
  const std::size_t last = detect::LastLoudSample(buffer.data(), samples, rule);
  edges.first = from + static_cast<std::int64_t>(first) / info.channels;
  edges.last = from + static_cast<std::int64_t>(last) / info.channels;
  return {};
}

// A gap in 1/44100 s units whose length in frames lies in [shortest,
// longest]: a third of the way from the one to the other in proportion,
// nearer the silences between parts than those inside them, as a pause
// longer than any the survey saw is likelier than a shorter gap; two
// figures of seconds where they fit.
int GapBetween(std::int64_t shortest, std::int64_t longest, std::int64_t rate) {
  const double low = static_cast<double>(std::max<std::int64_t>(1, shortest));
  const double high = static_cast<double>(std::max(shortest, longest));
  const double frames = std::min(std::cbrt(low) * std::cbrt(high) * std::cbrt(high), 0.8 * high);
  const double seconds = std::max(frames, low) / static_cast<double>(rate > 0 ? rate : 44100);
  const double scale = std::pow(10.0, std::floor(std::log10(seconds)) - 1);
  const int rounded = detect::GapThresholdFromSeconds(std::round(seconds / scale) * scale);
  const std::int64_t length = detect::GapFrames(rounded, rate);
  if (length >= shortest && length <= longest) return rounded;
  return detect::GapThresholdFromSeconds(seconds);
}

}  // namespace

void PeakSummary::Add(double peak) {
  if (!blocks_.empty() && inLast_ < blockWindows_) {
    blocks_.back() = std::max(blocks_.back(), peak);
    ++inLast_;
    return;
  }
  if (blocks_.size() == kBlocks) {
    // Every block is full: pairs become one block twice as long.
    for (std::size_t i = 0; i < kBlocks / 2; ++i)
      blocks_[i] = std::max(blocks_[2 * i], blocks_[2 * i + 1]);
    blocks_.resize(kBlocks / 2);
    blockWindows_ *= 2;
  }
  blocks_.push_back(peak);
  inLast_ = 1;
}

std::int64_t WindowFramesFor(std::int64_t rate) {
  return std::max<std::int64_t>(1, detect::FramesFromSeconds(0.01, rate));
}

int LowestDbFor(const wave::SourceInfo& info) {
  return info.bits > 16 || wave::IsFloat(info.sampleType) ? -150 : -96;
}

WindowSurvey::WindowSurvey(const wave::SourceInfo& info, std::int64_t gapFrames,
                           std::optional<double> floorDb)
    : windowFrames_(WindowFramesFor(info.rate)),
      levels_(LowestDbFor(info)),
      parts_(LowestDbFor(info), windowFrames_, gapFrames),
      tracks_(info, LowestDbFor(info),
              std::clamp<std::int64_t>(gapFrames / windowFrames_, 1, kShortestGapWindows),
              floorDb) {}

void WindowSurvey::Add(double peak) {
  levels_.Add(peak);
  parts_.Add(levels_.Db(peak));
  tracks_.Add(peak);
  peaks_.Add(peak);
}

void WindowSurvey::Finish() {
  parts_.Finish();
  tracks_.Finish();
}

wave::Error SurveyWindows(wave::Source& source, detect::Progress& progress, WindowSurvey& survey) {
  const wave::Error error =
      detect::ForEachWindowPeak(source, survey.WindowFrames(), progress,
                                [&](double peak, std::int64_t) { survey.Add(peak); });
  if (!error) survey.Finish();
  return error;
}

detect::DetectParams TrackParams(const detect::TrackChoice& choice) {
  detect::DetectParams params;
  params.thresholdDb = choice.floorDb;
  params.noiseFloor = detect::NoiseFloorFromDb(choice.floorDb);
  return params;
}

wave::Error ChooseTracks(wave::Source& source, const WindowSurvey& survey,
                         const TrackRequest& request, Tracks& tracks) {
  const wave::SourceInfo& info = source.Info();
  const std::int64_t window = survey.WindowFrames();
  // A track of at least the shortest length spans that many windows and the
  // two at its ends, which are partly silence.
  const std::int64_t minWindows =
      request.minFrames > 0 ? (request.minFrames + window - 1) / window + 2 : 0;
  tracks.parts.clear();
  tracks.choice = survey.Tracks().Choose(request.tracks, request.floorDb, LowestDbFor(info),
                                         kHighestFloorDb, minWindows);
  const detect::TrackChoice& choice = tracks.choice;
  if (!choice.found) return {};
  const detect::LoudRule rule = detect::RuleFor(info, TrackParams(choice));
  auto frames = [&](std::int64_t w) {
    return std::pair{w * window, std::min((w + 1) * window, info.frames)};
  };
  for (int k = 0; k < choice.parts; ++k) {
    const auto index = static_cast<std::size_t>(k);
    const std::int64_t firstWindow = k == 0 ? choice.firstLoud : choice.gaps[index - 1].End();
    const std::int64_t lastWindow =
        k + 1 == choice.parts ? choice.lastLoud : choice.gaps[index].first - 1;
    // The windows at a track's ends are loud, so each holds its edge.
    LoudEdges head, tail;
    const auto [headFrom, headTo] = frames(firstWindow);
    const auto [tailFrom, tailTo] = frames(lastWindow);
    if (auto error = EdgesOf(source, rule, headFrom, headTo, head)) return error;
    if (auto error = EdgesOf(source, rule, tailFrom, tailTo, tail)) return error;
    detect::PartSpan part;
    part.start = head.first >= 0 ? head.first : headFrom;
    part.end = tail.last >= 0 ? tail.last + 1 : tailTo;
    tracks.parts.push_back(part);
  }
  return PeaksFromSurvey(source, survey, tracks.parts);
}

wave::Error PeaksFromSurvey(wave::Source& source, const WindowSurvey& survey,
                            std::vector<detect::PartSpan>& parts) {
  const std::int64_t frames = source.Info().frames;
  const PeakSummary& summary = survey.Peaks();
  const std::int64_t blockFrames = summary.BlockWindows() * survey.WindowFrames();
  const auto blocks = static_cast<std::int64_t>(summary.Blocks().size());
  for (detect::PartSpan& part : parts) {
    // The blocks wholly inside the part, and its ends outside them.
    std::int64_t first = (part.start + blockFrames - 1) / blockFrames;
    std::int64_t last = std::min(part.end / blockFrames, blocks);  // one past
    if (part.end >= frames) last = blocks;
    std::vector<detect::PartSpan> ends;
    double peak = 0;
    if (first >= last) {
      ends.push_back({part.start, part.end});
    } else {
      for (std::int64_t b = first; b < last; ++b)
        peak = std::max(peak, summary.Blocks()[static_cast<std::size_t>(b)]);
      if (part.start < first * blockFrames) ends.push_back({part.start, first * blockFrames});
      if (last * blockFrames < part.end) ends.push_back({last * blockFrames, part.end});
    }
    if (auto error = detect::MeasurePeaks(source, ends)) return error;
    for (const detect::PartSpan& end : ends) peak = std::max(peak, end.peak);
    part.peak = peak;
  }
  return {};
}

wave::Error Suggest(wave::Source& source, const WindowSurvey& survey,
                    const detect::DetectParams& given, bool gapGiven, detect::Progress& progress,
                    Suggestion& suggestion) {
  const wave::SourceInfo& info = source.Info();
  const std::int64_t window = survey.WindowFrames();
  suggestion.estimate = detect::EstimateLevels(survey.Levels());
  suggestion.range = detect::FindStableRange(survey.Parts(), survey.Levels());
  auto count = [&](const detect::DetectParams& params, int& parts) -> wave::Error {
    detect::Scanner scanner(source, params, progress);
    const WalkResult walk = WalkParts(scanner, [](const detect::PartSpan&, int) {});
    if (walk.readFailed) return wave::ErrorCode::UnableToRead;
    if (walk.stopped) return wave::ErrorCode::Stopped;
    parts = walk.parts;
    return {};
  };

  // First the floor and gap that part the recording most clearly, as a
  // record's tracks are found; checked, as the clicks taken out by the
  // windows' test are not always the bursts --ignore-clicks passes over.
  const std::optional<std::int64_t> gapWindows =
      gapGiven ? std::optional(detect::GapFrames(given.gapThreshold, info.rate) / window)
               : std::nullopt;
  const std::int64_t shortest = kShortestGapWindows;
  for (bool declicking : {true, false}) {
    const detect::TrackChoice choice = survey.Tracks().Suggest(
        gapWindows, LowestDbFor(info), kHighestFloorDb, shortest, declicking);
    if (!choice.found) break;
    detect::DetectParams params = given;
    params.thresholdDb = choice.floorDb;
    params.noiseFloor = detect::NoiseFloorFromDb(choice.floorDb);
    params.ignoreClicksMs = choice.declicked ? kClickMs : 0;
    if (!gapGiven) {
      // Longer than any silence inside a part (with the windows at its
      // ends), no longer than the shortest silence between parts.
      std::int64_t between = info.frames;
      for (const detect::SilentRun& gap : choice.gaps)
        between = std::min(between, gap.windows * window);
      // Silences shorter than the survey keeps may lie inside any part.
      const std::int64_t inside =
          (std::max(choice.runnerUp ? choice.runnerUp->windows : 0, kShortestGapWindows) + 2) *
          window;
      params.gapThreshold = GapBetween(inside, between - 1, info.rate);
    }
    int parts = 0;
    if (auto error = count(params, parts)) return error;
    suggestion.clearest = choice;
    if (parts == choice.parts) {
      suggestion.params = params;
      suggestion.gapSuggested = !gapGiven;
      suggestion.parts = parts;
      suggestion.sure = choice.floors * detect::TrackSurvey::kStepDb >= kSureDb;
      return {};
    }
    if (!choice.declicked) break;
  }

  suggestion.clearest = {};
  // Else a floor from the range over which the count holds still at the gap
  // given, and the levels of the noise and the music.
  auto fromRange = [&]() -> wave::Error {
    const double db = detect::SuggestThreshold(suggestion.estimate, suggestion.range);
    suggestion.params = given;
    suggestion.params.thresholdDb = db;
    suggestion.params.noiseFloor = detect::NoiseFloorFromDb(db);
    suggestion.params.ignoreClicksMs = suggestion.range.declicked ? kClickMs : given.ignoreClicksMs;
    suggestion.gapSuggested = false;
    return count(suggestion.params, suggestion.parts);
  };
  if (auto error = fromRange()) return error;
  if (suggestion.range.declicked && suggestion.parts != suggestion.range.parts) {
    suggestion.range = detect::FindStableRange(survey.Parts(), survey.Levels(), false);
    if (auto error = fromRange()) return error;
  }
  suggestion.sure = suggestion.range.found && suggestion.range.Width() >= kSureDb;
  return {};
}

}  // namespace corvella::batch
