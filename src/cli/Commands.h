// The four commands; each returns the program's exit status.
#pragma once

#include "cli/Job.h"

namespace corvella::cli {

int Count(Job& job);
int Split(Job& job);
// split of a recording still coming in: - or --follow.
int SplitStream(Job& job);
int List(Job& job);
int Levels(Job& job);

}  // namespace corvella::cli
