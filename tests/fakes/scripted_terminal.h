// A card terminal on one line of a FakeSerialBus, answering each block the component writes from
// a per-scenario table: the RESYNCH request after a set delay (or never), and each command with
// its next scripted reply. Replies arrive byte by byte, one byte per millisecond on the loop's
// clock, so the link's block assembly runs as on a real line. A reply is delivered only while
// the port is open.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
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
  t1::Bytes inf;  // response data followed by SW1 SW2, sent as I-block(s)
  // When the last byte has arrived, counted from the command's write.
  std::chrono::milliseconds delay{5};
  t1::Bytes raw;  // when not empty: this block as it is, instead of an I-block
  bool silent = false;
};

// A reply of these INF bytes, complete after `delay`.
inline TerminalReply Answer(t1::Bytes inf,
                            std::chrono::milliseconds delay = std::chrono::milliseconds(5)) {
  TerminalReply reply;
  reply.inf = std::move(inf);
  reply.delay = delay;
  return reply;
}

// A reply that is only a status word.
inline TerminalReply Status(std::uint8_t sw1, std::uint8_t sw2,
                            std::chrono::milliseconds delay = std::chrono::milliseconds(5)) {
  return Answer({sw1, sw2}, delay);
}

// A reply carrying data, then SW1 SW2.
inline TerminalReply DataThen(std::span<const std::uint8_t> data, std::uint8_t sw1,
                              std::uint8_t sw2) {
  t1::Bytes inf(data.begin(), data.end());
  inf.push_back(sw1);
  inf.push_back(sw2);
  return Answer(std::move(inf));
}

// Another block instead of an answer (an S-block, say).
inline TerminalReply RawBlock(t1::Bytes block) {
  TerminalReply reply;
  reply.raw = std::move(block);
  return reply;
}

// No answer at all.
inline TerminalReply Silence() {
  TerminalReply reply;
  reply.silent = true;
  return reply;
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

  // When the RESYNCH response is complete; never answered when empty.
  std::optional<std::chrono::milliseconds> resynch_delay = std::chrono::milliseconds(10);
  // Replies per command, one per request in order; the last one repeats.
  std::map<CmdType, std::vector<TerminalReply>> replies;
  // The commands recognised, in the order they were written.
  std::vector<CmdType> received;
  // Called with each recognised command, after it is recorded.
  std::function<void(CmdType)> on_command;

  FakeLine& Line() { return bus_.Line(port_); }

 private:
  static CmdType Recognise(std::span<const std::uint8_t> block) {
    if (block.size() >= 2 && block[1] == t1::kPcbResynchReq) return CMD_Resynch;
    if (block.size() < 5) return 0;
    switch (block[4]) {  // INS of the command APDU
      case 0x11:
        return CMD_ResetCT;
      case 0x12:
        return CMD_RequestICC;
      case 0xA4:
        return CMD_SelectFile;
      case 0xB0:
        return CMD_ReadBinary;
      case 0x15:
        return CMD_EjectICC;
      default:
        return 0;
    }
  }

  void OnWritten(FakeSerialPort& port, std::span<const std::uint8_t> block) {
    const CmdType cmd = Recognise(block);
    received.push_back(cmd);
    if (on_command) on_command(cmd);
    if (cmd == CMD_Resynch) {
      send_seq_ = false;  // a RESYNCH starts both sequence numbers again
      if (resynch_delay) {
        Send(port.Loop(), t1::MakeBlock(0x12, t1::kPcbResynchResp, {}), *resynch_delay);
      }
      return;
    }
    auto it = replies.find(cmd);
    if (it == replies.end() || it->second.empty()) return;
    const std::size_t n = std::min(served_[cmd]++, it->second.size() - 1);
    const TerminalReply& reply = it->second[n];
    if (reply.silent) return;
    if (!reply.raw.empty()) return Send(port.Loop(), reply.raw, reply.delay);
    // Chained I-blocks of at most 254 INF bytes; every one but the last has the M bit.
    t1::Bytes bytes;
    std::size_t pos = 0;
    do {
      const std::size_t len = std::min<std::size_t>(254, reply.inf.size() - pos);
      const bool more = pos + len < reply.inf.size();
      std::uint8_t pcb = send_seq_ ? t1::kPcbSeqBit : 0;
      if (more) pcb |= t1::kPcbMoreBit;
      send_seq_ = !send_seq_;
      t1::Bytes one = t1::MakeBlock(0x12, pcb, std::span(reply.inf).subspan(pos, len));
      bytes.insert(bytes.end(), one.begin(), one.end());
      pos += len;
    } while (pos < reply.inf.size());
    Send(port.Loop(), bytes, reply.delay);
  }

  // Byte i of n arrives at delay - (n - 1 - i) ms (never before 1 ms).
  void Send(EventLoop& loop, const t1::Bytes& bytes, std::chrono::milliseconds delay) {
    const auto n = static_cast<std::int64_t>(bytes.size());
    for (std::int64_t i = 0; i < n; ++i) {
      const auto at = std::max<std::int64_t>(1 + i, delay.count() - (n - 1 - i));
      loop.AddTimer(std::chrono::milliseconds(at),
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
