// The simulated terminal's line scenarios and faults: the reads through them (tests/unit) mean
// something only if each puts on the line what its name says, where its argument says. Its
// answers themselves are checked by every read of the unit tests.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "fault.h"
#include "link/command_table.h"
#include "terminal.h"

namespace qz::ctsim {
namespace {

using std::chrono::milliseconds;
using Answers = std::vector<std::vector<Chunk>>;

constexpr CmdType kDialogue[] = {CMD_Resynch,    CMD_ResetCT,    CMD_RequestICC,
                                 CMD_SelectFile, CMD_ReadBinary, CMD_EjectICC};

// The host side: numbers its I-blocks as the link does.
class Host {
 public:
  explicit Host(const std::string& scenario, const std::string& fault = "",
                t1::Bytes card = {0x60, 0x03, 0x80, 0x01, 'A'})
      : terminal_({*ParseScenario(scenario), std::move(card), milliseconds{0},
                   fault.empty() ? Fault{} : *ParseFault(fault)}) {}

  Answers Dialogue() {
    Answers out;
    for (CmdType cmd : kDialogue) {
      const TerminalCommand* c = FindCommand(cmd);
      if (c->resynch) seq_ = false;
      out.push_back(terminal_.Receive(BuildCommandBlock(*c, seq_), now_ += milliseconds{1}));
      if (!c->resynch) seq_ = !seq_;
    }
    return out;
  }

 private:
  Terminal terminal_;
  bool seq_ = false;
  milliseconds now_{0};
};

t1::Bytes Joined(const std::vector<Chunk>& chunks) {
  t1::Bytes all;
  for (const Chunk& c : chunks) all.insert(all.end(), c.bytes.begin(), c.bytes.end());
  return all;
}

TEST(CtsimTerminal, LineScenariosShapeTheirAnswersAsNamed) {
  const std::vector<Chunk> split = Host("split").Dialogue()[4];
  EXPECT_GT(split.size(), 3u);
  for (const Chunk& c : split) EXPECT_LE(c.bytes.size(), 3u);

  const std::vector<Chunk> chained = Host("chained", "", t1::Bytes(100)).Dialogue()[4];
  ASSERT_EQ(chained.size(), 4u);  // 102 bytes of INF in pieces of 32, read apart by the link
  for (std::size_t i = 0; i < chained.size(); ++i) {
    EXPECT_EQ(chained[i].bytes[1] & t1::kPcbMoreBit, i < 3 ? t1::kPcbMoreBit : 0) << i;
    EXPECT_GE(chained[i].delay, i > 0 ? Terminal::kBlockGap : milliseconds{0});
  }
  // WTX: an S-block request (PCB 0xC3) before the card data.
  const std::vector<Chunk> wtx = Host("wtx").Dialogue()[4];
  EXPECT_EQ(wtx.at(0).bytes.at(1), t1::kPcbWtxReq);
  EXPECT_EQ(wtx.at(1).bytes, Joined(Host("tagged").Dialogue()[4]));
}

TEST(CtsimFault, StrikesWhereItsArgumentSaysOnceEachDialogue) {
  // Byte 6 of the dialogue's answers is the RESET CT answer's LEN (RESYNCH's answer has 4).
  Host noisy("tagged", "noise:6");
  for (int dialogue = 0; dialogue < 2; ++dialogue)
    EXPECT_EQ(Joined(noisy.Dialogue()[1]),
              (t1::Bytes{0x21, 0x00, 0xFF, 0xFF, 0xFF, 0x02, 0x90, 0x00, 0xB3}));
  const Answers plain = Host("tagged").Dialogue();
  // The answer to the fault's step, after checking that every other answer is as usual.
  const auto struck = [&](const std::string& fault, std::size_t step) {
    const Answers a = Host("tagged", fault).Dialogue();
    for (std::size_t i = 0; i < a.size(); ++i)
      EXPECT_TRUE(i == step || Joined(a[i]) == Joined(plain[i])) << fault << " step " << i;
    return a[step];
  };
  EXPECT_EQ(Joined(struck("cut:1", 1)).size(), 3u);
  EXPECT_EQ(Joined(struck("len255:2", 2)), (t1::Bytes{0x21, 0x40, 0xFF, 0x90, 0x00, 0xF3}));
  const std::vector<Chunk> hang_up = struck("hang-up:3", 3);
  EXPECT_TRUE(hang_up.size() == 1 && hang_up[0].hang_up && hang_up[0].bytes.empty());
  EXPECT_EQ(Joined(struck("flood:0", 0)).size(), 4 + kFloodBytes);
  const std::vector<Chunk> twice = struck("duplicate:2", 2);
  EXPECT_TRUE(twice.size() == 2 && twice[1].bytes == twice[0].bytes);
  // The stall's note goes before the answer: the line is stopped before the host can write.
  const std::vector<Chunk> stall = struck("stall-after:3", 3);
  ASSERT_EQ(stall.size(), 2u);
  EXPECT_TRUE(stall[0].bytes.empty() && !stall[0].note.empty());
  EXPECT_EQ(stall[1].bytes, Joined(plain[3]));
}

}  // namespace
}  // namespace qz::ctsim
