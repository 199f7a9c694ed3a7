// A recording split as it comes in, from its first byte to its end: its
// header read from the first bytes (unless its shape is given), its frames
// handed to the live split as they arrive, and its end found: the input's
// end, the size its header gives, or a stop. What ended it, and what the
// user should know about that, comes back as values for the front end to
// say.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "batch/Plan.h"
#include "detect/Params.h"
#include "stream/Input.h"
#include "stream/LiveSplit.h"
#include "stream/StreamShape.h"
#include "wave/Error.h"
#include "wave/PartWriter.h"

namespace corvella::stream {

struct IntakeSettings {
  detect::DetectParams detect;
  // The shortest part and the padding, in seconds.
  double minPart = 0, padBefore = 0, padAfter = 0;
  wave::WriteOptions write;  // mono, metadata, the files to keep
  // Audio read ahead of the parts' writing, in seconds.
  double bufferSeconds = 60;
  // The input is a file being written (it may wait), not a pipe.
  bool followed = false;
};

// What the front end hears while the recording comes in.
class IntakeListener : public LiveListener {
 public:
  // The recording's shape is known: its parts are about to be named.
  virtual void Began(const StreamShape& shape) = 0;
  // Nothing has come for a while: what the reading waits for.
  virtual void Waiting(const std::string& what) { (void)what; }
  // After each piece of input: the frames taken, the parts written, the
  // peak of the frames taken last (a share of full scale).
  virtual void Taking(std::int64_t frames, int parts, double level) = 0;
  virtual bool StopRequested() = 0;
};

// How the intake ended.
struct IntakeEnd {
  // The recording could not be split at all: its header refused, or the
  // input ended or failed before the header did. Nothing was written.
  wave::Error refused;
  // Its rate is 0: there is no time to judge a gap by. Nothing was written.
  bool noRate = false;
  // The parts' writing fell more than the buffer behind a live input: the
  // reading stopped there.
  bool overrun = false;
  // The input failed midway: the parts hold what came before.
  wave::Error failure;
  // The input ended this many frames before the size its header gives.
  std::int64_t framesShort = 0;
  // Bytes at the end that make no whole frame, left out.
  std::int64_t bytesLeftOut = 0;
  // Why the input ended as it did, where that is worth saying.
  std::string note;
  // A part could not be written.
  bool partsFailed = false;
  // Parts removed after they were named, as they held bytes that turned out
  // to be no samples (a chunk a writer put after them).
  std::vector<std::string> removed;
  // The recording's shape was known and its split began.
  bool began = false;
  bool Failed() const {
    return refused || noRate || overrun || failure || framesShort > 0 || partsFailed ||
           !removed.empty();
  }
};

// Splits the recording that `input` delivers into `folder`. `shape` is the
// recording's when its samples come without a header (--raw), else null.
IntakeEnd SplitAsItComes(Input& input, std::unique_ptr<StreamShape> shape,
                         const IntakeSettings& settings, wave::Folder& folder,
                         IntakeListener& listener);

}  // namespace corvella::stream
