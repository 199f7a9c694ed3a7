// Number and column formatting for the command line's texts, the same in
// every locale.
#pragma once

#include <cstddef>
#include <string>

#include "wave/Utf8.h"

namespace corvella::cli {

// `value` with `decimals` digits after a decimal point, as "%.Nf" prints it.
std::string Fixed(double value, int decimals);
// A peak (a share of full scale) in dBFS to a tenth: "-inf" for silence,
// "inf" for a float recording's infinity or NaN.
std::string PeakText(double peak);
// Right-aligns `text` in `width` columns (counted in bytes).
std::string PadLeft(const std::string& text, std::size_t width);
// A time as m:ss.sss.
std::string Clock(double seconds);
// A number with at least `digits` digits, zero-filled: 7, 2 gives "07".
std::string ZeroFilled(long long value, int digits);

// A name made safe for a terminal: control characters (C0, DEL and C1) and
// bytes that are not UTF-8 become \xNN escapes.
std::string Printable(const std::string& text);
// `text` for XML, in text or in a quoted attribute: markup characters as
// entities, and bytes that are not UTF-8, or characters XML does not allow,
// as U+FFFD.
std::string XmlText(const std::string& text);
using wave::IsUtf8;
using wave::Latin1ToUtf8;
// The bytes of `text` as lower-case hexadecimal.
std::string Hex(const std::string& text);

}  // namespace corvella::cli
