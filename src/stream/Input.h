// Where the bytes of a recording still coming in are read from: standard
// input, or a file another program is still writing. A reader thread keeps
// taking them as they come, so that the program writing them never waits
// on the parts being written; what it has taken and not yet been used is
// bounded, and going past the bound is an error, never lost bytes.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "stream/StreamShape.h"
#include "wave/Error.h"

namespace corvella::stream {

class Input {
 public:
  virtual ~Input() = default;
  // Waits for bytes and reads up to `count` of them: 0 at the end, -1 when
  // they cannot be read (Failure() says why), or when `stop` was set while
  // waiting.
  virtual std::int64_t Read(std::uint8_t* buffer, std::int64_t count,
                            const std::atomic<bool>& stop) = 0;
  // A growing file's header, once read: the file is finished when the
  // header gives the data's size and the writer has closed it.
  virtual void KnowHeader(const StreamShape& shape) { (void)shape; }
  // Why the input ended as it did, when it is worth saying: "no growth for
  // 30 s", ... ; and why a read failed.
  std::string Note() const;
  std::string Failure() const;
  // What the reading waits for now, where it has waited a while for it
  // ("the writer to finish its header"); "" while bytes come.
  virtual std::string WaitingFor() const { return ""; }
  // Once the input has ended: the bytes of samples from the first frame on,
  // as a finished header gives them; -1 where no header says.
  virtual std::int64_t SamplesEnd() const { return -1; }

 protected:
  void SetNote(std::string note);
  void SetFailure(std::string why);

 private:
  mutable std::mutex mutex_;
  std::string note_;
  std::string failure_;
};

// Standard input, as it is: a pipe, a terminal, a file.
std::unique_ptr<Input> StandardInput();
// Whether standard input is a terminal (nothing was piped in).
bool StandardInputIsTerminal();

struct OpenedInput {
  std::unique_ptr<Input> input;  // null when it cannot be read
  wave::Error error;             // why
};

// A WAV (or raw) file being written by another program, read as it grows:
// it ends when the writer has closed it (or it has not grown for ten
// seconds) and the header says how long the data are (raw samples: when
// the writer has closed it), or when it has not grown for `idleSeconds`
// (0: never). Refused with UnableToOpen and the reason when it cannot be
// opened.
OpenedInput FollowedFile(const std::string& path, double idleSeconds);

// The bytes read ahead of their use, by a thread of its own.
class Spool {
 public:
  // Bytes handed out; nothing yet (asked again after a while); or how the
  // reading ended.
  enum class State { Bytes, Waiting, End, Failed, Overrun };
  explicit Spool(Input& input);
  // With its bound set from the first read on (see Limit).
  Spool(Input& input, std::int64_t bytes, double seconds, bool canWait);
  ~Spool();
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;

  // The most bytes held, `seconds` of audio. Past them, an input that comes
  // faster than it plays (a file sent through a pipe), or one that `canWait`
  // (a file being written), waits to be read until there is room again;
  // a live one, which would lose what it cannot hand on, ends the reading
  // with Overrun. 0 bytes for no bound (until the header says what a
  // second is).
  void Limit(std::int64_t bytes, double seconds, bool canWait);
  // The next bytes read, waiting a little for them; or, once every byte
  // read has been handed out, how the reading ended.
  State Next(std::vector<std::uint8_t>& bytes);
  // Stops the reading; what was read is still handed out.
  void Stop();
  std::int64_t Held() const;

 private:
  void Run();

  Input& input_;
  mutable std::mutex mutex_;
  std::condition_variable ready_;  // bytes, or the end, for the user
  std::condition_variable room_;   // room for the reader
  struct Chunk {
    std::vector<std::uint8_t> bytes;
    std::chrono::steady_clock::time_point came;
  };
  std::deque<Chunk> chunks_;
  std::int64_t held_ = 0;
  std::int64_t limit_ = 0;
  double limitSeconds_ = 0;
  bool canWait_ = false;
  State end_ = State::Bytes;  // how the reading ended, once it has
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace corvella::stream
