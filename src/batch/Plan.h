// What becomes of the parts the scanner found before they are listed or
// written: too short ones dropped, the rest widened into the silence around.
#pragma once

#include <cstdint>
#include <vector>

#include "detect/Params.h"

namespace corvella::batch {

struct PlanOptions {
  std::int64_t minFrames = 0;  // parts shorter than this are dropped
  std::int64_t padBefore = 0;
  std::int64_t padAfter = 0;
};

// Drops the parts shorter than the minimum, then widens the others into the
// silence around them: never before frame 0 or past `frames`, and never past
// the middle of the silence a part shares with its neighbour, so no two parts
// overlap. With no options the parts come back unchanged.
std::vector<detect::PartSpan> PlanParts(const std::vector<detect::PartSpan>& parts,
                                        std::int64_t frames, const PlanOptions& options);

}  // namespace corvella::batch
