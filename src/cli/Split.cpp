// `split`: every part of every recording as NAME_001.wav, NAME_002.wav, ...
// in one destination folder, each name printed once its file is complete.
// No part replaces a source of the run or a part written earlier in it.
//
// The parts are written by a pool of threads while the scanner goes on
// looking for the next ones: copies (which the kernel does) overlap the
// judging, and encoded parts (FLAC) use every core, one part per thread. A
// decoder is not shared: each writer reads through a fork of it. What the
// writers did is told back to the first thread in the parts' order, and it
// alone speaks to the console.
#include <cerrno>
#include <map>

#include "batch/OutputName.h"
#include "cli/Commands.h"
#include "cli/Finding.h"
#include "cli/Listing.h"
#include "cli/Text.h"
#include "formats/Formats.h"
#include "split/CutList.h"
#include "split/ListText.h"
#include "split/SameName.h"
#include "split/WriterPool.h"
#include "wave/PartWriter.h"

namespace corvella::cli {
namespace {

// The files no part of the run may replace: its sources, and its cut list
// (also when it comes through stdin from a file).
void KeepRunFiles(Job& job, wave::KeptFiles& keep) {
  for (const std::string& file : job.options.files) {
    const wave::FileId id = job.files.InspectPath(file).id;
    if (id.Known()) keep.Add(id, "a source of this run");
  }
  const std::string& cuts = job.options.cuts;
  const wave::FileId id = cuts.empty()  ? wave::FileId{}
                          : cuts == "-" ? job.files.StandardInputId()
                                        : job.files.InspectPath(cuts).id;
  if (id.Known()) keep.Add(id, "the cut list of this run");
  const std::string& names = job.options.names;
  const wave::FileId listId = names.empty()  ? wave::FileId{}
                              : names == "-" ? job.files.StandardInputId()
                                             : job.files.InspectPath(names).id;
  if (listId.Known()) keep.Add(listId, "the track list of this run");
}

// --no-clobber: the first name a part of the run may take that a file in
// `folder` already has, or nothing. A numbered part may be any of the
// recording's first 999; a titled one is named by its title.
std::string NameInTheWay(const Job& job, wave::Folder& folder, const split::TrackList& list) {
  for (const std::string& file : job.options.files) {
    const std::string name = batch::FileNameOf(file);
    const std::string extension =
        job.options.to.empty() ? batch::SplitFileName(name).extension : "." + job.options.to;
    std::vector<std::string> names;
    if (!list.tracks.empty()) {
      const int count = static_cast<int>(list.tracks.size());
      for (int k = 0; k < count; ++k)
        names.push_back(batch::TrackFileName(k + 1, count, list.tracks[static_cast<std::size_t>(k)].title, extension));
    } else {
      for (int k = 1; k <= 999; ++k) names.push_back(batch::PartFileName(name, k, extension));
    }
    for (const std::string& part : names) {
      if (folder.Inspect(part).kind != wave::PathKind::Missing) return part;
    }
  }
  return {};
}

// Whether a part could not be made because its folder takes no new file
// (no permission to write there, a read-only file system), where no file
// of its name was in the way.
bool FolderRefuses(const wave::Error& error) {
  if (error.code != wave::ErrorCode::UnableToCreate) return false;
  for (int reason : {EACCES, EPERM, EROFS}) {
    if (error.detail == wave::ReasonOf(reason)) return true;
  }
  return false;
}

class SplitRun {
 public:
  SplitRun(Job& job, wave::Folder& folder, const split::TrackList& list)
      : job_(job),
        console_(job.console),
        shownFolder_(job.ShownFolder()),
        list_(list),
        folder_(folder),
        writer_(folder, keep_, [&console = job.console] { return console.Stopped(); }) {
    // Before any part is added, so the writers see the files in full.
    KeepRunFiles(job, keep_);
  }

  // A part refused or not written, or stdout failing for another reason
  // than a closed pipe.
  bool failed() const { return failed_ || outputFailed_; }
  // The destination refused a new file: no use trying further parts.
  bool FolderRefused() const { return folderRefused_; }

  // Parts that replaced a file there before (never one of this run's).
  void SayReplaced() {
    if (replaced_ == 0) return;
    console_.Report(shownFolder_.empty() ? "." : shownFolder_,
                    "replaced " + std::to_string(replaced_) +
                        (replaced_ == 1 ? " file that was there" : " files that were there"));
  }

