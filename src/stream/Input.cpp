#include "stream/Input.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <locale>
#include <sstream>

#include "wave/ByteOrder.h"
#include "wave/Error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/inotify.h>
#endif
#endif

namespace corvella::stream {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWaitMs = 200;  // between looks at a file that does not grow
// A finished file whose writer's closing goes unseen (no inotify, or no
// writer left): no growth for this long.
constexpr auto kSettled = std::chrono::seconds(10);
// The bytes at a growing file's end held back until its writer is done.
constexpr std::int64_t kHoldBack = 4096;
// A wait this long without growth is said, with what it waits for.
constexpr auto kSayWaiting = std::chrono::seconds(5);
constexpr std::int64_t kChunk = 65536;

std::string SecondsText(double seconds) {
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text << seconds;
  return text.str();
}

#ifdef _WIN32
using Handle = HANDLE;
const Handle kNoHandle = INVALID_HANDLE_VALUE;

std::int64_t ReadAt(Handle file, void* buffer, std::int64_t count, std::int64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  if (ReadFile(file, buffer, static_cast<DWORD>(count), &got, &at)) return got;
  return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
}

std::int64_t SizeOf(Handle file) {
  LARGE_INTEGER size{};
  return GetFileSizeEx(file, &size) ? size.QuadPart : -1;
}

void CloseHandleOf(Handle file) {
  CloseHandle(file);
}

std::string LastError() {
  return "system error " + std::to_string(GetLastError());
}
#else
using Handle = int;
const Handle kNoHandle = -1;

std::int64_t ReadAt(Handle file, void* buffer, std::int64_t count, std::int64_t offset) {
  for (;;) {
    const ssize_t got = ::pread(file, buffer, static_cast<std::size_t>(count), offset);
    if (got >= 0 || errno != EINTR) return got;
  }
}

std::int64_t SizeOf(Handle file) {
  struct stat status {};
  return ::fstat(file, &status) == 0 ? status.st_size : -1;
}

void CloseHandleOf(Handle file) {
  ::close(file);
}

std::string LastError() {
  return wave::ReasonOf(errno);
}
#endif

class StandardInputStream final : public Input {
 public:
  std::int64_t Read(std::uint8_t* buffer, std::int64_t count,
                    const std::atomic<bool>& stop) override {
#ifdef _WIN32
    // A pipe is looked at a little at a time, so that a stop is seen while
    // it is quiet and the reader never blocks past its spool; a file does
    // not keep a read waiting.
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    for (DWORD waiting = 0;;) {
      if (stop.load()) return -1;
      if (!PeekNamedPipe(in, nullptr, 0, nullptr, &waiting, nullptr)) {
        if (GetLastError() == ERROR_BROKEN_PIPE) return 0;
        break;  // not a pipe
      }
      if (waiting > 0) {
        count = std::min<std::int64_t>(count, waiting);
        break;
      }
      Sleep(kWaitMs / 4);
    }
    DWORD got = 0;
    if (ReadFile(in, buffer, static_cast<DWORD>(count), &got, nullptr)) return got;
    const DWORD error = GetLastError();
    if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return 0;
    SetFailure(LastError());
    return -1;
#else
    // Waits a little at a time, so that a stop is seen while the pipe is quiet.
    for (;;) {
      if (stop.load()) return -1;
      pollfd wait{0, POLLIN, 0};
      const int ready = ::poll(&wait, 1, kWaitMs);
      if (ready < 0 && errno != EINTR) break;
      if (ready <= 0) continue;
      const ssize_t got = ::read(0, buffer, static_cast<std::size_t>(count));
      if (got >= 0) return got;
      if (errno != EINTR && errno != EAGAIN) break;
    }
    SetFailure(LastError());
    return -1;
#endif
  }
};

class FollowedStream final : public Input {
 public:
  FollowedStream(Handle file, double idleSeconds) : file_(file), idleSeconds_(idleSeconds) {
#ifdef __linux__
    watch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
#endif
  }
  ~FollowedStream() override {
    CloseHandleOf(file_);
#ifdef __linux__
    if (watch_ >= 0) ::close(watch_);
#endif
  }

  void Watch(const std::string& path) {
#ifdef __linux__
    if (watch_ >= 0 && ::inotify_add_watch(watch_, path.c_str(), IN_MODIFY | IN_CLOSE_WRITE) < 0) {
      ::close(watch_);
      watch_ = -1;
    }
#else
    (void)path;
#endif
  }

