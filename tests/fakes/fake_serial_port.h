// A serial port on a scripted line, looked up by number in a FakeSerialBus when it is opened:
// an unknown number is error 8002, a line may fail to open or carry a terminal that answers.
// Received bytes go through the real ports' ReceiveBuffer, so the threshold rules are real.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "base/automation_error.h"
#include "link/receive_buffer.h"
#include "link/serial_port.h"
#include "tests/fakes/fake_event_loop.h"

namespace qz::testing {

class FakeSerialPort;

// What is attached to one port number.
struct FakeLine {
  std::int32_t open_error = 0;  // raised by PortOpen = True when non-zero
  // Called with every block the component writes; answers through port.Deliver().
  std::function<void(FakeSerialPort& port, std::span<const std::uint8_t> written)> terminal;
  std::vector<std::vector<std::uint8_t>> written;  // one entry per Output call
  int opens = 0;
};

struct FakeSerialBus {
  std::map<std::int16_t, FakeLine> lines;
  FakeSerialPort* open_port = nullptr;  // the one opened last, while it is open
  int open_count = 0;
};

class FakeSerialPort : public SerialPort {
 public:
  FakeSerialPort(FakeEventLoop& loop, FakeSerialBus& bus) : loop_(loop), bus_(bus) {}
  ~FakeSerialPort() override { SetPortOpen(false); }

  void SetCommPort(std::int16_t port) override {
    if (open_) throw AutomationError(kErrPortAlreadyOpen, kSerialErrorSource, "Port already open");
    port_ = port;
  }
  std::int16_t CommPort() const override { return port_; }

  void SetPortOpen(bool open) override {
    if (!open) {
      if (open_ && bus_.open_port == this) bus_.open_port = nullptr;
      bus_.open_count -= open_ ? 1 : 0;
      open_ = false;
      return;
    }
    if (open_) throw AutomationError(kErrPortAlreadyOpen, kSerialErrorSource, "Port already open");
    auto it = bus_.lines.find(port_);
    if (it == bus_.lines.end())
      throw AutomationError(kErrInvalidPortNumber, kSerialErrorSource, "Invalid port number");
    if (it->second.open_error != 0)
      throw AutomationError(it->second.open_error, kSerialErrorSource, "Port not available");
    line_ = &it->second;
    ++line_->opens;
    open_ = true;
    buffer_.Clear();
    bus_.open_port = this;
    ++bus_.open_count;
  }
  bool PortOpen() const override { return open_; }

  void SetRThreshold(std::int16_t bytes) override {
    if (buffer_.SetThreshold(bytes)) PostNotify();
  }
  std::int16_t RThreshold() const override { return buffer_.Threshold(); }

  void Output(std::span<const std::uint8_t> bytes) override {
    if (!open_) throw AutomationError(kErrPortNotOpen, kSerialErrorSource, "Port is not open");
    line_->written.emplace_back(bytes.begin(), bytes.end());
    if (line_->terminal) line_->terminal(*this, bytes);
  }
  std::vector<std::uint8_t> Input() override { return buffer_.TakeAll(); }
  std::int16_t CommEvent() const override { return kComEvReceive; }
  void SetOnComm(Notify on_comm) override { on_comm_ = std::move(on_comm); }

  // Bytes from the terminal arrive (ignored while the port is closed, as on a real line).
  void Deliver(std::span<const std::uint8_t> bytes) {
    if (open_ && buffer_.Append(bytes)) PostNotify();
  }
  // A port that reports before its threshold is reached.
  void ReportEarly() {
    if (open_ && on_comm_) on_comm_();
  }
  FakeEventLoop& Loop() { return loop_; }

 private:
  // One pending notification at most; it is delivered only if still due when it runs.
  void PostNotify() {
    if (pending_) return;
    pending_ = true;
    loop_.Post([this, alive = std::weak_ptr<bool>(alive_)] {
      if (alive.expired()) return;
      pending_ = false;
      if (open_ && buffer_.Due() && on_comm_) on_comm_();
    });
  }

  FakeEventLoop& loop_;
  FakeSerialBus& bus_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::int16_t port_ = 0;
  bool open_ = false;
  bool pending_ = false;
  FakeLine* line_ = nullptr;
  ReceiveBuffer buffer_;
  Notify on_comm_;
};

}  // namespace qz::testing
