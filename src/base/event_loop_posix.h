// The event loop of a POSIX thread, on ppoll(): watched descriptors (serial ports, the signal
// pipe), one-shot timers on the monotonic clock and posted tasks. One handler runs at a time;
// an exception from a handler leaves RunUntil with the loop still usable.
#pragma once

#include <poll.h>
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "base/event_loop.h"
#include "base/unique_fd_posix.h"

namespace qz {

class PosixEventLoop : public EventLoop {
 public:
  using Clock = std::chrono::steady_clock;
  using WatchId = std::uint64_t;
  // Receives the poll bits that were reported (POLLIN, POLLOUT, POLLHUP, POLLERR, POLLNVAL).
  using FdHandler = std::function<void(short revents)>;

  PosixEventLoop();
  ~PosixEventLoop() override;
  PosixEventLoop(const PosixEventLoop&) = delete;
  PosixEventLoop& operator=(const PosixEventLoop&) = delete;

  TimerId AddTimer(std::chrono::milliseconds delay, Task fire) override;
  // One-shot timer at a point on the monotonic clock, as fine as ppoll allows: for code that
  // paces bytes by the line (the simulated terminal), where a whole millisecond is most of a byte
  // at 9600 baud. A point already passed fires on the next pass. CancelTimer cancels it.
  TimerId AddTimerAt(Clock::time_point due, Task fire);
  void CancelTimer(TimerId id) override;
  void Post(Task task) override;
  void RunUntil(const std::function<bool()>& done) override;

  // Calls `handler` whenever `fd` is ready for `events`. When poll reports POLLHUP, POLLERR or
  // POLLNVAL the handler sees those bits once and the watch ends: a hung-up descriptor stays
  // "ready" for ever and would otherwise keep the loop from sleeping.
  WatchId WatchFd(int fd, short events, FdHandler handler);
  void UnwatchFd(WatchId id);
  bool Watching(WatchId id) const { return watches_.count(id) != 0; }

  // Calls `handler` on the loop after `signo` arrived (the disposition is restored when the last
  // watch of that signal ends). Only one loop per process may watch signals.
  WatchId WatchSignal(int signo, Task handler);
  void UnwatchSignal(WatchId id);

 private:
  struct Watch {
    int fd;
    short events;
    FdHandler handler;
  };
  struct SignalWatch {
    int signo;
    Task handler;
  };

  // Runs one thing that is ready now; false when nothing was.
  bool DispatchOne(Clock::time_point now);
  // Polls the descriptors, waiting at most `timeout` (negative: without limit).
  void Poll(std::chrono::nanoseconds timeout);
  void OnSignalPipe(short revents);
  void InstallSignal(int signo);
  void RestoreSignal(int signo);

  std::uint64_t last_id_ = 0;
  std::map<std::pair<Clock::time_point, TimerId>, Task> timers_;
  std::map<TimerId, Clock::time_point> timer_due_;
  std::deque<Task> posted_;
  std::map<WatchId, Watch> watches_;
  std::deque<std::pair<WatchId, short>> ready_;
  std::map<WatchId, SignalWatch> signal_watches_;
  std::map<int, struct sigaction> saved_actions_;
  UniqueFd signal_read_, signal_write_;
  WatchId signal_pipe_watch_ = 0;
};

}  // namespace qz
