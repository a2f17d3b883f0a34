// The reader window: what it reports to its listener and how it makes itself modal.
#include "ui/reader_view_win.h"

#include <windows.h>

#include <vector>

#include "check_win.h"

namespace qz::win {
namespace {

struct Recorder : ReaderViewListener {
  int cancels = 0;
  std::vector<UnloadMode> closes;
  void CancelClicked() override { ++cancels; }
  void CloseRequested(UnloadMode mode) override { closes.push_back(mode); }
};

HWND FindReaderWindow() {
  return FindWindowW(L"qzCardReaderKVKUI", nullptr);
}

WIN_TEST("reader window: made when shown, with its caption; gone when destroyed") {
  WinEventLoop loop;
  auto view = MakeWinReaderView(loop);
  CHECK(!view->Visible());
  CHECK(FindReaderWindow() == nullptr);
  view->Show(false);
  CHECK(view->Visible());
  HWND hwnd = FindReaderWindow();
  CHECK(hwnd != nullptr);
  wchar_t caption[64] = {};
  GetWindowTextW(hwnd, caption, 64);
  CHECK(std::wstring(caption) == L"KVK Kartenleseger\u00e4t...");
  CHECK((GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0);
  CHECK((GetWindowLongW(hwnd, GWL_STYLE) & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME)) == 0);
  view->Destroy();
  CHECK(FindReaderWindow() == nullptr);
  view->Show(true);  // unloaded for good
  CHECK(!view->Visible());
}

WIN_TEST("reader window: Abbruch, the close box and session end reach the listener") {
  WinEventLoop loop;
  Recorder recorder;
  auto view = MakeWinReaderView(loop);
  view->SetListener(&recorder);
  view->Show(false);
  HWND hwnd = FindReaderWindow();
  HWND cancel = FindWindowExW(hwnd, nullptr, L"BUTTON", L"Abbruch");
  CHECK(cancel != nullptr);
  SendMessageW(cancel, BM_CLICK, 0, 0);
  CHECK_EQ(recorder.cancels, 1);
  SendMessageW(hwnd, WM_CLOSE, 0, 0);
  SendMessageW(hwnd, WM_QUERYENDSESSION, 0, 0);
  CHECK_EQ(recorder.closes.size(), 2u);
  if (recorder.closes.size() == 2) {
    CHECK(recorder.closes[0] == UnloadMode::kUserClose);
    CHECK(recorder.closes[1] == UnloadMode::kSessionEnd);
  }
  CHECK(IsWindow(hwnd));  // the owner decides whether the window goes
  view->SetCancelEnabled(false);
  CHECK(!IsWindowEnabled(cancel));
  view->Destroy();
  CHECK_EQ(recorder.cancels, 1);
}

WIN_TEST("reader window: modal disables the thread's other windows until hidden") {
  WinEventLoop loop;
  HWND host = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200,
                              100, nullptr, nullptr, nullptr, nullptr);
  auto view = MakeWinReaderView(loop);
  view->Show(true);
  CHECK(!IsWindowEnabled(host));
  CHECK(IsWindowEnabled(FindReaderWindow()));
  view->Hide();
  CHECK(IsWindowEnabled(host));
  view->Show(true);
  CHECK(!IsWindowEnabled(host));
  view.reset();  // destroying it gives the host its input back as well
  CHECK(IsWindowEnabled(host));
  DestroyWindow(host);
}

WIN_TEST("reader window: texts set before it is shown appear in it") {
  WinEventLoop loop;
  auto view = MakeWinReaderView(loop);
  view->SetTitle("KVK Kartenleseger\xC3\xA4t an Port 12");
  view->SetMessage("Resync...");
  view->SetCancelEnabled(false);
  view->Show(false);
  HWND hwnd = FindReaderWindow();
  HWND title = FindWindowExW(hwnd, nullptr, L"STATIC", L"KVK Kartenleseger\u00e4t an Port 12");
  HWND message = FindWindowExW(hwnd, nullptr, L"STATIC", L"Resync...");
  HWND cancel = FindWindowExW(hwnd, nullptr, L"BUTTON", L"Abbruch");
  CHECK(title != nullptr);
  CHECK(message != nullptr);
  CHECK(cancel != nullptr && !IsWindowEnabled(cancel));
  view->SetMessage("");
  wchar_t text[32] = {L'x'};
  GetWindowTextW(message, text, 32);
  CHECK(text[0] == L'\0');
}

}  // namespace
}  // namespace qz::win
