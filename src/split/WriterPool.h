// The writers of one run: as many parts written at once as there are cores,
// each writer taking the next part, so that copies (which the kernel does)
// overlap the search for the next parts and encoded parts (FLAC) use every
// core. A decoder is not shared: each writer reads through a fork of it.
// Parts take their names in the run's order: a part done early waits for
// those before it (giving its core to the next part meanwhile), so that
// whatever stops the run (Ctrl-C, a second one, a kill) leaves the first
// parts and never a later one without an earlier. What the writers did is
// told back in the parts' order, to the one thread that speaks to the user.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "detect/Progress.h"
#include "formats/Formats.h"
#include "split/Find.h"
#include "wave/PartWriter.h"
#include "wave/Source.h"

namespace corvella::split {

// A recording open for splitting, with how its parts are written.
struct Recording {
  std::string path;
  std::unique_ptr<wave::Source> source;
  formats::PartPlan plan;
  // One writer at a time reads a decoder that cannot be forked.
  std::mutex reading;
};

// One part to write, and once written, what became of it.
struct WriteTask {
  std::size_t index = 0;  // its place in the run's order
  Recording* recording = nullptr;
  formats::PartPlan::Part part;
  wave::Error error;
  bool begun = false;  // its writing had begun (a Stopped part was removed)
  bool replaced = false;  // a file of its name was there before
};

// A found part as it is written.
formats::PartPlan::Part PartToWrite(const Part& part);

class WriterPool {
 public:
  // Parts go into `folder`, never replacing a file `keep` holds; `stopped`
  // is asked between blocks, and a part under way when it says yes is
  // abandoned (Stopped).
  WriterPool(wave::Folder& folder, wave::KeptFiles& keep, std::function<bool()> stopped);
  ~WriterPool();
  WriterPool(const WriterPool&) = delete;
  WriterPool& operator=(const WriterPool&) = delete;

  void Add(Recording& recording, const formats::PartPlan::Part& part);
  // The parts written (or refused) since the last call, in the order they
  // were added; with `all`, after waiting for every part given so far,
  // telling `progress` meanwhile how much of them is written.
  std::vector<WriteTask> Done(bool all, detect::Progress* progress = nullptr);

 private:
  void Run();
  void Write(WriteTask& task);
  // Waits until every part before the one this thread writes is done with;
  // false when one of them was dropped by a stop, so this one goes too.
  bool Turn();

  wave::Folder& folder_;
  wave::KeptFiles& keep_;
  std::function<bool()> stopped_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<WriteTask> waiting_;
  std::map<std::size_t, WriteTask> done_;
  std::size_t added_ = 0, released_ = 0;
  int busy_ = 0;
  int writing_ = 0;     // parts being written, not waiting for their turn
  unsigned cores_ = 1;  // parts written at once
  std::set<std::size_t> returned_;  // parts done with, after finished_
  std::size_t finished_ = 0;        // every part before this one is done with
  std::size_t droppedFrom_ = SIZE_MAX;  // the first part a stop dropped
  std::int64_t frames_ = 0, written_ = 0;  // of the parts given since the last full wait
  bool closing_ = false;
  std::vector<std::thread> threads_;  // last: they start once everything else is in place
};

}  // namespace corvella::split
