#include "cli/Job.h"

#include <stdlib.h>

namespace corvella::cli {

std::unique_ptr<wave::WaveSource> Job::Open(const std::string& path, wave::Error* refusal) {
  wave::OpenedWave opened = wave::OpenWave(files, path, wave::Acceptance::AnyWave);
  if (!opened.source) console.Report(path, opened.error);
  if (refusal) *refusal = opened.error;
  return std::move(opened.source);
}

std::string Job::ShownFolder() const {
  const std::string& folder = options.outputDir;
  const bool climbs = folder == ".." || folder.starts_with("../") || folder.ends_with("/..") ||
                      folder.find("/../") != std::string::npos;
  if (!climbs) return folder;
  char* resolved = ::realpath(folder.c_str(), nullptr);
  if (!resolved) return folder;
  std::string real = resolved;
  ::free(resolved);
  return real;
}

int Job::Status(bool failed) const {
  if (console.Stopped()) return console.StopStatus();
  return failed ? kExitFailed : kExitOk;
}

}  // namespace corvella::cli
