// The four commands; each returns the program's exit status.
#pragma once

#include "cli/Console.h"
#include "cli/Options.h"

namespace corvella::cli {

int Count(const Options& options, Console& console);
int Split(const Options& options, Console& console);
int List(const Options& options, Console& console);
int Levels(const Options& options, Console& console);

}  // namespace corvella::cli
