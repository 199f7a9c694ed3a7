#include "messages/Messages.h"

namespace corvella::messages {

std::string MessageOf(const wave::Error& error) {
  switch (error.code) {
    case wave::ErrorCode::None:
      return "";
    case wave::ErrorCode::UnableToOpen:
      return "Unable to open file!";
    case wave::ErrorCode::NotValidWav:
      return "Not a valid WAV file!";
    case wave::ErrorCode::NoFmtChunk:
      return "Failed to locate fmt chunk!";
    case wave::ErrorCode::UnknownFmt:
      return "Unknown fmt chunk!";
    case wave::ErrorCode::NoMemory:
      return "Failed to allocate memory!";
    case wave::ErrorCode::FmtUnreadable:
      return "Failed to read fmt chunk!";
    case wave::ErrorCode::Not16Bits:
      return "Not 16 bits per sample!";
    case wave::ErrorCode::NotPcm:
      return "Not a PCM file!";
    case wave::ErrorCode::NotMonoStereo:
      return "Not a mono or stereo file!";
    case wave::ErrorCode::NoDataChunk:
      return "File has no data chunk!";
    case wave::ErrorCode::EmptyData:
      return "Data chunk contains no data!";
    case wave::ErrorCode::DataSizeWrong:
      return "Size of data chunk is wrong!";
    case wave::ErrorCode::Unsupported:
      return error.detail;
    case wave::ErrorCode::UnableToRead:
      return "Unable to read file!";
    case wave::ErrorCode::UnableToCreate:
      return "Unable to create output file!";
    case wave::ErrorCode::UnableToWrite:
      return "Unable to write output file!";
    case wave::ErrorCode::Stopped:
      return "Stopped!";
    case wave::ErrorCode::Refused:
    case wave::ErrorCode::TracksNotFound:
    case wave::ErrorCode::TitlesMismatch:
      return error.detail;
  }
  return "";
}

bool InOwnWords(wave::ErrorCode code) {
  return code == wave::ErrorCode::Unsupported || code == wave::ErrorCode::Refused ||
         code == wave::ErrorCode::TracksNotFound || code == wave::ErrorCode::TitlesMismatch;
}

}  // namespace corvella::messages