  std::string WaitingFor() const override {
    std::lock_guard lock(mutex_);
    return waitingFor_;
  }

  std::int64_t SamplesEnd() const override {
    std::lock_guard lock(mutex_);
    return end_ >= 0 && dataOffset_ >= 0 ? end_ - dataOffset_ : -1;
  }

  void KnowHeader(const StreamShape& shape) override {
    std::lock_guard lock(mutex_);
    dataOffset_ = shape.dataOffset;
    raw_ = shape.sizeOffset < 0;
  }

  std::int64_t Read(std::uint8_t* buffer, std::int64_t count,
                    const std::atomic<bool>& stop) override {
    for (;;) {
      const std::int64_t size = SizeOf(file_);
      if (size < 0 || size < offset_) {
        SetFailure(size < 0 ? LastError() : "the file became shorter while it was followed");
        return -1;
      }
      if (size > seen_) {
        seen_ = size;
        grew_ = Clock::now();
      }
      // The last bytes wait until the writer is done or goes on: a writer
      // finishing a file may put a pad byte or a chunk after the samples
      // before it fills in the header that says where they end.
      // (The header itself is never held back: it is needed to go on.)
      bool headerKnown = false, raw = false;
      std::int64_t dataOffset = -1;
      {
        std::lock_guard lock(mutex_);
        headerKnown = dataOffset_ >= 0;
        dataOffset = dataOffset_;
        raw = raw_;
      }
      // The header is looked at here too, before the run has parsed it: a
      // finished file is read fast, and nothing past the size its header
      // gives may be read meanwhile.
      bool headerAwaited = false;
      if (!headerKnown && !headerUnreadable_) {
        const std::int64_t found = HeaderEnd(size);
        headerAwaited = found == kNeedMore;
        if (found >= 0) {
          headerKnown = true;
          std::lock_guard lock(mutex_);
          dataOffset = dataOffset_ = found;
          raw = raw_;
        }
      }
      std::int64_t until = end_ >= 0                  ? std::min(end_, size)
                           : release_ || !headerKnown ? size
                                                      : size - kHoldBack;
      if (headerAwaited) until = offset_;
      // Never past a size the header gives for the samples: what follows
      // them is a chunk, whatever the writer does next.
      if (end_ < 0 && headerKnown && !raw) {
        const std::int64_t declared = DeclaredNow(dataOffset);
        if (declared >= 0) until = std::min(until, dataOffset + declared);
      }
      if (until > offset_) {
        const std::int64_t got = ReadAt(file_, buffer, std::min(count, until - offset_), offset_);
        if (got < 0) {
          SetFailure(LastError());
          return -1;
        }
        if (got > 0) {
          offset_ += got;
          std::lock_guard lock(mutex_);
          waitingFor_.clear();
          return got;
        }
      }
      if (end_ >= 0 && offset_ >= end_) return 0;
      if (end_ < 0 && Finished(size)) continue;
      if (Deleted()) {
        SetFailure("the file was deleted while it was followed: the parts hold what came");
        return 0;
      }
      const double idle = std::chrono::duration<double>(Clock::now() - grew_).count();
      if (idleSeconds_ > 0 && idle >= idleSeconds_) {
        if (!release_) {
          release_ = true;  // what is there is all there will be
          continue;
        }
        if (!raw && headerKnown) {
          // Still, but finished: its header gives the samples' size.
          const std::int64_t declared = DeclaredNow(dataOffset);
          if (declared >= 0 && declared <= size - dataOffset) {
            std::lock_guard lock(mutex_);
            end_ = dataOffset + declared;
            continue;
          }
        }
        if (raw) {
          SetNote("no growth for " + SecondsText(idleSeconds_) + " s: taken as the end");
        } else {
          // A header still open: the recording was not seen to its end.
          SetFailure("no growth for " + SecondsText(idleSeconds_) +
                     " s, and its writer never finished the header: the parts hold what came");
        }
        return 0;
      }
      {
        std::lock_guard lock(mutex_);
        waitingFor_ = Clock::now() - grew_ < kSayWaiting ? ""
                      : !headerKnown                      ? "its header"
                      : raw                               ? "more samples"
                                                          : "its writer to finish the header";
      }
      if (stop.load()) return -1;
      Wait(size);
    }
  }

