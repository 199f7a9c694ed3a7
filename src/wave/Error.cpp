#include "wave/Error.h"

#include <cerrno>
#include <cstring>

namespace corvella::wave {

std::string MessageOf(const Error& error) {
  switch (error.code) {
    case ErrorCode::None:
      return "";
    case ErrorCode::UnableToOpen:
      return "Unable to open file!";
    case ErrorCode::NotValidWav:
      return "Not a valid WAV file!";
    case ErrorCode::NoFmtChunk:
      return "Failed to locate fmt chunk!";
    case ErrorCode::UnknownFmt:
      return "Unknown fmt chunk!";
    case ErrorCode::NoMemory:
      return "Failed to allocate memory!";
    case ErrorCode::FmtUnreadable:
      return "Failed to read fmt chunk!";
    case ErrorCode::Not16Bits:
      return "Not 16 bits per sample!";
    case ErrorCode::NotPcm:
      return "Not a PCM file!";
    case ErrorCode::NotMonoStereo:
      return "Not a mono or stereo file!";
    case ErrorCode::NoDataChunk:
      return "File has no data chunk!";
    case ErrorCode::EmptyData:
      return "Data chunk contains no data!";
    case ErrorCode::DataSizeWrong:
      return "Size of data chunk is wrong!";
    case ErrorCode::Unsupported:
      return error.detail;
    case ErrorCode::UnableToRead:
      return "Unable to read file!";
    case ErrorCode::UnableToCreate:
      return "Unable to create output file!";
    case ErrorCode::UnableToWrite:
      return "Unable to write output file!";
    case ErrorCode::Stopped:
      return "Stopped!";
  }
  return "";
}

std::string ReasonOf(int errorNumber) {
  switch (errorNumber) {
    case ENOENT:
      return "no such file";
    case ENOTDIR:
      return "not a folder";
    case EISDIR:
      return "a folder, not a file";
    case EINVAL:
      return "not a regular file";
    case EACCES:
    case EPERM:
      return "permission denied";
    case EWOULDBLOCK:
      return "in use by another program";
    case ENAMETOOLONG:
      return "name too long";
    case ENOSPC:
      return "no space left on the device";
#ifdef EDQUOT
    case EDQUOT:
      return "disk quota exceeded";
#endif
    case EFBIG:
      return "file too large";
    case EROFS:
      return "read-only file system";
    case EIO:
      return "input/output error";
    case EILSEQ:
      return "a name the file system does not take";
    default: {
      // The system's words, begun in lower case as the others are.
      std::string reason = std::strerror(errorNumber);
      if (!reason.empty() && reason[0] >= 'A' && reason[0] <= 'Z')
        reason[0] = static_cast<char>(reason[0] - 'A' + 'a');
      return reason;
    }
  }
}

}  // namespace corvella::wave
