// The command line: `corvella-cli count|split [options] FILE...`.
#pragma once

#include <atomic>
#include <ostream>

namespace corvella::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;     // a file was refused or a part not written
inline constexpr int kExitUsage = 2;      // the command line itself was wrong
inline constexpr int kExitInterrupted = 130;

// Runs one command line. `progress` draws a progress bar on `err`;
// `interrupted` is the Cancel toggle (Ctrl-C).
int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool progress,
        const std::atomic<bool>& interrupted);

}  // namespace corvella::cli
