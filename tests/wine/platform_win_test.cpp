// The Windows platform layer where the script tests cannot reach it: the event loop's order of
// timers and tasks, exceptions from its handlers and a host's WM_QUIT; the reader window's
// style, modality, keys and close requests. A plain program run under
// Wine (no test framework is cross-built here): prints each failed check, exits 1 if there was one.
#include <windows.h>

#include <objbase.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "base/automation_error.h"
#include "base/event_loop_win.h"
#include "ui/reader_view_win.h"

namespace qz::win {
namespace {

using namespace std::chrono_literals;

int g_failures = 0;
void Check(bool ok, const char* what, int line) {
  if (!ok) std::printf("    line %d: %s\n", line, what);
  g_failures += ok ? 0 : 1;
}
#define CHECK(cond) Check((cond), #cond, __LINE__)

template <class F>
std::int32_t ErrorOf(F&& f) {
  try {
    f();
  } catch (const AutomationError& e) {
    return e.Number();
  }
  return 0;
}

void TimersAndTasksInOrder() {
  WinEventLoop loop;
  std::string fired;
  loop.AddTimer(120ms, [&] { fired += "b"; });
  const auto cancelled = loop.AddTimer(60ms, [&] { fired += "x"; });
  loop.AddTimer(30ms, [&] { fired += "a"; });
  loop.CancelTimer(cancelled);
  loop.RunUntil([&] { return fired.size() >= 2; });
  // A one-shot timer has gone: a later timer is the next thing to happen.
  loop.AddTimer(50ms, [&] { fired += "c"; });
  loop.RunUntil([&] { return fired.size() >= 3; });
  CHECK(fired == "abc");

  fired.clear();
  loop.Post([&] {
    fired += "1";
    loop.Post([&] { fired += "3"; });
    fired += "2";  // the nested task has not run yet
  });
  loop.Post([&] { fired += "4"; });
  loop.RunUntil([] { return true; });  // done is tested before anything is dispatched
  CHECK(fired.empty());
  loop.RunUntil([&] { return fired.size() == 4; });
  CHECK(fired == "1243");
}

void HandlerExceptionLeavesRunUntil() {
  WinEventLoop loop;
  loop.AddTimer(10ms, [] { throw AutomationError(8012, "test", "thrown in WM_TIMER"); });
  // A lost exception would leave the wait running: end it later so the test fails, not hangs.
  bool gave_up = false;
  loop.AddTimer(5000ms, [&] { gave_up = true; });
  CHECK(ErrorOf([&] { loop.RunUntil([&] { return gave_up; }); }) == 8012);
  bool later = false;  // the loop carries on afterwards
  loop.Post([&] { later = true; });
  loop.RunUntil([&] { return later; });
  CHECK(later);
}

void HostQuitIsHandedBack() {
  WinEventLoop loop;
  bool done = false;
  loop.Post([&] {
    PostQuitMessage(7);
    loop.AddTimer(30ms, [&] { done = true; });
  });
  loop.RunUntil([&] { return done; });
  MSG msg;
  CHECK(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0 && msg.wParam == 7);
}

void ReaderWindow() {
  struct Recorder : ReaderViewListener {
    std::vector<UnloadMode> closes;
    int cancels = 0;
    void CancelClicked() override { ++cancels; }
    void CloseRequested(UnloadMode mode) override { closes.push_back(mode); }
  } recorder;
  WinEventLoop loop;
  HWND host = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200,
                              100, nullptr, nullptr, nullptr, nullptr);
  auto view = MakeWinReaderView(loop);
  view->SetListener(&recorder);
  const auto find = [] { return FindWindowW(L"qzCardReaderKVKUI", nullptr); };
  CHECK(!view->Visible() && find() == nullptr);  // made when first shown
  view->Show(true);
  HWND hwnd = find();
  CHECK(view->Visible() && hwnd != nullptr);
  CHECK((GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0);
  CHECK((GetWindowLongW(hwnd, GWL_STYLE) & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME)) == 0);
  // Modal: the thread's other windows take no input until it is hidden or destroyed.
  CHECK(!IsWindowEnabled(host) && IsWindowEnabled(hwnd));
  // "Abbruch" has the focus: Space, Enter and Escape press it. Disabled (a keyboard read), it has
  // no focus and Escape does nothing.
  CHECK(GetFocus() == FindWindowExW(hwnd, nullptr, L"BUTTON", nullptr));
  const auto press = [&](BYTE key) {
    keybd_event(key, 0, 0, 0);
    keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
    bool idle = false;  // a timer's turn comes once the keys queued before it are dispatched
    loop.AddTimer(1ms, [&] { idle = true; });
    loop.RunUntil([&] { return idle; });
  };
  for (BYTE key : {VK_SPACE, VK_RETURN, VK_ESCAPE}) press(key);
  CHECK(recorder.cancels == 3);
  view->Hide();
  CHECK(IsWindowEnabled(host));
  view->SetCancelEnabled(false);
  view->Show(true);
  press(VK_ESCAPE);
  CHECK(recorder.cancels == 3);
  // The close box and session end are reported; the owner decides whether the window goes.
  SendMessageW(hwnd, WM_CLOSE, 0, 0);
  SendMessageW(hwnd, WM_QUERYENDSESSION, 0, 0);
  CHECK((recorder.closes == std::vector{UnloadMode::kUserClose, UnloadMode::kSessionEnd}));
  CHECK(IsWindow(hwnd));
  view->Destroy();
  CHECK(find() == nullptr && IsWindowEnabled(host));
  view->Show(true);  // unloaded for good
  CHECK(!view->Visible());
  DestroyWindow(host);
}

}  // namespace
}  // namespace qz::win

int main() {
  using namespace qz::win;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // the apartment a host's thread has
  for (auto* body : {TimersAndTasksInOrder, HandlerExceptionLeavesRunUntil, HostQuitIsHandedBack,
                     ReaderWindow}) {
    try {
      body();
    } catch (const std::exception& e) {
      Check(false, e.what(), 0);
    }
  }
  CoUninitialize();
  return g_failures == 0 ? 0 : 1;
}
