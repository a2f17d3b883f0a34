#include "link/serial_port_win.h"

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "base/automation_error.h"
#include "base/raii_win.h"
#include "link/receive_buffer.h"

namespace qz::win {
namespace {

// The texts hosts know for these numbers from other serial components, so that their error
// handling keeps working.
constexpr char kInvalidPort[] = "Invalid port number";
constexpr char kAlreadyOpen[] = "Port already open";
constexpr char kNotAvailable[] = "The device is not available";
constexpr char kNotOpen[] = "Port is not open";
constexpr char kCannotSet[] =
    "Could not set comm state, there may be one or more invalid "
    "communications parameters";
// COM1 .. COM255: the numbers hosts may set.
constexpr std::int16_t kMaxPort = 255;

[[noreturn]] void Raise(std::int32_t number, const std::string& text, DWORD win32 = 0) {
  std::string description = text;
  if (win32 != 0) description += " (Windows error " + std::to_string(win32) + ")";
  throw AutomationError(number, kSerialErrorSource, description);
}

// The highest n for which the system has the DOS device name COMn, 0 when it has none. \\.\COMn
// is opened through these names, so they cover every kind of port (including virtual ones whose
// drivers leave HARDWARE\DEVICEMAP\SERIALCOMM alone), and Wine lists its mapped ports here too.
int HighestPresentPort() {
  std::vector<wchar_t> names(32768);
  while (QueryDosDeviceW(nullptr, names.data(), static_cast<DWORD>(names.size())) == 0) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || names.size() >= (1u << 22)) return 0;
    names.resize(names.size() * 2);
  }
  int highest = 0;
  for (const wchar_t* name = names.data(); *name != 0; name += std::wcslen(name) + 1) {
    if (_wcsnicmp(name, L"COM", 3) != 0) continue;
    wchar_t* end = nullptr;
    const long n = std::wcstol(name + 3, &end, 10);
    if (*end == 0 && n > highest && n <= kMaxPort) highest = static_cast<int>(n);
  }
  return highest;
}

// A number the system has no device for. Numbers above its highest port are invalid, which ends
// a port search; a gap below it (a laptop whose USB adapter is COM3, with no COM1 or COM2) is
// only unavailable, so the search goes on to the ports above.
[[noreturn]] void RaiseNoDevice(std::int16_t port) {
  if (port > HighestPresentPort()) Raise(kErrInvalidPortNumber, kInvalidPort);
  Raise(kErrPortNotAvailable, "Port not present on this computer: COM" + std::to_string(port));
}

class WinSerialPort final : public SerialPort {
 public:
  explicit WinSerialPort(WinEventLoop& loop) : loop_(loop) {}
  ~WinSerialPort() override { Close(); }
  WinSerialPort(const WinSerialPort&) = delete;
  WinSerialPort& operator=(const WinSerialPort&) = delete;

  void SetCommPort(std::int16_t port) override {
    if (Open()) Raise(kErrPortAlreadyOpen, kAlreadyOpen);
    if (port < 1 || port > kMaxPort) Raise(kErrInvalidPortNumber, kInvalidPort);
    port_ = port;
  }
  std::int16_t CommPort() const override { return port_; }

  void SetPortOpen(bool open) override {
    if (!open) {
      Close();
      return;
    }
    if (Open()) Raise(kErrPortAlreadyOpen, kAlreadyOpen);
    if (port_ < 1) Raise(kErrInvalidPortNumber, kInvalidPort);
    DoOpen();
  }
  bool PortOpen() const override { return Open(); }

  void SetRThreshold(std::int16_t bytes) override {
    if (buffer_.SetThreshold(bytes)) ScheduleNotify();
  }
  std::int16_t RThreshold() const override { return buffer_.Threshold(); }

