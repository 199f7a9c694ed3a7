#include "batch/Plan.h"

#include <algorithm>

namespace corvella::batch {

bool PartPlanner::Add(const detect::PartSpan& found) {
  if (found.end - found.start < options_.minFrames) return false;
  kept_.push_back(found);
  return true;
}

bool PartPlanner::Next(detect::PartSpan& planned) {
  if (kept_.empty() || !Ready()) return false;
  const detect::PartSpan part = kept_.front();
  kept_.pop_front();
  // The silence before a part reaches back to the previous part's end; a
  // neighbour gets the half of it nearer to it.
  const std::int64_t earliest = previousEnd_ ? *previousEnd_ + (part.start - *previousEnd_) / 2 : 0;
  const std::int64_t latest =
      kept_.empty() ? frames_ : part.end + (kept_.front().start - part.end) / 2;
  planned = part;
  planned.start = std::max(part.start - options_.padBefore, earliest);
  planned.end = std::min(part.end + options_.padAfter, latest);
  previousEnd_ = part.end;
  return true;
}

std::vector<detect::PartSpan> PlanParts(const std::vector<detect::PartSpan>& parts,
                                        std::int64_t frames, const PlanOptions& options) {
  PartPlanner planner(frames, options);
  for (const detect::PartSpan& part : parts) planner.Add(part);
  planner.Finish();
  std::vector<detect::PartSpan> planned;
  for (detect::PartSpan part; planner.Next(part);) planned.push_back(part);
  return planned;
}

}  // namespace corvella::batch
