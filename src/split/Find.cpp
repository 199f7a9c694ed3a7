#include "split/Find.h"

#include <algorithm>
#include <optional>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "batch/OutputName.h"
#include "batch/PartWalk.h"
#include "detect/Scanner.h"
#include "detect/Units.h"
#include "split/TrackList.h"

namespace corvella::split {
namespace {

// A track lasts a second at least, unless --min-part says otherwise: a
// click or a breath in the noise is none, whatever the floor.
constexpr double kShortestTrack = 1.0;

// The scan for the parts of a pass that measures every frame (a picture, or
// a decoder's peaks). It runs on a thread of its own, ahead of the pass,
// which takes each part as soon as its plan is known: the recording is read
// about once instead of twice, on two cores. A decoder is not shared: the
// scan reads a fork of it, or where there is none, runs first, in full.
class ScanAhead {
 public:
  ScanAhead(wave::Source& source, const detect::DetectParams& params,
            const batch::PlanOptions& plan, detect::Progress& progress)
      : fork_(source.Sequential() ? source.Fork() : nullptr),
        source_(fork_ ? *fork_ : source),
        params_(params),
        planner_(source.Info().frames, plan),
        progress_(progress) {
    if (source.Sequential() && !fork_) {
      Scan(progress);
    } else {
      thread_ = std::thread([this] { Scan(ownProgress_); });
    }
  }
  ~ScanAhead() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    if (thread_.joinable()) thread_.join();
  }
  ScanAhead(const ScanAhead&) = delete;
  ScanAhead& operator=(const ScanAhead&) = delete;

  // The next planned part, once the scan has gone far enough to know it.
  bool NextPart(detect::PartSpan& part) {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return planner_.Ready(); });
    return planner_.Next(part);
  }
  // Once every part has been taken: what the scan found, dropped parts too.
  const std::vector<detect::PartSpan>& Found() const { return found_; }
  const batch::WalkResult& Result() const { return result_; }
  // Why the scan's reading failed, once it has.
  std::string Failure() const { return source_.Failure(); }

 private:
  // The scan on its own thread reports nothing; it stops with the pass.
  class OwnProgress final : public detect::Progress {
   public:
    explicit OwnProgress(ScanAhead& scan) : scan_(scan) {}
    void Report(int) override {}
    void Pump() override {}
    bool StopRequested() override {
      std::lock_guard lock(scan_.mutex_);
      return scan_.stop_ || scan_.progress_.StopRequested();
    }

   private:
    ScanAhead& scan_;
  };

  void Scan(detect::Progress& progress) {
    detect::Scanner scanner(source_, params_, progress);
    const batch::WalkResult result =
        batch::WalkParts(scanner, [&](const detect::PartSpan& part, int) {
          std::lock_guard lock(mutex_);
          found_.push_back(part);
          if (planner_.Add(part)) ready_.notify_all();
        });
    {
      std::lock_guard lock(mutex_);
      result_ = result;
      planner_.Finish();
    }
    ready_.notify_all();
  }

  std::unique_ptr<wave::Source> fork_;
  wave::Source& source_;  // the one scanned
  detect::DetectParams params_;
  batch::PartPlanner planner_;
  detect::Progress& progress_;
  OwnProgress ownProgress_{*this};
  std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<detect::PartSpan> found_;
  batch::WalkResult result_;
  bool stop_ = false;
  std::thread thread_;  // last: it starts once everything else is in place
};

wave::Error ReadFailure(const wave::Source& source) {
  return {wave::ErrorCode::UnableToRead, source.Failure()};
}

// A scan's end as an error.
wave::Error WalkError(const wave::Source& source, const batch::WalkResult& walk) {
  if (walk.readFailed) return ReadFailure(source);
  if (walk.stopped) return wave::ErrorCode::Stopped;
  return {};
}

std::vector<double> Columns(const wave::SourceInfo& info, std::size_t columns) {
  return std::vector<double>(
      static_cast<std::size_t>(std::clamp<std::int64_t>(info.frames, 0,
                                                        static_cast<std::int64_t>(columns))),
      0.0);
}

