// Runs a command line of corvella-cli in this process; the current folder
// is put back afterwards, as the engine moves it.
#pragma once

#include <filesystem>
#include <sstream>

#include "cli/Cli.h"
#include "support/EngineFixture.h"

namespace corvella::test {

inline ShellResult RunCli(std::vector<std::string> args, const std::atomic<bool>& interrupted) {
  const auto here = std::filesystem::current_path();
  args.insert(args.begin(), "corvella-cli");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  const int status = cli::Run(static_cast<int>(argv.size()), argv.data(), out, err, false, interrupted);
  std::filesystem::current_path(here);
  return {status, out.str(), err.str()};
}

}  // namespace corvella::test
