// The thread's event loop on Windows: timer order and cancelling, posted tasks, waits on
// handles, exceptions from window procedures, and a host's WM_QUIT.
#include "ui/event_loop_win.h"

#include <string>
#include <vector>

#include "app/automation_error.h"
#include "check_win.h"

namespace qz::win {
namespace {

using namespace std::chrono_literals;

WIN_TEST("event loop: one-shot timers fire once, in order of their time; cancelled ones never") {
  WinEventLoop loop;
  std::string fired;
  loop.AddTimer(120ms, [&] { fired += "b"; });
  const auto cancelled = loop.AddTimer(60ms, [&] { fired += "x"; });
  loop.AddTimer(30ms, [&] { fired += "a"; });
  loop.CancelTimer(cancelled);
  loop.CancelTimer(9999);  // unknown: ignored
  loop.RunUntil([&] { return fired.size() >= 2; });
  CHECK(fired == "ab");
  // A one-shot timer has gone: a later timer is the next thing to happen.
  loop.AddTimer(50ms, [&] { fired += "c"; });
  loop.RunUntil([&] { return fired.size() >= 3; });
  CHECK(fired == "abc");
}

WIN_TEST("event loop: posted tasks run later, in order, never inside Post") {
  WinEventLoop loop;
  std::vector<int> order;
  loop.Post([&] {
    order.push_back(1);
    loop.Post([&] { order.push_back(3); });
    order.push_back(2);  // the nested task has not run yet
  });
  CHECK(order.empty());
  loop.Post([&] { order.push_back(4); });
  loop.RunUntil([&] { return order.size() == 4; });
  CHECK((order == std::vector<int>{1, 2, 4, 3}));
}

WIN_TEST("event loop: RunUntil tests done before dispatching anything") {
  WinEventLoop loop;
  bool ran = false;
  loop.Post([&] { ran = true; });
  loop.RunUntil([] { return true; });
  CHECK(!ran);
  loop.ProcessPending();  // what is ready runs without a wait
  CHECK(ran);
}

WIN_TEST("event loop: a handler's exception leaves RunUntil, not DispatchMessage") {
  WinEventLoop loop;
  loop.AddTimer(10ms, [] { throw AutomationError(8012, "test", "thrown in WM_TIMER"); });
  // A lost exception would leave the wait running: end it later so the test fails, not hangs.
  bool gave_up = false;
  loop.AddTimer(5000ms, [&] { gave_up = true; });
  std::int32_t caught = 0;
  try {
    loop.RunUntil([&] { return gave_up; });
  } catch (const AutomationError& e) {
    caught = e.Number();
  }
  CHECK_EQ(caught, 8012);
  // The loop carries on afterwards.
  bool later = false;
  loop.Post([&] { later = true; });
  loop.RunUntil([&] { return later; });
  CHECK(later);
}

WIN_TEST("event loop: a watched event handle wakes the wait; unwatched it is left alone") {
  WinEventLoop loop;
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  int signals = 0;
  loop.WatchHandle(event, [&] {
    ++signals;
    ResetEvent(event);
    loop.UnwatchHandle(event);
  });
  loop.AddTimer(20ms, [&] { SetEvent(event); });
  loop.RunUntil([&] { return signals > 0; });
  CHECK_EQ(signals, 1);
  SetEvent(event);
  bool done = false;
  loop.AddTimer(30ms, [&] { done = true; });
  loop.RunUntil([&] { return done; });
  CHECK_EQ(signals, 1);
  CloseHandle(event);
}

WIN_TEST("event loop: a host's WM_QUIT during a wait is handed back after it") {
  WinEventLoop loop;
  bool done = false;
  loop.Post([&] {
    PostQuitMessage(7);
    loop.AddTimer(30ms, [&] { done = true; });
  });
  loop.RunUntil([&] { return done; });
  MSG msg;
  CHECK(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0);
  CHECK_EQ(static_cast<int>(msg.wParam), 7);
}

}  // namespace
}  // namespace qz::win
