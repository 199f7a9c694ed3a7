#include "messages/Messages.h"
#include "split/Walk.h"
#include "support/Fixture.h"

#include <sndfile.h>

#ifdef _WIN32
#include <windows.h>
// after windows.h, whose types it uses
#include <psapi.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "batch/OutputName.h"
#include "batch/PartWalk.h"
#include "detect/Scanner.h"
#include "wave/PartWriter.h"

namespace corvella::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
#ifdef _WIN32
  std::random_device random;
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const fs::path candidate =
        fs::temp_directory_path() / ("corvella-test-" + std::to_string(random()));
    if (fs::create_directory(candidate)) path_ = Utf8(candidate);
  }
  if (path_.empty()) throw std::runtime_error("cannot make a scratch folder");
  std::replace(path_.begin(), path_.end(), '\\', '/');
#else
  std::string pattern = (fs::temp_directory_path() / "corvella-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
#endif
}

TempDir::~TempDir() {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(U8(path_), ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::permissions(U8(path_), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(U8(path_), ec);
}

std::vector<std::string> TempDir::Names(const std::string& below) const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(U8(*this / below)))
    names.push_back(Utf8(entry.path().filename()));
  std::sort(names.begin(), names.end());
  return names;
}

std::unique_ptr<wave::WaveSource> SourceFixture::Open(const Bytes& file, const std::string& name,
                                                      wave::Acceptance acceptance) {
  dir.Put(name, file);
  wave::OpenedWave opened = wave::OpenWave(wave::PlatformFiles(), dir / name, acceptance);
  if (!opened.source) ADD_FAILURE() << "refused: " << messages::MessageOf(opened.error);
  return std::move(opened.source);
}

std::string SourceFixture::Refusal(const Bytes& file, wave::Acceptance acceptance) {
  dir.Put("refused.wav", file);
  const wave::OpenedWave opened =
      wave::OpenWave(wave::PlatformFiles(), dir / "refused.wav", acceptance);
  return opened.source ? "" : messages::MessageOf(opened.error);
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
  // The walk the window runs for each file it is given, telling what it
  // would show in its boxes.
  struct Listener final : split::WalkListener {
    SourceFixture& fixture;
    explicit Listener(SourceFixture& f) : fixture(f) {}
    void Failed(const wave::Error& error) override {
      fixture.messages.push_back(messages::MessageOf(error));
    }
    wave::WriteOptions PartOptions() override {
      wave::WriteOptions options;
      options.mono = fixture.mono;
      return options;
    }
    void PartDone(const std::string& path) override { fixture.written.push_back(path); }
  } listener(*this);
  split::WalkRequest request;
  request.acceptance = wave::Acceptance::Plain16;
  request.detect = params;
  request.write = write;
  request.destination = destFolder;
  return split::WalkRecording(files, dir / name, request, progress, listener);
}

#ifdef _WIN32

namespace {

std::wstring Wide(const std::string& text) {
  const fs::path path = U8(text);
  return path.wstring();
}

// A path the system takes whatever its length.
std::wstring LongPath(const std::string& path) {
  std::wstring wide = fs::absolute(U8(path)).wstring();
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  return wide.rfind(L"\\\\?\\", 0) == 0 ? wide : L"\\\\?\\" + wide;
}

// A command line as Windows programs take it apart (CommandLineToArgvW).
std::wstring Quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
    return argument;
  std::wstring quoted = L"\"";
  for (std::size_t i = 0;; ++i) {
    std::size_t backslashes = 0;
    while (i < argument.size() && argument[i] == L'\\') ++i, ++backslashes;
    if (i == argument.size()) {
      quoted.append(backslashes * 2, L'\\');
      break;
    }
    if (argument[i] == L'"') {
      quoted.append(backslashes * 2 + 1, L'\\');
    } else {
      quoted.append(backslashes, L'\\');
    }
    quoted += argument[i];
  }
  return quoted + L"\"";
}

std::map<int, HANDLE>& Processes() {
  static std::map<int, HANDLE> processes;
  return processes;
}

// Why the last program that could not be started was not.
DWORD& StartFailure() {
  static DWORD error = 0;
  return error;
}

HANDLE Inheritable(HANDLE handle) {
  SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  return handle;
}

