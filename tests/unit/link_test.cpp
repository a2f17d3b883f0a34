// The T=1 link on a scripted line and a hand-driven clock: the command blocks, how arriving
// bytes are assembled, how each kind of block is treated, and the one-shot alarm.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "base/automation_error.h"
#include "link/command_table.h"
#include "link/frm_comm.h"
#include "link/receive_buffer.h"
#include "link/t1_block.h"
#include "tests/fakes/fake_event_loop.h"
#include "tests/fakes/fake_serial_port.h"

namespace qz {
namespace {

using ::qz::testing::FakeEventLoop;
using ::qz::testing::FakeSerialBus;
using ::qz::testing::FakeSerialPort;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// ---- The blocks the link writes ---------------------------------------------------------------

struct CommandBlock {
  CmdType cmd;
  std::array<std::uint8_t, 15> bytes;  // NAD PCB LEN APDU EDC, written with N(S) = 0
};
constexpr CommandBlock kCommandBlocks[] = {
    {CMD_ResetCT,
     {0x12, 0x00, 0x05,              // terminal, I-block, LEN 5
      0x20, 0x11, 0x00, 0x00, 0x00,  // RESET CT, Le 00
      0x26}},                        // EDC: XOR of all bytes before it
    {CMD_Resynch,
     {0x12, 0xC0, 0x00,  // terminal, S(RESYNCH request): no N(S), LEN 0
      0xD2}},
    {CMD_RequestICC,
     {0x12, 0x00, 0x06,                    // terminal, I-block, LEN 6
      0x20, 0x12, 0x01, 0x00, 0x01, 0x01,  // REQUEST ICC slot 1, Lc 1, 01
      0x27}},
    {CMD_SelectFile,
     {0x02, 0x00, 0x0B,                    // card, I-block, LEN 11
      0x00, 0xA4, 0x04, 0x00, 0x06,        // SELECT FILE by AID, Lc 6
      0xD2, 0x76, 0x00, 0x00, 0x01, 0x01,  // the insurance-card application
      0x0B}},
    {CMD_ReadBinary,
     {0x02, 0x00, 0x05,              // card, I-block, LEN 5
      0x00, 0xB0, 0x00, 0x00, 0x00,  // READ BINARY offset 0, Le 00
      0xB7}},
    {CMD_EjectICC,
     {0x12, 0x00, 0x06,                    // terminal, I-block, LEN 6
      0x20, 0x15, 0x01, 0x01, 0x01, 0x01,  // EJECT ICC slot 1, Lc 1, 01
      0x21}},
};

// The block of `cmd` with N(S) = `ns`: an I-block's PCB, and so its EDC, gain bit 0x40.
Bytes Block(CmdType cmd, bool ns) {
  const auto& bytes = kCommandBlocks[cmd - 1].bytes;
  Bytes b(bytes.begin(), bytes.begin() + bytes[2] + 4);
  if (ns && cmd != CMD_Resynch) {
    b[1] ^= 0x40;
    b.back() ^= 0x40;
  }
  return b;
}

TEST(CommandTable, EveryCommandsBlockForBothSequenceNumbers) {
  for (const CommandBlock& c : kCommandBlocks) {
    const TerminalCommand* command = FindCommand(c.cmd);
    ASSERT_NE(command, nullptr) << c.cmd;
    EXPECT_EQ(BuildCommandBlock(*command, false), Block(c.cmd, false)) << c.cmd;
    EXPECT_EQ(BuildCommandBlock(*command, true), Block(c.cmd, true)) << c.cmd;
  }
}

// ---- The blocks the terminal sends ------------------------------------------------------------

constexpr std::array<std::uint8_t, 4> kResynchResponse = {0x21, 0xE0, 0x00, 0xC1};
constexpr std::array<std::uint8_t, 6> kOk0 = {0x21, 0x00, 0x02, 0x90, 0x00, 0xB3};  // N(S) 0
constexpr std::array<std::uint8_t, 6> kOk1 = {0x21, 0x40, 0x02, 0x90, 0x00, 0xF3};  // N(S) 1
constexpr std::array<std::uint8_t, 4> kEmpty0 = {0x21, 0x00, 0x00, 0x21};           // N(S) 0, LEN 0
// A READ BINARY answer: the start of a tagged card file, then SW1 SW2.
constexpr std::array<std::uint8_t, 23> kAnswer = {0x21, 0x00, 0x13,  // N(S) 0, LEN 19
                                                  0x60, 0x90, 0x80, 0x0D, 'B', 'K', 'K', ' ', 'M',
                                                  '}',  'h',  'l',  'e',  'n', 't', 'a', 'l',  //
                                                  0x90, 0x00,  // SW1 SW2
                                                  0xFB};       // EDC
// One answer in three I-blocks (M set on the first two): "ABC" "DE" "F" 90 00.
constexpr std::array<std::uint8_t, 7> kChain1 = {0x21, 0x20, 0x03, 'A', 'B', 'C', 0x42};
constexpr std::array<std::uint8_t, 6> kChain2 = {0x21, 0x60, 0x02, 'D', 'E', 0x42};
constexpr std::array<std::uint8_t, 7> kChain3 = {0x21, 0x00, 0x03, 'F', 0x90, 0x00, 0xF4};

const std::string kOk("\x90\x00", 2);

// ---- Fixture ----------------------------------------------------------------------------------

// What the owner heard: 'C' CommandReceived with sBuffer and CMD, 'W' WTXResynchCompleted with
// its value, 'T' TimeReached with the key.
struct Event {
  char kind;
  std::string text;
  CmdType cmd = 0;
  bool operator==(const Event&) const = default;
};
void PrintTo(const Event& e, std::ostream* os) {
  *os << e.kind << ' ' << ::testing::PrintToString(e.text) << ' ' << e.cmd;
}
const Event kResynched{'W', "", 1};

// Records every event; the hook acts from inside each, as the owner does.
class RecordingOwner : public frmCommEvents {
 public:
  std::vector<Event> events;
  std::function<void()> after_event;

