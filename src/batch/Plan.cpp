#include "batch/Plan.h"

#include <algorithm>

namespace corvella::batch {

std::vector<detect::PartSpan> PlanParts(const std::vector<detect::PartSpan>& parts,
                                        std::int64_t frames, const PlanOptions& options) {
  std::vector<detect::PartSpan> kept;
  for (const detect::PartSpan& part : parts) {
    if (part.end - part.start >= options.minFrames) kept.push_back(part);
  }
  std::vector<detect::PartSpan> planned = kept;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    // The silence before a part reaches back to the previous part's end; a
    // neighbour gets the half of it nearer to it.
    const std::int64_t earliest =
        i == 0 ? 0 : kept[i - 1].end + (kept[i].start - kept[i - 1].end) / 2;
    const std::int64_t latest =
        i + 1 == kept.size() ? frames : kept[i].end + (kept[i + 1].start - kept[i].end) / 2;
    planned[i].start = std::max(kept[i].start - options.padBefore, earliest);
    planned[i].end = std::min(kept[i].end + options.padAfter, latest);
  }
  return planned;
}

}  // namespace corvella::batch
