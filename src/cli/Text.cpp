#include "cli/Text.h"

#include <cmath>
#include <locale>
#include <sstream>

namespace corvella::cli {

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

}  // namespace corvella::cli
