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
// The programme's level is smoothed over this many windows (a third of a
// second), a median: what a listener hears as steady.
constexpr std::int64_t kSmoothedWindows = 31;
// Clicks are bursts of at most 5 ms.
constexpr int kClickMs = 5;
// A count that holds over this many dB of the peaks' floors is a sure
// suggestion.
constexpr double kSureDb = 6.0;
// On the programme's level, where noise and music stand further apart.
constexpr double kSteadyDb = 4.0;
// A part may begin or end this far (a tenth of a second) inside the sound
// the programme's level hears, no further. Its median keeps a step or a
// ramp where it is, so its edges are good to a window or two; but the first
// sound a listener hears lies lower still, under the programme's floor, so
// whatever the rule cuts off there comes on top of what is measured here.
constexpr std::int64_t kEdgeCutWindows = 10;

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

// Where a track ends or begins, in windows.
struct TrackEdge {
  std::int64_t window = 0;
};

// How a track is drawn out of the quiet beside it. Its sound is followed
// outward on the programme's level under a running median (which keeps a
// sudden start sudden and a fade a fade) while it stays above the quiet's
// own noise, dips shorter than half a second crossed. A fade goes on under
// the noise, where a listener still hears it until it is some 10 dB below:
// as a fade falls at a steady pace in dB, the time it took to fall the last
// 10 dB down to the noise tells how long that is. Never past the quietest
// point of a silence between two tracks, which belongs to neither.
constexpr double kAboveNoiseDb = 3.0;
constexpr double kSlopeDb = 10.0;               // the fall its pace is measured over
constexpr double kHeardUnderNoiseDb = 10.0;
constexpr std::int64_t kQuietestWindows = 51;   // 0.5 s, the quietest point is found on
constexpr std::int64_t kBridgeWindows = 50;     // 0.5 s of dip crossed
constexpr std::int64_t kLongestTailWindows = 500;
// The window a sound begins in may show it only in the next: one more.
constexpr std::int64_t kSpareWindows = 1;

// Power means over `span` windows centred on each, in dB.
std::vector<double> MeanDb(const std::vector<double>& db, std::int64_t span) {
  const auto n = db.size();
  std::vector<double> sums(n + 1, 0.0), out(n);
  for (std::size_t i = 0; i < n; ++i) sums[i + 1] = sums[i] + std::pow(10.0, db[i] / 10.0);
  const auto half = static_cast<std::size_t>(span / 2);
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t from = i > half ? i - half : 0;
    const std::size_t to = std::min(n, i + half + 1);
    const double mean = (sums[to] - sums[from]) / static_cast<double>(to - from);
    out[i] = mean > 0 ? 10.0 * std::log10(mean) : detect::LevelProfile::kLowestDb;
  }
  return out;
}

// The running median the programme's survey sees, aligned with the levels.
std::vector<double> MedianDb(const std::vector<double>& db) {
  std::vector<double> out;
  out.reserve(db.size());
  detect::RunningMedian median(kSmoothedWindows);
  const auto take = [&](double level) { out.push_back(level); };
  for (double level : db) median.Add(level, take);
  median.Finish(take);
  return out;
}

// From `edge` (a window of the track's sound) outward, `step` -1 to earlier
// windows or +1 to later ones, while `level` stays at or above `threshold`,
// dips shorter than the bridge crossed, never to `limit`: the last window
// of the sound that way.
std::int64_t Outward(const std::vector<double>& level, std::int64_t edge, int step,
                     std::int64_t limit, double threshold) {
  const auto loud = [&](std::int64_t i) { return level[static_cast<std::size_t>(i)] >= threshold; };
  std::int64_t last = edge;
  for (std::int64_t w = edge + step; w != limit; w += step) {
    if (loud(w)) {
      last = w;
    } else if (std::llabs(w - last) > kBridgeWindows) {
      break;
    }
  }
  return last;
}

