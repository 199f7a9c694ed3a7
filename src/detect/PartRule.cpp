#include "detect/PartRule.h"

#include <algorithm>

namespace corvella::detect {

std::int64_t LoudFramesInMemory::FirstLoud(std::int64_t from, std::int64_t to) {
  const auto n = static_cast<std::size_t>((to - from) * channels_);
  const std::size_t loud = FirstLoudSample(At(from), n, rule_);
  return loud == n ? to : from + static_cast<std::int64_t>(loud) / channels_;
}

std::int64_t LoudFramesInMemory::LastLoud(std::int64_t from, std::int64_t to) {
  const auto n = static_cast<std::size_t>((to - from) * channels_);
  const std::size_t loud = LastLoudSample(At(from), n, rule_);
  return loud == n ? to : from + static_cast<std::int64_t>(loud) / channels_;
}

// Every frame up to e + G (e one past the last loud frame, G the gap) is
// judged whatever it holds, so the frames from the next to judge up to
// e + G are taken as one stretch of which only the last loud frame matters;
// the part ends once more than G silent frames follow e.
void PartRule::Judge(LoudFrames& frames, std::int64_t end, std::vector<Event>& events,
                     bool firstEvent) {
  State& s = state_;
  std::int64_t q = s.position;
  while (q < end) {
    if (!s.inPart) {
      const std::int64_t loud = frames.FirstLoud(q, end);
      if (loud == end) {
        q = end;
        break;
      }
      s.inPart = true;
      s.start = loud;
      s.loudEnd = loud + 1;
      q = loud + 1;
      events.push_back({Event::Kind::Start, s.start, {}});
      if (firstEvent) break;
      continue;
    }
    const std::int64_t last = std::min(s.loudEnd + gap_, end - 1);
    if (q <= last) {
      const std::int64_t loud = frames.LastLoud(q, last + 1);
      if (loud <= last) s.loudEnd = loud + 1;
      q = last + 1;
    }
    if (q - s.loudEnd > gap_) {
      s.inPart = false;
      events.push_back({Event::Kind::End, q, {s.start, s.loudEnd, 0}});
      if (firstEvent) break;
    }
  }
  s.position = q;
}

void PartRule::Finish(std::vector<Event>& events) {
  if (!state_.inPart) return;
  state_.inPart = false;
  events.push_back({Event::Kind::End, state_.position, {state_.start, state_.loudEnd, 0}});
}

}  // namespace corvella::detect
