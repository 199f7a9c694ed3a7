// Walking one source file part by part.
#include "batch/OutputName.h"
#include "engine/Engine.h"

namespace corvella {

int Engine::ProcessParts(const std::string& fileName, const std::string& destFolder, bool write) {
  if (!OpenWave(fileName)) return 0;

  int partCount = 0;
  std::int64_t scanPosition = 0;
  bool endOfData = false;
  try {
    for (;;) {
      const std::int64_t start = FindPartStart(scanPosition, endOfData);
      if (ReadFailed || endOfData || host_.CancelDown()) break;
      const std::int64_t end = FindPartEnd(start, scanPosition, endOfData);
      // The part under way is neither counted nor written when Cancel was
      // pressed, nor when its end could not be read: it might be cut short.
      if (ReadFailed || host_.CancelDown()) break;
      ++partCount;
      if (write) WritePart(start, end, BuildOutputPath(destFolder, WaveFileName, partCount));
      host_.ProcessMessages();
      if (endOfData || host_.CancelDown()) break;
    }
  } catch (...) {
    CloseWave();  // never leave the source locked behind an escaping error
    throw;
  }
  host_.SetProgress(0);
  CloseWave();
  if (ReadFailed) host_.ShowMessage(msg::kUnableToRead, msg::kErrorCaption);
  return partCount;
}

int Engine::CountParts(const std::string& fileName) { return ProcessParts(fileName, "", false); }

}  // namespace corvella
