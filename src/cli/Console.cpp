#include "cli/Console.h"

#include "messages/Messages.h"

#include "cli/Text.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <string>

namespace corvella::cli {
namespace {

constexpr int kBarWidth = 30;
constexpr std::size_t kBarNameLength = 40;

}  // namespace

FdStream::FdStream(int fd) : std::ostream(nullptr), buffer_(fd) {
  rdbuf(&buffer_);
}

#ifdef _WIN32
namespace {

// A console shows text it is given as UTF-16; a file or a pipe takes the
// bytes as they are.
HANDLE ConsoleOf(int fd) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? handle : nullptr;
}

// How many bytes at the end of [begin, end) start a UTF-8 sequence that
// goes on past it.
std::size_t UnfinishedTail(const char* begin, const char* end) {
  for (std::size_t back = 1; back <= 3 && end - back >= begin; ++back) {
    const auto byte = static_cast<unsigned char>(*(end - back));
    if ((byte & 0xC0) == 0x80) continue;  // a continuation byte
    const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
    return length > back ? back : 0;
  }
  return 0;
}

}  // namespace

bool FdStream::Buffer::Drain() {
  const HANDLE console = ConsoleOf(fd);
  const char* at = pbase();
  const char* end = pptr();
  std::size_t kept = 0;
  if (console && failure == 0) {
    kept = UnfinishedTail(at, end);
    end -= kept;
    const int size = MultiByteToWideChar(CP_UTF8, 0, at, static_cast<int>(end - at), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, at, static_cast<int>(end - at), text.data(), size);
    DWORD written = 0;
    for (std::size_t done = 0; done < text.size(); done += written) {
      if (!WriteConsoleW(console, text.data() + done, static_cast<DWORD>(text.size() - done),
                         &written, nullptr) ||
          written == 0) {
        failure = EIO;
        break;
      }
    }
    at = end;
  }
  while (failure == 0 && at < end) {
    const int put = ::_write(fd, at, static_cast<unsigned>(end - at));
    if (put <= 0) {
      const DWORD error = GetLastError();
      // A pipe whose reader has gone, as Linux calls it.
      failure = error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE ? EPIPE
                : put < 0                                            ? errno
                                                                     : EIO;
      break;
    }
    at += put;
  }
  // A character split by the buffer's end waits for the rest of it.
  std::copy(end, end + kept, data);
  setp(data, data + sizeof data);
  pbump(static_cast<int>(kept));
  return failure == 0;
}
#else
bool FdStream::Buffer::Drain() {
  const char* at = pbase();
  while (failure == 0 && at < pptr()) {
    const ssize_t put = ::write(fd, at, static_cast<size_t>(pptr() - at));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      failure = put < 0 ? errno : EIO;
      break;
    }
    at += put;
  }
  setp(data, data + sizeof data);
  return failure == 0;
}
#endif

FdStream::Buffer::int_type FdStream::Buffer::overflow(int_type c) {
  if (!Drain()) return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

Console::Console(std::ostream& out, std::ostream& err, bool progressBar,
                 const std::atomic<int>& stop, std::function<int()> outFailure)
    : out_(out),
      err_(err),
      progressBar_(progressBar),
      stop_(stop),
      outFailure_(std::move(outFailure)) {}

bool Console::Deliver() {
  out_.flush();
  const int why = outFailure_ ? outFailure_() : 0;
  if (out_ && why == 0) return true;
  if (!outReported_ && why != EPIPE) {
    outReported_ = true;
    Report("write error", why != 0 ? wave::ReasonOf(why) : "cannot write the output");
  }
  return false;
}

bool Console::OutClosed() {
  return outFailure_ && outFailure_() == EPIPE;
}

void Console::Report(const std::string& subject, const wave::Error& error) {
  std::string message = messages::MessageOf(error);
  if (!error.detail.empty() && !messages::InOwnWords(error.code))
    message += " (" + error.detail + ")";
  Report(subject, message);
}

void Console::Report(const std::string& subject, const std::string& message) {
  if (shownBar_) shownBar_->Clear();
  err_ << "corvella-cli: " << Printable(subject) << ": " << message << '\n' << std::flush;
}

void Console::Bar::Report(int percent) {
  if (!console_.progressBar_) return;
  percent = std::clamp(percent, 0, 100);
  if (percent == drawn_) return;
  drawn_ = percent;
  // What was printed before the bar reaches the terminal before it does.
  console_.out_.flush();
  console_.shownBar_ = this;
  width_ = kBarWidth + 10 + std::min(name_.size(), kBarNameLength);
  const int filled = percent * kBarWidth / 100;
  console_.err_ << '\r'
                << std::string(percent < 10    ? 2
                               : percent < 100 ? 1
                                               : 0,
                               ' ')
                << percent << "% [" << std::string(filled, '#')
                << std::string(kBarWidth - filled, '-') << "] " << name_.substr(0, kBarNameLength)
                << std::flush;
}

void Console::Bar::Show(const std::string& text) {
  if (!console_.progressBar_) return;
  console_.out_.flush();
  console_.shownBar_ = this;
  drawn_ = 0;
  const std::size_t width = width_;
  width_ = text.size();
  console_.err_ << '\r' << text << std::string(width > text.size() ? width - text.size() : 0, ' ')
                << '\r' << text << std::flush;
}

void Console::Bar::Clear() {
  if (drawn_ >= 0) console_.err_ << '\r' << std::string(width_, ' ') << '\r' << std::flush;
  drawn_ = -1;
  if (console_.shownBar_ == this) console_.shownBar_ = nullptr;
}

}  // namespace corvella::cli
