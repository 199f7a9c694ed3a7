#include "cli/Job.h"

#include <stdlib.h>

#include "formats/Formats.h"

namespace corvella::cli {

std::unique_ptr<wave::Source> Job::Open(const std::string& path, wave::Error* refusal) {
  formats::OpenedSource opened = formats::OpenSource(files, path, {options.salvage});
  if (!opened.source) console.Report(path, opened.error);
  if (refusal) *refusal = opened.error;
  if (opened.source) {
    for (const std::string& note : opened.source->Notes()) console.Report(path, note);
  }
  return std::move(opened.source);
}

wave::Error Job::ReadFailure(const wave::Source& source) {
  return {wave::ErrorCode::UnableToRead, source.Failure()};
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
