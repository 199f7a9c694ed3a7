#include "cli/CliHost.h"

#include <algorithm>
#include <filesystem>

#include "engine/Engine.h"

namespace corvella::cli {
namespace {

constexpr int kBarWidth = 30;

// A hint after "Unable to open file!" so a user sees why at once.
std::string OpenFailureReason(const std::string& path) {
  std::error_code ec;
  auto status = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(status)) return " (no such file)";
  if (std::filesystem::is_directory(status)) return " (a folder, not a file)";
  if (!std::filesystem::is_regular_file(status)) return " (not a regular file)";
  return " (not readable, or in use by another program)";
}

}  // namespace

void CliHost::BeginFile(const std::string& shown, const std::string& absolute) {
  shown_ = shown;
  absolute_ = absolute;
  subject_ = shown;
  sourceFolder_ = std::filesystem::path(absolute).parent_path().string();
  fileFailed_ = false;
  lastError_.clear();
  drawnPercent_ = -1;
}

void CliHost::EndFile() { ClearBar(); }

void CliHost::ClearBar() {
  if (drawProgress_ && drawnPercent_ >= 0) {
    err_ << '\r' << std::string(kBarWidth + 10 + std::min<std::size_t>(shown_.size(), 40), ' ')
         << '\r' << std::flush;
  }
  drawnPercent_ = -1;
}

void CliHost::ShowMessage(const std::string& text, const std::string& caption) {
  ClearBar();
  if (caption == msg::kErrorCaption) {
    fileFailed_ = true;
    lastError_ = text;
  }
  err_ << "corvella-cli: " << subject_ << ": " << text;
  if (text == msg::kUnableToOpen) err_ << OpenFailureReason(absolute_);
  err_ << '\n' << std::flush;
}

void CliHost::SetProgress(int position) {
  if (!drawProgress_) return;
  const int percent = std::clamp(position, 0, 100);
  if (percent == drawnPercent_) return;
  drawnPercent_ = percent;
  const int filled = percent * kBarWidth / 100;
  err_ << '\r' << std::string(percent < 10 ? 2 : percent < 100 ? 1 : 0, ' ') << percent << "% ["
       << std::string(filled, '#') << std::string(kBarWidth - filled, '-') << "] "
       << shown_.substr(0, 40) << std::flush;
}

void CliHost::PartWritten(const std::string& path, bool ok) {
  subject_ = shown_;
  if (!ok) {
    fileFailed_ = true;
    return;
  }
  if (written_) {
    ClearBar();
    written_(path);
  }
}

}  // namespace corvella::cli
