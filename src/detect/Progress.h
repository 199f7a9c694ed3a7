// How a long piece of work keeps its front end informed: where it stands,
// a chance for pending work (the window's events) to run, and whether the
// user asked it to stop. Called once per block of samples, never per frame.
#pragma once

namespace corvella::detect {

class Progress {
 public:
  virtual ~Progress() = default;
  // How far the work has come, in percent; beyond 100 where a search reads
  // past the audio into the chunks after it.
  virtual void Report(int percent) = 0;
  // Lets pending work run, then returns.
  virtual void Pump() = 0;
  virtual bool StopRequested() = 0;
};

// For work nobody watches.
class NoProgress final : public Progress {
 public:
  void Report(int) override {}
  void Pump() override {}
  bool StopRequested() override { return false; }
};

}  // namespace corvella::detect
