// An event loop on a hand-advanced clock. Time moves only when RunUntil has nothing else to do
// (it jumps to the next timer) or when a test calls AdvanceBy, so timer tests are exact.
// A wait with nothing left to happen throws instead of hanging the test.
#pragma once

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <stdexcept>
#include <utility>

#include "base/event_loop.h"

namespace qz::testing {

class FakeEventLoop : public EventLoop {
 public:
  using Clock = std::chrono::milliseconds;

  TimerId AddTimer(std::chrono::milliseconds delay, Task fire) override {
    timers_.emplace(std::make_pair(now_ + delay, ++last_id_), std::move(fire));
    return last_id_;
  }
  void CancelTimer(TimerId id) override {
    std::erase_if(timers_, [id](const auto& t) { return t.first.second == id; });
  }
  void Post(Task task) override { posted_.push_back(std::move(task)); }

  void RunUntil(const std::function<bool()>& done) override {
    for (std::size_t steps = 0; !done(); ++steps) {
      if (steps > 1'000'000) throw std::logic_error("FakeEventLoop: too many events");
      if (RunOnePosted()) continue;
      if (timers_.empty()) throw std::logic_error("FakeEventLoop: RunUntil would wait for ever");
      now_ = std::max(now_, timers_.begin()->first.first);
      FireOneDue();
    }
  }

  // Moves the clock forward, running everything that falls due on the way, in time order.
  void AdvanceBy(std::chrono::milliseconds d) {
    const Clock until = now_ + d;
    for (;;) {
      while (RunOnePosted()) {
      }
      if (timers_.empty() || timers_.begin()->first.first > until) break;
      now_ = timers_.begin()->first.first;
      FireOneDue();
    }
    now_ = until;
  }
  // Runs posted tasks and due timers without moving the clock.
  void Drain() {
    while (RunOnePosted() || FireOneDue()) {
    }
  }

  Clock Now() const { return now_; }
  std::size_t PendingTimers() const { return timers_.size(); }
  // How often the component pumped the loop instead of waiting in RunUntil.

 private:
  bool RunOnePosted() {
    if (posted_.empty()) return false;
    Task t = std::move(posted_.front());
    posted_.pop_front();
    t();
    return true;
  }
  bool FireOneDue() {
    if (timers_.empty() || timers_.begin()->first.first > now_) return false;
    Task t = std::move(timers_.begin()->second);
    timers_.erase(timers_.begin());
    t();
    return true;
  }

  Clock now_{0};
  TimerId last_id_ = 0;
  std::map<std::pair<Clock, TimerId>, Task> timers_;
  std::deque<Task> posted_;
};

}  // namespace qz::testing
