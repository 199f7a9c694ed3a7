#include "cli/Job.h"

#include <algorithm>

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

std::string Job::ShownFolder() const {
  const std::string& folder = options.outputDir;
  std::string slashes = folder;
#ifdef _WIN32
  std::replace(slashes.begin(), slashes.end(), '\\', '/');
#endif
  const bool climbs = slashes == ".." || slashes.starts_with("../") || slashes.ends_with("/..") ||
                      slashes.find("/../") != std::string::npos;
  if (!climbs) return folder;
  return wave::ResolvedPath(folder);
}

int Job::Status(bool failed) const {
  if (console.Stopped()) return console.StopStatus();
  return failed ? kExitFailed : kExitOk;
}

}  // namespace corvella::cli