// The parts with their picture: the recording's envelope and the levels of
// its 10 ms windows, as `levels` gathers them, in one pass while the scan
// runs ahead. The memory is the picture's, not the recording's.
wave::Error Draw(wave::Source& source, const Request& request, detect::Progress& progress,
                 std::vector<detect::PartSpan>& parts, PictureSurvey& picture) {
  const wave::SourceInfo& info = source.Info();
  const detect::DetectParams& params = request.detect;
  const batch::PlanOptions plan = request.Plan(info.rate);
  picture.floorDb = params.thresholdDb && info.bits != 16 ? *params.thresholdDb
                                                          : detect::AmplitudeDb(params.noiseFloor);
  picture.columns = Columns(info, request.pictureColumns);
  const std::int64_t windowFrames = batch::WindowFramesFor(info.rate);
  batch::WindowSurvey survey(info, detect::GapFrames(params.gapThreshold, info.rate));
  ScanAhead scan(source, params, plan, progress);
  const wave::Error error = detect::MeasureAll(
      source, progress, picture.columns, windowFrames,
      [&](double peak, std::int64_t) { survey.Add(peak); },
      [&](detect::PartSpan& part) { return scan.NextPart(part); }, parts, &survey);
  if (error) return error == wave::ErrorCode::UnableToRead ? ReadFailure(source) : error;
  if (scan.Result().readFailed) return {wave::ErrorCode::UnableToRead, scan.Failure()};
  if (scan.Result().stopped) return wave::ErrorCode::Stopped;
  for (const detect::PartSpan& part : scan.Found()) {
    (part.end - part.start >= plan.minFrames ? picture.found : picture.dropped).push_back(part);
  }
  survey.Finish();
  // The floor `levels` suggests for the same recording and gap, on the
  // levels it shows with it.
  batch::Suggestion suggestion;
  const wave::Error suggested =
      batch::Suggest(source, survey, params, request.gapGiven, progress, suggestion);
  if (suggested) return suggested == wave::ErrorCode::UnableToRead ? ReadFailure(source) : suggested;
  picture.levels = suggestion.tracks > 0 ? survey.ProgrammeLevels() : survey.Levels();
  picture.estimate = detect::EstimateLevels(picture.levels);
  picture.suggestionDb = suggestion.FloorDb();
  return {};
}

// A recording this long is rarely one piece; parts this many and this
// short are rarely what was wanted; a cut at a silence this much shorter
// than the others is rarely a gap between tracks.
constexpr double kLongRecording = 120;  // seconds
constexpr double kMostlyWhole = 0.9;
constexpr std::size_t kManyParts = 100;
constexpr double kTinyPart = 2;  // seconds
constexpr double kShortCut = 0.25;
constexpr double kShortTrack = 0.1;

