#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <atomic>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "wave/FileApi.h"

namespace {

std::atomic<int> stopSignal{0};

#ifdef _WIN32
// Ctrl-C and Ctrl-Break stop the run as SIGINT does, closing the console or
// ending the session as SIGHUP does: after the current block, the part under
// way dropped. A second one ends the program at once; the part under way is
// marked for deletion, so the system removes it.
constexpr int kInterrupt = 2;
constexpr int kHangUp = 1;

BOOL WINAPI OnControl(DWORD event) {
  const int signal = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? kInterrupt : kHangUp;
  int none = 0;
  if (!stopSignal.compare_exchange_strong(none, signal)) ExitProcess(128 + stopSignal.load());
  // The system ends the process as soon as this returns from a close: the
  // run is given the time it has to stop, and ends the process itself.
  if (signal == kHangUp) Sleep(INFINITE);
  return TRUE;
}

// The command line as the user typed it, in UTF-8 whatever the code page.
std::vector<std::string> Arguments() {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, text.data(), size, nullptr, nullptr);
    arguments.push_back(std::move(text));
  }
  LocalFree(wide);
  return arguments;
}

bool Terminal(int fd) {
  DWORD mode = 0;
  return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &mode) != 0;
}
#else
// The first Ctrl-C, SIGTERM or SIGHUP asks the run to stop after the current
// block; the part under way is dropped. A second one ends the program at
// once, removing the part's temporary file first.
extern "C" void OnStop(int signal) {
  int none = 0;
  if (!stopSignal.compare_exchange_strong(none, signal)) {
    corvella::wave::RemovePendingTemporary();
    ::_exit(128 + stopSignal.load());
  }
}

bool Terminal(int fd) {
  return ::isatty(fd) != 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  (void)argc, (void)argv;
  SetConsoleCtrlHandler(OnControl, TRUE);
  // A cut list read from stdin is read as it is, line ends and all.
  _setmode(0, _O_BINARY);
  _setmode(1, _O_BINARY);
  _setmode(2, _O_BINARY);
  const std::vector<std::string> arguments = Arguments();
  std::vector<const char*> pointers;
  for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
  const int count = static_cast<int>(pointers.size());
  const char* const* values = pointers.data();
  corvella::cli::FdStream err(2);
#else
  struct sigaction stop {};
  stop.sa_handler = OnStop;
  sigemptyset(&stop.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &stop, nullptr);
  // A file-size limit or a closed stdout shows up as a failed write, which
  // is reported, instead of ending the program in the middle of a part.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  const int count = argc;
  const char* const* values = argv;
  std::ostream& err = std::cerr;
#endif

  std::ios::sync_with_stdio(false);
  corvella::cli::FdStream out(1);
  corvella::cli::Console console(out, err, Terminal(2), stopSignal,
                                 [&out] { return out.Failure(); });
  const int status = corvella::cli::Run(count, values, console);
  out.flush();
  err.flush();
  return status;
}
