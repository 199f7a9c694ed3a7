// Names of the part files: the source's name part, "_", the part number
// with at least three digits, the source's extension.
#pragma once

#include <string>

namespace corvella::batch {

// The characters after which a path's last component starts: the platform's
// separators (on Windows also a drive letter's colon).
#ifdef _WIN32
inline constexpr char kPathSeparators[] = "\\/:";
#else
inline constexpr char kPathSeparators[] = "/";
#endif

// Splits a source file name at its last dot, after dropping any folder part.
// The extension keeps its dot; a name without a dot has an empty extension.
struct NameParts {
  std::string stem;
  std::string extension;
};
NameParts SplitFileName(const std::string& fileName);
// The last component of a path: what follows its last separator.
std::string FileNameOf(const std::string& path);

// The part number as "%03d" prints it: 1 gives 001, 1000 gives 1000.
std::string PartNumberText(int partNumber);

// "Live Set.wav", part 3, gives "Live Set_003.wav"; with the extension
// ".flac", "Live Set_003.flac".
std::string PartFileName(const std::string& sourceName, int partNumber,
                         const std::string& extension = "");

// "03 Title.flac": the track number with two digits (three where there are
// more than 99 tracks), a space, the title with every character a file
// system may refuse (/ \ : * ? " < > |, control characters) made "_" and
// spaces and dots at its ends dropped, and the extension; no longer than
// 255 bytes, cut between characters. It never leads out of the folder it is
// made in.
std::string TrackFileName(int number, int count, const std::string& title,
                          const std::string& extension);

// The part's name joined to a folder: "Live Set.wav", part 3, into "/out"
// gives "/out/Live Set_003.wav". A separator goes in only where the folder
// is not empty and lacks one.
std::string BuildOutputPath(const std::string& destFolder, const std::string& sourceName,
                            int partNumber);
// A folder and a name joined the same way.
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace corvella::batch
