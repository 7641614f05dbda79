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

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace ambrel {

namespace {

// The exit code a child uses when execv itself failed.
constexpr int kExecFailed = 127;

// The poll timeout left before `deadline` (-1: no wall-clock limit when
// wallMs is 0); false once the deadline has passed.
bool PollTimeout(std::uint32_t wallMs, std::chrono::steady_clock::time_point deadline, int& waitMs) {
  waitMs = -1;
  if (wallMs == 0) return true;
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
  if (left <= 0) return false;
  waitMs = static_cast<int>(left);
  return true;
}

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

// Starts `program` on one end of a socket pair: its pid and the caller's end
// (close-on-exec, non-blocking), or false.
bool Spawn(const std::string& program, const std::vector<std::string>& args, const ChildLimits& limits, pid_t& pid,
           int& sock) {
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
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
  const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (devNull < 0) {
    ::close(pair[0]);
    ::close(pair[1]);
    return false;
  }
  const pid_t parent = ::getpid();
  pid = ::fork();
  if (pid == 0) ChildSide(pair[1], devNull, program.c_str(), argv.data(), limits, parent);
  ::close(pair[1]);
  ::close(devNull);
  sock = pair[0];
  if (pid < 0) {
    ::close(sock);
    return false;
  }
  ::fcntl(sock, F_SETFL, ::fcntl(sock, F_GETFL) | O_NONBLOCK);
  return true;
}

}  // namespace

ChildRun RunBoundedChild(const std::string& program, const std::vector<std::string>& args, ByteSpan input,
                         const ChildLimits& limits) {
  ChildRun run;
  pid_t pid = 0;
  int sock = -1;
  if (!Spawn(program, args, limits, pid, sock)) return run;

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
    if (!PollTimeout(limits.wallMs, deadline, waitMs)) {
      killed = true;
      killedFor = ChildEnd::kTimedOut;
      break;
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

namespace {

// How a child that has ended by itself ended, from its wait status.
void FillEnd(ChildRun& run, int status) {
  if (WIFEXITED(status)) {
    run.exitCode = WEXITSTATUS(status);
    run.end = run.exitCode == kExecFailed ? ChildEnd::kCannotStart : ChildEnd::kExited;
  } else if (WIFSIGNALED(status)) {
    run.signal = WTERMSIG(status);
    run.end = run.signal == SIGXCPU || run.signal == SIGKILL ? ChildEnd::kTimedOut : ChildEnd::kCrashed;
  }
}

}  // namespace

// The parent-death signal is sent when the THREAD that forked ends, not the
// process: a child forked on a loader thread would die with that thread
// although the decoder that owns it lives on. So the children are forked on
// a thread of their own, which lives as long as the ServingChild.
class ServingChild::Forker {
 public:
  Forker() : thread_([this] { Run(); }) {}
  ~Forker() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  bool Fork(const std::string& program, const std::vector<std::string>& args, const ChildLimits& limits, pid_t& pid,
            int& sock) {
    std::unique_lock<std::mutex> guard(lock_);
    job_ = [&] { return Spawn(program, args, limits, pid, sock); };
    done_ = false;
    wake_.notify_all();
    wake_.wait(guard, [&] { return done_; });
    job_ = nullptr;
    return ok_;
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
      wake_.wait(guard, [&] { return quit_ || (job_ && !done_); });
      if (quit_) return;
      ok_ = job_();
      done_ = true;
      wake_.notify_all();
    }
  }

  std::mutex lock_;
  std::condition_variable wake_;
  std::function<bool()> job_;
  bool done_ = true, ok_ = false, quit_ = false;
  std::thread thread_;
};

ServingChild::ServingChild(std::string program, std::vector<std::string> args, ChildLimits limits,
                           std::uint32_t maxRequests)
    : program_(std::move(program)), args_(std::move(args)), limits_(limits), maxRequests_(maxRequests) {}

ServingChild::~ServingChild() { Stop(); }

bool ServingChild::Start() {
  if (!forker_) forker_ = std::make_unique<Forker>();
  pid_t pid = 0;
  int sock = -1;
  if (!forker_->Fork(program_, args_, limits_, pid, sock)) return false;
  pid_ = pid;
  sock_ = sock;
  served_ = 0;
  return true;
}

void ServingChild::Kill() {
  if (pid_ == 0) return;
  ::close(sock_);
  sock_ = -1;
  ::kill(pid_, SIGKILL);
  while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
  pid_ = 0;
}

void ServingChild::Stop() {
  if (pid_ == 0) return;
  // Its input ends: a helper waiting for the next request exits by itself.
  ::close(sock_);
  sock_ = -1;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(200);
  for (;;) {
    const pid_t done = ::waitpid(pid_, nullptr, WNOHANG);
    if (done == pid_ || (done < 0 && errno != EINTR)) {
      pid_ = 0;
      return;
    }
    if (Clock::now() >= deadline) break;
    ::usleep(2000);
  }
  // Still there (busy, or hung after its last reply): it must not hold up
  // the program's exit.
  Kill();
}

ChildRun ServingChild::Exchange(ByteSpan request, std::uint64_t maxReplyBytes) {
  const ByteSpan parts[1] = {request};
  return Exchange(std::span<const ByteSpan>(parts), maxReplyBytes);
}

ChildRun ServingChild::Exchange(std::span<const ByteSpan> parts, std::uint64_t maxReplyBytes) {
  if (maxReplyBytes == 0) maxReplyBytes = limits_.maxOutputBytes;
  if (pid_ != 0) {
    // Ended while idle, or left bytes nobody asked for: not to be trusted
    // with the next request either.
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    pollfd p{sock_, POLLIN, 0};
    if (done == pid_ || done < 0) {
      ::close(sock_);
      sock_ = -1;
      pid_ = 0;
    } else if (::poll(&p, 1, 0) > 0) {
      Kill();
    }
  }
  if (pid_ != 0) {
    // RLIMIT_CPU counts the whole life: a child that has spent a quarter of
    // it is replaced, so that this request has at least three quarters.
    bool spent = served_ >= maxRequests_;
    if (!spent && limits_.cpuSeconds != 0) {
      const std::optional<std::uint64_t> used = ProcessCpuMs(pid_);
      spent = !used || *used * 4 > std::uint64_t(limits_.cpuSeconds) * 1000;
    }
    if (spent) Stop();
  }
  if (pid_ == 0 && !Start()) return ChildRun{};
  ++served_;
  return Converse(parts, true, maxReplyBytes);
}

ChildRun ServingChild::Receive(std::uint64_t maxReplyBytes) {
  if (maxReplyBytes == 0) maxReplyBytes = limits_.maxOutputBytes;
  ChildRun run;
  run.end = ChildEnd::kCrashed;
  if (pid_ == 0) return run;  // nothing was asked of a running child
  return Converse({}, false, maxReplyBytes);
}

ChildRun ServingChild::Converse(std::span<const ByteSpan> parts, bool send, std::uint64_t maxReplyBytes) {
  ChildRun run;
  std::size_t length = 0;
  for (const ByteSpan& part : parts) length += part.size();
  std::uint8_t header[8];
  for (int i = 0; i < 8; ++i) header[i] = static_cast<std::uint8_t>(std::uint64_t(length) >> (8 * i));
  // A further reply to the request already sent: nothing to write.
  const std::size_t total = send ? 8 + length : 0;
  // Where the next byte to send lies: the frame header, then each part.
  std::size_t part = 0, partSent = 0;
  std::size_t sent = 0;
  std::uint8_t replyHeader[8];
  std::size_t headerGot = 0;
  std::uint64_t replyLength = 0;

  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limits_.wallMs);
  bool killed = false;
  ChildEnd killedFor = ChildEnd::kTimedOut;
  std::uint8_t buffer[65536];
  for (;;) {
    int waitMs = -1;
    if (!PollTimeout(limits_.wallMs, deadline, waitMs)) {
      killed = true;
      break;
    }
    const bool writing = sent < total;
    pollfd p{sock_, static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0};
    const int ready = ::poll(&p, 1, waitMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      killed = true;
      break;
    }
    if (ready == 0) continue;
    if (writing && (p.revents & (POLLOUT | POLLERR | POLLHUP))) {
      while (sent >= 8 && part < parts.size() && partSent == parts[part].size()) {
        ++part;
        partSent = 0;
      }
      const std::uint8_t* from = sent < 8 ? header + sent : parts[part].data() + partSent;
      const std::size_t size = sent < 8 ? 8 - sent : parts[part].size() - partSent;
      const ssize_t n = ::send(sock_, from, size, MSG_NOSIGNAL | (sent + size < total ? MSG_MORE : 0));
      if (n > 0) {
        // One region per send: the header's rest, or the current part's.
        if (sent >= 8) partSent += static_cast<std::size_t>(n);
        sent += static_cast<std::size_t>(n);
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) sent = total;  // the child stopped reading
    }
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      // Never read past the reply: what follows it is the child's fault and
      // is found before the next request.
      std::uint8_t* into = headerGot < 8 ? replyHeader + headerGot : buffer;
      std::size_t room = headerGot < 8 ? 8 - headerGot : sizeof buffer;
      if (headerGot == 8) room = static_cast<std::size_t>(std::min<std::uint64_t>(room, replyLength - run.output.size()));
      const ssize_t n = ::recv(sock_, into, room, 0);
      if (n == 0) break;  // the child closed its end (it has exited or is about to)
      if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) continue;
        break;
      }
      if (headerGot < 8) {
        headerGot += static_cast<std::size_t>(n);
        if (headerGot < 8) continue;
        for (int i = 0; i < 8; ++i) replyLength |= std::uint64_t(replyHeader[i]) << (8 * i);
        if (maxReplyBytes != 0 && replyLength > maxReplyBytes) {
          killed = true;
          killedFor = ChildEnd::kOutputTooLong;
          break;
        }
        // Bounded above, or by 64 MiB when unbounded: a stated length is
        // only the child's word.
        run.output.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(replyLength, std::uint64_t(64) << 20)));
      } else {
        run.output.insert(run.output.end(), buffer, buffer + n);
      }
      if (headerGot == 8 && run.output.size() == replyLength) {
        if (sent < total) {
          // Answered before it had the whole request: it cannot have read it.
          killed = true;
          killedFor = ChildEnd::kCrashed;
          break;
        }
        run.end = ChildEnd::kReplied;
        return run;
      }
    }
  }
  // No reply: whatever the child is doing, it is not serving any more.
  run.output.clear();
  ::close(sock_);
  sock_ = -1;
  if (killed) {
    Kill();
    run.end = killedFor;
    return run;
  }
  int status = 0;
  for (;;) {
    // The end of its output came before the exit: wait for it, still bounded.
    const pid_t done = ::waitpid(pid_, &status, limits_.wallMs == 0 ? 0 : WNOHANG);
    if (done == pid_) break;
    if (done < 0 && errno != EINTR) {
      pid_ = 0;
      return run;
    }
    if (done == 0) {
      if (Clock::now() >= deadline) {
        Kill();
        run.end = ChildEnd::kTimedOut;
        return run;
      }
      ::usleep(2000);
    }
  }
  pid_ = 0;
  FillEnd(run, status);
  // A child that ends without replying has failed this request, whatever
  // its exit code says.
  if (run.end == ChildEnd::kExited && run.exitCode == 0) run.end = ChildEnd::kCrashed;
  return run;
}

std::optional<std::uint64_t> ProcessCpuMs(int pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // The command name in parentheses may hold spaces and parentheses itself.
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(text.substr(close + 1));
  // From the third field (state) on; utime and stime are the 14th and 15th.
  std::string field;
  std::uint64_t utime = 0, stime = 0;
  for (int n = 3; n <= 15 && fields >> field; ++n) {
    if (n == 14) utime = std::strtoull(field.c_str(), nullptr, 10);
    if (n == 15) {
      stime = std::strtoull(field.c_str(), nullptr, 10);
      const long ticks = ::sysconf(_SC_CLK_TCK);
      return (utime + stime) * 1000 / std::uint64_t(ticks > 0 ? ticks : 100);
    }
  }
  return std::nullopt;
}

bool ProcessExists(int pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

}  // namespace ambrel
