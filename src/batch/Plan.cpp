#include "batch/Plan.h"

#include <algorithm>

namespace corvella::batch {

std::int64_t PlannedStart(const detect::PartSpan& part, std::optional<std::int64_t> previousEnd,
                          const PlanOptions& options) {
  // The silence before a part reaches back to the previous part's end; a
  // neighbour gets the half of it nearer to it.
  const std::int64_t earliest = previousEnd ? *previousEnd + (part.start - *previousEnd) / 2 : 0;
  return std::max(part.start - options.padBefore, earliest);
}

std::int64_t PlannedEnd(const detect::PartSpan& part, std::optional<std::int64_t> nextStart,
                        std::int64_t frames, const PlanOptions& options) {
  const std::int64_t latest = nextStart ? part.end + (*nextStart - part.end) / 2 : frames;
  return std::min(part.end + options.padAfter, latest);
}

bool PartPlanner::Add(const detect::PartSpan& found) {
  if (!Kept(found, options_)) return false;
  kept_.push_back(found);
  return true;
}

bool PartPlanner::Next(detect::PartSpan& planned) {
  if (kept_.empty() || !Ready()) return false;
  const detect::PartSpan part = kept_.front();
  kept_.pop_front();
  planned = part;
  planned.start = PlannedStart(part, previousEnd_, options_);
  planned.end = PlannedEnd(
      part, kept_.empty() ? std::nullopt : std::optional(kept_.front().start), frames_, options_);
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
