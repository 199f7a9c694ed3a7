// What the engine needs from whoever runs it: the window, the command line or
// a test. The engine reaches the outside world only through this interface.
#pragma once

#include <string>

namespace corvella {

class EngineHost {
 public:
  virtual ~EngineHost() = default;

  // A modal message box with one OK button; returns when it is dismissed.
  virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
  // The progress bar's position: a percentage that may exceed 100 when a
  // scan reads past the data (the bar then shows full).
  virtual void SetProgress(int position) = 0;
  // Lets every pending window event run, then returns.
  virtual void ProcessMessages() = 0;
  // Whether the Cancel toggle is down.
  virtual bool CancelDown() = 0;
  // Whether output parts are mixed down to one channel.
  virtual bool MonoChecked() = 0;
  // The folder that the source file list shows; source names are bare names in it.
  virtual std::string SourceFolder() = 0;
  // The folder that the destination list shows.
  virtual std::string DestFolder() = 0;

  // Told before the writer creates a part file...
  virtual void PartStarting(const std::string& path) { (void)path; }
  // ...and after it finished or gave up on it.
  virtual void PartWritten(const std::string& path, bool ok) {
    (void)path;
    (void)ok;
  }
};

}  // namespace corvella
