// The serial port on Linux: a termios device at 9600 baud 8E1, raw, no flow control, opened
// non-blocking and exclusively, with the receive buffer and threshold notification of the Comm
// control.
//
// Port n is the n-th device of a port list: the list the port is made with; without one, the
// user's QZCARDREADER_PORTS (colon-separated); else the system's serial devices (see
// DefaultPosixPorts). A number past the end of the list is invalid (8002); a number in the list
// whose device is missing or cannot be a serial port is "not present" (8010), so that the port
// search goes on past it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/event_loop_posix.h"
#include "base/unique_fd_posix.h"
#include "link/receive_buffer.h"
#include "link/serial_port.h"

namespace qz {

// The default list from the names in /dev: every /dev/ttyS{n-1} up to the highest present as
// COMn (the built-in ports keep their usual numbers, gaps included), then the USB adapters
// (ttyUSB*, then ttyACM*) in number order.
std::vector<std::string> DefaultPosixPorts(const std::vector<std::string>& dev_names);

// The device path of COMn in ports (empty: the default list as above); nullopt when n is
// outside 1-255 or past the end of the list. The path need not exist ("" for an empty entry).
std::optional<std::string> PosixPortPath(std::int16_t port, const std::vector<std::string>& ports);

class PosixSerialPort : public SerialPort {
 public:
  PosixSerialPort(PosixEventLoop& loop, std::vector<std::string> ports);
  ~PosixSerialPort() override;
  PosixSerialPort(const PosixSerialPort&) = delete;
  PosixSerialPort& operator=(const PosixSerialPort&) = delete;

  void SetCommPort(std::int16_t port) override;
  std::int16_t CommPort() const override { return port_; }
  void SetPortOpen(bool open) override;
  bool PortOpen() const override { return fd_.Valid(); }
  void SetRThreshold(std::int16_t bytes) override;
  std::int16_t RThreshold() const override { return buffer_.Threshold(); }
  void Output(std::span<const std::uint8_t> bytes) override;
  std::vector<std::uint8_t> Input() override;
  std::int16_t CommEvent() const override { return kComEvReceive; }
  void SetOnComm(Notify on_comm) override { on_comm_ = std::move(on_comm); }

 private:
  void Open();
  void Close();
  void OnReadable(short revents);
  void PostNotify();

  PosixEventLoop& loop_;
  // Expires with the port, so that a notification posted before cannot reach a destroyed port.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::vector<std::string> ports_;
  std::int16_t port_ = 0;
  UniqueFd fd_;
  std::string path_;
  PosixEventLoop::WatchId watch_ = 0;
  bool pending_ = false;
  ReceiveBuffer buffer_;
  Notify on_comm_;
};

}  // namespace qz
