#include "batch/OutputName.h"

namespace corvella::batch {
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
  const std::string bare =
      separator == std::string::npos ? fileName : fileName.substr(separator + 1);
  const auto dot = bare.rfind('.');
  if (dot == std::string::npos) return {bare, ""};
  return {bare.substr(0, dot), bare.substr(dot)};
}

std::string FileNameOf(const std::string& path) {
  const NameParts parts = SplitFileName(path);
  return parts.stem + parts.extension;
}

std::string PartNumberText(int partNumber) {
  std::string digits = std::to_string(partNumber);
  if (partNumber >= 0 && digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  return digits;
}

std::string PartFileName(const std::string& sourceName, int partNumber,
                         const std::string& extension) {
  const NameParts name = SplitFileName(sourceName);
  std::string file = name.stem + '_' + PartNumberText(partNumber);
  const std::string& ending = extension.empty() ? name.extension : extension;
  if (!ending.empty() && ending.front() != '.') file += '.';
  return file + ending;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  std::string path = folder;
  // Where both slashes separate, the one the folder is written with.
  const std::size_t last = folder.find_last_of("/\\");
  const char separator =
      last != std::string::npos && std::string(kSeparators).find(folder[last]) != std::string::npos
          ? folder[last]
          : kSeparator;
  if (!path.empty() && !EndsInSeparator(path)) path += separator;
  return path + name;
}

std::string BuildOutputPath(const std::string& destFolder, const std::string& sourceName,
                            int partNumber) {
  return JoinPath(destFolder, PartFileName(sourceName, partNumber));
}

}  // namespace corvella::batch
