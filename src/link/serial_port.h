// The serial port the link talks through: a numbered port that is selected and opened with
// fixed line settings (9600 baud, 8 data bits, even parity, 1 stop bit, binary), written whole,
// read by taking all waiting bytes, with a receive notification when the waiting bytes reach a
// settable threshold. Linux and Windows each implement it; the tests fake it.
//
// Failures are raised as AutomationError with the numbers below, the ones Windows hosts know
// from serial ports. Only 8002 is interpreted by the component (it ends the port search);
// every other number passes through.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace qz {

inline constexpr std::int32_t kErrInvalidPortNumber = 8002;
inline constexpr std::int32_t kErrPortAlreadyOpen = 8005;
inline constexpr std::int32_t kErrPortNotAvailable = 8010;  // missing hardware, or in use
inline constexpr std::int32_t kErrPortNotOpen = 8012;
inline constexpr std::int32_t kErrCannotSetLine = 8015;
inline constexpr char kSerialErrorSource[] = "qzCardReader.Serial";

// One character of the fixed line settings (start, 8 data, parity, stop bit) at 9600 baud.
inline constexpr std::chrono::nanoseconds kByteTime{11'000'000'000LL / 9600};

// CommEvent code of a receive notification.
inline constexpr std::int16_t kComEvReceive = 2;

class SerialPort {
 public:
  using Notify = std::function<void()>;

  virtual ~SerialPort() = default;

  // CommPort: selecting a number that cannot name a port raises 8002 (here or when opening).
  // Selecting while the port is open raises 8005.
  virtual void SetCommPort(std::int16_t port) = 0;
  virtual std::int16_t CommPort() const = 0;

  // PortOpen: True opens the selected port with the fixed line settings, emptying the receive
  // buffer; False closes it. Closing a closed port does nothing; opening an open one raises 8005.
  virtual void SetPortOpen(bool open) = 0;
  virtual bool PortOpen() const = 0;

  // RThreshold: the notification is posted when the waiting bytes reach it (0 = never).
  virtual void SetRThreshold(std::int16_t bytes) = 0;
  virtual std::int16_t RThreshold() const = 0;

  // Output: writes all bytes, in order. Raises 8012 when the port is not open.
  virtual void Output(std::span<const std::uint8_t> bytes) = 0;
  // Input: all waiting bytes, removed from the buffer (empty when none or closed).
  virtual std::vector<std::uint8_t> Input() = 0;
  // CommEvent: code of the notification being delivered (kComEvReceive).
  virtual std::int16_t CommEvent() const = 0;

  // OnComm: called on the event loop, never from inside a call on this port. After the port
  // is destroyed no notification is delivered.
  virtual void SetOnComm(Notify on_comm) = 0;
};

}  // namespace qz
