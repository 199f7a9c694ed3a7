// Number, time and name formatting for the texts every front end writes,
// the same in every locale, and the escapes that keep a name safe in a
// terminal, a spreadsheet or XML.
#pragma once

#include <cstddef>
#include <string>

#include "wave/Utf8.h"

namespace corvella::wave {

// `value` with `decimals` digits after a decimal point, as "%.Nf" prints it.
std::string Fixed(double value, int decimals);
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
// The bytes of `text` as lower-case hexadecimal.
std::string Hex(const std::string& text);

// A name as Printable shows it, and a backslash that would read as the
// start of an escape (\xNN) escaped itself, so that Unescaped gives back
// the very bytes: what the lists write and read back.
std::string ReversiblyPrintable(const std::string& text);
std::string Unescaped(const std::string& text);

// A name as a CSV cell or a label holds it, safe in a terminal and a
// spreadsheet: escaped as ReversiblyPrintable escapes it, and a cell that
// would begin like a formula (=, +, -, @) behind an apostrophe.
// FromSpreadsheetText gives back the name's bytes.
std::string SpreadsheetText(const std::string& text);
std::string FromSpreadsheetText(const std::string& cell);
// A name as a cue sheet quotes it: no quotes or control characters inside.
std::string CueQuoted(const std::string& text);

}  // namespace corvella::wave