  void CommandReceived(std::string sBuffer, CmdType CMD) override { Add({'C', sBuffer, CMD}); }
  void WTXResynchCompleted(std::int32_t& CmdType) override { Add({'W', "", CmdType}); }
  void TimeReached(std::string& Key) override { Add({'T', Key}); }

 private:
  void Add(Event e) {
    events.push_back(std::move(e));
    if (after_event) after_event();
  }
};

// The number of the AutomationError `f` raises, 0 for none.
template <class F>
std::int32_t ErrorNumber(F f) {
  try {
    f();
  } catch (const AutomationError& e) {
    return e.Number();
  }
  return 0;
}

class FrmCommTest : public ::testing::Test {
 protected:
  static constexpr std::int16_t kPort = 1;

  FrmCommTest() {
    bus.Line(kPort);
    NewLink();
  }
  // A fresh link on an open port and a clean record, as the owner makes one for every read.
  void NewLink() {
    link.reset();
    owner.events.clear();
    bus.Line(kPort).written.clear();
    auto p = std::make_unique<FakeSerialPort>(loop, bus);
    port = p.get();
    link = std::make_unique<frmComm>(loop, std::move(p), owner);
    link->COMM().SetCommPort(kPort);
    link->COMM().SetPortOpen(true);
  }
  // Bytes arrive from the terminal; the loop then delivers whatever notification is due.
  void Arrive(std::span<const std::uint8_t> bytes) {
    port->Deliver(bytes);
    loop.Drain();
  }
  const std::vector<Bytes>& Written() { return bus.Line(kPort).written; }
  std::int16_t Threshold() { return link->COMM().RThreshold(); }
  void ExpectStartState() { EXPECT_EQ(Threshold(), 3); }