  // After Ctrl-C: what was kept, and which parts under way were removed.
  void SayIfStopped() {
    if (!console_.Stopped()) return;
    std::string said = "stopped: " + std::to_string(written_) +
                       (written_ == 1 ? " part written is kept" : " parts written are kept");
    if (abandoned_.size() == 1) said += "; the part under way, " + Printable(abandoned_[0]) + ", was removed";
    if (abandoned_.size() > 1) {
      said += "; the parts under way were removed:";
      for (const std::string& name : abandoned_) {
        said.push_back(' ');
        said.append(Printable(name));
      }
    }
    console_.Report("split", said);
  }
  const wave::KeptFiles& Kept() const { return keep_; }

  // Opens a recording and settles how its parts are written; false after
  // reporting why it cannot be split.
  bool Open(const std::string& file, split::Recording& recording) {
    recording.path = file;
    wave::Error opened;
    recording.source = job_.Open(file, &opened);
    if (!recording.source) {
      Json("{" + JsonPath("file", file) + ", " + JsonError(opened) + "}");
      failed_ = true;
      return false;
    }
    const Options& options = job_.options;
    formats::PartSettings settings;
    settings.target = options.to == "flac"   ? formats::PartTarget::Flac
                      : options.to == "wav"  ? formats::PartTarget::Wave
                      : options.to == "mp3"  ? formats::PartTarget::Mp3
                      : options.to == "opus" ? formats::PartTarget::Opus
                                             : formats::PartTarget::Source;
    // A variable bitrate of quality 2 unless a constant one is asked for,
    // as lame's own -V2.
    settings.quality = options.quality;
    if (!settings.quality && options.bitrate == 0 && options.to == "mp3") settings.quality = 2;
    settings.bitrate = options.bitrate;
    settings.mono = options.mono;
    settings.keepMetadata = options.keepMetadata;
    std::vector<std::string> notes;
    const wave::Error refusal =
        formats::PartPlan::Make(*recording.source, settings, recording.plan, notes);
    if (refusal) {
      Refused(file, refusal);
      return false;
    }
    for (const std::string& note : notes) console_.Report(file, note);
    return true;
  }

  // Finds the parts of a recording and writes them.
  void File(const std::string& file) {
    Console::Bar bar(console_, file);
    split::Recording recording;
    if (!Open(file, recording)) return;
    // However the search ends (a stop, a failed read), the writers are done
    // with the recording's parts before its source is let go.
    struct Settle {
      SplitRun& run;
      ~Settle() { run.Tell(true); }
    } settle{*this};
    const Options& options = job_.options;
    // The bar, and the names of the parts written meanwhile, once a block.
    struct Progress final : detect::Progress {
      SplitRun& run;
      Console::Bar& bar;
      Progress(SplitRun& r, Console::Bar& b) : run(r), bar(b) {}
      void Report(int percent) override { bar.Report(percent); }
      void Pump() override { run.Tell(false); }
      bool StopRequested() override { return bar.StopRequested(); }
    } progress(*this, bar);
    split::Request request = RequestFor(options, list_, file, recording.plan.Extension());
    request.wholeFirst = recording.plan.Tagged();
    split::Found found;
    // A plain search hands each part on as soon as its end is known, to be
    // written while the search goes on.
    const wave::Error error =
        Find(job_, file, *recording.source, request, progress, found,
             [&](const split::Part& part) { Add(recording, split::PartToWrite(part)); });
    const bool readFailed = error == wave::ErrorCode::UnableToRead;
    if (error && !readFailed && error != wave::ErrorCode::TitlesMismatch) {
      // Nothing found: a survey or a list that failed, or a stop.
      if (error != wave::ErrorCode::Stopped) Refused(file, error);
      return;
    }
    if (!request.titles.empty() && request.titles.size() != found.parts.size()) {
      if (readFailed) Refused(file, error);
      const wave::Error mismatch =
          Worded(wave::ErrorCode::TitlesMismatch, options, request, found);
      Refused(file, mismatch.detail + ": nothing written");
      return;
    }
    // Named from a list, the parts are known whole before the first is
    // written: one that would replace a file of the run (a title that is
    // the recording's name, say) stops them all, so that no half of an
    // album is left.
    for (std::size_t k = 0; !request.titles.empty() && k < found.parts.size(); ++k) {
      const std::string& name = found.parts[k].name;
      const std::string why = keep_.ReasonFor(folder_, name);
      if (!why.empty()) {
        Refused(file, "part \"" + Printable(name) + "\" would replace " + why + ": nothing written");
        return;
      }
    }
    for (std::size_t k = found.handedOn; k < found.parts.size() && !console_.Stopped(); ++k)
      Add(recording, split::PartToWrite(found.parts[k]));
    // Every part of the file is written before its source is let go.
    Tell(true, &bar);
    if (readFailed) Refused(file, error);
  }

