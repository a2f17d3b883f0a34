// Arbitrary bytes in arbitrary pieces into a frmComm whose owner sends the next command from
// inside every event. Input: a list of steps; a step's first byte says what happens:
//   0xFF         the clock moves 500 ms (the alarm may fire)
//   0xFE         a notification with whatever is waiting (a port that reports early)
//   n < 0xFE     the next n % 64 bytes arrive on the line, then the loop runs
// The link must never read out of range, never write a command more than twice, and be in a
// consistent state whenever it raises an event.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>

#include "link/frm_comm.h"
#include "tests/fakes/fake_event_loop.h"
#include "tests/fakes/fake_serial_port.h"

namespace {

using qz::testing::FakeEventLoop;
using qz::testing::FakeSerialBus;
using qz::testing::FakeSerialPort;

void Check(bool ok) {
  if (!ok) std::abort();
}

class Owner : public qz::frmCommEvents {
 public:
  qz::frmComm* link = nullptr;
  qz::testing::FakeLine* line = nullptr;
  std::size_t blocks_reported = 0;  // CommandReceived and WTXResynchCompleted

  void Send(qz::CmdType cmd) {
    CheckAtMostOneResend();
    link->SendCommand(cmd);
    writes_at_send_ = line->written.size();
  }
  // Since the last command, the line has seen at most its single re-send, the same block again.
  void CheckAtMostOneResend() const {
    const std::size_t since = line->written.size() - writes_at_send_;
    Check(since <= 1);
    if (since == 1) Check(line->written.back() == line->written[writes_at_send_ - 1]);
  }

  void CommandReceived(std::string, qz::CmdType CMD) override {
    CheckIdle();
    Check(CMD >= qz::CMD_ResetCT && CMD <= qz::CMD_EjectICC);
    ++blocks_reported;
    // Walk through the command set, as the dialogue does.
    Send(CMD % 6 + 1);
  }
  void WTXResynchCompleted(std::int32_t& CmdType) override {
    CheckIdle();
    Check(CmdType == 1);
    ++blocks_reported;
    Send(qz::CMD_ResetCT);
  }
  void TimeReached(std::string& Key) override {
    Check(Key == "RESYNC");
    Send(qz::CMD_Resynch);
    link->StartTimer("RESYNC", 800);
  }

 private:
  std::size_t writes_at_send_ = 0;

  // Events come only from a link back in its start state.
  void CheckIdle() { Check(link->COMM().RThreshold() == 3); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FakeEventLoop loop;
  FakeSerialBus bus;
  bus.Line(1);
  Owner owner;
  auto port_owner = std::make_unique<FakeSerialPort>(loop, bus);
  FakeSerialPort* port = port_owner.get();
  qz::frmComm link(loop, std::move(port_owner), owner);
  owner.link = &link;
  owner.line = &bus.Line(1);
  link.COMM().SetCommPort(1);
  link.COMM().SetPortOpen(true);
  owner.Send(qz::CMD_Resynch);
  link.StartTimer("RESYNC", 800);

  std::size_t delivered = 0;
  const std::span<const std::uint8_t> in(data, size);
  for (std::size_t i = 0; i < in.size();) {
    const std::uint8_t op = in[i++];
    if (op == 0xFF) {
      loop.AdvanceBy(std::chrono::milliseconds(500));
    } else if (op == 0xFE) {
      link.COMM_OnComm();
      loop.Drain();
    } else {
      const std::size_t n = std::min<std::size_t>(op % 64, in.size() - i);
      port->Deliver(in.subspan(i, n));
      i += n;
      delivered += n;
      loop.Drain();
    }
    // A command is written at most twice, the second time as it was the first.
    owner.CheckAtMostOneResend();
    // Every event stands for a block of its own, at least 4 bytes.
    Check(owner.blocks_reported * 4 <= delivered);
    // The threshold never asks for more than a block's rest.
    const std::int16_t threshold = link.COMM().RThreshold();
    Check(threshold >= 1 && threshold <= 256);
  }
  return 0;
}
