// What can go wrong while reading a source, finding its parts or writing
// them, as values: a code, the file or list it concerns, and a few words of
// detail where more is known than the code says. Each front end turns an
// Error into its own words: the window into its "Error" box, the command
// line into "corvella-cli: FILE: MESSAGE (detail)".
#pragma once

#include <string>

namespace corvella::wave {

enum class ErrorCode {
  None,
  // Opening a source, in the order the checks run.
  UnableToOpen,
  NotValidWav,
  NoFmtChunk,
  UnknownFmt,
  NoMemory,
  FmtUnreadable,
  Not16Bits,
  NotPcm,
  NotMonoStereo,
  NoDataChunk,
  EmptyData,
  DataSizeWrong,
  // A source no reader takes: the detail says what it is.
  Unsupported,
  // Reading and writing.
  UnableToRead,
  UnableToCreate,
  UnableToWrite,
  // The user asked the work to stop.
  Stopped,
  // A request that cannot be carried out (a list that cannot be read, or
  // does not fit the recording): the detail says why, with the line of the
  // list where that showed.
  Refused,
  // The recording does not hold the tracks asked for.
  TracksNotFound,
  // The parts found are not as many as the titles given for them.
  TitlesMismatch,
};

struct Error {
  ErrorCode code = ErrorCode::None;
  // Why, in a few words, where more is known than the code says ("no such
  // file", "12 channels of 20 bits").
  std::string detail;
  // The file the error concerns (a recording, a part, a list) as the user
  // named it, where it is not the one the caller is working on.
  std::string subject;

  Error() = default;
  Error(ErrorCode c, std::string why = {})
      : code(c), detail(std::move(why)) {}  // NOLINT: a code is an error
  Error(ErrorCode c, std::string why, std::string about)
      : code(c), detail(std::move(why)), subject(std::move(about)) {}
  explicit operator bool() const { return code != ErrorCode::None; }
  bool operator==(ErrorCode c) const { return code == c; }
};

// The reason an operating-system call failed, in the words a user expects:
// "no such file", "permission denied", ...
std::string ReasonOf(int errorNumber);

}  // namespace corvella::wave
