// What one pass over a recording's 10 ms windows tells about it, for every
// front end: its levels, the options that split it most clearly, and the
// tracks of a side whose count is known. The pass keeps summaries only: the
// memory is the same for a recording of any length.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "detect/LevelSurvey.h"
#include "detect/Levels.h"
#include "detect/Params.h"
#include "detect/Profile.h"
#include "detect/Progress.h"
#include "detect/Tracks.h"
#include "wave/Error.h"
#include "wave/Source.h"

namespace corvella::batch {

// The loudest window of each of at most kBlocks equal runs of windows, the
// runs doubling in length as the recording grows: enough to measure the
// peak of any stretch by reading no more than its ends again.
class PeakSummary {
 public:
  static constexpr std::size_t kBlocks = 1 << 14;
  void Add(double peak);
  std::int64_t BlockWindows() const { return blockWindows_; }
  // Each block's peak; the last one may be short.
  const std::vector<double>& Blocks() const { return blocks_; }

 private:
  std::vector<double> blocks_;
  std::int64_t blockWindows_ = 1;
  std::int64_t inLast_ = 0;  // windows in the last block
};

// Everything the pass gathers, window by window.
class WindowSurvey : public detect::BlockTaker {
 public:
  // `gapFrames`: the gap the part counts of the level survey are made at;
  // `floorDb`: the one floor tracks are looked for at, where it is given.
  WindowSurvey(const wave::SourceInfo& info, std::int64_t gapFrames,
               std::optional<double> floorDb = {});
  ~WindowSurvey() override;
  WindowSurvey(const WindowSurvey&) = delete;
  WindowSurvey& operator=(const WindowSurvey&) = delete;
  // The next window's peak; and the samples the windows are made of, block
  // by block, whose programme's level is measured on a thread of its own
  // while the peaks are.
  void Add(double peak);
  void Take(const void* samples, std::int64_t frames, std::function<void()> done) override;
  // Once every window is in; the surveys are read only after it.
  void Finish();

  std::int64_t WindowFrames() const { return windowFrames_; }
  const detect::LevelHistogram& Levels() const { return levels_; }
  const detect::PartSurvey& Parts() const { return parts_; }
  // The silences by the windows' peaks: what the detection rule sees.
  const detect::TrackSurvey& Tracks() const { return tracks_; }
  // The silences by the programme's level, smoothed over a third of a
  // second: what a listener hears as the gaps between pieces.
  const detect::TrackSurvey& Programme() const { return programme_; }
  // The programme's levels (unsmoothed), as a histogram.
  const detect::LevelHistogram& ProgrammeLevels() const { return programmeLevels_; }
  const PeakSummary& Peaks() const { return peaks_; }

 private:
  void AddLevel(double db);
  void Measure();  // the programme's thread

