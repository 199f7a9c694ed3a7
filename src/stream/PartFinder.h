// The command line's rule, judged as the frames arrive: a part begins at a
// loud frame and ends before more than the gap length of silent frames.
// Fed the same frames in any pieces, it finds the parts the scanner finds
// in the whole recording.
#pragma once

#include <cstdint>
#include <vector>

#include "detect/LoudScan.h"
#include "detect/Params.h"
#include "wave/Source.h"

namespace corvella::stream {

class PartFinder {
 public:
  struct Event {
    enum class Kind { Start, End } kind;
    // Start: the part's first loud frame. End: the frame the end became
    // known at (the first one the next search judges).
    std::int64_t at = 0;
    detect::PartSpan part;  // End: the part, [first loud, one past last loud)
  };

  PartFinder(const wave::SourceInfo& info, const detect::DetectParams& params);

  // Judges the next `count` frames, given as samples in host byte order,
  // and appends what became known to `events`.
  void Judge(const void* samples, std::int64_t count, std::vector<Event>& events);
  // The data ended: a part under way ends at its last loud frame.
  void Finish(std::vector<Event>& events);

  bool InPart() const { return inPart_; }
  // In a part: one past its last loud frame so far.
  std::int64_t LoudEnd() const { return loudEnd_; }
  // The frames judged so far.
  std::int64_t Position() const { return position_; }
  std::int64_t GapFrames() const { return gap_; }

 private:
  detect::LoudRule rule_;
  int channels_;
  int width_;
  std::int64_t gap_;
  std::int64_t position_ = 0;  // the next frame to judge
  bool inPart_ = false;
  std::int64_t start_ = 0;
  std::int64_t loudEnd_ = 0;
};

}  // namespace corvella::stream
