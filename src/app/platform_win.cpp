// The platform of the Windows COM server: the thread's window-message loop, \\.\COMn ports, the
// Win32 reader window, the user's regional formats and the error log beside the DLL.
#include <windows.h>

#include <memory>
#include <string>

#include "app/platform.h"
#include "base/automation_error.h"
#include "base/event_loop_win.h"
#include "base/module_win.h"
#include "base/raii_win.h"
#include "base/text_win.h"
#include "link/serial_port_win.h"
#include "ui/keyboard_reader_win.h"
#include "ui/reader_view_win.h"

namespace qz {
namespace {

using win::Narrow;

std::string Formatted(bool date) {
  wchar_t buf[128] = {};
  const int n = date ? GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr,
                                       buf, 128, nullptr)
                     : GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, nullptr, nullptr, buf, 128);
  return n > 0 ? Narrow(std::wstring_view(buf, static_cast<std::size_t>(n - 1))) : std::string();
}

// qzCardReader.dll -> qzCardReader.err in the same folder.
std::wstring ErrorLogPath() {
  std::wstring path = win::ModulePath();
  const std::size_t slash = path.find_last_of(L"\\/");
  const std::size_t dot = path.find_last_of(L'.');
  if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) path.resize(dot);
  return path + L".err";
}

class WinPlatform final : public Platform {
 public:
  EventLoop& Loop() override { return loop_; }
  std::unique_ptr<SerialPort> CreateSerialPort() override { return win::MakeWinSerialPort(loop_); }
  std::unique_ptr<ReaderView> CreateReaderView() override { return win::MakeWinReaderView(loop_); }
  std::unique_ptr<KeyboardReader> CreateKeyboardReader() override {
    return CreateWin32KeyboardReader();
  }

  std::string ShortDate() override { return Formatted(true); }
  std::string LongTime() override { return Formatted(false); }

  void AppendErrorLogLine(const std::string& line) override {
    const std::string bytes = win::ToAnsi(line) + "\r\n";
    // Opened for this entry only; other objects and processes append to the same file.
    win::UniqueHandle file(CreateFileW(ErrorLogPath().c_str(), FILE_APPEND_DATA,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file.Valid() ||
        !WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
      throw AutomationError(75, "qzCardReader", "Path/File access error");
    }
  }

 private:
  win::WinEventLoop loop_;
};

}  // namespace

Platform& Platform::Default() {
  // One per thread, since windows and timers belong to the thread that made them. Kept for the
  // thread's life: the loop's window procedure may be called until the thread's windows go.
  thread_local Platform* platform = nullptr;
  if (platform == nullptr) platform = new WinPlatform();
  return *platform;
}

}  // namespace qz