 private:
  static constexpr std::int64_t kNeedMore = -1;
  // Where the samples begin by the header the file holds so far, setting
  // raw_ from it; kNeedMore while it is unfinished, and -2 (for good, with
  // headerUnreadable_) where it is not one the run reads or is too large
  // to look at here: the run's own reading of it then decides.
  std::int64_t HeaderEnd(std::int64_t size) {
    constexpr std::int64_t kPiece = 1 << 16, kLargest = 1 << 24;
    HeaderReader header;
    std::vector<std::uint8_t> piece;
    for (std::int64_t at = 0; at < std::min(size, kLargest); at += kPiece) {
      const std::int64_t count = std::min(kPiece, size - at);
      piece.resize(static_cast<std::size_t>(count));
      if (ReadAt(file_, piece.data(), count, at) != count) break;
      const HeaderReader::State state = header.Take(piece.data(), piece.size());
      if (state == HeaderReader::State::Done) {
        const StreamShape shape = header.TakeShape();
        std::lock_guard lock(mutex_);
        raw_ = shape.sizeOffset < 0;
        return shape.dataOffset;
      }
      if (state == HeaderReader::State::Refused) {
        headerUnreadable_ = true;
        return -2;
      }
    }
    if (size < kLargest && !release_) return kNeedMore;
    headerUnreadable_ = true;
    return -2;
  }

  // The data's length the file's header gives now, or -1 while it leaves it
  // open. Read afresh: a writer may turn the file into RF64 as it finishes.
  std::int64_t DeclaredNow(std::int64_t dataOffset) {
    std::vector<std::uint8_t> head(static_cast<std::size_t>(dataOffset));
    if (ReadAt(file_, head.data(), dataOffset, 0) != dataOffset) return -1;
    HeaderReader header;
    if (header.Take(head.data(), head.size()) != HeaderReader::State::Done) return -1;
    const StreamShape shape = header.TakeShape();
    return shape.dataOffset == dataOffset ? shape.declaredBytes : -1;
  }

  // Whether the writer is done: it closed the file after its last growth
  // (or the file has settled), and the header says how long the data are.
  bool Finished(std::int64_t size) {
    std::int64_t dataOffset = -1;
    bool raw = false;
    {
      std::lock_guard lock(mutex_);
      dataOffset = dataOffset_;
      raw = raw_;
    }
    const bool closed = closedAt_ == size;
    // Samples without a header: a writer may close the file and open it
    // again to add more (as `cmd >> file` in a loop does), so only the time
    // without growth ends them.
    if (raw) return false;
    if (dataOffset < 0 || (!closed && Clock::now() - grew_ < kSettled)) return false;
    const std::int64_t declared = DeclaredNow(dataOffset);
    if (declared < 0 || declared > size - dataOffset) return false;
    {
      std::lock_guard lock(mutex_);
      end_ = dataOffset + declared;
    }
    if (offset_ > end_) {
      SetFailure("the file's writer put " + std::to_string(offset_ - end_) +
                 " bytes after the samples before it finished the header, and they were taken "
                 "for samples: split the finished file to be sure of its last part");
    }
    return true;
  }

  // Whether the file followed has no name left: deleted by its writer.
  bool Deleted() {
#ifdef _WIN32
    FILE_STANDARD_INFO info{};
    return GetFileInformationByHandleEx(file_, FileStandardInfo, &info, sizeof info) &&
           info.DeletePending;
#else
    struct stat status {};
    return ::fstat(file_, &status) == 0 && status.st_nlink == 0;
#endif
  }

  void Wait(std::int64_t size) {
#ifdef __linux__
    if (watch_ >= 0) {
      pollfd wait{watch_, POLLIN, 0};
      if (::poll(&wait, 1, kWaitMs) > 0) {
        bool closed = false;
        alignas(inotify_event) char events[4096];
        for (ssize_t got; (got = ::read(watch_, events, sizeof events)) > 0;) {
          for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            if (event->mask & IN_CLOSE_WRITE) closed = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
          }
        }
        // Closed at this length: if it grows after, the writer is back.
        if (closed) closedAt_ = SizeOf(file_);
      }
      (void)size;
      return;
    }
#endif
    (void)size;
    std::this_thread::sleep_for(std::chrono::milliseconds(kWaitMs));
  }

  Handle file_;
  double idleSeconds_;
  std::int64_t offset_ = 0;
  std::int64_t seen_ = 0;       // the largest size seen
  std::int64_t end_ = -1;       // where the data end, once the writer is done
  std::int64_t closedAt_ = -1;  // the size a writer closed the file at
  bool release_ = false;        // the held-back bytes may go
  bool headerUnreadable_ = false;  // HeaderEnd cannot tell: the run's reading decides
  Clock::time_point grew_ = Clock::now();
#ifdef __linux__
  int watch_ = -1;
#endif
  mutable std::mutex mutex_;
  std::int64_t dataOffset_ = -1;
  bool raw_ = false;
  std::string waitingFor_;
};

}  // namespace

