#include "batch/OutputName.h"

#include <cstdio>

namespace corvella {
namespace {

#ifdef _WIN32
constexpr char kSeparators[] = "\\/:";
constexpr char kSeparator = '\\';
#else
constexpr char kSeparators[] = "/";
constexpr char kSeparator = '/';
#endif

bool EndsInSeparator(const std::string& folder) {
  return !folder.empty() && std::string(kSeparators).find(folder.back()) != std::string::npos &&
         folder.back() != ':';
}

}  // namespace

NameParts SplitFileName(const std::string& fileName) {
  const auto separator = fileName.find_last_of(kSeparators);
  const std::string bare = separator == std::string::npos ? fileName : fileName.substr(separator + 1);
  const auto dot = bare.rfind('.');
  if (dot == std::string::npos) return {bare, ""};
  return {bare.substr(0, dot), bare.substr(dot)};
}

std::string PartNumberText(int partNumber) {
  char text[16];
  std::snprintf(text, sizeof text, "%03d", partNumber);
  return text;
}

std::string BuildOutputPath(const std::string& destFolder, const std::string& sourceName,
                            int partNumber) {
  const NameParts name = SplitFileName(sourceName);
  std::string path = destFolder;
  if (!path.empty() && !EndsInSeparator(path)) path += kSeparator;
  path += name.stem;
  path += '_';
  path += PartNumberText(partNumber);
  if (!name.extension.empty() && name.extension.front() != '.') path += '.';
  path += name.extension;
  return path;
}

}  // namespace corvella
