// Pictures of the cuts: one SVG with a row per recording (its envelope on a
// dB or a linear scale, the noise floor, the time axis, every part as a
// shaded band with its number and title on a light strip above, and the
// command line that splits it so),
// and an HTML page that adds the parameters, the table of parts and the
// level histogram. Text only: no file, font or script from elsewhere.
#pragma once

#include <ostream>
#include <vector>

#include "cli/Listing.h"

namespace corvella::cli {

void WriteSvg(std::ostream& out, const std::vector<ListedFile>& files);
void WriteHtml(std::ostream& out, const std::vector<ListedFile>& files);

// The picture's geometry, for whoever reads the pictures back.
inline constexpr int kPictureLeft = 50;  // where the first column stands
inline constexpr int kPictureColumns = 1200;
inline constexpr int kPictureWidth = kPictureLeft + kPictureColumns + 10;
inline constexpr int kStripTop = 22;     // the parts' labels, within a file's row
inline constexpr int kStripHeight = 16;
inline constexpr int kEnvelopeTop = kStripTop + kStripHeight + 2;
inline constexpr int kEnvelopeHeight = 160;
// Under the envelope: the time axis, and the command line that splits the
// recording as drawn.
inline constexpr int kRowHeight = kEnvelopeTop + kEnvelopeHeight + 50;

}  // namespace corvella::cli