  // Writes the parts a cut list names for a recording.
  void Cuts(split::Recording& recording, const std::vector<split::Part>& parts) {
    for (std::size_t k = 0; k < parts.size() && !console_.Stopped(); ++k) {
      Add(recording, split::PartToWrite(parts[k]));
      Tell(false);
    }
    Tell(true);
  }

 private:
  void Add(split::Recording& recording, const formats::PartPlan::Part& part) {
    writer_.Add(recording, part);
  }

  // Prints what the writers have done: the names written, the parts refused.
  void Tell(bool all, detect::Progress* progress = nullptr) {
    for (const split::WriteTask& task : writer_.Done(all, progress)) {
      const std::string shown = batch::JoinPath(shownFolder_, task.part.name);
      if (task.error == wave::ErrorCode::Stopped) {
        if (task.begun) abandoned_.push_back(shown);
        continue;
      }
      if (task.error) {
        failed_ = true;
        // A folder that takes no new file refuses every part alike: said
        // once, naming it, and no more parts are tried.
        if (FolderRefuses(task.error) && !task.replaced) {
          if (!folderRefused_) {
            const std::string folder = shownFolder_.empty() ? "." : shownFolder_;
            const std::string sentence = "cannot write the parts into this folder";
            console_.Report(folder, sentence + " (" + task.error.detail + ")");
            Json("{" + JsonPath("folder", folder) + ", " + JsonError(sentence, task.error.detail) + "}");
          }
          folderRefused_ = true;
          continue;
        }
        console_.Report(shown, task.error);
        Json(RefusedPartJson(task.recording->path, task.part.number, shown, task.error));
        continue;
      }
      ++written_;
      if (task.replaced) ++replaced_;
      if (json_) {
        Json(WrittenPartJson(task.recording->path, task.part.number, shown, task.part.start,
                             task.part.end, task.recording->source->Info().rate));
      } else if (!job_.options.quiet) {
        Line(Printable(shown));
      }
    }
  }

  // A recording not split, and why.
  void Refused(const std::string& file, const wave::Error& error) {
    console_.Report(file, error);
    Json("{" + JsonPath("file", file) + ", " + JsonError(error) + "}");
    failed_ = true;
  }
  void Refused(const std::string& file, const std::string& why) {
    console_.Report(file, why);
    Json("{" + JsonPath("file", file) + ", " + JsonError(why) + "}");
    failed_ = true;
  }

  // With --format json, an object on a line of its own (JSON Lines, so
  // that each part can be read as soon as it is written).
  void Json(const std::string& object) {
    if (json_) Line(object);
  }
  // A closed or full stdout stops the listing, never the parts.
  void Line(const std::string& text) {
    if (!listing_) return;
    console_.out() << text << '\n';
    listing_ = console_.Deliver();
    outputFailed_ = !listing_ && !console_.OutClosed();
  }

