// The simulated terminal's answers, played against the link's own command blocks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/command_table.h"
#include "terminal.h"

namespace qz::ctsim {
namespace {

using std::chrono::milliseconds;

// The host side: numbers its I-blocks as the link does and reads the answers back.
class Host {
 public:
  explicit Host(const std::string& scenario, t1::Bytes card = {0x60, 0x03, 0x80, 0x01, 'A'})
      : terminal_({*ParseScenario(scenario), std::move(card), milliseconds{0}}) {}

  std::vector<Chunk> Send(CmdType cmd) {
    const TerminalCommand* c = FindCommand(cmd);
    const bool resynch = c->resynch;
    t1::Bytes block = BuildCommandBlock(*c, send_seq_);
    if (!resynch) send_seq_ = !send_seq_;
    last_ = block;
    return terminal_.Receive(block, now_ += milliseconds{1});
  }
  std::vector<Chunk> Repeat() { return terminal_.Receive(last_, now_ += milliseconds{1}); }
  std::vector<Chunk> Raw(const t1::Bytes& bytes, milliseconds at) {
    now_ = at;
    return terminal_.Receive(bytes, now_);
  }
  Terminal& Sim() { return terminal_; }

 private:
  Terminal terminal_;
  bool send_seq_ = false;
  t1::Bytes last_;
  milliseconds now_{0};
};

t1::Bytes Joined(const std::vector<Chunk>& chunks) {
  t1::Bytes all;
  for (const Chunk& c : chunks) all.insert(all.end(), c.bytes.begin(), c.bytes.end());
  return all;
}

// Splits the bytes on the line into blocks by their LEN.
std::vector<t1::Bytes> Blocks(const t1::Bytes& line) {
  std::vector<t1::Bytes> out;
  for (std::size_t at = 0; at + 3 <= line.size();) {
    const std::size_t n = std::size_t{line[at + 2]} + 4;
    out.emplace_back(line.begin() + static_cast<long>(at),
                     line.begin() + static_cast<long>(std::min(line.size(), at + n)));
    at += n;
  }
  return out;
}

// The status word of a one-block answer, as "9000".
std::string Sw(const std::vector<Chunk>& chunks) {
  const t1::Bytes line = Joined(chunks);
  if (line.size() < 6) return "none";
  char text[8];
  std::snprintf(text, sizeof text, "%02X%02X", line[line.size() - 3], line[line.size() - 2]);
  return text;
}

TEST(CtsimTerminal, SuccessfulDialogueAnswersEveryCommandByT1Rules) {
  Host host("tagged");
  EXPECT_EQ(Joined(host.Send(CMD_Resynch)), (t1::Bytes{0x21, 0xE0, 0x00, 0xC1}));
  // Alternating N(S) from 0, NAD with the addresses swapped, a valid EDC.
  EXPECT_EQ(Joined(host.Send(CMD_ResetCT)), (t1::Bytes{0x21, 0x00, 0x02, 0x90, 0x00, 0xB3}));
  EXPECT_EQ(Joined(host.Send(CMD_RequestICC)), (t1::Bytes{0x21, 0x40, 0x02, 0x90, 0x00, 0xF3}));
  EXPECT_EQ(Joined(host.Send(CMD_SelectFile)), (t1::Bytes{0x20, 0x00, 0x02, 0x90, 0x00, 0xB2}));
  EXPECT_EQ(Joined(host.Send(CMD_ReadBinary)),
            (t1::Bytes{0x20, 0x40, 0x07, 0x60, 0x03, 0x80, 0x01, 'A', 0x90, 0x00, 0x54}));
  EXPECT_EQ(Joined(host.Send(CMD_EjectICC)), (t1::Bytes{0x21, 0x00, 0x02, 0x90, 0x01, 0xB2}));
}

struct StatusCase {
  std::string scenario;
  std::vector<std::string> expected;  // RESET, REQUEST, SELECT, READ, EJECT
};

void PrintTo(const StatusCase& c, std::ostream* os) {
  *os << c.scenario;
}

class CtsimStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(CtsimStatus, ScenarioChangesOnlyItsCommand) {
  Host host(GetParam().scenario);
  host.Send(CMD_Resynch);
  const CmdType order[] = {CMD_ResetCT, CMD_RequestICC, CMD_SelectFile, CMD_ReadBinary,
                           CMD_EjectICC};
  for (std::size_t i = 0; i < 5; ++i)
    EXPECT_EQ(Sw(host.Send(order[i])), GetParam().expected[i]) << "command " << order[i];
}

INSTANTIATE_TEST_SUITE_P(
    All, CtsimStatus,
    ::testing::Values(StatusCase{"fixed", {"9000", "9000", "9000", "9000", "9001"}},
                      StatusCase{"no-card", {"9000", "6200", "9000", "9000", "9001"}},
                      StatusCase{"wrong-card", {"9000", "6400", "9000", "9000", "9001"}},
                      StatusCase{"no-application", {"9000", "9000", "6A82", "9000", "9001"}},
                      StatusCase{"card-removed", {"9000", "9000", "9000", "6501", "9001"}},
                      StatusCase{"eject-error", {"9000", "9000", "9000", "9000", "6F00"}}),
    [](const auto& info) {
      std::string name = info.param.scenario;
      for (char& c : name)
        if (c == '-') c = '_';
      return name;
    });

TEST(CtsimTerminal, CardAfterNCountsRequestsFromEachTerminalReset) {
  Host host("card-after-2");
  for (int read = 0; read < 2; ++read) {
    host.Send(CMD_Resynch);
    host.Send(CMD_ResetCT);
    EXPECT_EQ(Sw(host.Send(CMD_RequestICC)), "6200");
    EXPECT_EQ(Sw(host.Send(CMD_RequestICC)), "6200");
    EXPECT_EQ(Sw(host.Send(CMD_RequestICC)), "9000");
  }
  EXPECT_FALSE(ParseScenario("card-after-").has_value());
  EXPECT_FALSE(ParseScenario("card-after-x").has_value());
  EXPECT_FALSE(ParseScenario("Tagged").has_value());
}

TEST(CtsimTerminal, RepeatedCommandGetsTheSameAnswerAndResynchRestartsNumbering) {
  Host host("tagged");
  host.Send(CMD_Resynch);
  const t1::Bytes first = Joined(host.Send(CMD_ResetCT));
  EXPECT_EQ(Joined(host.Repeat()), first);  // the host did not take it: same block again
  EXPECT_EQ(host.Sim().CommandsExecuted(), 1);
  EXPECT_EQ(host.Sim().Repeats(), 1);
  // After a RESYNCH the terminal expects N(S) 0 again and answers with N(S) 0.
  Host fresh("tagged");
  fresh.Send(CMD_Resynch);
  fresh.Send(CMD_ResetCT);     // N(S) 0
  fresh.Send(CMD_RequestICC);  // N(S) 1
  EXPECT_EQ(Joined(fresh.Send(CMD_Resynch)), (t1::Bytes{0x21, 0xE0, 0x00, 0xC1}));
  Host again("tagged");  // a new link numbers from 0
  again.Send(CMD_Resynch);
  const t1::Bytes reset = Joined(again.Send(CMD_ResetCT));
  const auto& c = *FindCommand(CMD_ResetCT);
  EXPECT_EQ(Joined(fresh.Sim().Receive(BuildCommandBlock(c, false), milliseconds{10})), reset);
}

TEST(CtsimTerminal, SilentTerminalAnswersNothing) {
  Host host("silent");
  EXPECT_TRUE(host.Send(CMD_Resynch).empty());
  EXPECT_TRUE(host.Send(CMD_ResetCT).empty());
  EXPECT_EQ(host.Sim().BlocksReceived(), 2);
}

TEST(CtsimTerminal, ChainedAnswerCarriesTheWholeCardInLinkedBlocks) {
  t1::Bytes card(100);
  for (std::size_t i = 0; i < card.size(); ++i) card[i] = static_cast<std::uint8_t>(i);
  Host host("chained", card);
  host.Send(CMD_Resynch);
  host.Send(CMD_ResetCT);  // the terminal's N(S) is now 1
  const std::vector<Chunk> chunks = host.Send(CMD_RequestICC);
  ASSERT_EQ(chunks.size(), 1u);
  host.Send(CMD_SelectFile);
  const std::vector<Chunk> read = host.Send(CMD_ReadBinary);
  ASSERT_EQ(read.size(), 4u);  // 102 bytes of INF in pieces of 32
  t1::Bytes inf;
  bool seq = true;  // fourth I-block of the terminal
  for (std::size_t i = 0; i < read.size(); ++i) {
    const t1::Bytes& b = read[i].bytes;
    ASSERT_EQ(b.size(), std::size_t{b[2]} + 4);
    EXPECT_LE(b[2], Terminal::kChainedInf);
    EXPECT_EQ((b[1] & t1::kPcbSeqBit) != 0, seq) << "block " << i;
    EXPECT_EQ((b[1] & t1::kPcbMoreBit) != 0, i + 1 < read.size()) << "block " << i;
    EXPECT_EQ(t1::Lrc(std::span(b).first(b.size() - 1)), b.back());
    if (i > 0) {
      EXPECT_GE(read[i].delay, Terminal::kBlockGap);  // read apart by the link
    }
    inf.insert(inf.end(), b.begin() + 3, b.end() - 1);
    seq = !seq;
  }
  t1::Bytes expected = card;
  expected.push_back(0x90);
  expected.push_back(0x00);
  EXPECT_EQ(inf, expected);
}

TEST(CtsimTerminal, LongCardIsChainedAtTheTerminalsBlockSize) {
  Host host("tagged", t1::Bytes(300, 0x41));  // READ BINARY returns at most 256 bytes
  host.Send(CMD_Resynch);
  const std::vector<t1::Bytes> blocks = Blocks(Joined(host.Send(CMD_ResetCT)));
  ASSERT_EQ(blocks.size(), 1u);
  host.Send(CMD_RequestICC);
  host.Send(CMD_SelectFile);
  const std::vector<Chunk> read = host.Send(CMD_ReadBinary);
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].bytes[2], Terminal::kMaxInf);
  EXPECT_EQ(read[1].bytes[2], 256 + 2 - Terminal::kMaxInf);
}