  std::int64_t windowFrames_;
  detect::LevelHistogram levels_;
  detect::PartSurvey parts_;
  detect::TrackSurvey tracks_;
  detect::LevelProfile profile_;
  detect::RunningMedian smooth_;
  detect::LevelHistogram programmeLevels_;
  detect::TrackSurvey programme_;
  PeakSummary peaks_;
  // The blocks the programme's thread measures in turn: blocks
  // [measured_, taken_) wait in the ring.
  struct Block {
    const void* samples = nullptr;
    std::int64_t frames = 0;
    std::function<void()> done;
  };
  static constexpr std::size_t kQueued = 3;
  std::array<Block, kQueued> blocks_;
  std::vector<detect::LevelProfile::Piece> pieces_;
  std::size_t queued_ = 0, measured_ = 0;
  std::int64_t taken_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool ended_ = false;
  std::thread measurer_;
};

// The length of the windows for a rate: 10 ms, and at least a frame.
std::int64_t WindowFramesFor(std::int64_t rate);
// The lowest level the surveys of a recording go down to: -96 dBFS for 8-
// and 16-bit recordings, -150 for deeper ones, whose noise lies far below.
int LowestDbFor(const wave::SourceInfo& info);

// Reads every frame of `source` once into `survey`. Returns UnableToRead,
// or Stopped when the progress asked.
wave::Error SurveyWindows(wave::Source& source, detect::Progress& progress, WindowSurvey& survey);

struct TrackRequest {
  int tracks = 1;
  std::optional<double> floorDb;  // the noise floor to part them at, when given
  std::int64_t minFrames = 0;     // no track shorter
  // Where a track list expects each track after the first to begin, in
  // seconds from the first one's beginning, and the whole list's length
  // where it gives one: the silences nearest are taken where the clearest
  // choice disagrees with them.
  std::vector<double> anchors;
  std::optional<double> listSeconds;
};

// Where a track list's times do not fit the recording.
struct ListMisfit {
  // The title (counting from 1) expected to begin at `expected` seconds
  // after the first, with no silence near; 0 where the whole list lasts
  // `expected` seconds and the recording's sound `found`.
  std::size_t title = 0;
  double expected = 0;
  double found = 0;
};

struct Tracks {
  detect::TrackChoice choice;
  // The tracks, each from its first loud frame to one past its last at the
  // chosen floor, with its peak; empty when the choice was not found.
  std::vector<detect::PartSpan> parts;
  // Taken at the silences the list's times point to, not the clearest.
  bool anchored = false;
  std::vector<ListMisfit> misfits;
};

// The tracks of a surveyed recording: the N - 1 longest silences at the
// floor that parts them most clearly (or at the floor given), each track
// trimmed to its loud frames by reading the windows at its ends. Returns
// UnableToRead when those cannot be read.
wave::Error ChooseTracks(wave::Source& source, const WindowSurvey& survey,
                         const TrackRequest& request, Tracks& tracks);

// The detection options the tracks are found with, for a scan or a listing.
detect::DetectParams TrackParams(const detect::TrackChoice& choice);

// Fills each part's peak from a summary of window peaks, reading only the
// ends of each part that do not fill a block of it. UnableToRead on failure.
wave::Error PeaksFromSummary(wave::Source& source, const PeakSummary& summary,
                             std::int64_t windowFrames, std::vector<detect::PartSpan>& parts);
wave::Error PeaksFromSurvey(wave::Source& source, const WindowSurvey& survey,
                            std::vector<detect::PartSpan>& parts);

// A decoder read through once by a search, which keeps the peak of every
// window of frames on the way: the parts' peaks then need only their ends
// decoded again, not the whole recording.
class PeakTap final : public wave::Source {
 public:
  static constexpr std::int64_t kWindowFrames = 4096;
  explicit PeakTap(wave::Source& inner);
  std::int64_t ReadSamples(std::int64_t offset, void* out, std::int64_t count) override;
  bool Sequential() const override { return inner_.Sequential(); }
  std::unique_ptr<wave::Source> Fork() override { return inner_.Fork(); }
  std::string Failure() const override { return inner_.Failure(); }
  bool WholeInDoubt() const override { return inner_.WholeInDoubt(); }
  // Whether every frame was read, in order, to the last: the summary holds
  // them all.
  bool Whole() const { return whole_; }
  const PeakSummary& Peaks() const { return summary_; }

 private:
  wave::Source& inner_;
  PeakSummary summary_;
  std::int64_t seen_ = 0;  // bytes taken in, in order
  std::int64_t inWindow_ = 0;  // frames of the window under way
  double peak_ = 0;
  bool broken_ = false;  // a read skipped ahead: the summary is not whole
  bool whole_ = false;
};

// Where the noise floor and gap that give the parts most clearly cut the
// pieces' sound off at their edges: that floor, and the most cut at an edge.
struct EdgesCut {
  double floorDb = 0;
  double seconds = 0;
};

// The options to split a recording with, and what they give.
// A reading of a recording: the options that give it and the parts they
// give; `tracks` where it is --tracks that gives them (no floor and gap do,
// or they cut the pieces' edges).
struct Alternative {
  detect::TrackChoice choice;  // the silences it rests on
  detect::DetectParams params;
  int tracks = 0;
  int parts = 0;
  std::optional<EdgesCut> edgesCut;  // why --tracks, where a floor and gap give the count
};

struct Suggestion {
  detect::LevelEstimate estimate;
  detect::StableRange range;     // at the gap given
  detect::TrackChoice clearest;  // the floor and silences that part it most clearly
  detect::DetectParams params;   // the options suggested
  bool gapSuggested = false;     // the gap is the suggestion's, not the one given
  int parts = 0;                 // what they give, counted by a real scan
  int tracks = 0;                // where --tracks gives them, not a floor and gap
  std::optional<EdgesCut> edgesCut;  // why --tracks, where a floor and gap give the count
  bool sure = false;             // the parts stand over a wide range of floors
  // Where the recording has no clear answer: the second best reading.
  std::optional<Alternative> alternative;
  // The noise floor suggested: the one given to the rule, or, where
  // --tracks gives the parts, the programme's floor they rest on.
  double FloorDb() const { return tracks > 0 ? clearest.floorDb : params.thresholdDb.value_or(-50); }
};

// The suggestion for a surveyed recording, checked by splitting it with the
// options suggested: the count reported is the count they give. The gap is
// the one in `given` when `gapGiven`, else the one that parts the recording
// most clearly. Returns UnableToRead or Stopped from the checking scans.
wave::Error Suggest(wave::Source& source, const WindowSurvey& survey,
                    const detect::DetectParams& given, bool gapGiven, detect::Progress& progress,
                    Suggestion& suggestion);

}  // namespace corvella::batch