  Job& job_;
  Console& console_;
  std::string shownFolder_;
  const split::TrackList& list_;
  wave::Folder& folder_;
  wave::KeptFiles keep_;
  split::WriterPool writer_;
  bool failed_ = false;
  bool folderRefused_ = false;
  int written_ = 0;
  int replaced_ = 0;
  std::vector<std::string> abandoned_;  // parts begun, then stopped and removed
  bool json_ = job_.options.Format() == ListFormat::Json;
  bool listing_ = true;
  bool outputFailed_ = false;
};

// split --cuts: every recording's parts settled and checked before the
// first is written, so that a list that does not fit writes nothing. Each
// recording is opened to be checked, and again to be split, so that no
// more of them are open at once than in any split.
int SplitByCuts(Job& job, wave::Folder& folder, SplitRun& run) {
  const std::string& cuts = job.options.cuts;
  const std::string shown = cuts == "-" ? "stdin" : cuts;
  std::string text;
  split::CutList list;
  wave::Error error = split::ReadListFile(cuts, "a cut list", text);
  if (!error) error = split::ParseCutList(text, list);
  if (error) return job.RefuseRun(shown, error);
  struct Planned {
    std::string file;
    wave::SourceInfo info;
    std::vector<split::Part> parts;
  };
  std::vector<Planned> planned;
  // Each part's name (as every file system compares it), the name, and
  // whose part it is.
  std::map<std::string, std::pair<std::string, std::string>> names;
  bool failed = false;
  for (const std::string& file : job.options.files) {
    if (job.console.Stopped()) return job.console.StopStatus();
    Planned plan{file, {}, {}};
    std::string why;
    {
      split::Recording recording;
      if (!run.Open(file, recording)) {
        failed = true;
        continue;
      }
      plan.info = recording.source->Info();
      split::Request request;
      request.cuts = &list;
      request.files = job.options.files.size();
      request.path = file;
      request.extension = recording.plan.Extension();
      split::Found found;
      detect::NoProgress quiet;
      if (auto refused = split::FindParts(*recording.source, request, quiet, found)) {
        why = refused.detail;
      }
      plan.parts = std::move(found.parts);
    }
    for (std::size_t k = 0; why.empty() && k < plan.parts.size(); ++k) {
      const std::string& name = plan.parts[k].name;
      const auto [at, added] = names.emplace(split::SameNameKey(name), std::pair{name, file});
      if (!added) {
        const auto& [other, whose] = at->second;
        why = "two parts are named \"" + Printable(name) + "\"" +
              (other == name ? "" : " and \"" + Printable(other) + "\", the same name where case or accents are not told apart") +
              (whose == file ? "" : " (one of " + Printable(whose) + ")");
      }
      const std::string kept = run.Kept().ReasonFor(folder, name);
      if (why.empty() && !kept.empty()) {
        why = "part \"" + Printable(name) + "\" would replace " + kept;
      }
      if (why.empty() && job.options.noClobber &&
          folder.Inspect(name).kind != wave::PathKind::Missing) {
        why = "part \"" + Printable(name) + "\" is there already (--no-clobber)";
      }
    }
    if (!why.empty()) {
      job.console.Report(file, shown + ": " + why);
      if (job.options.Format() == ListFormat::Json)
        job.console.out() << "{" << JsonPath("file", file) << ", " << JsonError(shown + ": " + why) << "}\n";
      failed = true;
      continue;
    }
    planned.push_back(std::move(plan));
  }
  if (failed) return job.RefuseRun("split", "nothing written: the cut list does not fit the recordings");
  if (list.format == split::CutFormat::Cue) {
    job.console.Note(shown,
                       "a cue sheet gives times to 1/75 s; each part runs from its track's "
                       "INDEX 01 to the next track's, the last to the end of the recording");
  }
  bool changed = false;
  for (const Planned& plan : planned) {
    if (job.console.Stopped()) break;
    split::Recording recording;
    if (!run.Open(plan.file, recording)) continue;
    const wave::SourceInfo& info = recording.source->Info();
    if (info.frames != plan.info.frames || info.rate != plan.info.rate ||
        info.channels != plan.info.channels) {
      job.console.Report(plan.file, "changed while the run went on: not split");
      changed = true;
      continue;
    }
    run.Cuts(recording, plan.parts);
  }
  run.SayReplaced();
  run.SayIfStopped();
  return job.Status(run.failed() || changed);
}

}  // namespace

int Split(Job& job) {
  job.jsonLines = true;
  if (job.options.Streamed()) return SplitStream(job);
  std::unique_ptr<wave::Folder> folder = job.OpenDestination();
  if (!folder) return kExitFailed;
  split::TrackList list;
  if (!ReadTrackList(job, list)) return kExitFailed;
  if (job.options.noClobber && job.options.cuts.empty()) {
    if (const std::string taken = NameInTheWay(job, *folder, list); !taken.empty()) {
      return job.RefuseRun(batch::JoinPath(job.ShownFolder(), taken),
                           "is there already (--no-clobber): nothing written");
    }
  }
  SplitRun run(job, *folder, list);
  if (!job.options.cuts.empty()) return SplitByCuts(job, *folder, run);
  for (const std::string& file : job.options.files) {
    if (job.console.Stopped() || run.FolderRefused()) break;
    run.File(file);
  }
  run.SayReplaced();
  run.SayIfStopped();
  return job.Status(run.failed());
}

}  // namespace corvella::cli
