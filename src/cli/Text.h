// The command line's texts: the formatting every front end shares, and a
// peak as the command line prints it.
#pragma once

#include <string>

#include "wave/Text.h"

namespace corvella::cli {

using wave::Clock;
using wave::CueQuoted;
using wave::Fixed;
using wave::FromSpreadsheetText;
using wave::Hex;
using wave::IsUtf8;
using wave::Latin1ToUtf8;
using wave::PadLeft;
using wave::Printable;
using wave::SpreadsheetText;
using wave::XmlText;
using wave::ZeroFilled;

// A peak (a share of full scale) in dBFS to a tenth: "-inf" for silence,
// "inf" for a float recording's infinity or NaN.
std::string PeakText(double peak);

}  // namespace corvella::cli
