#include "wave/Text.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <locale>
#include <sstream>

#include "wave/Utf8.h"

namespace corvella::wave {
namespace {

void Escape(std::string& out, unsigned char byte) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 15];
}

}  // namespace

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

std::string Hex(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Whether text[at] begins an escape: a backslash, x, two hexadecimal digits.
bool EscapeAt(const std::string& text, std::size_t at) {
  return at + 3 < text.size() && text[at] == '\\' && text[at + 1] == 'x' &&
         HexValue(text[at + 2]) >= 0 && HexValue(text[at + 3]) >= 0;
}

}  // namespace

std::string ReversiblyPrintable(const std::string& text) {
  std::string out;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (EscapeAt(text, at)) {
      out += "\\x5c";
    } else {
      out += text[at];
    }
  }
  return Printable(out);
}

std::string Unescaped(const std::string& text) {
  std::string out;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (EscapeAt(text, at)) {
      out += static_cast<char>(HexValue(text[at + 2]) * 16 + HexValue(text[at + 3]));
      at += 3;
    } else {
      out += text[at];
    }
  }
  return out;
}

std::string SpreadsheetText(const std::string& text) {
  const std::string shown = ReversiblyPrintable(text);
  const std::size_t first = shown.find_first_not_of('\'');
  const bool formula = first != std::string::npos && std::strchr("=+-@", shown[first]) != nullptr;
  return formula ? "'" + shown : shown;
}

// A cell that begins like a formula (=, +, -, @), after any apostrophes,
// gets one apostrophe more: spreadsheets show it as text and never run it.
// Reading a list back takes one off again.
std::string FromSpreadsheetText(const std::string& cell) {
  const std::size_t first = cell.find_first_not_of('\'');
  const bool formula =
      first != std::string::npos && first > 0 && std::strchr("=+-@", cell[first]) != nullptr;
  return Unescaped(formula ? cell.substr(1) : cell);
}

std::string CueQuoted(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    quoted += c == '"' ? '\'' : byte < 0x20 || byte == 0x7F ? ' ' : c;
  }
  return quoted + "\"";
}

}  // namespace corvella::wave
