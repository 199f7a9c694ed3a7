// What can go wrong while reading a source or writing a part, as values. Each
// front end turns an Error into its own words: the window into its "Error"
// box, the command line into "corvella-cli: FILE: MESSAGE (detail)".
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
  // A source the window would refuse and the command line cannot read either.
  Unsupported,
  // Reading and writing.
  UnableToRead,
  UnableToCreate,
  UnableToWrite,
  // The user asked the work to stop.
  Stopped,
};

struct Error {
  ErrorCode code = ErrorCode::None;
  // Why, in a few words, where more is known than the code says ("no such
  // file", "12 channels of 20 bits"). Never part of the window's texts.
  std::string detail;

  Error() = default;
  Error(ErrorCode c, std::string why = {})
      : code(c), detail(std::move(why)) {}  // NOLINT: a code is an error
  explicit operator bool() const { return code != ErrorCode::None; }
  bool operator==(ErrorCode c) const { return code == c; }
};

// The exact sentence for a code: "Unable to open file!", "Not a PCM file!", ...
// An Unsupported error's sentence is its detail.
std::string MessageOf(const Error& error);

// The reason an operating-system call failed, in the words a user expects:
// "no such file", "permission denied", ...
std::string ReasonOf(int errorNumber);

}  // namespace corvella::wave