  void Output(std::span<const std::uint8_t> bytes) override {
    if (!Open()) Raise(kErrPortNotOpen, kNotOpen);
    OVERLAPPED ov = {};
    ov.hEvent = write_event_.Get();
    ResetEvent(ov.hEvent);
    DWORD written = 0;
    BOOL ok = WriteFile(file_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &ov);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
      // A block of a few bytes at 9600 baud: the wait is bounded by the line, not by the peer.
      ok = GetOverlappedResult(file_.Get(), &ov, &written, TRUE);
    } else if (ok) {
      ok = GetOverlappedResult(file_.Get(), &ov, &written, FALSE);
    }
    if (!ok) Raise(kErrPortNotAvailable, kNotAvailable, GetLastError());
  }

  std::vector<std::uint8_t> Input() override { return buffer_.TakeAll(); }
  std::int16_t CommEvent() const override { return kComEvReceive; }
  void SetOnComm(Notify on_comm) override { on_comm_ = std::move(on_comm); }

 private:
  bool Open() const { return file_.Valid(); }

  void DoOpen() {
    const std::wstring name = L"\\\\.\\COM" + std::to_wstring(port_);
    UniqueHandle file(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!file.Valid()) {
      const DWORD err = GetLastError();
      if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) RaiseNoDevice(port_);
      Raise(kErrPortNotAvailable, kNotAvailable, err);
    }
    SetupComm(file.Get(), 4096, 4096);
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(file.Get(), &dcb)) {
      const DWORD err = GetLastError();
      // Wine keeps a number whose mapping points nowhere (an empty one, an adapter unplugged
      // since Wine started): it opens, but no serial driver is behind it.
      if (err == ERROR_INVALID_FUNCTION) RaiseNoDevice(port_);
      Raise(kErrCannotSetLine, kCannotSet, err);
    }
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    // The terminal is powered from these lines on some models: keep them raised.
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (!SetCommState(file.Get(), &dcb)) Raise(kErrCannotSetLine, kCannotSet, GetLastError());
    // Reads return at once with whatever is waiting; waiting is WaitCommEvent's job.
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 0, 0};
    SetCommTimeouts(file.Get(), &timeouts);
    SetCommMask(file.Get(), EV_RXCHAR);
    PurgeComm(file.Get(), PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);

    wait_event_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    read_event_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    write_event_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!wait_event_.Valid() || !read_event_.Valid() || !write_event_.Valid())
      Raise(kErrPortNotAvailable, kNotAvailable, GetLastError());

    file_ = std::move(file);
    buffer_.Clear();
    loop_.WatchHandle(wait_event_.Get(), [this] { OnWaitSignalled(); });
    ArmWait();
  }

  void Close() {
    if (!Open()) return;
    loop_.UnwatchHandle(wait_event_.Get());
    // Completes the pending WaitCommEvent; its OVERLAPPED must not be freed before that.
    SetCommMask(file_.Get(), 0);
    if (wait_pending_) {
      CancelIo(file_.Get());
      DWORD ignored = 0;
      GetOverlappedResult(file_.Get(), &wait_ov_, &ignored, TRUE);
      wait_pending_ = false;
    }
    file_.Reset();
    buffer_.Clear();
  }

  // Starts waiting for received bytes; drains what is already there first and again after
  // arming, so a byte that arrives between the two is never left unnoticed.
  void ArmWait() {
    for (;;) {
      Drain();
      if (!Open()) return;
      wait_ov_ = {};
      wait_ov_.hEvent = wait_event_.Get();
      ResetEvent(wait_event_.Get());
      wait_mask_ = 0;
      if (WaitCommEvent(file_.Get(), &wait_mask_, &wait_ov_)) continue;  // already an event
      if (GetLastError() != ERROR_IO_PENDING) {
        // The line is gone: stop watching it (Close tidies up) rather than spin on it.
        loop_.UnwatchHandle(wait_event_.Get());
        return;
      }
      wait_pending_ = true;
      Drain();
      return;
    }
  }

  void OnWaitSignalled() {
    if (!Open()) return;
    DWORD ignored = 0;
    GetOverlappedResult(file_.Get(), &wait_ov_, &ignored, FALSE);
    wait_pending_ = false;
    ArmWait();
  }

  // Takes every byte the driver holds into the receive buffer. Only what the driver reports
  // waiting is read, so the read never has to wait (Wine's overlapped reads on a serial line
  // with no data may stay pending whatever the timeouts say).
  void Drain() {
    std::uint8_t chunk[512];
    for (;;) {
      DWORD errors = 0;
      COMSTAT stat = {};
      if (!ClearCommError(file_.Get(), &errors, &stat) || stat.cbInQue == 0) return;
      const DWORD want = stat.cbInQue < sizeof chunk ? stat.cbInQue : sizeof chunk;
      OVERLAPPED ov = {};
      ov.hEvent = read_event_.Get();
      ResetEvent(ov.hEvent);
      DWORD got = 0;
      BOOL ok = ReadFile(file_.Get(), chunk, want, nullptr, &ov);
      if (ok || GetLastError() == ERROR_IO_PENDING) {
        ok = GetOverlappedResult(file_.Get(), &ov, &got, TRUE);
      }
      if (!ok || got == 0) return;
      if (buffer_.Append(std::span<const std::uint8_t>(chunk, got))) ScheduleNotify();
    }
  }

  // OnComm runs from the loop, never inside a call on this port; at most one is pending, and
  // it is delivered only if the threshold is still met when its turn comes.
  void ScheduleNotify() {
    if (notify_pending_) return;
    notify_pending_ = true;
    loop_.Post([this, alive = std::weak_ptr<bool>(alive_)] {
      if (alive.expired()) return;
      notify_pending_ = false;
      if (Open() && buffer_.Due() && on_comm_) on_comm_();
    });
  }

  WinEventLoop& loop_;
  // Expires with the port, so that a notification posted before cannot reach a destroyed port.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::int16_t port_ = 0;
  UniqueHandle file_;
  UniqueHandle wait_event_;
  UniqueHandle read_event_;
  UniqueHandle write_event_;
  OVERLAPPED wait_ov_ = {};
  DWORD wait_mask_ = 0;
  bool wait_pending_ = false;
  bool notify_pending_ = false;
  ReceiveBuffer buffer_;
  Notify on_comm_;
};

}  // namespace

std::unique_ptr<SerialPort> MakeWinSerialPort(WinEventLoop& loop) {
  return std::make_unique<WinSerialPort>(loop);
}

}  // namespace qz::win
