// Number and column formatting for the command line's texts, the same in
// every locale.
#pragma once

#include <cstddef>
#include <string>

namespace corvella::cli {

// `value` with `decimals` digits after a decimal point, as "%.Nf" prints it.
std::string Fixed(double value, int decimals);
// Right-aligns `text` in `width` columns (counted in bytes).
std::string PadLeft(const std::string& text, std::size_t width);
// A time as m:ss.sss.
std::string Clock(double seconds);
// A number with at least `digits` digits, zero-filled: 7, 2 gives "07".
std::string ZeroFilled(long long value, int digits);

}  // namespace corvella::cli
