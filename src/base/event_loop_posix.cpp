#include "base/event_loop_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace qz {
namespace {

// The write end of the signal pipe; the handler may touch nothing else.
volatile sig_atomic_t g_signal_fd = -1;

extern "C" void OnSignal(int signo) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signo);
  if (g_signal_fd >= 0) (void)!write(g_signal_fd, &byte, 1);
  errno = saved;
}

constexpr short kHangUpBits = POLLHUP | POLLERR | POLLNVAL;

}  // namespace

PosixEventLoop::PosixEventLoop() = default;

PosixEventLoop::~PosixEventLoop() {
  for (auto& [signo, action] : saved_actions_) sigaction(signo, &action, nullptr);
  if (signal_write_) g_signal_fd = -1;  // before the pipe closes with its owners
}

EventLoop::TimerId PosixEventLoop::AddTimer(std::chrono::milliseconds delay, Task fire) {
  return AddTimerAt(Clock::now() + delay, std::move(fire));
}

EventLoop::TimerId PosixEventLoop::AddTimerAt(Clock::time_point due, Task fire) {
  const TimerId id = ++last_id_;
  timers_.emplace(std::make_pair(due, id), std::move(fire));
  timer_due_.emplace(id, due);
  return id;
}

void PosixEventLoop::CancelTimer(TimerId id) {
  auto it = timer_due_.find(id);
  if (it == timer_due_.end()) return;
  timers_.erase(std::make_pair(it->second, id));
  timer_due_.erase(it);
}

void PosixEventLoop::Post(Task task) {
  posted_.push_back(std::move(task));
}

bool PosixEventLoop::DispatchOne(Clock::time_point now) {
  // Every handler is taken out of its queue before it runs, so an exception leaves the queues
  // consistent and the handler is not run again.
  if (!posted_.empty()) {
    Task task = std::move(posted_.front());
    posted_.pop_front();
    task();
    return true;
  }
  while (!ready_.empty()) {
    const auto [id, revents] = ready_.front();
    ready_.pop_front();
    auto it = watches_.find(id);
    if (it == watches_.end()) continue;  // unwatched after the poll
    FdHandler handler = it->second.handler;
    if (revents & kHangUpBits) watches_.erase(it);
    handler(revents);
    return true;
  }
  if (!timers_.empty() && timers_.begin()->first.first <= now) {
    auto it = timers_.begin();
    Task fire = std::move(it->second);
    timer_due_.erase(it->first.second);
    timers_.erase(it);
    fire();
    return true;
  }
  return false;
}

void PosixEventLoop::Poll(std::chrono::nanoseconds timeout) {
  std::vector<pollfd> fds;
  std::vector<WatchId> ids;
  fds.reserve(watches_.size());
  for (const auto& [id, w] : watches_) {
    bool queued = false;
    for (const auto& r : ready_) queued = queued || r.first == id;
    if (queued) continue;
    fds.push_back(pollfd{w.fd, w.events, 0});
    ids.push_back(id);
  }
  timespec ts{};
  timespec* tsp = nullptr;
  if (timeout.count() >= 0) {
    ts.tv_sec = static_cast<time_t>(timeout.count() / 1'000'000'000);
    ts.tv_nsec = static_cast<long>(timeout.count() % 1'000'000'000);
    tsp = &ts;
  }
  const int n = ppoll(fds.data(), fds.size(), tsp, nullptr);
  if (n < 0) {
    if (errno == EINTR) return;  // a signal: its byte is in the pipe, seen next time round
    throw std::system_error(errno, std::generic_category(), "ppoll");
  }
  for (std::size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents != 0) ready_.emplace_back(ids[i], fds[i].revents);
  }
}

void PosixEventLoop::RunUntil(const std::function<bool()>& done) {
  while (!done()) {
    const Clock::time_point now = Clock::now();
    if (DispatchOne(now)) continue;
    if (timers_.empty() && watches_.empty())
      throw std::logic_error("PosixEventLoop: RunUntil would wait for ever");
    std::chrono::nanoseconds timeout{-1};
    if (!timers_.empty())
      timeout = std::max(std::chrono::nanoseconds{0}, timers_.begin()->first.first - now);
    Poll(timeout);
  }
}

PosixEventLoop::WatchId PosixEventLoop::WatchFd(int fd, short events, FdHandler handler) {
  const WatchId id = ++last_id_;
  watches_.emplace(id, Watch{fd, events, std::move(handler)});
  return id;
}

void PosixEventLoop::UnwatchFd(WatchId id) {
  watches_.erase(id);
}

PosixEventLoop::WatchId PosixEventLoop::WatchSignal(int signo, Task handler) {
  if (!signal_read_) {
    int ends[2];
    if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0)
      throw std::system_error(errno, std::generic_category(), "pipe2");
    signal_read_.Reset(ends[0]);
    signal_write_.Reset(ends[1]);
    g_signal_fd = signal_write_.Get();
  }
  if (signal_pipe_watch_ == 0)
    signal_pipe_watch_ =
        WatchFd(signal_read_.Get(), POLLIN, [this](short revents) { OnSignalPipe(revents); });
  bool installed = false;
  for (const auto& [id, w] : signal_watches_) installed = installed || w.signo == signo;
  if (!installed) InstallSignal(signo);
  const WatchId id = ++last_id_;
  signal_watches_.emplace(id, SignalWatch{signo, std::move(handler)});
  return id;
}

void PosixEventLoop::UnwatchSignal(WatchId id) {
  auto it = signal_watches_.find(id);
  if (it == signal_watches_.end()) return;
  const int signo = it->second.signo;
  signal_watches_.erase(it);
  bool still = false;
  for (const auto& [other, w] : signal_watches_) still = still || w.signo == signo;
  if (!still) RestoreSignal(signo);
  // Without signal watches the pipe is not something to wait for. A signal that came just before
  // is dropped with it, so that it cannot reach the next watcher (a Ctrl-C at the end of one read
  // must not cancel the next).
  if (signal_watches_.empty() && signal_pipe_watch_ != 0) {
    UnwatchFd(signal_pipe_watch_);
    signal_pipe_watch_ = 0;
    unsigned char stale[64];
    while (read(signal_read_.Get(), stale, sizeof stale) > 0) {
    }
  }
}

void PosixEventLoop::OnSignalPipe(short /*revents*/) {
  unsigned char bytes[64];
  const ssize_t n = read(signal_read_.Get(), bytes, sizeof bytes);
  for (ssize_t i = 0; i < n; ++i) {
    std::vector<WatchId> ids;
    for (const auto& [id, w] : signal_watches_)
      if (w.signo == bytes[i]) ids.push_back(id);
    for (WatchId id : ids) {
      auto it = signal_watches_.find(id);
      if (it == signal_watches_.end()) continue;
      Task handler = it->second.handler;
      handler();
    }
  }
}

void PosixEventLoop::InstallSignal(int signo) {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  struct sigaction old {};
  if (sigaction(signo, &action, &old) != 0)
    throw std::system_error(errno, std::generic_category(), "sigaction");
  saved_actions_[signo] = old;
}

void PosixEventLoop::RestoreSignal(int signo) {
  auto it = saved_actions_.find(signo);
  if (it == saved_actions_.end()) return;
  sigaction(signo, &it->second, nullptr);
  saved_actions_.erase(it);
}

}  // namespace qz
