#include "split/Walk.h"

#include <memory>

#include "batch/OutputName.h"
#include "batch/PartWalk.h"
#include "detect/Scanner.h"

namespace corvella::split {

int WalkRecording(wave::FileApi& files, const std::string& path, const WalkRequest& request,
                  detect::Progress& progress, WalkListener& listener) {
  wave::OpenedWave opened = wave::OpenWave(files, path, request.acceptance);
  if (!opened.source) {
    listener.Failed(opened.error);
    return 0;
  }
  wave::WaveSource& source = *opened.source;
  const std::string name = batch::FileNameOf(path);
  detect::Scanner scanner(source, request.detect, progress);
  const batch::WalkResult walk =
      batch::WalkParts(scanner, [&](const detect::PartSpan& part, int number) {
        if (!request.write) return;
        // The folder as the path to the part names it, separator and all.
        const std::string output = batch::BuildOutputPath(request.destination, name, number);
        const auto slash = output.find_last_of(batch::kPathSeparators);
        const std::string folderPath = slash == std::string::npos ? "." : output.substr(0, slash + 1);
        wave::Error error;
        std::unique_ptr<wave::Folder> folder = wave::Folder::Open(files, folderPath, error);
        if (folder) {
          error = wave::WritePart(source, part.start, part.end, *folder, output.substr(slash + 1),
                                  listener.PartOptions());
        }
        if (error) listener.Failed(error);
        listener.PartDone(output);
      });
  if (walk.readFailed) listener.Failed({wave::ErrorCode::UnableToRead, source.Failure()});
  return walk.parts;
}

}  // namespace corvella::split
