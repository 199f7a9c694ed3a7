#include "cli/Console.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace corvella::cli {
namespace {

constexpr int kBarWidth = 30;
constexpr std::size_t kBarNameLength = 40;

// The length of the UTF-8 sequence starting at text[at], or 0 when the bytes
// there are not one.
std::size_t Utf8Length(const std::string& text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = lead < 0x80           ? 1
                       : (lead >> 5) == 0x6  ? 2
                       : (lead >> 4) == 0xE  ? 3
                       : (lead >> 3) == 0x1E ? 4
                                             : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 0;
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8 either.
  const auto second = length > 1 ? static_cast<unsigned char>(text[at + 1]) : 0u;
  if ((length == 2 && lead < 0xC2) || (length == 3 && lead == 0xE0 && second < 0xA0) ||
      (length == 3 && lead == 0xED && second >= 0xA0) ||
      (length == 4 && lead == 0xF0 && second < 0x90) ||
      (length == 4 && (lead > 0xF4 || (lead == 0xF4 && second >= 0x90)))) {
    return 0;
  }
  return length;
}

void Escape(std::string& out, unsigned char byte) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 15];
}

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

std::string Printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    const std::size_t length = Utf8Length(text, at);
    const bool c1 = length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0;
    if (length == 0 || byte < 0x20 || byte == 0x7F || c1) {
      for (std::size_t i = 0; i < std::max<std::size_t>(length, 1); ++i) {
        Escape(out, static_cast<unsigned char>(text[at + i]));
      }
      at += std::max<std::size_t>(length, 1);
    } else {
      out.append(text, at, length);
      at += length;
    }
  }
  return out;
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
