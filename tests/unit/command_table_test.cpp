// The blocks of the command table, byte for byte, for both sequence bits.
#include "link/command_table.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <ostream>
#include <vector>

namespace qz {
namespace {

using Bytes = std::vector<std::uint8_t>;

// NAD, PCB, LEN, INF..., EDC (XOR of all bytes before it).
constexpr std::array<std::uint8_t, 9> kResetCt0 = {
    0x12, 0x00, 0x05,              // terminal, I-block N(S)=0, LEN 5
    0x20, 0x11, 0x00, 0x00, 0x00,  // RESET CT, P1 P2 00 00, Le 00
    0x26};                         // EDC
constexpr std::array<std::uint8_t, 9> kResetCt1 = {
    0x12, 0x40, 0x05,              // terminal, I-block N(S)=1, LEN 5
    0x20, 0x11, 0x00, 0x00, 0x00,  // RESET CT
    0x66};                         // EDC
constexpr std::array<std::uint8_t, 4> kResynch = {0x12, 0xC0,
                                                  0x00,   // terminal, S(RESYNCH request), LEN 0
                                                  0xD2};  // EDC
constexpr std::array<std::uint8_t, 10> kRequestIcc0 = {
    0x12, 0x00, 0x06,                    // terminal, N(S)=0, LEN 6
    0x20, 0x12, 0x01, 0x00, 0x01, 0x01,  // REQUEST ICC slot 1, Lc 1, data 01
    0x27};                               // EDC
constexpr std::array<std::uint8_t, 10> kRequestIcc1 = {0x12, 0x40, 0x06,  // terminal, N(S)=1, LEN 6
                                                       0x20, 0x12, 0x01,
                                                       0x00, 0x01, 0x01,  // REQUEST ICC
                                                       0x67};             // EDC
constexpr std::array<std::uint8_t, 15> kSelectFile0 = {
    0x02, 0x00, 0x0B,                    // card, N(S)=0, LEN 11
    0x00, 0xA4, 0x04, 0x00, 0x06,        // SELECT FILE by AID, Lc 6
    0xD2, 0x76, 0x00, 0x00, 0x01, 0x01,  // AID of the insurance-card application
    0x0B};                               // EDC
constexpr std::array<std::uint8_t, 15> kSelectFile1 = {
    0x02, 0x40, 0x0B,                                                    // card, N(S)=1, LEN 11
    0x00, 0xA4, 0x04, 0x00, 0x06,                                        // SELECT FILE by AID, Lc 6
    0xD2, 0x76, 0x00, 0x00, 0x01, 0x01,                                  // AID
    0x4B};                                                               // EDC
constexpr std::array<std::uint8_t, 9> kReadBinary0 = {0x02, 0x00, 0x05,  // card, N(S)=0, LEN 5
                                                      0x00, 0xB0, 0x00,
                                                      0x00, 0x00,  // READ BINARY offset 0, Le 00
                                                      0xB7};       // EDC
constexpr std::array<std::uint8_t, 9> kReadBinary1 = {0x02, 0x40, 0x05,  // card, N(S)=1, LEN 5
                                                      0x00, 0xB0, 0x00, 0x00, 0x00,  // READ BINARY
                                                      0xF7};                         // EDC
constexpr std::array<std::uint8_t, 10> kEjectIcc0 = {0x12, 0x00, 0x06,  // terminal, N(S)=0, LEN 6
                                                     0x20, 0x15, 0x01, 0x01,
                                                     0x01, 0x01,  // EJECT ICC slot 1, Lc 1, data 01
                                                     0x21};       // EDC
constexpr std::array<std::uint8_t, 10> kEjectIcc1 = {0x12, 0x40, 0x06,  // terminal, N(S)=1, LEN 6
                                                     0x20, 0x15, 0x01,
                                                     0x01, 0x01, 0x01,  // EJECT ICC
                                                     0x61};             // EDC

struct BlockCase {
  CmdType cmd;
  Bytes ns0;
  Bytes ns1;
};
void PrintTo(const BlockCase& c, std::ostream* os) {
  *os << "CmdType " << c.cmd;
}

class CommandTableTest : public ::testing::TestWithParam<BlockCase> {};

TEST_P(CommandTableTest, BuildsTheWholeBlockForBothSequenceBits) {
  const BlockCase& c = GetParam();
  const TerminalCommand* command = FindCommand(c.cmd);
  ASSERT_NE(command, nullptr);
  EXPECT_EQ(BuildCommandBlock(*command, false), c.ns0);
  EXPECT_EQ(BuildCommandBlock(*command, true), c.ns1);
}

template <std::size_t N>
Bytes B(const std::array<std::uint8_t, N>& a) {
  return Bytes(a.begin(), a.end());
}

INSTANTIATE_TEST_SUITE_P(
    AllCommands, CommandTableTest,
    ::testing::Values(BlockCase{CMD_ResetCT, B(kResetCt0), B(kResetCt1)},
                      BlockCase{CMD_Resynch, B(kResynch), B(kResynch)},
                      BlockCase{CMD_RequestICC, B(kRequestIcc0), B(kRequestIcc1)},
                      BlockCase{CMD_SelectFile, B(kSelectFile0), B(kSelectFile1)},
                      BlockCase{CMD_ReadBinary, B(kReadBinary0), B(kReadBinary1)},
                      BlockCase{CMD_EjectICC, B(kEjectIcc0), B(kEjectIcc1)}),
    [](const ::testing::TestParamInfo<BlockCase>& info) {
      return "Cmd" + std::to_string(info.param.cmd);
    });

TEST(CommandTable, NumbersOutsideOneToSixHaveNoEntry) {
  for (CmdType cmd : {0, 7, -1, 256, 0x7FFFFFFF, static_cast<CmdType>(0x80000000)}) {
    EXPECT_EQ(FindCommand(cmd), nullptr) << cmd;
  }
}

}  // namespace
}  // namespace qz
