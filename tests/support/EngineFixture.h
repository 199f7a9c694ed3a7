// A scratch folder, a recording host and an engine pointed at the folder.
#pragma once

#include <gtest/gtest.h>

#include "engine/Engine.h"
#include "support/TempDir.h"
#include "support/TestHost.h"
#include "support/WavBuilder.h"

namespace corvella::test {

class EngineFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    host.sourceFolder = dir.path();
    host.destFolder = dir.path();
    engine.NoiseFloor = 104;
    engine.GapThreshold = 22050;
  }

  // Writes `file` into the folder and opens it.
  bool Open(const Bytes& file, const std::string& name = "in.wav") {
    dir.Put(name, file);
    return engine.OpenWave(name);
  }

  // Alternates the two searches as the walk does; returns every part found.
  std::vector<std::pair<std::int64_t, std::int64_t>> Walk() {
    std::vector<std::pair<std::int64_t, std::int64_t>> parts;
    std::int64_t scan = 0;
    bool endOfData = false;
    while (true) {
      std::int64_t start = engine.FindPartStart(scan, endOfData);
      if (endOfData) break;
      std::int64_t end = engine.FindPartEnd(start, scan, endOfData);
      parts.emplace_back(start, end);
      if (endOfData) break;
    }
    return parts;
  }

  TempDir dir;
  TestHost host;
  Engine engine{host};
};

}  // namespace corvella::test
