// The serial port on Linux: a termios device at 9600 baud 8E1, raw, no flow control, opened
// non-blocking and exclusively, with the receive buffer and threshold notification of the Comm
// control. Port n is the n-th path of the list the port is made with; without one, the n-th
// path of the user's QZCARDREADER_PORTS (colon-separated), or else /dev/ttyS{n-1}.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/event_loop_posix.h"
#include "link/receive_buffer.h"
#include "link/serial_port.h"

namespace qz {

// The device path of COMn: the n-th of ports, or when ports is empty the default as above;
// nullopt when n names no port.
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
  bool PortOpen() const override { return fd_ >= 0; }
  void SetRThreshold(std::int16_t bytes) override;
  std::int16_t RThreshold() const override { return buffer_.Threshold(); }
  void Output(std::span<const std::uint8_t> bytes) override;
  std::vector<std::uint8_t> Input() override;
  std::int16_t CommEvent() const override { return kComEvReceive; }
  void SetOnComm(Notify on_comm) override { on_comm_ = std::move(on_comm); }

  // The peer hung up (or the device went away) while the port was open; nothing more arrives.
  bool HungUp() const { return hung_up_; }
  // The path the port was opened on ("" while closed).
  const std::string& DevicePath() const { return path_; }
  // Asleep while a block's rest is still on the line (the descriptor is not watched meanwhile).
  bool SleepingOnTheLine() const { return line_timer_ != 0; }

 private:
  void Open();
  void Close();
  void OnReadable(short revents);
  bool ReadWaiting();
  void Listen();
  void SleepOnTheLine();
  void WakeUp();
  void PostNotify();

  PosixEventLoop& loop_;
  std::shared_ptr<bool> alive_;
  std::vector<std::string> ports_;
  std::int16_t port_ = 0;
  int fd_ = -1;
  std::string path_;
  PosixEventLoop::WatchId watch_ = 0;
  EventLoop::TimerId line_timer_ = 0;
  PosixEventLoop::Clock::time_point last_read_{};  // when bytes last came from the driver
  bool hung_up_ = false;
  bool pending_ = false;
  ReceiveBuffer buffer_;
  Notify on_comm_;
};

}  // namespace qz
