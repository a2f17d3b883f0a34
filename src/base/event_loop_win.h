// The thread's event loop on Windows: one-shot timers and posted tasks on a hidden
// message-only window, and waits that dispatch every message of the thread (the host's
// windows included) and watch the serial ports' event handles. One per thread, no threads.
#pragma once

#include <windows.h>

#include <chrono>
#include <exception>
#include <functional>
#include <map>
#include <vector>

#include "base/event_loop.h"

namespace qz::win {

class WinEventLoop final : public EventLoop {
 public:
  WinEventLoop();
  ~WinEventLoop() override;
  WinEventLoop(const WinEventLoop&) = delete;
  WinEventLoop& operator=(const WinEventLoop&) = delete;

  TimerId AddTimer(std::chrono::milliseconds delay, Task fire) override;
  void CancelTimer(TimerId id) override;
  void Post(Task task) override;
  void RunUntil(const std::function<bool()>& done) override;

  // Calls on_signal on the loop each time the (manual-reset or auto-reset) event is signalled,
  // until unwatched. The callback must reset or re-arm the event.
  void WatchHandle(HANDLE handle, Task on_signal);
  void UnwatchHandle(HANDLE handle);

  // Runs a handler from inside a window procedure. An exception must not cross
  // DispatchMessage, so it is kept here and rethrown once DispatchMessage has returned, on its
  // way to the code that waits in RunUntil (ReadCard's error handling).
  void Guarded(const std::function<void()>& handler) noexcept;

  // Loops alive in the process (their window procedures live in this library).
  static long LiveCount();

 private:
  struct Depth;
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  // Runs one ready event: a signalled handle, else one message. False when nothing was ready.
  bool DispatchOne();
  void RethrowPending();

  HWND hwnd_ = nullptr;
  UINT_PTR last_timer_ = 0;
  std::map<UINT_PTR, Task> timers_;
  std::vector<Task> posted_;  // FIFO; one kTaskMessage per entry
  std::size_t posted_head_ = 0;
  std::vector<std::pair<HANDLE, Task>> handles_;
  std::exception_ptr pending_;
  int depth_ = 0;
  bool quit_seen_ = false;
  int quit_code_ = 0;
};

}  // namespace qz::win
