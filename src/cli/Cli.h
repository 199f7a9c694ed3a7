// The command line: `corvella-cli count|split|list|levels [options] FILE...`.
#pragma once

#include "cli/Console.h"

namespace corvella::cli {

// Runs one command line; returns the exit status.
int Run(int argc, const char* const* argv, Console& console);

}  // namespace corvella::cli