std::int64_t Median(std::vector<std::int64_t> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

// What the parts a rule found give a listener reason to doubt.
std::optional<Doubt> DoubtOfParts(const std::vector<detect::PartSpan>& parts,
                                  const wave::SourceInfo& info) {
  if (parts.size() == 1 && detect::Seconds(info.frames, info.rate) >= kLongRecording &&
      static_cast<double>(parts[0].end - parts[0].start) >= kMostlyWhole * static_cast<double>(info.frames))
    return Doubt{Doubt::Kind::OneForAll, 1, info.frames, 0, 0};
  if (parts.size() >= kManyParts) {
    std::vector<std::int64_t> lengths;
    for (const detect::PartSpan& part : parts) lengths.push_back(part.end - part.start);
    const std::int64_t median = Median(lengths);
    if (detect::Seconds(median, info.rate) < kTinyPart)
      return Doubt{Doubt::Kind::ManyTiny, parts.size(), median, 0, 0};
  }
  return std::nullopt;
}

// Tracks parted at a silence far shorter than the others between them, as
// the floor they were parted at measures the silences.
std::optional<Doubt> DoubtOfTracks(const detect::TrackChoice& choice,
                                   const std::vector<detect::PartSpan>& tracks,
                                   std::int64_t window) {
  // A track far shorter than the rest: a title too many, cut from a pause.
  if (tracks.size() >= 3) {
    std::vector<std::int64_t> lengths;
    std::size_t shortest = 0;
    for (std::size_t k = 0; k < tracks.size(); ++k) {
      lengths.push_back(tracks[k].end - tracks[k].start);
      if (lengths[k] < lengths[shortest]) shortest = k;
    }
    const std::int64_t typical = Median(lengths);
    if (static_cast<double>(lengths[shortest]) < kShortTrack * static_cast<double>(typical)) {
      return Doubt{Doubt::Kind::ShortTrack, tracks.size(), lengths[shortest], typical,
                   tracks[shortest].start};
    }
  }
  if (choice.gaps.size() < 2) return std::nullopt;
  std::size_t shortest = 0;
  std::vector<std::int64_t> others;
  for (std::size_t k = 1; k < choice.gaps.size(); ++k) {
    if (choice.gaps[k].windows < choice.gaps[shortest].windows) shortest = k;
  }
  for (std::size_t k = 0; k < choice.gaps.size(); ++k) {
    if (k != shortest) others.push_back(choice.gaps[k].windows);
  }
  const std::int64_t cut = choice.gaps[shortest].windows, typical = Median(others);
  if (static_cast<double>(cut) >= kShortCut * static_cast<double>(typical)) return std::nullopt;
  return Doubt{Doubt::Kind::ShortCut, choice.gaps.size() + 1, cut * window, typical * window,
               choice.gaps[shortest].first * window};
}

// Where another silence nearly as long as one chosen could have parted the
// tracks: the shortest silence taken, and the longest one left.
std::optional<Fragility> FragilityOf(const detect::TrackChoice& choice,
                                     const std::vector<detect::PartSpan>& parts,
                                     std::int64_t window) {
  if (!choice.Fragile()) return std::nullopt;
  std::size_t shortest = 0;
  for (std::size_t k = 1; k + 1 < parts.size(); ++k) {
    if (parts[k + 1].start - parts[k].end < parts[shortest + 1].start - parts[shortest].end)
      shortest = k;
  }
  return Fragility{choice.runnerUp->first * window, choice.runnerUp->windows * window,
                   parts[shortest].end, parts[shortest + 1].start - parts[shortest].end};
}

// The tracks of a side: every window surveyed (with the picture's columns
// in the same pass, where one is drawn), then the silences that part the
// count asked for most clearly; each track padded as asked, and with its
// peak where wanted.
wave::Error FindTracks(wave::Source& source, const Request& request, detect::Progress& progress,
                       std::vector<detect::PartSpan>& parts, Found& found) {
  const wave::SourceInfo& info = source.Info();
  batch::TrackRequest tracks;
  tracks.tracks = request.tracks && *request.tracks > 0 ? *request.tracks
                                                        : static_cast<int>(request.titles.size());
  tracks.floorDb = request.floorDb;
  tracks.anchors = request.anchors;
  tracks.listSeconds = request.listSeconds;
  tracks.minFrames = detect::FramesFromSeconds(
      request.minPart > 0 ? request.minPart : kShortestTrack, info.rate);
  auto survey = std::make_shared<batch::WindowSurvey>(
      info, detect::GapFrames(request.detect.gapThreshold, info.rate), request.floorDb);
  found.survey = survey;
  wave::Error error;
  if (request.pictureColumns > 0) {
    found.picture.emplace();
    found.picture->columns = Columns(info, request.pictureColumns);
    std::vector<detect::PartSpan> none;
    error = detect::MeasureAll(
        source, progress, found.picture->columns, survey->WindowFrames(),
        [&](double peak, std::int64_t) { survey->Add(peak); },
        [](detect::PartSpan&) { return false; }, none, survey.get());
    if (!error) survey->Finish();
  } else {
    error = batch::SurveyWindows(source, progress, *survey);
  }
  batch::Tracks chosen;
  if (!error) error = batch::ChooseTracks(source, *survey, tracks, chosen);
  if (error == wave::ErrorCode::UnableToRead) error = ReadFailure(source);
  if (error) return error;
  found.choice = chosen.choice;
  found.misfits = chosen.misfits;
  found.anchored = chosen.anchored;
  if (!chosen.choice.found) return wave::ErrorCode::TracksNotFound;
  found.fragile = FragilityOf(chosen.choice, chosen.parts, survey->WindowFrames());
  found.doubt = DoubtOfTracks(chosen.choice, chosen.parts, survey->WindowFrames());
  batch::PlanOptions plan = request.Plan(info.rate);
  plan.minFrames = 0;  // no track is shorter
  parts = batch::PlanParts(chosen.parts, info.frames, plan);
  if (request.peaks) {
    error = batch::PeaksFromSurvey(source, *survey, parts);
    if (error == wave::ErrorCode::UnableToRead) error = ReadFailure(source);
    if (error) return error;
  }
  if (found.picture) {
    PictureSurvey& picture = *found.picture;
    picture.found = chosen.parts;
    picture.floorDb = chosen.choice.floorDb;
    // The programme's levels the tracks were parted on, and the floor
    // `levels --tracks` suggests: the one they were parted at.
    picture.levels = survey->ProgrammeLevels();
    picture.estimate = detect::EstimateLevels(picture.levels);
    picture.suggestionDb = chosen.choice.floorDb;
  }
  return {};
}

// The parts the detection rule finds, planned. Where a sink takes parts as
// they come (a plain search of a recording read in any order), each goes to
// it as soon as its end is known.
wave::Error FindByRule(wave::Source& source, const Request& request, detect::Progress& progress,
                       std::vector<detect::PartSpan>& parts, Found& found,
                       const std::function<void(const detect::PartSpan&)>& early) {
  const wave::SourceInfo& info = source.Info();
  if (request.pictureColumns > 0) {
    found.picture.emplace();
    return Draw(source, request, progress, parts, *found.picture);
  }
  // A decoder is read once: the parts' peaks come from what the scan read,
  // with only their ends decoded again.
  std::optional<batch::PeakTap> tap;
  if (request.peaks && source.Sequential()) tap.emplace(source);
  detect::Scanner scanner(tap ? static_cast<wave::Source&>(*tap) : source, request.detect, progress);
  batch::WalkResult walk;
  if (early) {
    walk = batch::WalkParts(scanner, [&](const detect::PartSpan& part, int) {
      parts.push_back(part);
      early(part);
    });
    return WalkError(source, walk);
  }
  parts = batch::PlanParts(batch::FindParts(scanner, walk), info.frames, request.Plan(info.rate));
  if (walk.readFailed) {
    // A recording that cannot be read to its end keeps the parts whose ends
    // were found before the damage; padded, the last of them may reach into
    // it, and is left out; none where the damage puts all in doubt.
    if (request.Planned() && !parts.empty()) parts.pop_back();
    if (source.WholeInDoubt()) parts.clear();
    return ReadFailure(source);
  }
  if (walk.stopped) return wave::ErrorCode::Stopped;
  if (request.peaks) {
    const wave::Error measured =
        tap && tap->Whole()
            ? batch::PeaksFromSummary(source, tap->Peaks(), batch::PeakTap::kWindowFrames, parts)
            : detect::MeasurePeaks(source, parts);
    if (measured) return ReadFailure(source);
  }
  return {};
}

// The parts a cut list names for the recording, with their names.
wave::Error FindByCuts(wave::Source& source, const Request& request,
                       std::vector<detect::PartSpan>& parts, std::vector<std::string>& names) {
  std::vector<PlannedPart> planned;
  if (auto error = ResolveCuts(*request.cuts, request.path, request.files, source.Info(),
                               request.extension, planned))
    return error;
  for (const PlannedPart& part : planned) {
    parts.push_back(part.span);
    names.push_back(part.name);
  }
  return {};
}

}  // namespace

