#include "cli/Job.h"

#include <stdlib.h>

#include "sndfile/SndSource.h"

namespace corvella::cli {

std::unique_ptr<wave::Source> Job::Open(const std::string& path, wave::Error* refusal) {
  std::unique_ptr<wave::Source> source;
  wave::Error error;
  if (sndfile::LooksLikeWave(files, path)) {
    wave::OpenedWave opened = wave::OpenWave(files, path, wave::Acceptance::AnyWave);
    source = std::move(opened.source);
    error = opened.error;
  } else {
    sndfile::OpenedSnd opened = sndfile::OpenSnd(files, path);
    source = std::move(opened.source);
    error = opened.error;
    // What is no recording at all but is named as a WAV file is refused in
    // the WAV reader's words, as the window refuses it.
    const std::string name = path.size() >= 4 ? path.substr(path.size() - 4) : "";
    const bool wavName = name.size() == 4 && name[0] == '.' && (name[1] | 0x20) == 'w' &&
                         (name[2] | 0x20) == 'a' && (name[3] | 0x20) == 'v';
    if (!source && wavName && error.code == wave::ErrorCode::Unsupported) {
      error = wave::OpenWave(files, path, wave::Acceptance::AnyWave).error;
    }
  }
  if (!source) console.Report(path, error);
  if (refusal) *refusal = error;
  return source;
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
