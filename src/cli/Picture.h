// Pictures of the cuts: one SVG with a row per recording (its envelope on a
// dB scale, the noise floor, the time axis, every part as a shaded band),
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
inline constexpr int kEnvelopeTop = 24;  // within a file's row
inline constexpr int kEnvelopeHeight = 160;
inline constexpr int kRowHeight = kEnvelopeTop + kEnvelopeHeight + 36;

}  // namespace corvella::cli
