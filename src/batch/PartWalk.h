// Walking one source part by part. What to do with each part (count it,
// list it, write it) is the caller's.
#pragma once

#include <functional>
#include <vector>

#include "detect/Params.h"
#include "detect/Scanner.h"

namespace corvella::batch {

// Called with every part found and its number, counting from 1.
using PartVisitor = std::function<void(const detect::PartSpan& part, int number)>;

struct WalkResult {
  int parts = 0;
  // A search met samples it could not read: the part under way was dropped
  // and the walk ended.
  bool readFailed = false;
  // The progress asked to stop: the part under way was dropped.
  bool stopped = false;
};

// Alternates the two searches from the first frame until the data ends,
// handing each part to `visit` and letting pending work run after each. A
// part whose end could not be read, or whose end search was stopped, is
// neither counted nor visited. The progress is reported as 0 at the end.
WalkResult WalkParts(detect::Scanner& scanner, const PartVisitor& visit);

// Every part of the source, as the walk finds them.
std::vector<detect::PartSpan> FindParts(detect::Scanner& scanner, WalkResult& result);

}  // namespace corvella::batch
