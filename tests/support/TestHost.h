// An engine host for tests: records what the engine shows and lets a test
// act from inside the event pump (to press Cancel mid-scan, for instance).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/EngineHost.h"

namespace corvella::test {

struct Message {
  std::string text;
  std::string caption;
};

class TestHost : public EngineHost {
 public:
  void ShowMessage(const std::string& text, const std::string& caption) override {
    messages.push_back({text, caption});
  }
  void SetProgress(int position) override { progress.push_back(position); }
  void ProcessMessages() override {
    ++pumps;
    if (onPump) onPump();
  }
  bool CancelDown() override { return cancel; }
  bool MonoChecked() override { return mono; }
  std::string SourceFolder() override { return sourceFolder; }
  std::string DestFolder() override { return destFolder; }
  void PartWritten(const std::string& path, bool ok) override {
    written.push_back(path);
    writtenOk.push_back(ok);
  }

  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> texts;
    for (const auto& m : messages) texts.push_back(m.text);
    return texts;
  }

  std::vector<Message> messages;
  std::vector<int> progress;
  int pumps = 0;
  std::function<void()> onPump;
  bool cancel = false;
  bool mono = false;
  std::string sourceFolder;
  std::string destFolder;
  std::vector<std::string> written;
  std::vector<bool> writtenOk;
};

}  // namespace corvella::test
