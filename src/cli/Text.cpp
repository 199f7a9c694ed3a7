#include "cli/Text.h"

#include <algorithm>
#include <cmath>
#include <locale>
#include <sstream>

#include "detect/Units.h"

namespace corvella::cli {
namespace {

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

std::string Latin1ToUtf8(const std::string& text) {
  std::string out;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return out;
}

std::string PeakText(double peak) {
  const double db = detect::LevelDb(peak);
  if (std::isfinite(db)) return Fixed(db, 1);
  return db < 0 ? "-inf" : "inf";
}

std::string Fixed(double value, int decimals) {
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text.setf(std::ios::fixed);
  text.precision(decimals);
  text << value;
  return text.str();
}

std::string PadLeft(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string ZeroFilled(long long value, int digits) {
  std::string text = std::to_string(value < 0 ? -value : value);
  if (static_cast<int>(text.size()) < digits)
    text.insert(0, static_cast<std::size_t>(digits) - text.size(), '0');
  return value < 0 ? "-" + text : text;
}

std::string Clock(double seconds) {
  const long long minutes = static_cast<long long>(seconds / 60);
  const double rest = seconds - 60.0 * static_cast<double>(minutes);
  // "%06.3f": at least two digits before the point.
  const std::string secs = Fixed(rest, 3);
  return std::to_string(minutes) + ":" +
         (secs.size() < 6 ? std::string(6 - secs.size(), '0') : "") + secs;
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

std::string XmlText(const std::string& text) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    const std::size_t length = Utf8Length(text, at);
    // XML has no place for most control characters nor for U+FFFE and
    // U+FFFF; tabs and line breaks stay as references, which attribute
    // values would otherwise turn into spaces.
    const bool nonCharacter = length == 3 && byte == 0xEF &&
                              static_cast<unsigned char>(text[at + 1]) == 0xBF &&
                              static_cast<unsigned char>(text[at + 2]) >= 0xBE;
    if (length == 0 || nonCharacter ||
        (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r')) {
      out += "\xEF\xBF\xBD";
      at += nonCharacter ? 3 : 1;
      continue;
    }
    switch (byte) {
      case '\t':
        out += "&#9;";
        break;
      case '\n':
        out += "&#10;";
        break;
      case '\r':
        out += "&#13;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out.append(text, at, length);
    }
    at += length;
  }
  return out;
}

bool IsUtf8(const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8Length(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::string Hex(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

}  // namespace corvella::cli
