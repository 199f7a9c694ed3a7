// The engine's outside world on a terminal: messages go to stderr, progress
// is a bar on stderr when it is a terminal, Ctrl-C plays the Cancel toggle.
#pragma once

#include <atomic>
#include <functional>
#include <ostream>
#include <string>

#include "engine/EngineHost.h"

namespace corvella::cli {

class CliHost final : public EngineHost {
 public:
  CliHost(std::ostream& err, bool drawProgress, const std::atomic<bool>& interrupted)
      : err_(err), drawProgress_(drawProgress), interrupted_(interrupted) {}

  // Starts a new source file: `shown` is the name as the user gave it,
  // `absolute` the same file with its full path.
  void BeginFile(const std::string& shown, const std::string& absolute);
  // Clears the progress bar of the current file.
  void EndFile();
  bool FileFailed() const { return fileFailed_; }
  // The last error message of the current file, or "".
  const std::string& LastError() const { return lastError_; }

  void SetMono(bool mono) { mono_ = mono; }
  void SetDestFolder(const std::string& folder) { destFolder_ = folder; }
  // Called with the path of every part file written.
  void OnWritten(std::function<void(const std::string&)> written) { written_ = std::move(written); }

  void ShowMessage(const std::string& text, const std::string& caption) override;
  void SetProgress(int position) override;
  void ProcessMessages() override {}
  bool CancelDown() override { return interrupted_.load(); }
  bool MonoChecked() override { return mono_; }
  std::string SourceFolder() override { return sourceFolder_; }
  std::string DestFolder() override { return destFolder_; }
  void PartStarting(const std::string& path) override { subject_ = path; }
  void PartWritten(const std::string& path, bool ok) override;

 private:
  void ClearBar();

  std::ostream& err_;
  bool drawProgress_;
  const std::atomic<bool>& interrupted_;
  bool mono_ = false;
  std::string sourceFolder_;
  std::string destFolder_;
  std::string shown_;
  std::string absolute_;
  std::string subject_;  // the file an error message is about
  bool fileFailed_ = false;
  std::string lastError_;
  int drawnPercent_ = -1;
  std::function<void(const std::string&)> written_;
};

}  // namespace corvella::cli