TEST(CtsimTerminal, SplitWritesEachBlockInSmallPiecesThatJoinUp) {
  Host split("split");
  Host whole("tagged");
  for (CmdType cmd : {CMD_Resynch, CMD_ResetCT, CMD_RequestICC, CMD_SelectFile, CMD_ReadBinary}) {
    const std::vector<Chunk> pieces = split.Send(cmd);
    EXPECT_GT(pieces.size(), 1u);
    for (const Chunk& c : pieces) EXPECT_LE(c.bytes.size(), 3u);
    EXPECT_EQ(Joined(pieces), Joined(whole.Send(cmd)));
  }
}

TEST(CtsimTerminal, WrongSequenceOnceThenTheRealAnswerOnTheRepeat) {
  Host host("wrong-seq-once");
  for (int read = 0; read < 2; ++read) {
    host.Send(CMD_Resynch);
    const t1::Bytes wrong = Joined(host.Send(CMD_ResetCT));
    EXPECT_EQ(wrong, (t1::Bytes{0x21, 0x40, 0x02, 0x90, 0x00, 0xF3}));  // N(S) 1, EDC right
    EXPECT_EQ(Joined(host.Repeat()), (t1::Bytes{0x21, 0x00, 0x02, 0x90, 0x00, 0xB3}));
    EXPECT_EQ(Joined(host.Send(CMD_RequestICC)),
              (t1::Bytes{0x21, 0x40, 0x02, 0x90, 0x00, 0xF3}));  // later answers are right
  }
}

