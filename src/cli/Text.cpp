#include "cli/Text.h"

#include <cmath>

#include "detect/Units.h"

namespace corvella::cli {

std::string PeakText(double peak) {
  const double db = detect::LevelDb(peak);
  if (std::isfinite(db)) return Fixed(db, 1);
  return db < 0 ? "-inf" : "inf";
}

}  // namespace corvella::cli
