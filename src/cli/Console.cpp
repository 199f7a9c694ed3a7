#include "cli/Console.h"

#include "cli/Text.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace corvella::cli {
namespace {

constexpr int kBarWidth = 30;
constexpr std::size_t kBarNameLength = 40;

}  // namespace

FdStream::FdStream(int fd) : std::ostream(nullptr), buffer_(fd) {
  rdbuf(&buffer_);
}

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
  std::string message = wave::MessageOf(error);
  if (!error.detail.empty() && error.code != wave::ErrorCode::Unsupported)
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
  console_.shownBar_ = this;
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

void Console::Bar::Clear() {
  if (drawn_ >= 0) {
    console_.err_ << '\r'
                  << std::string(kBarWidth + 10 + std::min(name_.size(), kBarNameLength), ' ')
                  << '\r' << std::flush;
  }
  drawn_ = -1;
  if (console_.shownBar_ == this) console_.shownBar_ = nullptr;
}

}  // namespace corvella::cli
