#include "cli/Job.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "cli/Listing.h"
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

namespace {

int RefuseRunAs(Job& job, const std::string& subject, const std::string& json) {
  if (job.options.Format() == ListFormat::Json) {
    const std::string object = "{" + JsonPath("subject", subject) + ", " + json + "}";
    job.console.out() << (job.jsonLines ? object : "[" + object + "]") << '\n';
    if (!job.console.Deliver()) return job.console.OutputStatus();
  }
  return kExitFailed;
}

}  // namespace

int Job::RefuseRun(const std::string& subject, const wave::Error& error) {
  console.Report(subject, error);
  return RefuseRunAs(*this, subject, JsonError(error));
}

int Job::RefuseRun(const std::string& subject, const std::string& sentence) {
  console.Report(subject, sentence);
  return RefuseRunAs(*this, subject, JsonError(sentence));
}

int Job::Status(bool failed) const {
  if (console.Stopped()) return console.StopStatus();
  return failed ? kExitFailed : kExitOk;
}

std::unique_ptr<wave::Folder> Job::OpenDestination() {
  const std::string destination = options.outputDir.empty() ? "." : options.outputDir;
  // The folders missing on the way, innermost first.
#ifdef _WIN32
  const char* const separators = "/\\";
#else
  const char* const separators = "/";
#endif
  std::vector<std::string> missing;
  for (std::string at = destination;
       !at.empty() && files.InspectPath(at).kind == wave::PathKind::Missing;) {
    missing.push_back(at);
    const auto end = at.find_last_not_of(separators);
    const auto slash = end == std::string::npos ? end : at.find_last_of(separators, end);
    if (slash == std::string::npos) break;
    at = at.substr(0, slash == 0 ? 1 : slash);
  }
  for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) {
    const int why = files.MakeFolder(*folder);
    if (why != 0 && why != EEXIST) {
      console.Report(*folder, "cannot create the folder for the parts (" + wave::ReasonOf(why) + ")");
      return nullptr;
    }
  }
  if (!missing.empty()) console.Note(destination, "created the folder for the parts");
  wave::Error error;
  std::unique_ptr<wave::Folder> folder = wave::Folder::Open(files, destination, error);
  if (!folder) console.Report(destination, "No such folder for the parts! (" + error.detail + ")");
  return folder;
}

}  // namespace corvella::cli
