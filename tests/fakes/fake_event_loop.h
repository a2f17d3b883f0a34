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
  using ms = std::chrono::milliseconds;

  TimerId AddTimer(ms delay, Task fire) override {
    timers_.emplace(std::make_pair(now_ + delay, ++last_id_), std::move(fire));
    return last_id_;
  }
  void CancelTimer(TimerId id) override {
    std::erase_if(timers_, [id](const auto& t) { return t.first.second == id; });
  }
  void Post(Task task) override { posted_.push_back(std::move(task)); }

  void RunUntil(const std::function<bool()>& done) override {
    for (int steps = 0; !done(); ++steps) {
      if (steps > 1'000'000) throw std::logic_error("FakeEventLoop: too many events");
      if (RunOne()) continue;
      if (timers_.empty()) throw std::logic_error("FakeEventLoop: RunUntil would wait for ever");
      now_ = std::max(now_, timers_.begin()->first.first);
    }
  }
  // Moves the clock forward, running everything that falls due on the way, in time order;
  // AdvanceBy(0ms) runs what is due now.
  void AdvanceBy(ms d) {
    const ms until = now_ + d;
    for (;;) {
      while (RunOne()) {
      }
      if (timers_.empty() || timers_.begin()->first.first > until) break;
      now_ = timers_.begin()->first.first;
    }
    now_ = until;
  }

  ms Now() const { return now_; }
  std::size_t PendingTimers() const { return timers_.size(); }

 private:
  // A posted task, else a timer due now.
  bool RunOne() {
    Task t;
    if (!posted_.empty()) {
      t = std::move(posted_.front());
      posted_.pop_front();
    } else if (!timers_.empty() && timers_.begin()->first.first <= now_) {
      t = std::move(timers_.begin()->second);
      timers_.erase(timers_.begin());
    } else {
      return false;
    }
    t();
    return true;
  }

  ms now_{0};
  TimerId last_id_ = 0;
  std::map<std::pair<ms, TimerId>, Task> timers_;
  std::deque<Task> posted_;
};

}  // namespace qz::testing
