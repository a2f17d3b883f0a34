// An experiment, not the product's port: a POSIX serial port that, while the link waits for N
// more bytes, stops watching the descriptor until N-2 of them can have crossed a 9600 baud line
// and only then listens byte by byte again. The product's port is woken for every byte that
// arrives; this one a few times per block. The benchmark compares the processor time of a read
// through each, to show what such a change would save before anyone makes it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>

#include "app/automation_error.h"
#include "link/receive_buffer.h"
#include "link/serial_port.h"
#include "link/serial_port_posix.h"
#include "ui/event_loop_posix.h"

namespace qz::bench {

class LinePacedPort final : public SerialPort {
 public:
  // One character of 8E1 at 9600 baud.
  static constexpr std::chrono::nanoseconds kByteTime{11'000'000'000LL / 9600};

  explicit LinePacedPort(PosixEventLoop& loop)
      : loop_(loop), alive_(std::make_shared<bool>(true)) {}
  ~LinePacedPort() override {
    *alive_ = false;
    Close();
  }

  void SetCommPort(std::int16_t port) override { port_ = port; }
  std::int16_t CommPort() const override { return port_; }
  void SetPortOpen(bool open) override {
    if (!open) return Close();
    const auto path = PosixPortPath(port_);
    if (!path) throw AutomationError(kErrInvalidPortNumber, kSerialErrorSource, "no port");
    fd_ = ::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw AutomationError(kErrPortNotAvailable, kSerialErrorSource, *path);
    termios t{};
    if (tcgetattr(fd_, &t) == 0) {
      cfmakeraw(&t);
      t.c_cc[VMIN] = 1;
      t.c_cc[VTIME] = 0;
      cfsetispeed(&t, B9600);
      cfsetospeed(&t, B9600);
      tcsetattr(fd_, TCSANOW, &t);
    }
    buffer_.Clear();
    Watch();
  }
  bool PortOpen() const override { return fd_ >= 0; }
  void SetRThreshold(std::int16_t bytes) override {
    if (buffer_.SetThreshold(bytes) && PortOpen()) return PostNotify();
    SleepWhileOnTheLine();
  }
  std::int16_t RThreshold() const override { return buffer_.Threshold(); }
  void Output(std::span<const std::uint8_t> bytes) override {
    if (!PortOpen()) throw AutomationError(kErrPortNotOpen, kSerialErrorSource, "not open");
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && errno == EAGAIN) {
        pollfd p{fd_, POLLOUT, 0};
        poll(&p, 1, 100);
      } else if (!(n < 0 && errno == EINTR)) {
        throw AutomationError(kErrPortNotOpen, kSerialErrorSource, "write failed");
      }
    }
  }
  std::vector<std::uint8_t> Input() override { return buffer_.TakeAll(); }
  std::int16_t CommEvent() const override { return kComEvReceive; }
  void SetOnComm(Notify on_comm) override { on_comm_ = std::move(on_comm); }

 private:
  void Watch() {
    if (watch_ == 0 && fd_ >= 0)
      watch_ = loop_.WatchFd(fd_, POLLIN, [this](short revents) { OnReadable(revents); });
  }
  void Close() {
    if (watch_ != 0) loop_.UnwatchFd(watch_);
    if (timer_ != 0) loop_.CancelTimer(timer_);
    watch_ = timer_ = 0;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    buffer_.Clear();
  }
  void OnReadable(short revents) {
    std::uint8_t bytes[512];
    for (;;) {
      const ssize_t n = read(fd_, bytes, sizeof bytes);
      if (n > 0) {
        buffer_.Append(std::span(bytes, static_cast<std::size_t>(n)));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      break;
    }
    if (revents & (POLLHUP | POLLERR | POLLNVAL)) watch_ = 0;
    if (buffer_.Due()) return PostNotify();
    SleepWhileOnTheLine();
  }
  // The last two bytes are listened for as they come, so a block is never taken late.
  void SleepWhileOnTheLine() {
    if (!PortOpen() || timer_ != 0 || buffer_.Threshold() <= 0) return;
    const std::size_t want = static_cast<std::size_t>(buffer_.Threshold());
    if (buffer_.Size() + 3 > want) return;
    const auto wait = std::chrono::floor<std::chrono::milliseconds>(
        kByteTime * static_cast<long>(want - buffer_.Size() - 2));
    if (wait.count() < 1) return;
    if (watch_ != 0) loop_.UnwatchFd(watch_);
    watch_ = 0;
    timer_ = loop_.AddTimer(wait, [this] {
      timer_ = 0;
      Watch();
    });
  }
  void PostNotify() {
    if (pending_) return;
    pending_ = true;
    loop_.Post([this, alive = std::weak_ptr<bool>(alive_)] {
      if (alive.expired()) return;
      pending_ = false;
      if (PortOpen() && buffer_.Due() && on_comm_) on_comm_();
    });
  }

  PosixEventLoop& loop_;
  std::shared_ptr<bool> alive_;
  std::int16_t port_ = 0;
  int fd_ = -1;
  PosixEventLoop::WatchId watch_ = 0;
  EventLoop::TimerId timer_ = 0;
  bool pending_ = false;
  ReceiveBuffer buffer_;
  Notify on_comm_;
};

}  // namespace qz::bench
