// A source with its clicks taken out, for judging only: a loud burst no
// longer than the click length, with nothing else loud around it for a while
// (record crackle, a tap, a cough's edge), reads as silence. Music and speech
// keep loud frames spread over every stretch of that while, so they stay.
#pragma once

#include <cstdint>
#include <vector>

#include "detect/LoudScan.h"
#include "wave/Source.h"

namespace corvella::detect {

class Declicked final : public wave::Source {
 public:
  // Bursts of at most `clickFrames` frames, alone within `aloneFrames`
  // frames on either side, are silence.
  Declicked(wave::Source& inner, const LoudRule& rule, std::int64_t clickFrames,
            std::int64_t aloneFrames);

  std::int64_t ReadSamples(std::int64_t offset, void* out, std::int64_t count) override;
  bool Sequential() const override { return true; }

 private:
  wave::Source& inner_;
  LoudRule rule_;
  std::int64_t click_;
  std::int64_t alone_;
  std::vector<std::uint8_t> buffer_;
  std::vector<std::int64_t> previous_, next_;  // the nearest loud frame at or before, at or after
};

}  // namespace corvella::detect
