// An event loop on a hand-advanced clock. Time moves only when RunUntil has nothing else to do
// (it jumps to the next timer) or when a test calls AdvanceBy, so timer tests are exact:
// nothing fires 1 ms before its time. A wait with nothing left to happen is a test failure,
// reported as an exception instead of a hang.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <stdexcept>
#include <utility>

#include "ui/event_loop.h"

namespace qz::testing {

class FakeEventLoop : public EventLoop {
 public:
  using Clock = std::chrono::milliseconds;

  TimerId AddTimer(std::chrono::milliseconds delay, Task fire) override {
    TimerId id = ++last_id_;
    timers_.emplace(std::make_pair(now_ + delay, id), std::move(fire));
    return id;
  }
  void CancelTimer(TimerId id) override {
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
      if (it->first.second == id) {
        timers_.erase(it);
        return;
      }
    }
  }
  void Post(Task task) override { posted_.push_back(std::move(task)); }

  void RunUntil(const std::function<bool()>& done) override {
    ++run_depth_;
    struct Leave {
      int& depth;
      ~Leave() { --depth; }
    } leave{run_depth_};
    for (std::size_t steps = 0; !done(); ++steps) {
      if (steps > kMaxSteps) throw std::logic_error("FakeEventLoop: too many events");
      if (RunOnePosted()) continue;
      if (timers_.empty()) {
        if (idle_ && idle_()) continue;
        throw std::logic_error("FakeEventLoop: RunUntil would wait for ever");
      }
      now_ = std::max(now_, timers_.begin()->first.first);
      FireOneDue();
    }
  }

  void ProcessPending() override {
    ++pumps_;
    while (RunOnePosted() || FireOneDue()) {
    }
  }

  // Moves the clock forward, running every posted task and every timer that falls due on the
  // way, in time order.
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
  void Drain() { ProcessPending(); }

  Clock Now() const { return now_; }
  std::size_t PendingTimers() const { return timers_.size(); }
  std::size_t PendingTasks() const { return posted_.size(); }
  int RunDepth() const { return run_depth_; }
  std::size_t Pumps() const { return pumps_; }
  // Called by RunUntil when nothing is pending; return true if it made something happen.
  void SetIdleHook(std::function<bool()> idle) { idle_ = std::move(idle); }

 private:
  static constexpr std::size_t kMaxSteps = 1'000'000;

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
  std::function<bool()> idle_;
  int run_depth_ = 0;
  std::size_t pumps_ = 0;
};

}  // namespace qz::testing
