// The command line: `corvella-cli count|split|list|levels [options] FILE...`.
#pragma once

#include "cli/Console.h"
#include "wave/FileApi.h"

namespace corvella::cli {

// Runs one command line on the file system `files`; returns the exit status.
int Run(int argc, const char* const* argv, Console& console,
        wave::FileApi& files = wave::PlatformFiles());

}  // namespace corvella::cli
