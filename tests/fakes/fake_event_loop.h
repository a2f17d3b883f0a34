// An event loop on a hand-advanced clock. Time moves only when RunUntil has nothing else to do
// (it jumps to the next timer) or when a test calls AdvanceBy, so timer tests are exact.
// A wait with nothing left to happen throws instead of hanging the test.
#pragma once

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
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

  // Posted tasks first, then the earliest timer, the clock jumping to it.
  void RunUntil(const std::function<bool()>& done) override {
    for (int steps = 0; !done(); ++steps) {
      if (steps > 1'000'000) throw std::logic_error("FakeEventLoop: too many events");
      Task t;
      if (!posted_.empty()) {
        t = std::move(posted_.front());
        posted_.pop_front();
      } else if (timers_.empty()) {
        throw std::logic_error("FakeEventLoop: RunUntil would wait for ever");
      } else {
        now_ = std::max(now_, timers_.begin()->first.first);
        t = std::move(timers_.begin()->second);
        timers_.erase(timers_.begin());
      }
      t();
    }
  }
  // Moves the clock forward, running everything that falls due on the way, in time order;
  // AdvanceBy(0ms) runs what is due now.
  void AdvanceBy(ms d) {
    // Shared: after an event that throws, the mark stays behind harmlessly.
    auto reached = std::make_shared<bool>(false);
    AddTimer(d, [reached] { *reached = true; });
    RunUntil([reached] { return *reached; });
  }

  ms Now() const { return now_; }
  std::size_t PendingTimers() const { return timers_.size(); }

 private:
  ms now_{0};
  TimerId last_id_ = 0;
  std::map<std::pair<ms, TimerId>, Task> timers_;
  std::deque<Task> posted_;
};

}  // namespace qz::testing
