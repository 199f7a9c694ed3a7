// Where the command line's words go: results on stdout, messages and the
// progress bar on stderr. Names are shown with control characters escaped,
// so a hostile file name cannot drive the terminal. A failing stdout (a full
// disk, /dev/full, a closed pipe) is noticed and remembered with its reason.
#pragma once

#include <atomic>
#include <functional>
#include <ostream>
#include <streambuf>
#include <string>

#include "cli/Text.h"
#include "detect/Progress.h"
#include "wave/Error.h"

namespace corvella::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // a file was refused, a part not written, stdout failed
inline constexpr int kExitUsage = 2;   // the command line itself was wrong
inline constexpr int kExitClosedPipe = 141;  // stdout's reader went away, as after SIGPIPE

// Standard output written straight to a descriptor: every failure is kept
// with its errno, and nothing more is written after one.
class FdStream : public std::ostream {
 public:
  explicit FdStream(int fd);
  // The errno of the first failed write, or 0.
  int Failure() const { return buffer_.failure; }

 private:
  struct Buffer : std::streambuf {
    int fd;
    int failure = 0;
    char data[8192];
    explicit Buffer(int f) : fd(f) { setp(data, data + sizeof data); }
    bool Drain();
    int_type overflow(int_type c) override;
    int sync() override { return Drain() ? 0 : -1; }
  };
  Buffer buffer_;
};

class Console {
 public:
  // `stop` holds the number of the signal that asked the run to stop, or 0.
  Console(std::ostream& out, std::ostream& err, bool progressBar, const std::atomic<int>& stop,
          std::function<int()> outFailure = {});

  // Results: a progress bar on the terminal is taken away first, so that
  // nothing is printed after it on its line.
  std::ostream& out() {
    if (shownBar_) shownBar_->Clear();
    return out_;
  }
  std::ostream& err() { return err_; }
  bool Stopped() const { return stop_.load() != 0; }
  // The exit status after a stop: 128 + the signal (130 for Ctrl-C).
  int StopStatus() const { return 128 + stop_.load(); }

  // Flushes stdout. False once it has failed, after saying so once as
  // "corvella-cli: write error: REASON"; a pipe whose reader has gone is
  // taken in silence.
  bool Deliver();
  // True when stdout is a pipe whose reader has gone.
  bool OutClosed();
  // The status of a run ended by a failed stdout: kExitClosedPipe for a
  // closed pipe, else kExitFailed.
  int OutputStatus() { return OutClosed() ? kExitClosedPipe : kExitFailed; }

  // "corvella-cli: SUBJECT: MESSAGE (detail)" on stderr.
  void Report(const std::string& subject, const wave::Error& error);
  void Report(const std::string& subject, const std::string& message);
  // A note of what was done, in Report's form: not under --quiet. (What
  // puts a result in doubt is reported, quiet or not.)
  void Note(const std::string& subject, const std::string& message) {
    if (!quiet_) Report(subject, message);
  }
  // --quiet: no notes of what was done, no progress bar.
  void BeQuiet() {
    quiet_ = true;
    progressBar_ = false;
  }

  // The progress bar of one file, on stderr when it is a terminal.
  class Bar final : public detect::Progress {
   public:
    Bar(Console& console, const std::string& name) : console_(console), name_(Printable(name)) {}
    ~Bar() override { Clear(); }
    void Report(int percent) override;
    // A line of its own in the bar's place: what a run without an end shows.
    void Show(const std::string& text);
    void Pump() override {}
    bool StopRequested() override { return console_.Stopped(); }
    void Clear();

   private:
    Console& console_;
    std::string name_;
    int drawn_ = -1;
    std::size_t width_ = 0;  // of what is drawn
  };

 private:
  friend class Bar;
  std::ostream& out_;
  std::ostream& err_;
  bool progressBar_;
  bool quiet_ = false;
  const std::atomic<int>& stop_;
  std::function<int()> outFailure_;
  Bar* shownBar_ = nullptr;  // the bar on screen, cleared before any message
  bool outReported_ = false;
};

}  // namespace corvella::cli
