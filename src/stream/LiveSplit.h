// Splitting a recording while it comes in: each part written as its frames
// arrive and named as soon as its end is known, the parts those of a split
// of the whole recording (padding and the shortest part included). Only the
// silence after the part under way and the padding before the next are held
// in memory, never a part or the recording.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "batch/Plan.h"
#include "detect/Params.h"
#include "detect/Declick.h"
#include "detect/PartRule.h"
#include "wave/PartWriter.h"

namespace corvella::stream {

struct LiveOptions {
  detect::DetectParams detect;
  batch::PlanOptions plan;
  wave::WriteOptions write;  // mono, metadata, the files to keep
};

// A part as it was written: its name, its frames [start, end).
struct LivePart {
  std::string name;
  int number = 0;
  std::int64_t start = 0;
  std::int64_t end = 0;
};

// What becomes of the parts, told as it happens.
class LiveListener {
 public:
  virtual ~LiveListener() = default;
  // The file name of part `number` (counting from 1), whose first frame is `start`.
  virtual std::string NameFor(int number, std::int64_t start) = 0;
  virtual void Written(const LivePart& part) = 0;
  virtual void Failed(const LivePart& part, const wave::Error& error) = 0;
};

class LiveSplit {
 public:
  // `shape` describes the recording; it and `folder` outlive the split.
  LiveSplit(wave::WaveSource& shape, const LiveOptions& options, wave::Folder& folder,
            LiveListener& listener);
  ~LiveSplit();
  LiveSplit(const LiveSplit&) = delete;
  LiveSplit& operator=(const LiveSplit&) = delete;

  // Takes the next `count` whole frames, as the recording stores them.
  void Take(const std::uint8_t* frames, std::int64_t count);
  // The input ended, or the run stops: the part under way ends where the
  // frames do, and is written as a part of the whole recording would be.
  // With `samplesEnd`, the frames from there on were taken for samples but
  // are not: no part begins or is widened into them (one that holds some
  // of them is the caller's to remove).
  void Finish(std::optional<std::int64_t> samplesEnd = std::nullopt);

  std::int64_t Frames() const { return taken_; }
  int Parts() const { return number_; }
  bool Failed() const { return failed_; }
  // The peak of the frames taken last, as a share of full scale.
  double Level() const { return level_; }

 private:
  struct Part;
  void Judge(const void* samples, std::int64_t count);
  void Deliver(std::int64_t upTo);
  void Start(std::int64_t start);
  void End(const detect::PartSpan& found);
  // Settles what can be, with the frames up to `judged` judged.
  void Settle(std::int64_t judged);
  void Close(Part& part, std::int64_t end);
  void Flush(Part& part, std::int64_t upTo);

  wave::WaveSource& shape_;
  LiveOptions options_;
  wave::Folder& folder_;
  LiveListener& listener_;
  detect::LoudRule loud_;
  detect::PartRule rule_;
  std::int64_t frameBytes_;
  std::int64_t taken_ = 0;      // frames taken
  std::int64_t delivered_ = 0;  // frames handed to the parts under way
  // The frames last taken, back to the padding before them.
  std::vector<std::uint8_t> history_;
  std::int64_t historyFrom_ = 0;
  std::vector<double> samples_;  // aligned, in host byte order, for judging
  std::vector<detect::PartRule::Event> events_;
  std::unique_ptr<detect::FrameDeclicker> clicks_;  // with --ignore-clicks
  std::unique_ptr<Part> current_;        // begun, its end not known
  std::unique_ptr<Part> pending_;        // ended and kept; waits for its padding's end
  std::optional<std::int64_t> lastKeptEnd_;
  std::optional<std::int64_t> samplesEnd_;  // where the samples turned out to end
  int number_ = 0;
  bool failed_ = false;
  double level_ = 0;
};

}  // namespace corvella::stream
