// A card terminal on one line of a FakeSerialBus: it confirms a RESYNCH after a set delay (or
// never) and answers each command with its next scripted reply. Replies arrive one byte per
// millisecond on the loop's clock, so the link assembles blocks as on a real line, and only
// while the port is open.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "link/cmd_type.h"
#include "link/t1_block.h"
#include "tests/fakes/fake_serial_port.h"

namespace qz::testing {

struct TerminalReply {
  t1::Bytes inf;                       // data, then SW1 SW2, as one I-block
  std::chrono::milliseconds delay{5};  // until the last byte has arrived, from the command's write
  t1::Bytes raw;                       // when not empty: this block instead of an I-block
};                                     // neither: no answer at all

inline TerminalReply Sw(int sw, std::chrono::milliseconds delay = std::chrono::milliseconds(5)) {
  TerminalReply reply;
  reply.inf = {static_cast<std::uint8_t>(sw >> 8), static_cast<std::uint8_t>(sw & 0xFF)};
  reply.delay = delay;
  return reply;
}
inline TerminalReply DataThen(std::span<const std::uint8_t> data, int sw) {
  TerminalReply reply = Sw(sw);
  reply.inf.insert(reply.inf.begin(), data.begin(), data.end());
  return reply;
}
inline TerminalReply RawBlock(t1::Bytes block) {
  TerminalReply reply;
  reply.raw = std::move(block);
  return reply;
}
inline TerminalReply Silence() {
  return {};
}

class ScriptedTerminal {
 public:
  ScriptedTerminal(FakeSerialBus& bus, std::int16_t port) : bus_(bus), port_(port) {
    bus_.Line(port_).terminal = [this](FakeSerialPort& p, std::span<const std::uint8_t> block) {
      OnWritten(p, block);
    };
  }
  ~ScriptedTerminal() {
    if (FakeLine* line = bus_.Find(port_)) line->terminal = nullptr;
  }
  ScriptedTerminal(const ScriptedTerminal&) = delete;
  ScriptedTerminal& operator=(const ScriptedTerminal&) = delete;

  std::optional<std::chrono::milliseconds> resynch_delay = std::chrono::milliseconds(10);
  // Replies per command, one per request in order; the last one repeats.
  std::map<CmdType, std::vector<TerminalReply>> replies;
  std::vector<CmdType> received;  // the commands written, in order
  std::function<void(CmdType)> on_command;

 private:
  static CmdType Recognise(std::span<const std::uint8_t> block) {
    if (block.size() >= 2 && block[1] == t1::kPcbResynchReq) return CMD_Resynch;
    // The INS byte of each command APDU, at the index of its CmdType.
    static constexpr std::uint8_t kIns[] = {0xFF, 0x11, 0xFF, 0x12, 0xA4, 0xB0, 0x15};
    const auto* ins =
        block.size() >= 5 ? std::find(kIns, std::end(kIns), block[4]) : std::end(kIns);
    return ins == std::end(kIns) ? 0 : static_cast<CmdType>(ins - kIns);
  }

  void OnWritten(FakeSerialPort& port, std::span<const std::uint8_t> block) {
    const CmdType cmd = Recognise(block);
    received.push_back(cmd);
    if (on_command) on_command(cmd);
    if (cmd == CMD_Resynch) {
      send_seq_ = false;  // a RESYNCH starts both sequence numbers again
      if (resynch_delay) Send(port, t1::MakeBlock(0x12, t1::kPcbResynchResp, {}), *resynch_delay);
      return;
    }
    auto it = replies.find(cmd);
    if (it == replies.end() || it->second.empty()) return;
    const TerminalReply& reply = it->second[std::min(served_[cmd]++, it->second.size() - 1)];
    if (!reply.raw.empty()) return Send(port, reply.raw, reply.delay);
    if (reply.inf.empty()) return;
    Send(port, t1::MakeBlock(0x12, send_seq_ ? t1::kPcbSeqBit : 0, reply.inf), reply.delay);
    send_seq_ = !send_seq_;
  }

  // Byte i of n arrives at delay - (n - 1 - i) ms, never before 1 ms.
  void Send(FakeSerialPort& port, const t1::Bytes& bytes, std::chrono::milliseconds delay) {
    const auto n = static_cast<std::int64_t>(bytes.size());
    for (std::int64_t i = 0; i < n; ++i) {
      const auto at = std::max<std::int64_t>(1 + i, delay.count() - (n - 1 - i));
      port.Loop().AddTimer(
          std::chrono::milliseconds(at),
          [bus = &bus_, number = port_, byte = bytes[static_cast<std::size_t>(i)]] {
            FakeSerialPort* open = bus->open_port;
            if (open != nullptr && open->CommPort() == number) open->Deliver({byte});
          });
    }
  }

  FakeSerialBus& bus_;
  std::int16_t port_;
  bool send_seq_ = false;
  std::map<CmdType, std::size_t> served_;
};

}  // namespace qz::testing
