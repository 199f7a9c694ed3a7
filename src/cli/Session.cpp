#include "cli/Session.h"

namespace corvella::cli {

std::unique_ptr<wave::WaveSource> OpenSource(Console& console, const std::string& path,
                                             wave::Error* refusal) {
  wave::OpenedWave opened =
      wave::OpenWave(wave::PlatformFiles(), path, wave::Acceptance::WindowFormat);
  if (!opened.source) console.Report(path, opened.error);
  if (refusal) *refusal = opened.error;
  return std::move(opened.source);
}

int ExitStatus(Console& console, bool failed) {
  if (console.Stopped()) return console.StopStatus();
  return failed ? kExitFailed : kExitOk;
}

}  // namespace corvella::cli
