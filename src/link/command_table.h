// The terminal's fixed command set: for each CmdType the node address and the command APDU, and
// the whole T=1 block a command goes out as. Pure data and framing, no I/O.
#pragma once

#include <cstdint>
#include <span>

#include "link/cmd_type.h"
#include "link/t1_block.h"

namespace qz {

struct TerminalCommand {
  CmdType cmd;
  std::uint8_t nad;  // 0x12 the terminal itself, 0x02 the card behind it
  bool resynch;      // sent as S(RESYNCH request) instead of an I-block
  std::span<const std::uint8_t> inf;
};

// The entry of `cmd`, or nullptr for a number outside the table.
const TerminalCommand* FindCommand(CmdType cmd);

// The complete block of `command`, EDC included. An I-block carries N(S) = `send_seq`; the
// RESYNCH request has no sequence bit and ignores it.
t1::Bytes BuildCommandBlock(const TerminalCommand& command, bool send_seq);

}  // namespace qz
