#include "base/event_loop_win.h"

#include <atomic>
#include <stdexcept>
#include <utility>

#include "base/module_win.h"

namespace qz::win {
namespace {

constexpr wchar_t kClassName[] = L"qzCardReaderEventLoop";
constexpr UINT kTaskMessage = WM_APP + 1;
std::atomic<long> g_live{0};

void RegisterLoopClass() {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefWindowProcW;  // replaced per window once `this` is known
  wc.hInstance = ThisModule();
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);  // fails harmlessly when another loop registered it already
}

}  // namespace

WinEventLoop::WinEventLoop() {
  RegisterLoopClass();
  hwnd_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(),
                          nullptr);
  if (hwnd_ == nullptr) throw std::runtime_error("cannot create the event loop's window");
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WndProc));
  ++g_live;
}

WinEventLoop::~WinEventLoop() {
  for (const auto& [id, task] : timers_) KillTimer(hwnd_, id);
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  DestroyWindow(hwnd_);
  --g_live;
}

long WinEventLoop::LiveCount() {
  return g_live.load();
}

EventLoop::TimerId WinEventLoop::AddTimer(std::chrono::milliseconds delay, Task fire) {
  const UINT_PTR id = ++last_timer_;
  const auto ms =
      static_cast<UINT>(delay.count() < USER_TIMER_MINIMUM ? USER_TIMER_MINIMUM : delay.count());
  if (SetTimer(hwnd_, id, ms, nullptr) == 0) throw std::runtime_error("SetTimer failed");
  timers_.emplace(id, std::move(fire));
  return id;
}

void WinEventLoop::CancelTimer(TimerId id) {
  auto it = timers_.find(static_cast<UINT_PTR>(id));
  if (it == timers_.end()) return;
  KillTimer(hwnd_, it->first);
  timers_.erase(it);
}

void WinEventLoop::Post(Task task) {
  posted_.push_back(std::move(task));
  PostMessageW(hwnd_, kTaskMessage, 0, 0);
}

void WinEventLoop::WatchHandle(HANDLE handle, Task on_signal) {
  UnwatchHandle(handle);
  handles_.emplace_back(handle, std::move(on_signal));
}

void WinEventLoop::UnwatchHandle(HANDLE handle) {
  std::erase_if(handles_, [&](const auto& h) { return h.first == handle; });
}

void WinEventLoop::Guarded(const std::function<void()>& handler) noexcept {
  try {
    handler();
  } catch (...) {
    // Outside a wait there is no one to hand it to: the host's own message loop dispatched
    // this, and it must not see a C++ exception.
    if (depth_ > 0 && !pending_) pending_ = std::current_exception();
  }
}

void WinEventLoop::RethrowPending() {
  if (pending_) std::rethrow_exception(std::exchange(pending_, nullptr));
}

LRESULT CALLBACK WinEventLoop::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<WinEventLoop*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
  if (msg == WM_TIMER) {
    auto it = self->timers_.find(static_cast<UINT_PTR>(wp));
    if (it == self->timers_.end()) {
      KillTimer(hwnd, wp);  // cancelled while its message was queued
      return 0;
    }
    // One-shot: gone before it runs, so the handler may arm a new one.
    KillTimer(hwnd, wp);
    Task fire = std::move(it->second);
    self->timers_.erase(it);
    self->Guarded(fire);
    return 0;
  }
  if (msg == kTaskMessage) {
    if (self->posted_head_ >= self->posted_.size()) return 0;
    Task task = std::move(self->posted_[self->posted_head_++]);
    if (self->posted_head_ == self->posted_.size()) {
      self->posted_.clear();
      self->posted_head_ = 0;
    }
    self->Guarded(task);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

bool WinEventLoop::DispatchOne() {
  if (!handles_.empty()) {
    std::vector<HANDLE> hs;
    for (const auto& h : handles_) hs.push_back(h.first);
    const DWORD r = WaitForMultipleObjects(static_cast<DWORD>(hs.size()), hs.data(), FALSE, 0);
    if (r < WAIT_OBJECT_0 + hs.size()) {
      HANDLE signalled = hs[r - WAIT_OBJECT_0];
      for (auto& [h, task] : handles_) {
        if (h != signalled) continue;
        Task copy = task;  // the callback may unwatch itself
        copy();
        return true;
      }
    }
  }
  MSG msg;
  if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  if (msg.message == WM_QUIT) {
    // The host wants its loop to end: keep the request for it, after this wait.
    quit_seen_ = true;
    quit_code_ = static_cast<int>(msg.wParam);
    return true;
  }
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
  RethrowPending();
  return true;
}

// Marks a wait; leaving the outermost one hands a swallowed WM_QUIT back to the host.
struct WinEventLoop::Depth {
  WinEventLoop& loop;
  explicit Depth(WinEventLoop& l) : loop(l) { ++loop.depth_; }
  ~Depth() {
    if (--loop.depth_ == 0 && loop.quit_seen_) {
      loop.quit_seen_ = false;
      PostQuitMessage(loop.quit_code_);
    }
  }
  Depth(const Depth&) = delete;
  Depth& operator=(const Depth&) = delete;
};

void WinEventLoop::RunUntil(const std::function<bool()>& done) {
  const Depth depth(*this);
  while (!done()) {
    if (DispatchOne()) continue;
    std::vector<HANDLE> hs;
    for (const auto& h : handles_) hs.push_back(h.first);
    MsgWaitForMultipleObjectsEx(static_cast<DWORD>(hs.size()), hs.data(), INFINITE, QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
  }
}

}  // namespace qz::win
