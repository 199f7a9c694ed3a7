// `list`: the parts split would write, with their peaks, in one of the
// listing formats.
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "batch/OutputName.h"
#include "batch/PartWalk.h"
#include "batch/Plan.h"
#include "cli/Commands.h"
#include "cli/Listing.h"
#include "cli/Picture.h"
#include "cli/Tracks.h"
#include "detect/Levels.h"
#include "detect/Units.h"

namespace corvella::cli {
namespace {

// The scan for the parts of a pass that measures every frame (a picture,
// or a decoder's peaks). It runs on a thread of its own, ahead of the pass,
// which takes each part as soon as its plan is known: the recording is read
// about once instead of twice, on two cores. A decoder is not shared: the
// scan reads a fork of it, or where there is none, runs first, in full.
class ScanAhead {
 public:
  ScanAhead(wave::Source& source, const detect::DetectParams& params,
            const batch::PlanOptions& plan, Console& console, detect::Progress& progress)
      : fork_(source.Sequential() ? source.Fork() : nullptr),
        source_(fork_ ? *fork_ : source),
        params_(params),
        planner_(source.Info().frames, plan),
        console_(console) {
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
      return scan_.stop_ || scan_.console_.Stopped();
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
  Console& console_;
  OwnProgress ownProgress_{*this};
  std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<detect::PartSpan> found_;
  batch::WalkResult result_;
  bool stop_ = false;
  std::thread thread_;  // last: it starts once everything else is in place
};

// The parts of a recording with the picture of them: its envelope, and the
// levels of its 10 ms windows as `levels` gathers them. The memory is the
// picture's, not the recording's.
wave::Error Draw(Job& job, wave::Source& source, const detect::DetectParams& params,
                 Console::Bar& bar, std::vector<detect::PartSpan>& parts, Picture& picture) {
  const wave::SourceInfo& info = source.Info();
  const batch::PlanOptions plan = job.options.Plan(info.rate);
  const bool deep = info.bits > 16 || wave::IsFloat(info.sampleType);
  picture.floorDb = params.thresholdDb && info.bits != 16 ? *params.thresholdDb
                                                          : detect::AmplitudeDb(params.noiseFloor);
  picture.columns.assign(
      static_cast<std::size_t>(std::clamp<std::int64_t>(info.frames, 0, kPictureColumns)), 0.0);
  picture.levels = detect::LevelHistogram(deep ? -150 : -96);
  const std::int64_t windowFrames =
      std::max<std::int64_t>(1, detect::FramesFromSeconds(0.01, info.rate));
  detect::PartSurvey survey(picture.levels.Lowest(), windowFrames,
                            detect::GapFrames(params.gapThreshold, info.rate));
  ScanAhead scan(source, params, plan, job.console, bar);
  const wave::Error error = detect::MeasureAll(
      source, bar, picture.columns, windowFrames,
      [&](double peak, std::int64_t) {
        picture.levels.Add(peak);
        survey.Add(picture.levels.Db(peak));
      },
      [&](detect::PartSpan& part) { return scan.NextPart(part); }, parts);
  if (error) return error;
  if (scan.Result().readFailed) return {wave::ErrorCode::UnableToRead, scan.Failure()};
  if (scan.Result().stopped) return {wave::ErrorCode::Stopped};
  for (const detect::PartSpan& part : scan.Found()) {
    (part.end - part.start >= plan.minFrames ? picture.found : picture.dropped).push_back(part);
  }
  survey.Finish();
  picture.estimate = detect::EstimateLevels(picture.levels);
  picture.suggestionDb =
      detect::SuggestThreshold(picture.estimate, detect::FindStableRange(survey, picture.levels));
  return {};
}

// The parts of a decoder and their peaks in one pass over its frames,
// while a fork of it scans ahead: a decoder's every read decodes, so the
// peaks are not read again part by part.
wave::Error MeasureWhileScanning(Job& job, wave::Source& source, const detect::DetectParams& params,
                                 Console::Bar& bar, std::vector<detect::PartSpan>& parts) {
  ScanAhead scan(source, params, job.options.Plan(source.Info().rate), job.console, bar);
  std::vector<double> noColumns;
  const wave::Error error = detect::MeasureAll(
      source, bar, noColumns, std::max<std::int64_t>(source.Info().frames, 1),
      [](double, std::int64_t) {}, [&](detect::PartSpan& part) { return scan.NextPart(part); },
      parts);
  if (error) return error;
  if (scan.Result().readFailed) return {wave::ErrorCode::UnableToRead, scan.Failure()};
  if (scan.Result().stopped) return {wave::ErrorCode::Stopped};
  return {};
}

// The tracks of --tracks with their peaks, padded as asked, and the
// picture of them where one is drawn. False after reporting why not.
bool ListTracks(Job& job, const std::string& file, wave::Source& source, Console::Bar& bar,
                int wanted, ListedFile& entry, std::vector<detect::PartSpan>& parts) {
  const wave::SourceInfo& info = source.Info();
  FoundTracks found;
  std::vector<double>* columns = nullptr;
  if (entry.picture) {
    entry.picture->columns.assign(
        static_cast<std::size_t>(std::clamp<std::int64_t>(info.frames, 0, kPictureColumns)), 0.0);
    columns = &entry.picture->columns;
  }
  if (!FindTracks(job, file, source, bar, wanted, found, entry.error, columns)) return false;
  const detect::TrackChoice& choice = found.tracks.choice;
  entry.tracksFloorDb = choice.floorDb;
  entry.noiseFloor = detect::NoiseFloorFromDb(choice.floorDb);
  batch::PlanOptions plan = job.options.Plan(info.rate);
  plan.minFrames = 0;  // no track is shorter
  parts = batch::PlanParts(found.tracks.parts, info.frames, plan);
  wave::Error error = batch::MeasurePeaks(source, *found.survey, parts);
  if (error == wave::ErrorCode::UnableToRead) error = Job::ReadFailure(source);
  if (error) {
    if (error != wave::ErrorCode::Stopped) job.console.Report(file, error);
    entry.error = wave::MessageOf(error);
    return false;
  }
  if (entry.picture) {
    Picture& picture = *entry.picture;
    picture.found = found.tracks.parts;
    picture.floorDb = choice.floorDb;
    picture.levels = found.survey->Levels();
    picture.estimate = detect::EstimateLevels(picture.levels);
    picture.suggestionDb = detect::SuggestThreshold(
        picture.estimate, detect::FindStableRange(found.survey->Parts(), picture.levels));
  }
  return true;
}

}  // namespace

int List(Job& job) {
  const Options& options = job.options;
  Console& console = job.console;
  bool failed = false;
  std::vector<ListedFile> listed;
  const detect::DetectParams params = options.Detection();
  const std::string folder = job.ShownFolder();
  const bool drawn = options.Format() == ListFormat::Svg || options.Format() == ListFormat::Html;
  TrackNames names;
  if (!ReadTrackNames(job, names)) return kExitFailed;
  const std::vector<PartNames> titles = NamesOfParts(options, names);
  for (const std::string& file : options.files) {
    if (console.Stopped()) break;
    ListedFile entry;
    entry.file = file;
    entry.noiseFloor = params.noiseFloor;
    entry.gapThreshold = params.gapThreshold;
    entry.minPart = options.minPart;
    entry.padBefore = options.padBefore;
    entry.padAfter = options.padAfter;
    Console::Bar bar(console, file);
    wave::Error refusal;
    std::unique_ptr<wave::Source> source = job.Open(file, &refusal);
    if (!source) {
      entry.error = wave::MessageOf(refusal);
      failed = true;
      listed.push_back(std::move(entry));
      continue;
    }
    entry.channels = source->Info().channels;
    entry.rate = source->Info().rate;
    entry.frames = source->Info().frames;
    std::vector<detect::PartSpan> parts;
    wave::Error error;
    if (options.tracks) {
      if (drawn) entry.picture.emplace();
      if (!ListTracks(job, file, *source, bar, TracksWanted(options, names), entry, parts)) {
        failed = true;
        listed.push_back(std::move(entry));
        continue;
      }
    } else if (drawn) {
      entry.picture.emplace();
      error = Draw(job, *source, params, bar, parts, *entry.picture);
    } else if (source->Sequential()) {
      error = MeasureWhileScanning(job, *source, params, bar, parts);
    } else {
      detect::Scanner scanner(*source, params, bar);
      batch::WalkResult walk;
      parts =
          batch::PlanParts(batch::FindParts(scanner, walk), entry.frames, options.Plan(entry.rate));
      error = walk.readFailed ? wave::ErrorCode::UnableToRead
              : walk.stopped  ? wave::ErrorCode::Stopped
                              : detect::MeasurePeaks(*source, parts);
    }
    if (error == wave::ErrorCode::UnableToRead && error.detail.empty())
      error = Job::ReadFailure(*source);
    if (error) {
      // A file that could not be measured whole lists no parts at all.
      if (error != wave::ErrorCode::Stopped) console.Report(file, error);
      entry.error = wave::MessageOf(error);
      failed = true;
    } else if (const std::string mismatch =
                   options.names.empty() ? "" : TitleMismatch(titles.size(), parts.size());
               !mismatch.empty()) {
      console.Report(file, mismatch);
      entry.error = mismatch;
      failed = true;
    } else {
      const std::string name = batch::FileNameOf(file);
      const std::string extension = batch::SplitFileName(name).extension;
      const int count = static_cast<int>(parts.size());
      for (std::size_t k = 0; k < parts.size(); ++k) {
        const int number = static_cast<int>(k) + 1;
        ListedPart part{number, parts[k], batch::BuildOutputPath(folder, name, number), {}, {}};
        if (!titles.empty()) {
          part.output = batch::JoinPath(
              folder, batch::TrackFileName(number, count, titles[k].title, extension));
          part.title = titles[k].title;
          part.artist = titles[k].artist;
        }
        entry.parts.push_back(std::move(part));
      }
      if (!titles.empty()) {
        entry.artist = options.artist.value_or(names.artist);
        entry.album = titles.front().album;
        entry.date = titles.front().date;
      }
    }
    listed.push_back(std::move(entry));
  }
  if (console.Stopped()) return console.StopStatus();
  const std::string refused = ListingRefusal(options.Format(), listed);
  if (!refused.empty()) {
    console.Report("list", refused);
    return kExitFailed;
  }
  WriteListing(console.out(), options.Format(), listed);
  if (!console.Deliver()) return console.OutputStatus();
  return job.Status(failed);
}

}  // namespace corvella::cli
