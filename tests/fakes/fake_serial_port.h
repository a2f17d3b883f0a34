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
  // Called with every block the component writes; answers through port->Deliver().
  std::function<void(std::span<const std::uint8_t> written)> terminal;
  std::vector<std::vector<std::uint8_t>> written;  // one entry per Output call
  int opens = 0;
  FakeSerialPort* port = nullptr;  // the port open on this line
};
using FakeSerialBus = std::map<std::int16_t, FakeLine>;

class FakeSerialPort : public SerialPort {
 public:
  FakeSerialPort(FakeEventLoop& loop, FakeSerialBus& bus) : loop_(loop), bus_(bus) {}
  ~FakeSerialPort() override { SetPortOpen(false); }

  void SetCommPort(std::int16_t port) override {
    if (line_) throw AutomationError(kErrPortAlreadyOpen, kSerialErrorSource, "Port already open");
    port_ = port;
  }
  std::int16_t CommPort() const override { return port_; }

  void SetPortOpen(bool open) override {
    if (!open) {
      if (line_) line_->port = nullptr;
      line_ = nullptr;
      return;
    }
    if (line_) throw AutomationError(kErrPortAlreadyOpen, kSerialErrorSource, "Port already open");
    auto it = bus_.find(port_);
    if (it == bus_.end())
      throw AutomationError(kErrInvalidPortNumber, kSerialErrorSource, "Invalid port number");
    if (it->second.open_error != 0)
      throw AutomationError(it->second.open_error, kSerialErrorSource, "Port not available");
    line_ = &it->second;
    ++line_->opens;
    line_->port = this;
    buffer_.Clear();
  }
  bool PortOpen() const override { return line_ != nullptr; }

  void SetRThreshold(std::int16_t bytes) override {
    if (buffer_.SetThreshold(bytes)) PostNotify();
  }
  std::int16_t RThreshold() const override { return buffer_.Threshold(); }

  void Output(std::span<const std::uint8_t> bytes) override {
    if (!line_) throw AutomationError(kErrPortNotOpen, kSerialErrorSource, "Port is not open");
    line_->written.emplace_back(bytes.begin(), bytes.end());
    if (line_->terminal) line_->terminal(bytes);
  }
  std::vector<std::uint8_t> Input() override { return buffer_.TakeAll(); }
  std::int16_t CommEvent() const override { return kComEvReceive; }
  void SetOnComm(Notify on_comm) override { on_comm_ = std::move(on_comm); }

  // Bytes from the terminal arrive.
  void Deliver(std::span<const std::uint8_t> bytes) {
    if (buffer_.Append(bytes)) PostNotify();
  }
  // A port that reports before its threshold is reached.
  void ReportEarly() {
    if (on_comm_) on_comm_();
  }

 private:
  // One pending notification at most; it is delivered only if still due when it runs.
  void PostNotify() {
    if (pending_) return;
    pending_ = true;
    loop_.Post([this, alive = std::weak_ptr<bool>(alive_)] {
      if (alive.expired()) return;
      pending_ = false;
      if (line_ && buffer_.Due() && on_comm_) on_comm_();
    });
  }

  FakeEventLoop& loop_;
  FakeSerialBus& bus_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::int16_t port_ = 0;
  bool pending_ = false;
  FakeLine* line_ = nullptr;  // while open
  ReceiveBuffer buffer_;
  Notify on_comm_;
};

}  // namespace qz::testing
