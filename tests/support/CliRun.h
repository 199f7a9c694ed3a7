// Runs a command line of corvella-cli in this process.
#pragma once

#include <atomic>
#include <sstream>

#include "cli/Cli.h"
#include "support/Fixture.h"

namespace corvella::test {

inline ShellResult RunCli(std::vector<std::string> args, const std::atomic<int>& stop) {
  args.insert(args.begin(), "corvella-cli");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  cli::Console console(out, err, false, stop);
  const int status = cli::Run(static_cast<int>(argv.size()), argv.data(), console);
  return {status, out.str(), err.str()};
}

}  // namespace corvella::test
