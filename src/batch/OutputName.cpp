#include "batch/OutputName.h"

#include <algorithm>
#include <string_view>

namespace corvella::batch {
namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

bool EndsInSeparator(const std::string& folder) {
  return !folder.empty() && std::string(kPathSeparators).find(folder.back()) != std::string::npos &&
         folder.back() != ':';
}

}  // namespace

NameParts SplitFileName(const std::string& fileName) {
  const auto separator = fileName.find_last_of(kPathSeparators);
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

std::string TrackFileName(int number, int count, const std::string& title,
                          const std::string& extension) {
  constexpr std::size_t kLongestName = 255;
  std::string digits = std::to_string(number);
  const std::size_t width = count > 99 ? 3 : 2;
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  std::string clean;
  for (const char c : title) {
    const auto byte = static_cast<unsigned char>(c);
    const bool refused = byte < 0x20 || byte == 0x7F ||
                         std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos;
    clean += refused ? '_' : c;
  }
  const auto first = clean.find_first_not_of(" .");
  clean = first == std::string::npos
              ? ""
              : clean.substr(first, clean.find_last_not_of(" .") - first + 1);
  std::string name = digits;
  const std::size_t room =
      kLongestName - std::min(kLongestName, digits.size() + 1 + extension.size());
  if (clean.size() > room) {
    // Cut before a UTF-8 continuation byte never.
    std::size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(clean[cut]) & 0xC0) == 0x80) --cut;
    clean.resize(cut);
    const auto last = clean.find_last_not_of(" .");
    clean.resize(last == std::string::npos ? 0 : last + 1);
  }
  if (!clean.empty()) name += ' ' + clean;
  return name + extension;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  std::string path = folder;
  // Where both slashes separate, the one the folder is written with.
  const std::size_t last = folder.find_last_of("/\\");
  const char separator =
      last != std::string::npos &&
              std::string(kPathSeparators).find(folder[last]) != std::string::npos
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
