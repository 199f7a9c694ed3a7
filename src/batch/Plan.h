// What becomes of the parts the scanner found before they are listed or
// written: too short ones dropped, the rest widened into the silence around.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "detect/Params.h"

namespace corvella::batch {

struct PlanOptions {
  std::int64_t minFrames = 0;  // parts shorter than this are dropped
  std::int64_t padBefore = 0;
  std::int64_t padAfter = 0;
};

// The rule of the plan for one part, given its kept neighbours: it begins
// the padding before its first loud frame, never before the recording nor
// before the middle of the silence after the part before (which ended at
// `previousEnd`); it ends the padding after its last loud frame, never past
// the recording's `frames` nor past the middle of the silence before the
// part after (which begins at `nextStart`).
std::int64_t PlannedStart(const detect::PartSpan& part, std::optional<std::int64_t> previousEnd,
                          const PlanOptions& options);
std::int64_t PlannedEnd(const detect::PartSpan& part, std::optional<std::int64_t> nextStart,
                        std::int64_t frames, const PlanOptions& options);
// Whether a part found is kept: it is not shorter than the minimum.
inline bool Kept(const detect::PartSpan& part, const PlanOptions& options) {
  return part.end - part.start >= options.minFrames;
}

// Plans parts as the scanner finds them. A part shorter than the minimum is
// dropped; the others widen into the silence around them: never before
// frame 0 or past `frames`, and never past the middle of the silence a part
// shares with its neighbour, so no two parts overlap. A part's plan is
// known once the next kept part has been found, or the scan has ended.
class PartPlanner {
 public:
  PartPlanner(std::int64_t frames, const PlanOptions& options)
      : frames_(frames), options_(options) {}
  // The next part found, in order; false when it is dropped.
  bool Add(const detect::PartSpan& found);
  // No more parts will be found.
  void Finish() { finished_ = true; }
  // Next() can answer: a planned part is known, or none will ever be.
  bool Ready() const { return kept_.size() >= 2 || finished_; }
  // Once Ready(): the next planned part, or false when there is none left.
  bool Next(detect::PartSpan& planned);

 private:
  std::int64_t frames_;
  PlanOptions options_;
  std::deque<detect::PartSpan> kept_;        // found and kept, not yet planned
  std::optional<std::int64_t> previousEnd_;  // of the kept part planned last
  bool finished_ = false;
};

// Every part planned at once. With no options the parts come back unchanged.
std::vector<detect::PartSpan> PlanParts(const std::vector<detect::PartSpan>& parts,
                                        std::int64_t frames, const PlanOptions& options);

}  // namespace corvella::batch