// The edges of the tracks on either side of a quiet stretch (the lead-in
// has only a track after it, the run-out only one before): the end of the
// track before (`before`, one past its last window) and the start of the
// one after (`after`).
wave::Error EdgesInQuiet(wave::Source& source, std::int64_t window, std::int64_t windows,
                         const detect::SilentRun& run, bool leadIn, bool runOut,
                         TrackEdge* before, TrackEdge* after) {
  // The stretch and enough of the tracks beside it to see their fades.
  constexpr std::int64_t kMargin = kLongestTailWindows + kSmoothedWindows;
  const std::int64_t from = std::max<std::int64_t>(0, run.first - kMargin);
  const std::int64_t to = std::min(windows, run.End() + kMargin);
  std::vector<double> raw;
  if (auto error = detect::ProfileOf(source, window, from, to - from, raw)) return error;
  raw.resize(static_cast<std::size_t>(to - from), detect::LevelProfile::kLowestDb);
  const std::vector<double> level = MedianDb(raw);
  const auto at = [&](std::int64_t w) { return level[static_cast<std::size_t>(w - from)]; };
  // The stretch's own noise: the level a quarter of it is quieter than,
  // digital silence aside where there is anything else.
  std::vector<double> inside;
  for (std::int64_t w = run.first; w < run.End(); ++w)
    if (at(w) > detect::LevelProfile::kLowestDb) inside.push_back(at(w));
  double noise = detect::LevelProfile::kLowestDb;
  if (!inside.empty()) {
    const auto quarter = inside.begin() + static_cast<std::ptrdiff_t>(inside.size() / 4);
    std::nth_element(inside.begin(), quarter, inside.end());
    noise = *quarter;
  }
  const double threshold = noise + kAboveNoiseDb;
  // The quietest point between two tracks.
  const std::vector<double> broad = MeanDb(raw, kQuietestWindows);
  std::int64_t quietest = run.first;
  for (std::int64_t w = run.first; w < run.End(); ++w) {
    if (broad[static_cast<std::size_t>(w - from)] < broad[static_cast<std::size_t>(quietest - from)])
      quietest = w;
  }
  // From the last window of a sound (`edge`), going the other way into the
  // track (`inward`), the windows the sound took to rise 10 dB: the time it
  // goes on being heard under the noise.
  const auto tail = [&](std::int64_t edge, int inward, std::int64_t end) {
    std::int64_t w = edge;
    while (w != end && std::llabs(w - edge) < kLongestTailWindows &&
           at(w) < threshold + kSlopeDb)
      w += inward;
    const auto rise = static_cast<double>(std::llabs(w - edge));
    return std::min(kLongestTailWindows,
                    static_cast<std::int64_t>(std::ceil(rise * kHeardUnderNoiseDb / kSlopeDb)));
  };
  if (before) {
    // The track before ends: outward into the stretch, from where the
    // survey saw it still loud.
    const std::int64_t limit = runOut ? run.End() : quietest;
    const std::int64_t loud = std::max(from, run.first - 1);
    const std::int64_t last = Outward(level, loud - from, +1, limit - from, threshold) + from;
    const std::int64_t end = last + 1 + tail(last, -1, from - 1) + kSpareWindows;
    before->window = std::min({end, limit, windows});
  }
  if (after) {
    const std::int64_t limit = leadIn ? run.first : quietest;
    const std::int64_t loud = std::min(to - 1, run.End());
    const std::int64_t first = Outward(level, loud - from, -1, limit - from - 1, threshold) + from;
    const std::int64_t start = first - tail(first, +1, to) - kSpareWindows;
    after->window = std::max({start, limit, std::int64_t{0}});
  }
  return {};
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
              floorDb),
      profile_(info, windowFrames_),
      smooth_(kSmoothedWindows),
      programmeLevels_(LowestDbFor(info)),
      programme_(info, LowestDbFor(info),
                 std::clamp<std::int64_t>(gapFrames / windowFrames_, 1, kShortestGapWindows),
                 floorDb, detect::TrackSurvey::Measure::Programme),
      measurer_([this] { Measure(); }) {}

