#include "batch/PartWalk.h"

namespace corvella::batch {

WalkResult WalkParts(detect::Scanner& scanner, const PartVisitor& visit) {
  detect::Progress& progress = scanner.progress();
  WalkResult result;
  std::int64_t scanPosition = 0;
  bool endOfData = false;
  for (;;) {
    const std::int64_t start = scanner.FindPartStart(scanPosition, endOfData);
    if (scanner.ReadFailed() || endOfData || (result.stopped = progress.StopRequested())) break;
    const std::int64_t end = scanner.FindPartEnd(start, scanPosition, endOfData);
    if (scanner.ReadFailed() || (result.stopped = progress.StopRequested())) break;
    ++result.parts;
    visit({start, end}, result.parts);
    progress.Pump();
    if (endOfData || (result.stopped = progress.StopRequested())) break;
  }
  result.readFailed = scanner.ReadFailed();
  progress.Report(0);
  return result;
}

std::vector<detect::PartSpan> FindParts(detect::Scanner& scanner, WalkResult& result) {
  std::vector<detect::PartSpan> parts;
  result = WalkParts(scanner, [&](const detect::PartSpan& part, int) { parts.push_back(part); });
  return parts;
}

}  // namespace corvella::batch
