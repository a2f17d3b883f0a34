// The thread's event loop: everything the component does after a call has started runs from
// here, one handler at a time (serial notifications, timers, window input). There are no
// threads and no locks; a wait is a RunUntil, which sleeps until the next event.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace qz {

class EventLoop {
 public:
  using TimerId = std::uint64_t;
  using Task = std::function<void()>;

  virtual ~EventLoop() = default;

  // One-shot timer: `fire` runs once, on the loop, `delay` after now. Never 0.
  virtual TimerId AddTimer(std::chrono::milliseconds delay, Task fire) = 0;
  // Cancels a timer that has not fired yet; unknown or fired ids are ignored.
  virtual void CancelTimer(TimerId id) = 0;
  // Runs `task` on the loop after the current handler has returned (never inside this call).
  virtual void Post(Task task) = 0;
  // Dispatches events, sleeping while there are none, until `done()` is true. `done` is tested
  // before the first wait and after every dispatched event.
  virtual void RunUntil(const std::function<bool()>& done) = 0;
};

}  // namespace qz
