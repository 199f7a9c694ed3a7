// One run of a command: its options, its console and the file system it
// works on, with what every command does with a source named on the
// command line.
#pragma once

#include <memory>
#include <string>

#include "cli/Console.h"
#include "cli/Options.h"
#include "wave/FileApi.h"
#include "wave/PartWriter.h"
#include "wave/WaveSource.h"

namespace corvella::cli {

struct Job {
  const Options& options;
  Console& console;
  wave::FileApi& files;

  // Opens `path` as given: nothing moves the process's folder, so a relative
  // path means what it meant when the user typed it. Null after reporting
  // the refusal as "corvella-cli: PATH: MESSAGE (reason)"; `refusal` then
  // holds it. What the reader noted about the file (a wrong header read
  // past, bytes left out) is said on stderr too.
  std::unique_ptr<wave::Source> Open(const std::string& path, wave::Error* refusal = nullptr);

  // The folder part names are shown in: --output-dir as given, or where the
  // kernel resolved it when it climbs with ".." (past a link that is not
  // where the spelling suggests).
  std::string ShownFolder() const;

  // The folder the parts go into (--output-dir, or the current one),
  // created with its parents where it is missing, saying so unless quiet.
  // Null after reporting why it cannot be opened or made.
  std::unique_ptr<wave::Folder> OpenDestination();

  // The status a command ends with: the signal's after a stop, 1 after any
  // failure, else 0.
  int Status(bool failed) const;
  // Ends a run refused as a whole (a track list that cannot be read, a name
  // in the way of --no-clobber, a cut list that does not fit): said on
  // stderr, and under --format json also on stdout, as an object with
  // "subject", "error" and "reason" (a line of split's JSON Lines, else an
  // array of it alone), so that a script learns why there is nothing.
  // Returns the status to end with.
  int RefuseRun(const std::string& subject, const wave::Error& error);
  int RefuseRun(const std::string& subject, const std::string& sentence);

  // split writes JSON Lines, the other commands one array.
  bool jsonLines = false;
};

}  // namespace corvella::cli
