// The writers of one run: a thread per core, each taking the next part, so
// that copies (which the kernel does) overlap the search for the next parts
// and encoded parts (FLAC) use every core. A decoder is not shared: each
// writer reads through a fork of it. What the writers did is told back in
// the parts' order, to the one thread that speaks to the user.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
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

  wave::Folder& folder_;
  wave::KeptFiles& keep_;
  std::function<bool()> stopped_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<WriteTask> waiting_;
  std::map<std::size_t, WriteTask> done_;
  std::size_t added_ = 0, released_ = 0;
  int busy_ = 0;
  std::int64_t frames_ = 0, written_ = 0;  // of the parts given since the last full wait
  bool closing_ = false;
  std::vector<std::thread> threads_;  // last: they start once everything else is in place
};

}  // namespace corvella::split
