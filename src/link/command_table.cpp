#include "link/command_table.h"

#include <array>

namespace qz {
namespace {

// Command APDUs: CLA INS P1 P2 [Lc data] [Le].
constexpr std::array<std::uint8_t, 5> kResetCt = {0x20, 0x11, 0x00, 0x00, 0x00};
constexpr std::array<std::uint8_t, 6> kRequestIcc = {0x20, 0x12, 0x01, 0x00, 0x01, 0x01};
// SELECT FILE by AID D2 76 00 00 01 01, the insurance-card application.
constexpr std::array<std::uint8_t, 11> kSelectFile = {0x00, 0xA4, 0x04, 0x00, 0x06, 0xD2,
                                                      0x76, 0x00, 0x00, 0x01, 0x01};
constexpr std::array<std::uint8_t, 5> kReadBinary = {0x00, 0xB0, 0x00, 0x00, 0x00};
constexpr std::array<std::uint8_t, 6> kEjectIcc = {0x20, 0x15, 0x01, 0x01, 0x01, 0x01};

constexpr std::uint8_t kNadTerminal = 0x12;
constexpr std::uint8_t kNadCard = 0x02;

const std::array<TerminalCommand, 6> kCommands = {{
    {CMD_ResetCT, kNadTerminal, false, kResetCt},
    {CMD_Resynch, kNadTerminal, true, {}},
    {CMD_RequestICC, kNadTerminal, false, kRequestIcc},
    {CMD_SelectFile, kNadCard, false, kSelectFile},
    {CMD_ReadBinary, kNadCard, false, kReadBinary},
    {CMD_EjectICC, kNadTerminal, false, kEjectIcc},
}};

}  // namespace

const TerminalCommand* FindCommand(CmdType cmd) {
  for (const TerminalCommand& c : kCommands) {
    if (c.cmd == cmd) return &c;
  }
  return nullptr;
}

t1::Bytes BuildCommandBlock(const TerminalCommand& command, bool send_seq) {
  // Every command fits one block, so the more-data bit is never set.
  const std::uint8_t pcb =
      command.resynch ? t1::kPcbResynchReq : (send_seq ? t1::kPcbSeqBit : std::uint8_t{0});
  return t1::MakeBlock(command.nad, pcb, command.inf);
}

}  // namespace qz
