// What every command does with a source named on the command line: open
// it, or say why not in the command line's words.
#pragma once

#include <memory>
#include <string>

#include "cli/Console.h"
#include "wave/WaveSource.h"

namespace corvella::cli {

// Opens `path` as given: nothing moves the process's folder, so a relative
// path means what it meant when the user typed it. Null after reporting the
// refusal as "corvella-cli: PATH: MESSAGE (reason)"; `refusal` then holds it.
std::unique_ptr<wave::WaveSource> OpenSource(Console& console, const std::string& path,
                                             wave::Error* refusal = nullptr);

// The status a command ends with: the signal's after a stop, 1 after any
// failure, else 0.
int ExitStatus(Console& console, bool failed);

}  // namespace corvella::cli