HANDLE CreateOutput(const std::string& path) {
  return CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ChildLock::ChildLock(const std::string& path) {
  // Held open with no sharing, as another program that has it open holds it.
  const HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  locked = handle != INVALID_HANDLE_VALUE;
  handle_ = locked ? handle : nullptr;
}

ChildLock::~ChildLock() {
  if (handle_) CloseHandle(handle_);
}

void WriteDeep(const std::string& base, const std::string& relative, const Bytes& bytes) {
  std::wstring path = LongPath(base);
  std::size_t at = 0;
  for (std::size_t slash; (slash = relative.find('/', at)) != std::string::npos; at = slash + 1) {
    path += L"\\" + Wide(relative.substr(at, slash - at));
    CreateDirectoryW(path.c_str(), nullptr);
  }
  path += L"\\" + Wide(relative.substr(at));
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  const bool ok =
      file != INVALID_HANDLE_VALUE &&
      ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size();
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (!ok) throw std::runtime_error("cannot write " + relative);
}

int Start(const std::vector<std::string>& argv, const std::string& outputs, bool closedStdout) {
  std::wstring line;
  for (const std::string& argument : argv)
    line += (line.empty() ? L"" : L" ") + Quoted(Wide(argument));
  HANDLE out = nullptr, reader = nullptr;
  if (closedStdout) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    if (!CreatePipe(&reader, &out, &inherit, 0)) return -1;
    SetHandleInformation(reader, HANDLE_FLAG_INHERIT, 0);
  } else {
    out = Inheritable(CreateOutput(outputs + "/out"));
  }
  const HANDLE err = Inheritable(CreateOutput(outputs + "/err"));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  // Nothing to read, as a program started from a script without input has.
  const HANDLE nothing = Inheritable(
      CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  startup.hStdInput = nothing;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  // Wine, busy, now and then fails to start a process at all: the program
  // never ran, so starting it again hides nothing of its own.
  bool started = false;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    if (attempt > 0) Sleep(500);
    started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP,
                             nullptr, nullptr, &startup, &process) != 0;
    if (!started) StartFailure() = GetLastError();
  }
  if (reader) CloseHandle(reader);  // the reader goes before anything is written
  CloseHandle(nothing);
  CloseHandle(out);
  CloseHandle(err);
  if (!started) return -1;
  CloseHandle(process.hThread);
  const int pid = static_cast<int>(process.dwProcessId);
  Processes()[pid] = process.hProcess;
  return pid;
}

Ran Finish(int pid, const std::string& outputs) {
  Ran ran;
  const auto it = Processes().find(pid);
  if (it == Processes().end()) {
    ran.err = "the program could not be started (error " + std::to_string(StartFailure()) + ")";
    return ran;
  }
  const HANDLE process = it->second;
  Processes().erase(it);
  WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  ran.status = static_cast<int>(code);
  PROCESS_MEMORY_COUNTERS memory{};
  if (GetProcessMemoryInfo(process, &memory, sizeof memory))
    ran.maxRssKb = static_cast<long>(memory.PeakWorkingSetSize / 1024);
  CloseHandle(process);
  for (auto [name, text] : {std::pair{"/out", &ran.out}, {"/err", &ran.err}}) {
    if (fs::exists(U8(outputs + name))) {
      const Bytes bytes = ReadFile(outputs + name);
      text->assign(bytes.begin(), bytes.end());
    }
  }
  return ran;
}

ShellResult Shell(const std::string& commandLine) {
  TempDir scratch;
  const Ran ran = Finish(Start({"cmd", "/s", "/c", commandLine}, scratch.path()), scratch.path());
  return {ran.status, ran.out, ran.err};
}

#else

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

namespace {
template <typename Check>
bool Within10s(const Check& check) {
  for (int i = 0; i < 2000; ++i) {
    if (check()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}
}  // namespace

bool Handles(int pid, int signal) {
  return Within10s([&] {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("SigCgt:", 0) == 0)
        return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1) & 1) != 0;
    }
    return false;
  });
}

bool HasOpen(int pid, const std::string& path) {
  const std::string target = std::filesystem::absolute(path).string();
  return Within10s([&] {
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
      std::error_code unread;
      if (std::filesystem::read_symlink(entry.path(), unread).string() == target) return true;
    }
    return false;
  });
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

#endif

wave::FileId IdOf(const std::string& path) {
  return wave::PlatformFiles().InspectPath(path).id;
}

bool FreeToTake(const std::string& path) {
#ifdef _WIN32
  const HANDLE handle =
      CreateFileW(U8(path).wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  CloseHandle(handle);
  return true;
#else
  const int fd = ::open(path.c_str(), O_RDONLY);
  const bool free = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  if (fd >= 0) ::close(fd);
  return free;
#endif
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
