#include "wave/Error.h"

#include <cerrno>
#include <cstring>

namespace corvella::wave {

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
