// Finding where each part of a source begins and ends.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "detect/LoudScan.h"
#include "detect/Params.h"
#include "detect/PartRule.h"
#include "detect/Progress.h"
#include "wave/Source.h"

namespace corvella::detect {

// The boundary scanner over one open source, with the parameters fixed for
// it. Both searches walk the source block by block (what one read of 131072
// bytes from the search's position would give) and after every block report
// the position, let pending work run and ask whether to stop. Neither
// search relies on what the other left behind.
class Scanner {
 public:
  Scanner(wave::Source& source, const DetectParams& params, Progress& progress);

  // The first loud frame at or after `begin`; or, when none is left, the
  // frame count with endOfData set.
  std::int64_t FindPartStart(std::int64_t begin, bool& endOfData);
  // One past the last loud frame of the part whose first loud frame is
  // `start`: the part ends before more than the gap length of silent frames.
  // `scanPosition` receives the next frame the search would have judged,
  // where the next start search begins. Both searches only ever set endOfData.
  std::int64_t FindPartEnd(std::int64_t start, std::int64_t& scanPosition, bool& endOfData);

  // True once a search met samples it could not read; it then ended as if
  // the file had ended there.
  bool ReadFailed() const { return readFailed_; }
  std::int64_t FrameCount() const { return frames_; }
  // The gap length G in frames for the source's rate.
  std::int64_t GapFrames() const { return rule_.GapFrames(); }
  Progress& progress() { return progress_; }

 private:
  int ProgressOf(std::int64_t position) const;
  // Runs the rule on from where it stands; `found` once something became
  // known. Returns the bytes the last block gave, -1 for a failed read.
  std::int64_t Search(bool& found);

  // The source as judged: the one given, or it with its clicks taken out.
  std::unique_ptr<wave::Source> declicked_;
  wave::Source& source_;
  Progress& progress_;
  LoudRule loud_;
  PartRule rule_;
  std::vector<PartRule::Event> events_;
  std::int64_t frames_;
  bool readFailed_ = false;
  // One block of samples; doubles keep it aligned for every sample type.
  std::vector<double> buffer_;
};

}  // namespace corvella::detect
