#include "support/Fixture.h"

#include <sndfile.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "batch/OutputName.h"
#include "batch/PartWalk.h"
#include "detect/Scanner.h"
#include "wave/PartWriter.h"

namespace corvella::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "corvella-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (it->is_directory(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::vector<std::string> TempDir::Names(const std::string& below) const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(*this / below))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::unique_ptr<wave::WaveSource> SourceFixture::Open(const Bytes& file, const std::string& name,
                                                      wave::Acceptance acceptance) {
  dir.Put(name, file);
  wave::OpenedWave opened = wave::OpenWave(wave::PlatformFiles(), dir / name, acceptance);
  if (!opened.source) ADD_FAILURE() << "refused: " << wave::MessageOf(opened.error);
  return std::move(opened.source);
}

std::string SourceFixture::Refusal(const Bytes& file, wave::Acceptance acceptance) {
  dir.Put("refused.wav", file);
  const wave::OpenedWave opened =
      wave::OpenWave(wave::PlatformFiles(), dir / "refused.wav", acceptance);
  return opened.source ? "" : wave::MessageOf(opened.error);
}

std::vector<PartSpan> SourceFixture::Walk(wave::Source& source) {
  detect::Scanner scanner(source, params, progress);
  std::vector<PartSpan> parts;
  std::int64_t scan = 0;
  bool endOfData = false;
  while (true) {
    const std::int64_t start = scanner.FindPartStart(scan, endOfData);
    if (endOfData) return parts;
    parts.push_back({start, scanner.FindPartEnd(start, scan, endOfData)});
    if (endOfData) return parts;
  }
}

int SourceFixture::Split(const std::string& name, const std::string& destFolder, bool write,
                         wave::FileApi& files) {
  wave::OpenedWave opened = wave::OpenWave(files, dir / name, wave::Acceptance::WindowFormat);
  if (!opened.source) {
    messages.push_back(wave::MessageOf(opened.error));
    return 0;
  }
  detect::Scanner scanner(*opened.source, params, progress);
  const batch::WalkResult walk = batch::WalkParts(scanner, [&](const PartSpan& part, int number) {
    if (!write) return;
    const std::string path = batch::BuildOutputPath(destFolder, name, number);
    wave::Error error;
    auto folder = wave::Folder::Open(files, destFolder, error);
    if (folder) {
      wave::WriteOptions options;
      options.mono = mono;
      error = wave::WritePart(*opened.source, part.start, part.end, *folder,
                              batch::PartFileName(name, number), options);
    }
    if (error) messages.push_back(wave::MessageOf(error));
    written.push_back(path);
  });
  if (walk.readFailed) messages.push_back(wave::MessageOf(wave::ErrorCode::UnableToRead));
  return walk.parts;
}

ChildLock::ChildLock(const std::string& path) {
  int ready[2];
  if (::pipe(ready) != 0) return;
  child_ = ::fork();
  if (child_ == 0) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    const char ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0;
    if (::write(ready[1], &ok, 1) == 1) ::pause();
    ::_exit(0);
  }
  char ok = 0;
  locked = child_ > 0 && ::read(ready[0], &ok, 1) == 1 && ok;
  ::close(ready[0]);
  ::close(ready[1]);
}

ChildLock::~ChildLock() {
  if (child_ <= 0) return;
  ::kill(child_, SIGKILL);
  ::waitpid(child_, nullptr, 0);
}

void WriteDeep(const std::string& base, const std::string& relative, const Bytes& bytes) {
  int folder = ::open(base.c_str(), O_DIRECTORY);
  std::size_t at = 0;
  for (std::size_t slash; folder >= 0 && (slash = relative.find('/', at)) != std::string::npos;
       at = slash + 1) {
    const std::string name = relative.substr(at, slash - at);
    ::mkdirat(folder, name.c_str(), 0700);
    const int next = ::openat(folder, name.c_str(), O_DIRECTORY);
    ::close(folder);
    folder = next;
  }
  const int fd = folder < 0 ? -1
                            : ::openat(folder, relative.substr(at).c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const bool ok =
      fd >= 0 && ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  if (fd >= 0) ::close(fd);
  if (folder >= 0) ::close(folder);
  if (!ok) throw std::runtime_error("cannot write " + relative);
}

wave::FileId IdOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

int Start(const std::vector<std::string>& argv, const std::string& outputs, bool closedStdout) {
  int channel[2] = {-1, -1};
  if (closedStdout && ::pipe(channel) != 0) return -1;
  const int pid = ::fork();
  if (pid == 0) {
    const int out = closedStdout
                        ? channel[1]
                        : ::open((outputs + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open((outputs + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (closedStdout) ::close(channel[0]);
    // Signals as a user's shell leaves them.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) ::signal(sig, SIG_DFL);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  if (closedStdout) {
    ::close(channel[0]);  // the reader goes before anything is written
    ::close(channel[1]);
  }
  return pid;
}

Ran Finish(int pid, const std::string& outputs) {
  Ran ran;
  int status = 0;
  struct rusage usage {};
  if (pid <= 0 || ::wait4(pid, &status, 0, &usage) != pid) return ran;
  ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  ran.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  ran.maxRssKb = usage.ru_maxrss;
  for (auto [name, text] : {std::pair{"/out", &ran.out}, {"/err", &ran.err}}) {
    if (std::filesystem::exists(outputs + name)) {
      const Bytes bytes = ReadFile(outputs + name);
      text->assign(bytes.begin(), bytes.end());
    }
  }
  return ran;
}

ShellResult Shell(const std::string& commandLine) {
  TempDir scratch;
  const int status =
      std::system(("(" + commandLine + ") >" + scratch / "out" + " 2>" + scratch / "err").c_str());
  const Bytes out = ReadFile(scratch / "out"), err = ReadFile(scratch / "err");
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
          {out.begin(), out.end()},
          {err.begin(), err.end()}};
}

void WriteFlac16(const std::string& path, int channels, int rate, const Samples& samples) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
  SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_TRUE(sf) << sf_strerror(nullptr);
  const auto frames = static_cast<sf_count_t>(samples.size() / static_cast<std::size_t>(channels));
  EXPECT_EQ(sf_writef_short(sf, samples.data(), frames), frames);
  sf_close(sf);
}

}  // namespace corvella::test