batch::PlanOptions Request::Plan(std::int64_t rate) const {
  return {detect::FramesFromSeconds(minPart, rate), detect::FramesFromSeconds(padBefore, rate),
          detect::FramesFromSeconds(padAfter, rate)};
}

wave::Error FindParts(wave::Source& source, const Request& request, detect::Progress& progress,
                      Found& found, const PartSink& sink) {
  found = Found{};
  const std::string name = batch::FileNameOf(request.path);
  const std::string extension =
      request.extension.empty() ? batch::SplitFileName(name).extension : request.extension;
  // A part as it is named and tagged; `count` where all are known.
  const auto made = [&](const detect::PartSpan& span, int number, int count, bool titled) {
    Part part{span, number, count, batch::PartFileName(name, number, request.extension),
              std::nullopt};
    if (titled) {
      wave::TrackTags tags = request.titles[static_cast<std::size_t>(number - 1)];
      tags.number = number;
      tags.count = count;
      part.name = batch::TrackFileName(number, count, tags.title, extension);
      part.track = std::move(tags);
    }
    return part;
  };

  std::vector<detect::PartSpan> spans;
  std::vector<std::string> names;  // a cut list's
  wave::Error error;
  const wave::SourceInfo& info = source.Info();
  if ((request.titlesFrames && *request.titlesFrames != info.frames) ||
      (request.titlesRate && *request.titlesRate != info.rate)) {
    split::TrackList made;
    made.frames = request.titlesFrames;
    made.rate = request.titlesRate;
    return CheckListFits(made, info);
  }
  if (request.cuts) {
    error = FindByCuts(source, request, spans, names);
  } else if (request.tracks) {
    error = FindTracks(source, request, progress, spans, found);
  } else {
    const bool streamed = sink && !request.Planned() && !request.wholeFirst &&
                          request.titles.empty() && !request.peaks &&
                          request.pictureColumns == 0 && !source.Sequential();
    std::function<void(const detect::PartSpan&)> early;
    if (streamed) {
      early = [&](const detect::PartSpan& span) {
        found.parts.push_back(made(span, static_cast<int>(found.parts.size()) + 1, 0, false));
        ++found.handedOn;
        sink(found.parts.back());
      };
    }
    error = FindByRule(source, request, progress, spans, found, early);
    if (streamed) {
      if (!error) {
        std::vector<detect::PartSpan> given;
        for (const Part& part : found.parts) given.push_back(part.span);
        found.doubt = DoubtOfParts(given, info);
      }
      return error;
    }
    if (!error) found.doubt = DoubtOfParts(spans, info);
  }
  // A failed read keeps only what a search by the rule found before it.
  if (error && (error != wave::ErrorCode::UnableToRead || request.tracks || request.cuts))
    spans.clear();
  const bool fits = request.titles.empty() || request.titles.size() == spans.size();
  const int count = static_cast<int>(spans.size());
  for (std::size_t k = 0; k < spans.size(); ++k) {
    found.parts.push_back(made(spans[k], static_cast<int>(k) + 1, count,
                               fits && !request.titles.empty()));
    if (!names.empty()) found.parts.back().name = names[k];
  }
  if (!error && !fits) error = wave::ErrorCode::TitlesMismatch;
  return error;
}

}  // namespace corvella::split
