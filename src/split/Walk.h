// One recording walked part by part, each part written as soon as its end
// is known: what the window does for every file selected. Every failure is
// told as it happens and the walk goes on where it can, as the window
// shows one "Error" box for each.
#pragma once

#include <string>

#include "detect/Params.h"
#include "detect/Progress.h"
#include "wave/Error.h"
#include "wave/FileApi.h"
#include "wave/PartWriter.h"
#include "wave/WaveSource.h"

namespace corvella::split {

struct WalkRequest {
  wave::Acceptance acceptance = wave::Acceptance::Plain16;
  detect::DetectParams detect;
  // Write each part as NAME_001.wav, ... into `destination`; else count.
  bool write = false;
  std::string destination;
};

// What the walk tells its front end as it goes.
class WalkListener {
 public:
  virtual ~WalkListener() = default;
  // The recording refused, a part not written, a read that failed.
  virtual void Failed(const wave::Error& error) = 0;
  // How the next part is written: asked afresh for each part.
  virtual wave::WriteOptions PartOptions() = 0;
  // A part's file is done with (written, or failed after Failed said why).
  virtual void PartDone(const std::string& path) { (void)path; }
};

// Opens the recording at `path` with the acceptance asked (held while it is
// walked), finds its parts one after the other and, when asked, writes
// each as soon as its end is known, the destination folder looked up
// afresh for every part; until the data end or the progress asks to stop.
// A part whose end search was stopped is neither counted nor written.
// Returns the number of parts: 0 for a refused recording.
int WalkRecording(wave::FileApi& files, const std::string& path, const WalkRequest& request,
                  detect::Progress& progress, WalkListener& listener);

}  // namespace corvella::split
