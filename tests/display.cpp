// display.cpp -- starting a private Xvfb for the real backend's window tests.
#include "display.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

namespace qv::test {

namespace {

pid_t xvfb_pid = 0;

void StopXvfb() {
  if (xvfb_pid > 0) {
    kill(xvfb_pid, SIGTERM);
    waitpid(xvfb_pid, nullptr, 0);
  }
}

// True when the server of display n takes connections on its (abstract) socket.
bool Answers(int n) {
  const std::string path = "/tmp/.X11-unix/X" + std::to_string(n);
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path + 1, path.data(), path.size());
  const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
  const bool up = connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0;
  close(fd);
  return up;
}

// Starts Xvfb on display n; true once it answers, false if it gave up (the number is taken).
bool StartOn(int n) {
  if (Answers(n)) return false;  // somebody else's server
  const pid_t pid = fork();
  if (pid == 0) {
    const std::string display = ":" + std::to_string(n);
    // A test that dies without its exit handlers (a sanitizer's report) must not leave the
    // server behind, nor holding the pipe ctest waits on.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (std::freopen("/dev/null", "w", stdout) == nullptr ||
        std::freopen("/dev/null", "w", stderr) == nullptr) {
      _exit(127);
    }
    execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", "640x480x24", "-nolisten", "tcp",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid < 0) return false;
  for (int i = 0; i < 2000; ++i) {  // up to 20 s on a busy machine
    if (waitpid(pid, nullptr, WNOHANG) == pid) return false;
    if (Answers(n)) {
      xvfb_pid = pid;
      return true;
    }
    usleep(10000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return false;
}

}  // namespace

bool EnsureDisplay() {
  static const bool ready = [] {
    const char* current = std::getenv("DISPLAY");
    if (current != nullptr && current[0] != 0) return true;
    // A number of our own, away from the ones desktops and -displayfd take first.
    const int base = 200 + static_cast<int>(getpid() % 500);
    for (int n = base; n < base + 20; ++n) {
      if (StartOn(n)) {
        std::atexit(StopXvfb);
        setenv("DISPLAY", (":" + std::to_string(n)).c_str(), 1);
        return true;
      }
    }
    return false;
  }();
  return ready;
}

}  // namespace qv::test
