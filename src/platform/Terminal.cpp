#include "platform/Terminal.h"

#include "platform/Wipe.h"

#include <cerrno>
#include <csignal>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t caughtSignal = 0;
extern "C" void OnSignalWhileSecret(int signal) { caughtSignal = signal; }

constexpr int WatchedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void WriteAll(int fd, const std::string& text) {
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // namespace

bool StdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

std::optional<std::string> ReadSecretLine(const std::string& prompt) {
  // Signals interrupt the read (no restart), so the echo is never left off.
  struct sigaction previous[std::size(WatchedSignals)];
  struct sigaction watch {};
  watch.sa_handler = OnSignalWhileSecret;
  sigemptyset(&watch.sa_mask);
  caughtSignal = 0;
  for (std::size_t i = 0; i < std::size(WatchedSignals); ++i) ::sigaction(WatchedSignals[i], &watch, &previous[i]);

  termios saved {};
  const bool terminal = ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  WriteAll(STDERR_FILENO, prompt);

  std::string line;
  // Room for any password the archiver takes, so that no growing copy is left unwiped.
  line.reserve(1024);
  bool complete = false, ended = false;
  while (!caughtSignal) {
    char c = 0;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n == 1) {
      if (c == '\n') {
        complete = true;
        break;
      }
      line += c;
    } else if (n == 0 || errno != EINTR) {
      ended = true;
      break;
    }
  }

  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    WriteAll(STDERR_FILENO, "\n");  // the Enter that was not echoed
  }
  for (std::size_t i = 0; i < std::size(WatchedSignals); ++i) ::sigaction(WatchedSignals[i], &previous[i], nullptr);
  if (const int signal = caughtSignal) {
    WipeString(line);
    ::raise(signal);
    return std::nullopt;
  }
  if (ended && line.empty()) return std::nullopt;
  if (complete && !line.empty() && line.back() == '\r') line.pop_back();
  std::optional<std::string> answer(line);
  WipeString(line);
  return answer;
}
