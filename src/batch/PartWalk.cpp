// Walking one source file part by part.
#include "batch/OutputName.h"
#include "engine/Engine.h"

namespace corvella {

int Engine::Walk(const std::string& fileName, const PartVisitor& visit, bool* opened) {
  if (opened) *opened = false;
  if (!OpenWave(fileName)) return 0;
  if (opened) *opened = true;

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
      visit(start, end, partCount);
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

int Engine::ProcessParts(const std::string& fileName, const std::string& destFolder, bool write) {
  return Walk(fileName, [&](std::int64_t start, std::int64_t end, int number) {
    if (write) WritePart(start, end, BuildOutputPath(destFolder, WaveFileName, number));
  });
}

int Engine::CountParts(const std::string& fileName) { return ProcessParts(fileName, "", false); }

bool Engine::FindParts(const std::string& fileName, std::vector<PartSpan>& parts,
                       SourceSummary& summary) {
  parts.clear();
  bool opened = false;
  Walk(
      fileName,
      [&](std::int64_t start, std::int64_t end, int) { parts.push_back({start, end, 0}); },
      &opened);
  // The walk has closed the source; what it described stays in the fields.
  if (opened) summary = {Channels, SamplesPerSec, FrameCount()};
  return opened && !ReadFailed && !host_.CancelDown();
}

int Engine::WriteParts(const std::string& fileName, const std::string& destFolder,
                       const std::vector<PartSpan>& parts) {
  if (!OpenWave(fileName)) return 0;
  int written = 0;
  try {
    for (std::size_t k = 0; k < parts.size() && !host_.CancelDown(); ++k) {
      host_.SetProgress(static_cast<int>(k * 100 / parts.size()));
      if (WritePart(parts[k].start, parts[k].end,
                    BuildOutputPath(destFolder, WaveFileName, static_cast<int>(k) + 1))) {
        ++written;
      }
      host_.ProcessMessages();
    }
  } catch (...) {
    CloseWave();
    throw;
  }
  host_.SetProgress(0);
  CloseWave();
  return written;
}

}  // namespace corvella