WindowSurvey::~WindowSurvey() {
  {
    std::lock_guard lock(mutex_);
    ended_ = true;
  }
  changed_.notify_all();
  if (measurer_.joinable()) measurer_.join();
}

void WindowSurvey::Measure() {
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return ended_ || queued_ > measured_; });
      if (queued_ == measured_) return;
    }
    Block& block = blocks_[measured_ % kQueued];
    profile_.Sum(block.samples, taken_, block.frames, pieces_);
    taken_ += block.frames;
    block.done();  // the samples serve again while their sums are measured
    profile_.Add(pieces_, [&](double db) { AddLevel(db); });
    {
      std::lock_guard lock(mutex_);
      ++measured_;
    }
    changed_.notify_all();
  }
}

void WindowSurvey::Add(double peak) {
  const double db = levels_.Db(peak);
  levels_.AddDb(db);
  parts_.Add(db);
  tracks_.Add(peak, db);
  peaks_.Add(peak);
}

void WindowSurvey::AddLevel(double db) {
  programmeLevels_.AddDb(db);
  smooth_.Add(db, [&](double smoothed) { programme_.Add(detect::FractionOfDb(smoothed)); });
}

void WindowSurvey::Take(const void* samples, std::int64_t frames, std::function<void()> done) {
  // Measured on the programme's thread, a few blocks behind at most, while
  // the peaks are taken here.
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return queued_ - measured_ < kQueued; });
    blocks_[queued_ % kQueued] = {samples, frames, std::move(done)};
    ++queued_;
  }
  changed_.notify_all();
}

void WindowSurvey::Finish() {
  parts_.Finish();
  tracks_.Finish();
  {
    std::lock_guard lock(mutex_);
    ended_ = true;
  }
  changed_.notify_all();
  if (measurer_.joinable()) measurer_.join();
  profile_.Finish([&](double db) { AddLevel(db); });
  smooth_.Finish([&](double smoothed) { programme_.Add(detect::FractionOfDb(smoothed)); });
  programme_.Finish();
}

wave::Error SurveyWindows(wave::Source& source, detect::Progress& progress, WindowSurvey& survey) {
  const wave::Error error = detect::ForEachWindowPeak(
      source, survey.WindowFrames(), progress, [&](double peak, std::int64_t) { survey.Add(peak); },
      &survey);
  if (!error) survey.Finish();
  return error;
}

detect::DetectParams TrackParams(const detect::TrackChoice& choice) {
  detect::DetectParams params;
  params.thresholdDb = choice.floorDb;
  params.noiseFloor = detect::NoiseFloorFromDb(choice.floorDb);
  return params;
}