TEST(CtsimTerminal, WtxRequestAndNoiseComeBeforeTheCardDataOnly) {
  for (const char* name : {"wtx", "noise"}) {
    SCOPED_TRACE(name);
    Host host(name);
    Host plain("tagged");
    for (CmdType cmd : {CMD_Resynch, CMD_ResetCT, CMD_RequestICC, CMD_SelectFile})
      EXPECT_EQ(Joined(host.Send(cmd)), Joined(plain.Send(cmd)));
    const std::vector<Chunk> read = host.Send(CMD_ReadBinary);
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[1].bytes, Joined(plain.Send(CMD_ReadBinary)));
    EXPECT_GE(read[1].delay, Terminal::kBlockGap);
    const t1::Bytes& before = read[0].bytes;
    // Whatever comes first must be one whole frame by its length byte that the link ignores:
    // an S(WTX request), or garbage in the R-block range.
    ASSERT_EQ(before.size(), std::size_t{before[2]} + 4);
    if (std::string(name) == "wtx")
      EXPECT_EQ(before[1], t1::kPcbWtxReq);
    else
      EXPECT_EQ(before[1] & 0xC0, 0x80);
  }
}

TEST(CtsimTerminal, InputFramingSkipsGarbageAndStaleFragments) {
  Host host("tagged");
  const t1::Bytes resynch = {0x12, 0xC0, 0x00, 0xD2};
  // A block with a bad EDC is no block: the terminal finds the real one behind it.
  t1::Bytes line = {0x12, 0xC0, 0x00, 0x00};
  line.insert(line.end(), resynch.begin(), resynch.end());
  EXPECT_EQ(Joined(host.Raw(line, milliseconds{0})), (t1::Bytes{0x21, 0xE0, 0x00, 0xC1}));
  // Byte by byte works.
  std::vector<Chunk> got;
  for (std::uint8_t b : resynch) got = host.Raw({b}, milliseconds{10});
  EXPECT_EQ(Joined(got), (t1::Bytes{0x21, 0xE0, 0x00, 0xC1}));
  // A fragment left from a peer that went away is dropped after the character waiting time.
  EXPECT_TRUE(host.Raw({0x12, 0x00, 0x05, 0x20}, milliseconds{20}).empty());
  EXPECT_EQ(Joined(host.Raw(resynch, milliseconds{20} + Terminal::kCharacterTimeout * 2)),
            (t1::Bytes{0x21, 0xE0, 0x00, 0xC1}));
}

TEST(CtsimTerminal, AnswerDelayPrecedesEveryAnswer) {
  Terminal terminal({*ParseScenario("tagged"), {}, milliseconds{250}});
  const std::vector<Chunk> out =
      terminal.Receive(t1::Bytes{0x12, 0xC0, 0x00, 0xD2}, milliseconds{0});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].delay, milliseconds{250});
}

TEST(CtsimTerminal, EveryListedScenarioParses) {
  for (const ScenarioInfo& s : ListScenarios()) {
    const std::string name = s.name == "card-after-N" ? "card-after-3" : s.name;
    EXPECT_TRUE(ParseScenario(name).has_value()) << name;
  }
  EXPECT_EQ(ParseScenario("card-after-3")->card_after, 3);
}

}  // namespace
}  // namespace qz::ctsim
