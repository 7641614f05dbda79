#include "platform/bounded_child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace ambrel {

namespace {

// The exit code a child uses when execv itself failed.
constexpr int kExecFailed = 127;

void CloseFrom(int first) {
#ifdef SYS_close_range
  if (::syscall(SYS_close_range, static_cast<unsigned>(first), ~0u, 0u) == 0) return;
#endif
  const long top = ::sysconf(_SC_OPEN_MAX);
  for (long fd = first; fd < (top > 0 ? top : 1024); ++fd) ::close(static_cast<int>(fd));
}

[[noreturn]] void ChildSide(int sock, int devNull, const char* program, char* const* argv, const ChildLimits& limits,
                            pid_t parent) {
  // Only async-signal-safe calls from here on.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(kExecFailed);
  if (::dup2(sock, 0) < 0 || ::dup2(sock, 1) < 0 || ::dup2(devNull, 2) < 0) ::_exit(kExecFailed);
  CloseFrom(3);
  if (limits.addressSpaceBytes != 0) {
    const rlimit as{limits.addressSpaceBytes, limits.addressSpaceBytes};
    ::setrlimit(RLIMIT_AS, &as);
  }
  if (limits.cpuSeconds != 0) {
    // SIGXCPU at the soft limit, SIGKILL a second later should it be caught.
    const rlimit cpu{limits.cpuSeconds, limits.cpuSeconds + 1};
    ::setrlimit(RLIMIT_CPU, &cpu);
  }
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  ::execv(program, argv);
  ::_exit(kExecFailed);
}

}  // namespace

ChildRun RunBoundedChild(const std::string& program, const std::vector<std::string>& args, ByteSpan input,
                         const ChildLimits& limits) {
  ChildRun run;
  std::vector<std::string> strings;
  strings.reserve(args.size() + 1);
  strings.push_back(program);
  strings.insert(strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);

  // One stream socket carries both ways: send() with MSG_NOSIGNAL never
  // raises SIGPIPE in the caller when the child has died.
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return run;
  const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (devNull < 0) {
    ::close(pair[0]);
    ::close(pair[1]);
    return run;
  }
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) ChildSide(pair[1], devNull, program.c_str(), argv.data(), limits, parent);
  ::close(pair[1]);
  ::close(devNull);
  const int sock = pair[0];
  if (pid < 0) {
    ::close(sock);
    return run;
  }
  ::fcntl(sock, F_SETFL, ::fcntl(sock, F_GETFL) | O_NONBLOCK);

  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limits.wallMs);
  std::size_t sent = 0;
  bool writing = true;
  if (input.empty()) {
    ::shutdown(sock, SHUT_WR);
    writing = false;
  }
  bool killed = false;
  ChildEnd killedFor = ChildEnd::kTimedOut;
  std::uint8_t buffer[65536];
  for (;;) {
    int waitMs = -1;
    if (limits.wallMs != 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) {
        killed = true;
        killedFor = ChildEnd::kTimedOut;
        break;
      }
      waitMs = static_cast<int>(left);
    }
    pollfd p{sock, static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0};
    const int ready = ::poll(&p, 1, waitMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      killed = true;
      break;
    }
    if (ready == 0) continue;
    if (writing && (p.revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t n = ::send(sock, input.data() + sent, input.size() - sent, MSG_NOSIGNAL);
      if (n > 0) sent += static_cast<std::size_t>(n);
      if (n < 0 && errno != EAGAIN && errno != EINTR) writing = false;  // the child stopped reading
      if (sent == input.size()) {
        ::shutdown(sock, SHUT_WR);
        writing = false;
      }
    }
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t n = ::recv(sock, buffer, sizeof buffer, 0);
      if (n == 0) break;  // the child closed its end (it has exited or is about to)
      if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) continue;
        break;
      }
      run.output.insert(run.output.end(), buffer, buffer + n);
      if (limits.maxOutputBytes != 0 && run.output.size() > limits.maxOutputBytes) {
        killed = true;
        killedFor = ChildEnd::kOutputTooLong;
        break;
      }
    }
  }
  ::close(sock);
  if (killed) ::kill(pid, SIGKILL);
  int status = 0;
  for (;;) {
    // The end of output came before the exit: wait for it, still bounded.
    const pid_t done = ::waitpid(pid, &status, killed || limits.wallMs == 0 ? 0 : WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return run;
    if (done == 0) {
      if (Clock::now() >= deadline) {
        ::kill(pid, SIGKILL);
        killed = true;
        killedFor = ChildEnd::kTimedOut;
      } else {
        ::usleep(2000);
      }
    }
  }
  if (killed) {
    run.end = killedFor;
    run.output.clear();
  } else if (WIFEXITED(status)) {
    run.exitCode = WEXITSTATUS(status);
    run.end = run.exitCode == kExecFailed ? ChildEnd::kCannotStart : ChildEnd::kExited;
  } else if (WIFSIGNALED(status)) {
    run.signal = WTERMSIG(status);
    // SIGXCPU is the CPU limit's; SIGKILL nobody here sent is its hard limit.
    run.end = run.signal == SIGXCPU || run.signal == SIGKILL ? ChildEnd::kTimedOut : ChildEnd::kCrashed;
  }
  if (run.end != ChildEnd::kExited) run.output.clear();
  return run;
}

}  // namespace ambrel