namespace {

// How far a list's time may be from the silence it points to: turntables
// and tape decks run a few percent off, and the list's times are rounded.
constexpr double kListSlackSeconds = 4;
constexpr double kListSlackShare = 0.04;
// Beyond this share the list's length is not the recording's.
constexpr double kListLengthShare = 0.1;

// The tracks where a list's times put them: the longest silence near each
// expected start, measured from the first sound, the list's length
// stretched to the sound's where the two differ by a speed error. The
// clearest choice stays where it agrees with every time.
void Anchor(const detect::TrackSurvey& programme, const TrackRequest& request, double perSecond,
            std::int64_t minWindows, Tracks& tracks) {
  detect::TrackChoice& choice = tracks.choice;
  const std::int64_t first = choice.firstLoud, last = choice.lastLoud;
  const double sound = static_cast<double>(last + 1 - first);
  double scale = 1;
  if (request.listSeconds && *request.listSeconds > 0) {
    const double stretch = sound / (*request.listSeconds * perSecond);
    if (std::fabs(stretch - 1) <= kListLengthShare) {
      scale = stretch;
    } else {
      tracks.misfits.push_back({0, *request.listSeconds, sound / perSecond});
    }
  }
  std::vector<detect::SilentRun> runs;
  for (const detect::SilentRun& run : programme.RunsAt(choice)) {
    if (run.first > first && run.End() <= last) runs.push_back(run);
  }
  std::vector<detect::SilentRun> anchored;
  bool agrees = true;
  for (std::size_t k = 0; k < request.anchors.size(); ++k) {
    const double expected = static_cast<double>(first) + request.anchors[k] * perSecond * scale;
    const double slack =
        std::max(kListSlackSeconds, kListSlackShare * request.anchors[k]) * perSecond;
    const auto near = [&](const detect::SilentRun& run) {
      return std::fabs(static_cast<double>(run.End()) - expected) <= slack ||
             (static_cast<double>(run.first) <= expected && expected <= static_cast<double>(run.End()));
    };
    if (k >= choice.gaps.size() || !near(choice.gaps[k])) agrees = false;
    const detect::SilentRun* best = nullptr;
    for (const detect::SilentRun& run : runs) {
      if (near(run) && (!best || run.windows > best->windows)) best = &run;
    }
    if (!best) {
      tracks.misfits.push_back({k + 2, request.anchors[k], 0});
      continue;
    }
    anchored.push_back(*best);
  }
  if (agrees || anchored.size() != choice.gaps.size()) return;
  // Each track between the silences taken as long as a track must be.
  std::int64_t start = first;
  for (const detect::SilentRun& gap : anchored) {
    if (gap.first - start < minWindows) return;
    start = gap.End();
  }
  if (last + 1 - start < minWindows) return;
  choice.gaps = anchored;
  choice.runnerUp.reset();  // the list's times chose between them
  tracks.anchored = true;
}

}  // namespace

wave::Error ChooseTracks(wave::Source& source, const WindowSurvey& survey,
                         const TrackRequest& request, Tracks& tracks) {
  const wave::SourceInfo& info = source.Info();
  const std::int64_t window = survey.WindowFrames();
  // A track of at least the shortest length spans that many windows and the
  // two at its ends, which are partly silence.
  const std::int64_t minWindows =
      request.minFrames > 0 ? (request.minFrames + window - 1) / window + 2 : 0;
  tracks.parts.clear();
  tracks.choice = survey.Programme().Choose(request.tracks, request.floorDb, LowestDbFor(info),
                                            kHighestFloorDb, minWindows);
  tracks.anchored = false;
  tracks.misfits.clear();
  if (!tracks.choice.found) return {};
  if (!request.anchors.empty() &&
      request.anchors.size() + 1 == static_cast<std::size_t>(request.tracks)) {
    Anchor(survey.Programme(), request, static_cast<double>(info.rate) / static_cast<double>(window),
           minWindows, tracks);
  }
  const detect::TrackChoice& choice = tracks.choice;
  const std::int64_t windows = (info.frames + window - 1) / window;
  // The quiet around each track: the lead-in, the silences chosen, the run-out.
  std::vector<detect::SilentRun> quiet{{0, choice.firstLoud}};
  quiet.insert(quiet.end(), choice.gaps.begin(), choice.gaps.end());
  quiet.push_back({choice.lastLoud + 1, std::max<std::int64_t>(0, windows - choice.lastLoud - 1)});
  std::vector<TrackEdge> starts(quiet.size() - 1), ends(quiet.size() - 1);
  for (std::size_t k = 0; k < quiet.size(); ++k) {
    const detect::SilentRun& run = quiet[k];
    const bool leadIn = k == 0, runOut = k + 1 == quiet.size();
    if (auto error = EdgesInQuiet(source, window, windows, run, leadIn, runOut,
                                  leadIn ? nullptr : &ends[k - 1],
                                  runOut ? nullptr : &starts[k]))
      return error;
  }
  for (std::size_t k = 0; k + 1 < quiet.size(); ++k) {
    detect::PartSpan part;
    part.start = std::min(starts[k].window * window, info.frames);
    part.end = std::min(ends[k].window * window, info.frames);
    if (part.end <= part.start) part.end = std::min(part.start + 1, info.frames);
    tracks.parts.push_back(part);
  }
  return PeaksFromSurvey(source, survey, tracks.parts);
}