  FakeEventLoop loop;
  FakeSerialBus bus;
  RecordingOwner owner;
  FakeSerialPort* port = nullptr;
  std::unique_ptr<frmComm> link;
};

// ---- Sending ----------------------------------------------------------------------------------

TEST_F(FrmCommTest, DialogueAlternatesNsSkipsItForResynchAndOwnerSendsFromInsideEvents) {
  // The terminal answers every block at once, with its own alternating N(S).
  bool terminal_ns = false;
  bus.Line(kPort).terminal = [&](FakeSerialPort& p, std::span<const std::uint8_t> w) {
    if (w[1] == t1::kPcbResynchReq) return p.Deliver(kResynchResponse);
    p.Deliver(t1::MakeBlock(0x21, terminal_ns ? 0x40 : 0x00, Bytes{0x90, 0x00}));
    terminal_ns = !terminal_ns;
  };
  const CmdType order[] = {CMD_Resynch,    CMD_ResetCT, CMD_RequestICC, CMD_SelectFile,
                           CMD_ReadBinary, CMD_Resynch, CMD_EjectICC};
  std::size_t next = 1;
  auto send_next = [&] {
    // The owner sends its next command from inside the event: the link must be idle there.
    ExpectStartState();
    if (next < std::size(order)) link->SendCommand(order[next++]);
  };
  owner.after_event = send_next;

  EXPECT_EQ(link->SendCommand(order[0]), 0);
  loop.RunUntil([&] { return owner.events.size() == std::size(order); });

  EXPECT_EQ(Written(), (std::vector<Bytes>{Block(CMD_Resynch, 0), Block(CMD_ResetCT, 0),
                                           Block(CMD_RequestICC, 1), Block(CMD_SelectFile, 0),
                                           Block(CMD_ReadBinary, 1), Block(CMD_Resynch, 0),
                                           Block(CMD_EjectICC, 0)}));
  auto ok = [](CmdType cmd) { return Event{'C', kOk, cmd}; };
  EXPECT_EQ(owner.events,
            (std::vector<Event>{kResynched, ok(CMD_ResetCT), ok(CMD_RequestICC), ok(CMD_SelectFile),
                                ok(CMD_ReadBinary), kResynched, ok(CMD_EjectICC)}));
}

TEST_F(FrmCommTest, UnknownCommandChangesNothingAndWriteErrorsReachTheCaller) {
  link->SendCommand(CMD_ResetCT);
  for (CmdType bad : {0, 7, -1}) {
    EXPECT_EQ(FindCommand(bad), nullptr);
    EXPECT_EQ(ErrorNumber([&] { link->SendCommand(bad); }), 5) << bad;
  }
  // Still RESET CT's exchange: its re-send, then its answer.
  Arrive(kOk1);
  Arrive(kOk0);
  EXPECT_EQ(Written(), (std::vector<Bytes>{Block(CMD_ResetCT, 0), Block(CMD_ResetCT, 0)}));
  EXPECT_EQ(owner.events, (std::vector<Event>{{'C', kOk, CMD_ResetCT}}));
  link->SendCommand(CMD_RequestICC);
  EXPECT_EQ(Written().back(), Block(CMD_RequestICC, 1));
  link->COMM().SetPortOpen(false);
  EXPECT_EQ(ErrorNumber([&] { link->SendCommand(CMD_ResetCT); }), kErrPortNotOpen);
}

// ---- Receive assembly -------------------------------------------------------------------------

TEST_F(FrmCommTest, AnswerSplitAtEveryPositionIsOneEvent) {
  const std::string text(kAnswer.begin() + 3, kAnswer.end() - 1);
  for (std::size_t cut = 1; cut < kAnswer.size(); ++cut) {
    SCOPED_TRACE("cut after " + std::to_string(cut));
    NewLink();
    link->SendCommand(CMD_ReadBinary);
    Arrive(std::span(kAnswer).first(cut));
    EXPECT_TRUE(owner.events.empty());
    // Under 3 bytes nobody is woken; once LEN is known the port waits for exactly the rest.
    EXPECT_EQ(Threshold(), cut >= 3 ? static_cast<std::int16_t>(kAnswer.size() - cut) : 3);
    Arrive(std::span(kAnswer).subspan(cut));
    EXPECT_EQ(owner.events, (std::vector<Event>{{'C', text, CMD_ReadBinary}}));
    ExpectStartState();
  }
}

TEST_F(FrmCommTest, EmptyBlockArrivingThreeBytesThenOne) {
  Arrive(std::span(kResynchResponse).first(3));
  EXPECT_EQ(Threshold(), 1);
  Arrive(std::span(kResynchResponse).subspan(3));
  EXPECT_EQ(owner.events, std::vector<Event>{kResynched});
  ExpectStartState();
}

TEST_F(FrmCommTest, EarlyNotificationKeepsTheBytesUntilTheHeaderIsComplete) {
  // A port may report before its threshold is reached.
  link->SendCommand(CMD_ResetCT);
  port->Deliver(std::span(kOk0).first(1));
  link->COMM_OnComm();
  EXPECT_EQ(Threshold(), 2);
  Arrive(std::span(kOk0).subspan(1, 2));
  EXPECT_EQ(Threshold(), 3);  // LEN is known now: the rest of the block
  Arrive(std::span(kOk0).subspan(3));
  EXPECT_EQ(owner.events, (std::vector<Event>{{'C', kOk, CMD_ResetCT}}));
  ExpectStartState();
}

TEST_F(FrmCommTest, ReadLongerThanItsBlockIsDroppedWholeAndTheNextBlockCounts) {
  Bytes overlong(kOk0.begin(), kOk0.end());
  overlong.push_back(0x21);
  for (std::size_t header_first : {0, 3}) {  // in the start state, and while awaiting the rest
    SCOPED_TRACE(header_first);
    NewLink();
    link->SendCommand(CMD_ResetCT);
    if (header_first > 0) Arrive(std::span(overlong).first(header_first));
    Arrive(std::span(overlong).subspan(header_first));
    EXPECT_TRUE(owner.events.empty());
    ExpectStartState();
    Arrive(kOk0);  // N(S) 0 still expected: nothing was accepted
    EXPECT_EQ(owner.events, (std::vector<Event>{{'C', kOk, CMD_ResetCT}}));
  }
}

// ---- What each block does ---------------------------------------------------------------------

TEST_F(FrmCommTest, EachKindOfBlockByItsPcb) {
  enum Outcome { kAnswer, kChained, kResend, kResynch, kIgnored };
  struct Case {
    std::uint8_t pcb;
    Outcome outcome;
  };
  constexpr Case kCases[] = {
      {0x00, kAnswer},  {0x20, kChained},  // I-blocks with the N(S) expected, without and with M
      {0x40, kResend},  {0x60, kResend},   // I-blocks with the wrong N(S)
      {0x80, kIgnored}, {0x90, kIgnored}, {0x82, kIgnored},  // R-blocks never cause a re-send
      {0xE0, kResynch}, {0xE3, kResynch},                    // RESYNCH and WTX responses
      {0xC0, kIgnored}, {0xC3, kIgnored},  // RESYNCH and WTX requests: not answered
      {0xC1, kIgnored}, {0xE1, kIgnored}, {0xE2, kIgnored},  // IFS, ABORT
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(static_cast<int>(c.pcb));
    NewLink();
    link->SendCommand(CMD_ResetCT);
    Arrive(t1::MakeBlock(0x21, c.pcb, Bytes{0x90, 0x00}));
    std::vector<Event> want;
    if (c.outcome == kAnswer) want = {Event{'C', kOk, CMD_ResetCT}};
    if (c.outcome == kResynch) want = {kResynched};
    EXPECT_EQ(owner.events, want);
    EXPECT_EQ(Written().size(), c.outcome == kResend ? 2u : 1u);
    EXPECT_EQ(Written().back(), Block(CMD_ResetCT, 0));
    ExpectStartState();
    // An accepted I-block moves the expected N(S) on; the next block has to follow it.
    const bool moved_on = c.outcome == kAnswer || c.outcome == kChained;
    const std::size_t heard = owner.events.size();
    Arrive(moved_on ? kOk1 : kOk0);
    EXPECT_EQ(owner.events.size(), heard + 1);
  }
}

TEST_F(FrmCommTest, WrongNsResendsTheLastBlockOncePerCommand) {
  const std::string data(kAnswer.begin() + 3, kAnswer.end() - 1);
  Arrive(kOk1);  // nothing sent yet: nothing to repeat
  EXPECT_TRUE(Written().empty());
  link->SendCommand(CMD_ResetCT);
  Arrive(kOk1);
  Arrive(kOk1);  // the second wrong N(S) is ignored
  Arrive(kOk0);
  link->SendCommand(CMD_RequestICC);  // a new command earns a re-send again
  Arrive(kOk0);
  Bytes answer1(kAnswer.begin(), kAnswer.end());
  answer1[1] = 0x40;  // N(S) 1; the EDC is not checked
  Arrive(answer1);
  EXPECT_EQ(Written(), (std::vector<Bytes>{Block(CMD_ResetCT, 0), Block(CMD_ResetCT, 0),
                                           Block(CMD_RequestICC, 1), Block(CMD_RequestICC, 1)}));
  // Each answer carries the command last sent, re-send or not.
  EXPECT_EQ(owner.events,
            (std::vector<Event>{{'C', kOk, CMD_ResetCT}, {'C', data, CMD_RequestICC}}));
}

TEST_F(FrmCommTest, ChainedAnswerIsOneEventWithAllInfBytesAndAnEmptyBlockAnEmptyAnswer) {
  link->SendCommand(CMD_ReadBinary);
  Arrive(kChain1);
  Arrive(kChain1);  // N(S) 0 again: the command is re-sent, "ABC" is kept
  Arrive(kChain2);
  EXPECT_TRUE(owner.events.empty());
  Arrive(kChain3);
  EXPECT_EQ(Written().size(), 2u);  // no acknowledgements
  link->SendCommand(CMD_EjectICC);
  Arrive(kOk1);  // the next answer starts empty
  link->SendCommand(CMD_ReadBinary);
  Arrive(kEmpty0);
  EXPECT_EQ(owner.events,
            (std::vector<Event>{{'C', std::string("ABCDEF\x90\x00", 8), CMD_ReadBinary},
                                {'C', kOk, CMD_EjectICC},
                                {'C', "", CMD_ReadBinary}}));
  ExpectStartState();
}

TEST_F(FrmCommTest, OwnerMayThrowFromOrReleaseTheLinkInsideAnEvent) {
  link->SendCommand(CMD_ResetCT);
  owner.after_event = [] { throw AutomationError(1, "owner", "failed"); };
  port->Deliver(kOk0);
  EXPECT_THROW(loop.Drain(), AutomationError);
  ExpectStartState();
  // Nothing of the link may be touched after its event: the owner can drop it there.
  owner.after_event = [&] { link.reset(); };
  link->SendCommand(CMD_RequestICC);
  Arrive(kOk1);
  EXPECT_EQ(link, nullptr);
  EXPECT_EQ(owner.events.size(), 2u);
}

// ---- The one-shot alarm -----------------------------------------------------------------------

TEST_F(FrmCommTest, AlarmFiresOnceAndReArmingReplacesKeyAndInterval) {
  link->StartTimer("RESYNC", 800);
  loop.AdvanceBy(500ms);
  link->StartTimer("PORTCHECK", 100);
  loop.AdvanceBy(99ms);
  EXPECT_TRUE(owner.events.empty());
  loop.AdvanceBy(1ms);
  EXPECT_EQ(owner.events, (std::vector<Event>{{'T', "PORTCHECK"}}));
  loop.AdvanceBy(10s);
  EXPECT_EQ(owner.events.size(), 1u);
}

TEST_F(FrmCommTest, AlarmFiresAfterTheAnswerAndMayBeReArmedFromItsEvent) {
  owner.after_event = [&] {
    if (owner.events.size() == 2) link->StartTimer("PORTCHECK", 300);
  };
  link->SendCommand(CMD_Resynch);
  link->StartTimer("RESYNC", 800);
  Arrive(kResynchResponse);
  loop.AdvanceBy(10s);
  EXPECT_EQ(owner.events, (std::vector<Event>{kResynched, {'T', "RESYNC"}, {'T', "PORTCHECK"}}));
}

TEST_F(FrmCommTest, StopNonPositiveIntervalAndDestructionDisarmTheAlarm) {
  link->StartTimer("RESYNC", 800);
  link->StopTimer();
  loop.AdvanceBy(10s);
  link->StartTimer("RESYNC", 800);
  link->StartTimer("PORTCHECK", 0);  // never fires, and replaces the armed alarm
  link->StartTimer("PORTCHECK", -5);
  loop.AdvanceBy(10s);
  EXPECT_TRUE(owner.events.empty());
  link->StartTimer("RESYNC", 800);
  link.reset();
  EXPECT_EQ(loop.PendingTimers(), 0u);
}

// ---- The receive buffer every port shares -----------------------------------------------------

TEST(ReceiveBuffer, DueWhenTheWaitingBytesReachTheThresholdAndNeverAtZero) {
  ReceiveBuffer rb;
  EXPECT_FALSE(rb.Append(std::span(kOk0).first(2)));
  EXPECT_TRUE(rb.SetThreshold(2));  // lowered to what is waiting: due at once
  EXPECT_FALSE(rb.SetThreshold(0));
  EXPECT_FALSE(rb.Append(std::span(kOk0).subspan(2)));
  EXPECT_EQ(rb.TakeAll(), Bytes(kOk0.begin(), kOk0.end()));
  EXPECT_EQ(rb.Size(), 0u);
}

}  // namespace
}  // namespace qz