std::string Input::Note() const {
  std::lock_guard lock(mutex_);
  return note_;
}

std::string Input::Failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

void Input::SetNote(std::string note) {
  std::lock_guard lock(mutex_);
  note_ = std::move(note);
}

void Input::SetFailure(std::string why) {
  std::lock_guard lock(mutex_);
  if (failure_.empty()) failure_ = std::move(why);
}

std::unique_ptr<Input> StandardInput() {
  return std::make_unique<StandardInputStream>();
}

bool StandardInputIsTerminal() {
#ifdef _WIN32
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
#else
  return ::isatty(0) != 0;
#endif
}

OpenedInput FollowedFile(const std::string& path, double idleSeconds) {
  const auto refused = [](std::string why) {
    return OpenedInput{nullptr, {wave::ErrorCode::UnableToOpen, std::move(why)}};
  };
#ifdef _WIN32
  const int size = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(size, 1)), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), size);
  // Shared with the program writing it, which may also rename or delete it.
  const Handle file = CreateFileW(wide.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
#else
  // Without waiting for a writer, should it be a pipe: that is refused.
  const Handle file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
#endif
  if (file == kNoHandle) return refused(LastError());
#ifndef _WIN32
  struct stat status {};
  if (::fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(file);
    return refused(S_ISDIR(status.st_mode) ? "a folder" : "not a regular file");
  }
  ::fcntl(file, F_SETFL, ::fcntl(file, F_GETFL) & ~O_NONBLOCK);
#endif
  auto followed = std::make_unique<FollowedStream>(file, idleSeconds);
  followed->Watch(path);
  return {std::move(followed), {}};
}

Spool::Spool(Input& input) : Spool(input, 0, 0, false) {}

Spool::Spool(Input& input, std::int64_t bytes, double seconds, bool canWait)
    : input_(input), limit_(bytes), limitSeconds_(seconds), canWait_(canWait) {
  thread_ = std::thread([this] { Run(); });
}

Spool::~Spool() {
  Stop();
  if (thread_.joinable()) thread_.join();
}

void Spool::Limit(std::int64_t bytes, double seconds, bool canWait) {
  std::lock_guard lock(mutex_);
  limit_ = bytes;
  limitSeconds_ = seconds;
  canWait_ = canWait;
}

void Spool::Stop() {
  stop_ = true;
  ready_.notify_all();
  room_.notify_all();
}

std::int64_t Spool::Held() const {
  std::lock_guard lock(mutex_);
  return held_;
}

Spool::State Spool::Next(std::vector<std::uint8_t>& bytes) {
  std::unique_lock lock(mutex_);
  const bool any = ready_.wait_for(lock, std::chrono::milliseconds(kWaitMs),
                                   [this] { return !chunks_.empty() || end_ != State::Bytes; });
  if (!any) return State::Waiting;
  if (chunks_.empty()) return end_;
  bytes = std::move(chunks_.front().bytes);
  chunks_.pop_front();
  held_ -= static_cast<std::int64_t>(bytes.size());
  room_.notify_all();
  return State::Bytes;
}

void Spool::Run() {
  State end = State::End;
  while (!stop_.load()) {
    std::vector<std::uint8_t> chunk(kChunk);
    const std::int64_t got = input_.Read(chunk.data(), kChunk, stop_);
    if (got <= 0) {
      end = got == 0 || stop_.load() ? State::End : State::Failed;
      break;
    }
    // Held at its size: a pipe often hands on far less than was asked for.
    chunk.resize(static_cast<std::size_t>(got));
    chunk.shrink_to_fit();
    std::unique_lock lock(mutex_);
    held_ += got;
    chunks_.push_back({std::move(chunk), Clock::now()});
    ready_.notify_all();
    if (limit_ <= 0 || held_ <= limit_) continue;
    // The bytes held came in less than half the time they play for: the
    // input is faster than real time, and can wait.
    const double age = std::chrono::duration<double>(Clock::now() - chunks_.front().came).count();
    if (!canWait_ && age >= limitSeconds_ / 2) {
      end = State::Overrun;
      break;
    }
    room_.wait(lock, [this] { return held_ <= limit_ || stop_.load(); });
  }
  std::lock_guard lock(mutex_);
  end_ = end;
  ready_.notify_all();
}

}  // namespace corvella::stream
