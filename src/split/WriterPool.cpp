#include "split/WriterPool.h"

#include "wave/RunsAhead.h"

#include <algorithm>
#include <chrono>

namespace corvella::split {

formats::PartPlan::Part PartToWrite(const Part& part) {
  return {part.span.start, part.span.end, part.name, part.number, part.count, part.track};
}

namespace {

// The part the writer on this thread is writing, for its turn to be named,
// and whether it has given its core up while it waits for that turn.
thread_local std::size_t writing = 0;
thread_local bool waited = false;

}  // namespace

WriterPool::WriterPool(wave::Folder& folder, wave::KeptFiles& keep, std::function<bool()> stopped)
    : folder_(folder), keep_(keep), stopped_(std::move(stopped)) {
  cores_ = static_cast<unsigned>(wave::Cores());
  keep_.NameInTurn([this] { return Turn(); });
  // Threads beyond the cores wait for their turn to name a part while the
  // cores go on with the next.
  for (unsigned i = 0; i < 2 * cores_; ++i) threads_.emplace_back([this] { Run(); });
}

WriterPool::~WriterPool() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  wake_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  keep_.NameInTurn({});
}

bool WriterPool::Turn() {
  std::unique_lock lock(mutex_);
  --writing_;  // the core is free for the next part meanwhile
  waited = true;
  wake_.notify_all();
  wake_.wait(lock, [this] { return finished_ == writing; });
  return droppedFrom_ > writing;
}

void WriterPool::Add(Recording& recording, const formats::PartPlan::Part& part) {
  {
    std::lock_guard lock(mutex_);
    WriteTask task;
    task.index = added_++;
    task.recording = &recording;
    task.part = part;
    frames_ += part.end - part.start;
    waiting_.push_back(std::move(task));
  }
  wake_.notify_all();
}

std::vector<WriteTask> WriterPool::Done(bool all, detect::Progress* progress) {
  std::unique_lock lock(mutex_);
  if (all) {
    while (!wake_.wait_for(lock, std::chrono::milliseconds(200),
                           [this] { return waiting_.empty() && busy_ == 0; })) {
      if (progress && frames_ > 0) progress->Report(static_cast<int>(written_ * 100 / frames_));
    }
  }
  std::vector<WriteTask> ready;
  for (auto it = done_.find(released_); it != done_.end(); it = done_.find(++released_)) {
    ready.push_back(std::move(it->second));
    done_.erase(it);
  }
  if (all) frames_ = written_ = 0;
  return ready;
}

void WriterPool::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] {
      return closing_ || (!waiting_.empty() && writing_ < static_cast<int>(cores_));
    });
    if (waiting_.empty()) return;
    WriteTask task = std::move(waiting_.front());
    waiting_.pop_front();
    ++busy_;
    ++writing_;
    writing = task.index;
    waited = false;
    lock.unlock();
    Write(task);
    lock.lock();
    if (!waited) --writing_;  // a part that never came to be named
    --busy_;
    if (task.error == wave::ErrorCode::Stopped) droppedFrom_ = std::min(droppedFrom_, task.index);
    // Done with, in order: the next part may take its name.
    returned_.insert(task.index);
    while (returned_.count(finished_) > 0) returned_.erase(finished_++);
    written_ += task.part.end - task.part.start;
    done_.emplace(task.index, std::move(task));
    wake_.notify_all();
  }
}

void WriterPool::Write(WriteTask& task) {
  if (stopped_()) {
    task.error = wave::ErrorCode::Stopped;
    return;
  }
  task.begun = true;
  task.replaced = folder_.Inspect(task.part.name).kind != wave::PathKind::Missing;
  Recording& recording = *task.recording;
  wave::Source* reader = recording.source.get();
  std::unique_ptr<wave::Source> fork;
  std::unique_lock<std::mutex> alone;
  if (reader->Sequential()) {
    fork = reader->Fork();
    if (fork) {
      reader = fork.get();
    } else {
      alone = std::unique_lock(recording.reading);
    }
  }
  task.error = recording.plan.Write(*reader, task.part, folder_, &keep_, stopped_);
}

}  // namespace corvella::split
