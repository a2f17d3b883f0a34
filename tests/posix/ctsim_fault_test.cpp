// The simulated terminal's faults, on the bytes it answers: where they strike, and that each
// strikes once per dialogue and nowhere else. The end-to-end tests rely on these positions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fault.h"
#include "link/command_table.h"
#include "terminal.h"

namespace qz::ctsim {
namespace {

using std::chrono::milliseconds;

class Host {
 public:
  explicit Host(const std::string& fault)
      : terminal_({*ParseScenario("tagged"),
                   {0x60, 0x03, 0x80, 0x01, 'A'},
                   milliseconds{0},
                   *ParseFault(fault)}) {}

  std::vector<Chunk> Send(CmdType cmd, bool repeat = false) {
    const TerminalCommand* c = FindCommand(cmd);
    if (repeat) return terminal_.Receive(last_, now_ += milliseconds{1});
    last_ = BuildCommandBlock(*c, send_seq_);
    if (!c->resynch) send_seq_ = !send_seq_;
    return terminal_.Receive(last_, now_ += milliseconds{1});
  }
  // The answers of a whole read by a new link (N(S) from 0), one entry per command.
  std::vector<std::vector<Chunk>> Dialogue() {
    send_seq_ = false;
    std::vector<std::vector<Chunk>> out;
    for (CmdType cmd :
         {CMD_Resynch, CMD_ResetCT, CMD_RequestICC, CMD_SelectFile, CMD_ReadBinary, CMD_EjectICC})
      out.push_back(Send(cmd));
    return out;
  }

 private:
  Terminal terminal_;
  bool send_seq_ = false;
  t1::Bytes last_;
  milliseconds now_{0};
};

std::vector<std::string> Notes(const std::vector<std::vector<Chunk>>& answers) {
  std::vector<std::string> out;
  for (const auto& a : answers)
    for (const Chunk& c : a)
      if (!c.note.empty()) out.push_back(c.note);
  return out;
}

TEST(CtsimFault, ParsesKindAndArgument) {
  EXPECT_EQ(ParseFault("noise:37")->kind, FaultKind::kNoise);
  EXPECT_EQ(ParseFault("hang-up:0")->arg, 0);
  for (const char* bad :
       {"noise", "noise:", "noise:x", "noise:-1", "cut:1x", "wrong-seq-twice:0", "nothing:1"})
    EXPECT_FALSE(ParseFault(bad)) << bad;
}

TEST(CtsimFault, NoiseGoesBeforeTheByteCountedOverTheDialogueOnceEachDialogue) {
  // RESYNCH answer 4 bytes, RESET CT answer 6: byte 6 is the RESET CT answer's LEN.
  Host host("noise:6");
  for (int dialogue = 0; dialogue < 2; ++dialogue) {
    const auto answers = host.Dialogue();
    const t1::Bytes& reset = answers[1].front().bytes;
    ASSERT_EQ(reset.size(), 9u);
    EXPECT_EQ(t1::Bytes(reset.begin() + 2, reset.begin() + 5), t1::Bytes(3, 0xFF));
    EXPECT_EQ(reset[5], 0x02) << "the LEN byte follows the noise";
    EXPECT_EQ(Notes(answers), std::vector<std::string>{"fault noise:6 done"});
  }
}

TEST(CtsimFault, StepFaultsChangeOnlyTheirStepsAnswer) {
  {
    Host host("cut:1");
    const auto answers = host.Dialogue();
    EXPECT_EQ(answers[1].front().bytes.size(), 3u);  // half of 6
    EXPECT_EQ(answers[2].front().bytes.size(), 6u);
  }
  {
    Host host("len255:2");
    const auto answers = host.Dialogue();
    EXPECT_EQ(answers[2].front().bytes[2], 0xFF);
    EXPECT_EQ(answers[2].front().bytes.size(), 6u);
  }
  {
    Host host("hang-up:3");
    const auto answers = host.Dialogue();
    ASSERT_EQ(answers[3].size(), 1u);
    EXPECT_TRUE(answers[3].front().hang_up);
    EXPECT_FALSE(answers[2].front().hang_up);
  }
  {
    Host host("flood:0");
    const auto answers = host.Dialogue();
    EXPECT_EQ(answers[0].front().bytes.size(), 4 + kFloodBytes);
  }
  {
    Host host("duplicate:2");
    const auto answers = host.Dialogue();
    ASSERT_EQ(answers[2].size(), 2u);
    EXPECT_EQ(answers[2][0].bytes, answers[2][1].bytes);
    EXPECT_EQ(answers[2][1].delay, Terminal::kBlockGap);
  }
}

TEST(CtsimFault, WrongSequenceTwiceAlsoSpoilsTheRepeatButKeepsTheEdc) {
  Host host("wrong-seq-twice:1");
  host.Send(CMD_Resynch);
  const auto first = host.Send(CMD_ResetCT);
  const auto again = host.Send(CMD_ResetCT, true);
  for (const auto* answer : {&first, &again}) {
    const t1::Bytes& b = answer->front().bytes;
    EXPECT_EQ(b[1], t1::kPcbSeqBit) << "the terminal's first I-block must carry N(S) 0";
    EXPECT_EQ(t1::Lrc(std::span(b).first(b.size() - 1)), b.back());
  }
  const auto next = host.Send(CMD_RequestICC);
  EXPECT_EQ(next.front().bytes[1] & t1::kPcbSeqBit, t1::kPcbSeqBit)
      << "the next one is right: N(S) 1";
}

}  // namespace
}  // namespace qz::ctsim