wave::Error PeaksFromSurvey(wave::Source& source, const WindowSurvey& survey,
                            std::vector<detect::PartSpan>& parts) {
  return PeaksFromSummary(source, survey.Peaks(), survey.WindowFrames(), parts);
}

PeakTap::PeakTap(wave::Source& inner) : inner_(inner) { info_ = inner.Info(); }

std::int64_t PeakTap::ReadSamples(std::int64_t offset, void* out, std::int64_t count) {
  const std::int64_t got = inner_.ReadSamples(offset, out, count);
  if (got <= 0 || broken_) return got;
  const std::int64_t frameBytes = info_.FrameBytes();
  // A read back over what was taken in adds nothing; one past it leaves a
  // hole.
  const std::int64_t end = (offset + got) / frameBytes * frameBytes;
  if (offset > seen_) {
    broken_ = true;
    return got;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(out);
  while (seen_ < end) {
    const std::int64_t frames = std::min(kWindowFrames - inWindow_, (end - seen_) / frameBytes);
    peak_ = std::max(peak_, detect::PeakOf(bytes + (seen_ - offset),
                                           static_cast<std::size_t>(frames * info_.channels), info_));
    seen_ += frames * frameBytes;
    inWindow_ += frames;
    const bool last = seen_ >= info_.frames * frameBytes;
    if (inWindow_ == kWindowFrames || last) {
      summary_.Add(peak_);
      peak_ = 0;
      inWindow_ = 0;
    }
    if (last) whole_ = true;
  }
  return got;
}

wave::Error PeaksFromSummary(wave::Source& source, const PeakSummary& summary,
                             std::int64_t windowFrames, std::vector<detect::PartSpan>& parts) {
  const std::int64_t frames = source.Info().frames;
  const std::int64_t blockFrames = summary.BlockWindows() * windowFrames;
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

namespace {

// How much of the sound of the pieces `choice` rests on the parts found by
// the detection rule leave out at an edge, at most: against where the
// programme's level hears it begin or end. A floor high above a record's
// surface noise, or above pieces that fade into silence, cuts a soft start
// or a fade off. Nothing where the parts are not those pieces (one reaching
// into the silence beyond its own).
std::optional<std::int64_t> EdgeCut(const std::vector<detect::PartSpan>& parts,
                                    const detect::TrackChoice& choice, std::int64_t window) {
  if (parts.size() != choice.gaps.size() + 1) return std::nullopt;
  std::int64_t most = 0;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    const std::int64_t heardFrom = k == 0 ? choice.firstLoud * window : choice.gaps[k - 1].End() * window;
    const std::int64_t heardTo =
        k == choice.gaps.size() ? (choice.lastLoud + 1) * window : choice.gaps[k].first * window;
    if ((k > 0 && parts[k].start < choice.gaps[k - 1].first * window) ||
        (k < choice.gaps.size() && parts[k].end > choice.gaps[k].End() * window) ||
        parts[k].end <= heardFrom || parts[k].start >= heardTo)
      return std::nullopt;
    most = std::max({most, parts[k].start - heardFrom, heardTo - parts[k].end});
  }
  return most;
}

}  // namespace

wave::Error Suggest(wave::Source& source, const WindowSurvey& survey,
                    const detect::DetectParams& given, bool gapGiven, detect::Progress& progress,
                    Suggestion& suggestion) {
  const wave::SourceInfo& info = source.Info();
  const std::int64_t window = survey.WindowFrames();
  suggestion.estimate = detect::EstimateLevels(survey.Levels());
  suggestion.range = detect::FindStableRange(survey.Parts(), survey.Levels());
  auto count = [&](const detect::DetectParams& params, int& parts,
                   std::vector<detect::PartSpan>* spans = nullptr) -> wave::Error {
    detect::Scanner scanner(source, params, progress);
    const WalkResult walk = WalkParts(scanner, [&](const detect::PartSpan& part, int) {
      if (spans) spans->push_back(part);
    });
    if (walk.readFailed) return wave::ErrorCode::UnableToRead;
    if (walk.stopped) return wave::ErrorCode::Stopped;
    parts = walk.parts;
    return {};
  };

  const std::optional<std::int64_t> gapWindows =
      gapGiven ? std::optional(detect::GapFrames(given.gapThreshold, info.rate) / window)
               : std::nullopt;
  const std::int64_t shortest = kShortestGapWindows;

  // First the pieces as a listener hears them: the silences of the
  // programme's level, told into gaps between pieces and pauses inside them
  // by their lengths; then the floor and gap at which the detection rule
  // parts the recording there and nowhere else, checked by a real scan (the
  // windows only approach what the rule sees). Where no floor and gap do
  // (quiet music as long and as quiet as the gaps), --tracks finds them.
  // The second count the programme supports is kept for a recording that
  // gives no clear answer.
  const std::vector<detect::TrackChoice> heard = survey.Programme().Suggestions(
      gapWindows, LowestDbFor(info), kHighestFloorDb, shortest, false, 2);
  std::vector<Alternative> readings;
  for (const detect::TrackChoice& choice : heard) {
    Alternative reading;
    reading.choice = choice;
    reading.parts = choice.parts;
    reading.tracks = choice.parts;
    reading.params = given;
    const detect::RuleFit fit =
        survey.Tracks().Fit(choice.gaps, LowestDbFor(info), kHighestFloorDb, true);
    if (fit.found) {
      detect::DetectParams params = given;
      params.thresholdDb = fit.floorDb;
      params.noiseFloor = detect::NoiseFloorFromDb(fit.floorDb);
      params.ignoreClicksMs = fit.declicked ? kClickMs : 0;
      if (!gapGiven) {
        params.gapThreshold = GapBetween((std::max(fit.outside, shortest) + 2) * window,
                                         fit.inside * window - 1, info.rate);
      }
      int parts = 0;
      std::vector<detect::PartSpan> spans;
      if (auto error = count(params, parts, &spans)) return error;
      const std::optional<std::int64_t> cut =
          parts == choice.parts ? EdgeCut(spans, choice, window) : std::nullopt;
      if (cut && *cut > kEdgeCutWindows * window) {
        reading.edgesCut = EdgesCut{fit.floorDb, detect::Seconds(*cut, info.rate)};
      } else if (cut) {
        reading.params = params;
        reading.tracks = 0;
        reading.choice.floorDb = fit.floorDb;
        reading.choice.declicked = fit.declicked;
      }
    }
    readings.push_back(reading);
  }
  if (!readings.empty()) {
    const Alternative& best = readings.front();
    suggestion.params = best.params;
    suggestion.parts = best.parts;
    suggestion.tracks = best.tracks;
    suggestion.edgesCut = best.edgesCut;
    suggestion.gapSuggested = !gapGiven && best.tracks == 0;
    suggestion.clearest = best.choice;
    // A count the programme's floors hold over a few dB is the recording's;
    // one held over less leaves the second reading open.
    suggestion.sure = best.choice.floors * detect::TrackSurvey::kStepDb >= kSteadyDb;
    if (!suggestion.sure && readings.size() > 1) suggestion.alternative = readings[1];
    return {};
  }

  // Else the floor and gap that part the recording's peaks most clearly;
  // checked, as the clicks taken out by the windows' test are not always
  // the bursts --ignore-clicks passes over.
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
