// The T=1 link against a scripted serial line and a hand-driven clock: what it writes, how it
// assembles what arrives, how it treats each kind of block, and its one-shot alarm.
#include "link/frm_comm.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "app/automation_error.h"
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

// ---- Blocks the link writes -------------------------------------------------------------------

constexpr std::array<std::uint8_t, 4> kResynchRequest = {
    0x12, 0xC0, 0x00,  // terminal, S(RESYNCH request), LEN 0
    0xD2};             // EDC
constexpr std::array<std::uint8_t, 9> kResetCt0 = {
    0x12, 0x00, 0x05,              // terminal, I-block N(S)=0, LEN 5
    0x20, 0x11, 0x00, 0x00, 0x00,  // RESET CT
    0x26};                         // EDC
constexpr std::array<std::uint8_t, 10> kRequestIcc1 = {0x12, 0x40, 0x06,  // terminal, N(S)=1, LEN 6
                                                       0x20, 0x12, 0x01,
                                                       0x00, 0x01, 0x01,  // REQUEST ICC slot 1
                                                       0x67};             // EDC
constexpr std::array<std::uint8_t, 15> kSelectFile0 = {
    0x02, 0x00, 0x0B,                    // card, N(S)=0, LEN 11
    0x00, 0xA4, 0x04, 0x00, 0x06,        // SELECT FILE by AID, Lc 6
    0xD2, 0x76, 0x00, 0x00, 0x01, 0x01,  // AID of the insurance-card application
    0x0B};                               // EDC
constexpr std::array<std::uint8_t, 9> kReadBinary1 = {0x02, 0x40, 0x05,  // card, N(S)=1, LEN 5
                                                      0x00, 0xB0, 0x00,
                                                      0x00, 0x00,  // READ BINARY offset 0, Le 00
                                                      0xF7};       // EDC
constexpr std::array<std::uint8_t, 10> kEjectIcc0 = {0x12, 0x00, 0x06,  // terminal, N(S)=0, LEN 6
                                                     0x20, 0x15, 0x01,
                                                     0x01, 0x01, 0x01,  // EJECT ICC slot 1
                                                     0x21};             // EDC

// ---- Blocks the terminal sends ----------------------------------------------------------------

constexpr std::array<std::uint8_t, 4> kResynchResponse = {0x21, 0xE0,
                                                          0x00,   // NAD, S(RESYNCH response), LEN 0
                                                          0xC1};  // EDC
constexpr std::array<std::uint8_t, 4> kWtxResponse = {0x21, 0xE3,
                                                      0x00,   // NAD, S(WTX response), LEN 0
                                                      0xC2};  // EDC
constexpr std::array<std::uint8_t, 5> kWtxRequest = {0x21, 0xC3,
                                                     0x01,          // NAD, S(WTX request), LEN 1
                                                     0x05,          // BWT multiplier
                                                     0xE6};         // EDC
constexpr std::array<std::uint8_t, 4> kRBlock = {0x21, 0x90, 0x00,  // NAD, R-block N(R)=1, LEN 0
                                                 0xB1};             // EDC
constexpr std::array<std::uint8_t, 6> kOk0 = {0x21, 0x00, 0x02,     // NAD, I-block N(S)=0, LEN 2
                                              0x90, 0x00,           // SW1 SW2
                                              0xB3};                // EDC
constexpr std::array<std::uint8_t, 6> kOk1 = {0x21, 0x40, 0x02,     // NAD, I-block N(S)=1, LEN 2
                                              0x90, 0x00,           // SW1 SW2
                                              0xF3};                // EDC
constexpr std::array<std::uint8_t, 11> kData1 = {
    0x21, 0x40, 0x07,              // NAD, I-block N(S)=1, LEN 7
    0x4B, 0x56, 0xE4, 0xFC, 0xDF,  // data, bytes above 0x7F kept as they are
    0x90, 0x00,                    // SW1 SW2
    0x2C};                         // EDC
constexpr std::array<std::uint8_t, 4> kEmpty0 = {0x21, 0x00, 0x00,  // NAD, I-block N(S)=0, LEN 0
                                                 0x21};             // EDC
// One answer in three I-blocks: "ABC" + "DE" + "F" 90 00.
constexpr std::array<std::uint8_t, 7> kChain1 = {
    0x21, 0x20, 0x03,  // NAD, I-block N(S)=0 with M, LEN 3
    0x41, 0x42, 0x43,  // "ABC"
    0x42};             // EDC
constexpr std::array<std::uint8_t, 6> kChain2 = {0x21, 0x60,
                                                 0x02,        // NAD, I-block N(S)=1 with M, LEN 2
                                                 0x44, 0x45,  // "DE"
                                                 0x42};       // EDC
constexpr std::array<std::uint8_t, 7> kChain3 = {0x21, 0x00, 0x03,  // NAD, I-block N(S)=0, LEN 3
                                                 0x46, 0x90, 0x00,  // "F", SW1 SW2
                                                 0xF4};             // EDC

template <std::size_t N>
Bytes B(const std::array<std::uint8_t, N>& a) {
  return Bytes(a.begin(), a.end());
}
std::string S(std::initializer_list<std::uint8_t> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TEST(FrmCommVectors, EveryEdcIsTheXorOfTheBytesBeforeIt) {
  for (const Bytes& b :
       {B(kResynchRequest), B(kResetCt0), B(kRequestIcc1), B(kSelectFile0), B(kReadBinary1),
        B(kEjectIcc0), B(kResynchResponse), B(kWtxResponse), B(kWtxRequest), B(kRBlock), B(kOk0),
        B(kOk1), B(kData1), B(kEmpty0), B(kChain1), B(kChain2), B(kChain3)}) {
    ASSERT_EQ(b.size(), b[2] + 4u);
    EXPECT_EQ(t1::Lrc(std::span(b).first(b.size() - 1)), b.back());
  }
}

// ---- Fixture ----------------------------------------------------------------------------------

struct Event {
  enum Kind { kCommand, kWtxResynch, kTime } kind;
  std::string text;  // sBuffer or the timer key
  CmdType cmd = 0;   // CMD, or the value of WTXResynchCompleted
  bool operator==(const Event&) const = default;
};

// Records every event; hooks let a test act from inside an event, as the owner does.
class RecordingOwner : public frmCommEvents {
 public:
  std::vector<Event> events;
  std::function<void(const std::string&, CmdType)> on_command;
  std::function<void()> on_wtx;
  std::function<void(const std::string&)> on_time;

  void CommandReceived(std::string sBuffer, CmdType CMD) override {
    events.push_back({Event::kCommand, sBuffer, CMD});
    if (on_command) on_command(sBuffer, CMD);
  }
  void WTXResynchCompleted(std::int32_t& CmdType) override {
    events.push_back({Event::kWtxResynch, "", CmdType});
    if (on_wtx) on_wtx();
  }
  void TimeReached(std::string& Key) override {
    events.push_back({Event::kTime, Key, 0});
    if (on_time) on_time(Key);
  }
};

// A port whose notification code can be set, to see that only receive notifications count.
class CodedPort : public FakeSerialPort {
 public:
  using FakeSerialPort::FakeSerialPort;
  std::int16_t code = kComEvReceive;
  std::int16_t CommEvent() const override { return code; }
};

class FrmCommTest : public ::testing::Test {
 protected:
  static constexpr std::int16_t kPort = 1;

  FrmCommTest() {
    bus.Line(kPort);
    NewLink();
  }

  // A fresh link on an open port, as the owner makes one for every read.
  void NewLink() {
    link.reset();
    auto p = std::make_unique<CodedPort>(loop, bus);
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
  template <std::size_t N>
  void Arrive(const std::array<std::uint8_t, N>& a) {
    Arrive(std::span<const std::uint8_t>(a));
  }
  const std::vector<Bytes>& Written() { return bus.Line(kPort).written; }
  std::int16_t Threshold() { return link->COMM().RThreshold(); }
  void ExpectStartState() {
    EXPECT_FALSE(link->AwaitingRest());
    EXPECT_EQ(Threshold(), 3);
  }

  FakeEventLoop loop;
  FakeSerialBus bus;
  RecordingOwner owner;
  CodedPort* port = nullptr;
  std::unique_ptr<frmComm> link;
};

Event Command(std::string text, CmdType cmd) {
  return {Event::kCommand, std::move(text), cmd};
}
Event Resynched() {
  return {Event::kWtxResynch, "", 1};
}
Event Time(std::string key) {
  return {Event::kTime, std::move(key), 0};
}

TEST_F(FrmCommTest, StartsWithThresholdThreeBothSequenceBitsZeroAndAlarmIdle) {
  ExpectStartState();
  EXPECT_FALSE(link->SendSeq());
  EXPECT_FALSE(link->RecvSeq());
  EXPECT_EQ(link->SendCount(), 0);
  EXPECT_EQ(loop.PendingTimers(), 0u);
}

// ---- SendCommand ------------------------------------------------------------------------------

// A terminal that answers every block at once: RESYNCH with its response, each I-block with
// its own alternating N(S), READ BINARY with data.
void AttachAnsweringTerminal(FakeSerialBus& bus, std::int16_t n) {
  auto terminal_seq = std::make_shared<bool>(false);
  bus.Line(n).terminal = [terminal_seq](FakeSerialPort& p, std::span<const std::uint8_t> w) {
    if (w[1] == t1::kPcbResynchReq) return p.Deliver(kResynchResponse);
    const std::uint8_t pcb = *terminal_seq ? t1::kPcbSeqBit : 0x00;
    *terminal_seq = !*terminal_seq;
    const Bytes inf = w[4] == 0xB0 ? Bytes{0x4B, 0x56, 0x4B, 0x90, 0x00} : Bytes{0x90, 0x00};
    p.Deliver(t1::MakeBlock(0x21, pcb, inf));
  };
}

TEST_F(FrmCommTest, SuccessfulDialogueWritesTheExactBlocksWithOwnerSendingFromInsideEvents) {
  AttachAnsweringTerminal(bus, kPort);
  owner.on_wtx = [&] { link->SendCommand(CMD_ResetCT); };
  bool done = false;
  owner.on_command = [&](const std::string&, CmdType cmd) {
    switch (cmd) {
      case CMD_ResetCT:
        link->SendCommand(CMD_RequestICC);
        break;
      case CMD_RequestICC:
        link->SendCommand(CMD_SelectFile);
        break;
      case CMD_SelectFile:
        link->SendCommand(CMD_ReadBinary);
        break;
      case CMD_ReadBinary:
        link->SendCommand(CMD_EjectICC);
        break;
      default:
        done = true;
    }
  };

  EXPECT_EQ(link->SendCommand(CMD_Resynch), 0);
  loop.RunUntil([&] { return done; });

  EXPECT_EQ(Written(), (std::vector<Bytes>{B(kResynchRequest), B(kResetCt0), B(kRequestIcc1),
                                           B(kSelectFile0), B(kReadBinary1), B(kEjectIcc0)}));
  const std::string ok = S({0x90, 0x00});
  EXPECT_EQ(owner.events,
            (std::vector<Event>{Resynched(), Command(ok, CMD_ResetCT), Command(ok, CMD_RequestICC),
                                Command(ok, CMD_SelectFile),
                                Command(S({0x4B, 0x56, 0x4B, 0x90, 0x00}), CMD_ReadBinary),
                                Command(ok, CMD_EjectICC)}));
  ExpectStartState();
}

TEST_F(FrmCommTest, ResynchRequestDoesNotConsumeASequenceNumber) {
  EXPECT_EQ(link->SendCommand(CMD_Resynch), 0);
  EXPECT_EQ(link->SendCommand(CMD_Resynch), 0);
  EXPECT_FALSE(link->SendSeq());
  EXPECT_EQ(link->LastCmdType(), CMD_Resynch);
  EXPECT_EQ(link->SendCommand(CMD_ResetCT), 0);
  EXPECT_TRUE(link->SendSeq());
  EXPECT_EQ(link->SendCommand(CMD_Resynch), 0);
  EXPECT_TRUE(link->SendSeq());
  EXPECT_EQ(Written(), (std::vector<Bytes>{B(kResynchRequest), B(kResynchRequest), B(kResetCt0),
                                           B(kResynchRequest)}));
}

TEST_F(FrmCommTest, EachCommandKeepsWhatWasWrittenAndRestoresTheResendAllowance) {
  link->SendCommand(CMD_ResetCT);
  EXPECT_EQ(link->LastBlock(), B(kResetCt0));
  EXPECT_EQ(link->SendCount(), 1);
  Arrive(kOk1);  // wrong N(S): uses the re-send
  ASSERT_EQ(link->SendCount(), 2);

  link->SendCommand(CMD_RequestICC);
  EXPECT_EQ(link->LastBlock(), Written().back());
  EXPECT_EQ(link->LastBlock(), B(kRequestIcc1));
  EXPECT_EQ(link->SendCount(), 1);
  EXPECT_EQ(link->LastCmdType(), CMD_RequestICC);
}

TEST_F(FrmCommTest, CommandNumberOutsideTheTableFailsAndChangesNothing) {
  link->SendCommand(CMD_ResetCT);
  for (CmdType bad : {0, 7, -1, 1000}) {
    try {
      link->SendCommand(bad);
      ADD_FAILURE() << "no error for " << bad;
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.Number(), 5);
      EXPECT_EQ(e.Source(), "frmComm");
      EXPECT_EQ(e.Description(), "Invalid procedure call or argument");
    }
  }
  EXPECT_EQ(Written().size(), 1u);
  EXPECT_EQ(link->LastCmdType(), CMD_ResetCT);
  EXPECT_TRUE(link->SendSeq());
  EXPECT_EQ(link->LastBlock(), B(kResetCt0));
  EXPECT_EQ(link->SendCount(), 1);
}

TEST_F(FrmCommTest, WriteErrorOfAClosedPortReachesTheCaller) {
  link->COMM().SetPortOpen(false);
  try {
    link->SendCommand(CMD_Resynch);
    ADD_FAILURE() << "no error";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.Number(), kErrPortNotOpen);
  }
}

// ---- Receive assembly -------------------------------------------------------------------------

struct AssemblyCase {
  const char* name;
  Bytes block;
  Event expected;
};
void PrintTo(const AssemblyCase& c, std::ostream* os) {
  *os << c.name;
}

// The blocks that produce an event, each delivered whole, split at every position, and byte by
// byte: always exactly one event, and the assembly back in its start state afterwards.
class FrmCommAssemblyTest : public FrmCommTest, public ::testing::WithParamInterface<AssemblyCase> {
 protected:
  void SetUp() override { link->SendCommand(CMD_ReadBinary); }
};

TEST_P(FrmCommAssemblyTest, WholeBlock) {
  Arrive(GetParam().block);
  EXPECT_EQ(owner.events, std::vector<Event>{GetParam().expected});
  ExpectStartState();
}

TEST_P(FrmCommAssemblyTest, SplitAtEveryPosition) {
  const Bytes& block = GetParam().block;
  for (std::size_t cut = 1; cut < block.size(); ++cut) {
    SCOPED_TRACE("cut after " + std::to_string(cut));
    owner.events.clear();
    NewLink();
    link->SendCommand(CMD_ReadBinary);
    Arrive(std::span(block).first(cut));
    // Fewer than 3 bytes wake nobody; from 3 on, the link waits for exactly the rest.
    EXPECT_TRUE(owner.events.empty());
    if (cut >= 3) {
      EXPECT_TRUE(link->AwaitingRest());
      EXPECT_EQ(Threshold(), static_cast<std::int16_t>(block.size() - cut));
    }
    Arrive(std::span(block).subspan(cut));
    EXPECT_EQ(owner.events, std::vector<Event>{GetParam().expected});
    ExpectStartState();
  }
}

TEST_P(FrmCommAssemblyTest, ByteByByte) {
  for (std::uint8_t b : GetParam().block) {
    EXPECT_TRUE(owner.events.empty());
    Arrive(std::span(&b, 1));
  }
  EXPECT_EQ(owner.events, std::vector<Event>{GetParam().expected});
  ExpectStartState();
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, FrmCommAssemblyTest,
    ::testing::Values(AssemblyCase{"ResynchResponse", B(kResynchResponse), Resynched()},
                      AssemblyCase{"WtxResponse", B(kWtxResponse), Resynched()},
                      AssemblyCase{"StatusOnly", B(kOk0), Command(S({0x90, 0x00}), CMD_ReadBinary)},
                      AssemblyCase{"EmptyInf", B(kEmpty0), Command("", CMD_ReadBinary)},
                      AssemblyCase{"LongestBlock", t1::MakeBlock(0x21, 0x00, Bytes(255, 0xA5)),
                                   Command(std::string(255, '\xA5'), CMD_ReadBinary)}),
    [](const ::testing::TestParamInfo<AssemblyCase>& info) { return info.param.name; });

TEST_F(FrmCommTest, ThreePlusOneSplitOfResynchResponse) {
  Arrive(std::span(kResynchResponse).first(3));
  EXPECT_TRUE(link->AwaitingRest());
  EXPECT_EQ(Threshold(), 1);
  EXPECT_TRUE(owner.events.empty());
  Arrive(std::span(kResynchResponse).subspan(3));
  EXPECT_EQ(owner.events, std::vector<Event>{Resynched()});
  ExpectStartState();
}

TEST_F(FrmCommTest, FirstReadLongerThanItsBlockIsDroppedAndTheNextBlockCounts) {
  link->SendCommand(CMD_ResetCT);
  Bytes too_long = B(kOk0);
  too_long.push_back(0x00);
  Arrive(too_long);
  EXPECT_TRUE(owner.events.empty());
  EXPECT_FALSE(link->RecvSeq());
  ExpectStartState();

  Arrive(kOk0);
  EXPECT_EQ(owner.events, std::vector<Event>{Command(S({0x90, 0x00}), CMD_ResetCT)});
}

TEST_F(FrmCommTest, ContinuationThatOverflowsResetsTheAssembly) {
  link->SendCommand(CMD_ResetCT);
  Arrive(std::span(kOk0).first(3));
  ASSERT_TRUE(link->AwaitingRest());
  // The rest of the block and the start of another arrive together.
  Bytes rest(kOk0.begin() + 3, kOk0.end());
  rest.push_back(0x21);
  Arrive(rest);
  EXPECT_TRUE(owner.events.empty());
  EXPECT_FALSE(link->RecvSeq());
  ExpectStartState();

  Arrive(kOk0);
  EXPECT_EQ(owner.events, std::vector<Event>{Command(S({0x90, 0x00}), CMD_ResetCT)});
}

TEST_F(FrmCommTest, FewerThanThreeBytesAreKeptUntilTheHeaderIsComplete) {
  // A notification can find fewer bytes than the threshold (a port that reports early).
  link->SendCommand(CMD_ResetCT);
  port->Deliver(std::span(kOk0).first(1));
  link->COMM_OnComm();
  EXPECT_TRUE(link->AwaitingRest());
  EXPECT_EQ(Threshold(), 2);  // wake up when the header is complete
  Arrive(std::span(kOk0).subspan(1, 2));
  EXPECT_TRUE(link->AwaitingRest());
  EXPECT_EQ(Threshold(), 3);  // LEN is known now: wake up when the rest is there
  Arrive(std::span(kOk0).subspan(3));
  EXPECT_EQ(owner.events, std::vector<Event>{Command(S({0x90, 0x00}), CMD_ResetCT)});
  ExpectStartState();
}

TEST_F(FrmCommTest, HeaderCompletedByAnEarlyNotificationStillWaitsForTheRest) {
  port->Deliver({0x21});
  link->COMM_OnComm();
  port->Deliver({0xE0});
  link->COMM_OnComm();
  EXPECT_EQ(Threshold(), 1);
  Arrive(std::span(kResynchResponse).subspan(2, 1));  // LEN: the EDC is still missing
  EXPECT_TRUE(link->AwaitingRest());
  EXPECT_EQ(Threshold(), 1);
  Arrive(std::span(kResynchResponse).subspan(3));
  EXPECT_EQ(owner.events, std::vector<Event>{Resynched()});
  ExpectStartState();
}

TEST_F(FrmCommTest, NotificationWithNothingWaitingChangesNothing) {
  link->COMM_OnComm();
  EXPECT_TRUE(owner.events.empty());
  ExpectStartState();
}

TEST_F(FrmCommTest, NotificationsOtherThanReceiveAreIgnored) {
  port->code = 1;  // comEvSend
  Arrive(kResynchResponse);
  EXPECT_TRUE(owner.events.empty());
  EXPECT_EQ(port->Waiting(), kResynchResponse.size());
  port->code = kComEvReceive;
  link->COMM_OnComm();
  EXPECT_EQ(owner.events, std::vector<Event>{Resynched()});
}

// ---- Block handling ---------------------------------------------------------------------------

struct PcbCase {
  std::uint8_t pcb;
  enum Outcome { kResynchEvent, kIgnored, kAccepted, kChained, kRejected } outcome;
};
void PrintTo(const PcbCase& c, std::ostream* os) {
  *os << "PCB " << int{c.pcb};
}

class FrmCommPcbTest : public FrmCommTest, public ::testing::WithParamInterface<PcbCase> {};

// Every kind of block the terminal may send, with N(S) 0 expected next.
TEST_P(FrmCommPcbTest, ClassifiesByPcb) {
  link->SendCommand(CMD_ResetCT);
  Arrive(t1::MakeBlock(0x21, GetParam().pcb, Bytes{0x90, 0x00}));
  std::vector<Event> expected_events;
  std::size_t writes = 1;
  bool recv_seq = false;
  switch (GetParam().outcome) {
    case PcbCase::kResynchEvent:
      expected_events = {Resynched()};
      break;
    case PcbCase::kIgnored:
      break;
    case PcbCase::kAccepted:
      expected_events = {Command(S({0x90, 0x00}), CMD_ResetCT)};
      recv_seq = true;
      break;
    case PcbCase::kChained:
      recv_seq = true;
      break;
    case PcbCase::kRejected:
      writes = 2;
      break;
  }
  EXPECT_EQ(owner.events, expected_events);
  EXPECT_EQ(Written().size(), writes);
  if (writes == 2) {
    EXPECT_EQ(Written()[1], B(kResetCt0));
  }
  EXPECT_EQ(link->RecvSeq(), recv_seq);
  ExpectStartState();
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, FrmCommPcbTest,
    ::testing::Values(PcbCase{0xE0, PcbCase::kResynchEvent},  // RESYNCH response
                      PcbCase{0xE3, PcbCase::kResynchEvent},  // WTX response
                      PcbCase{0xC0, PcbCase::kIgnored},       // RESYNCH request
                      PcbCase{0xC3, PcbCase::kIgnored},       // WTX request: no answer
                      PcbCase{0xC1, PcbCase::kIgnored},       // IFS request
                      PcbCase{0xE1, PcbCase::kIgnored},       // IFS response
                      PcbCase{0xE2, PcbCase::kIgnored},       // ABORT response
                      PcbCase{0xF0, PcbCase::kIgnored},       // response bits, unknown kind
                      PcbCase{0xF3, PcbCase::kIgnored},       // response bits, unknown kind
                      PcbCase{0x80, PcbCase::kIgnored},       // R-block N(R)=0
                      PcbCase{0x90, PcbCase::kIgnored},       // R-block N(R)=1
                      PcbCase{0x82, PcbCase::kIgnored},       // R-block, other error
                      PcbCase{0xBF, PcbCase::kIgnored},       // R-block, all bits
                      PcbCase{0x00, PcbCase::kAccepted},      // I-block N(S)=0
                      PcbCase{0x1F, PcbCase::kAccepted},      // I-block, reserved bits
                      PcbCase{0x20, PcbCase::kChained},       // I-block N(S)=0, more data
                      PcbCase{0x40, PcbCase::kRejected},      // I-block N(S)=1
                      PcbCase{0x60, PcbCase::kRejected}),     // I-block N(S)=1, more data
    [](const ::testing::TestParamInfo<PcbCase>& info) {
      char name[8];
      std::snprintf(name, sizeof name, "Pcb%02X", info.param.pcb);
      return std::string(name);
    });

TEST_F(FrmCommTest, SequenceBitsOfTheTerminalAlternateAcrossAnswers) {
  link->SendCommand(CMD_ResetCT);
  Arrive(kOk0);
  link->SendCommand(CMD_RequestICC);
  Arrive(kOk1);
  link->SendCommand(CMD_SelectFile);
  Arrive(kOk0);
  EXPECT_EQ(owner.events.size(), 3u);
  EXPECT_EQ(Written().size(), 3u);
  // S-blocks and R-blocks leave the sequence state alone.
  Arrive(kResynchResponse);
  Arrive(kRBlock);
  EXPECT_TRUE(link->RecvSeq());
  EXPECT_TRUE(link->SendSeq());
}

TEST_F(FrmCommTest, WrongSequenceBitIsAnsweredByOneResendOnly) {
  link->SendCommand(CMD_ResetCT);
  Arrive(kOk1);
  ASSERT_EQ(Written().size(), 2u);
  EXPECT_EQ(Written()[1], Written()[0]);
  EXPECT_EQ(link->SendCount(), 2);
  Arrive(kOk1);
  Arrive(kOk1);
  EXPECT_EQ(Written().size(), 2u);
  EXPECT_TRUE(owner.events.empty());
  EXPECT_FALSE(link->RecvSeq());
  // The right answer still counts, and carries the command that was sent.
  Arrive(kOk0);
  EXPECT_EQ(owner.events, std::vector<Event>{Command(S({0x90, 0x00}), CMD_ResetCT)});
}

TEST_F(FrmCommTest, ResendRepeatsAResynchRequestToo) {
  link->SendCommand(CMD_Resynch);
  Arrive(kOk1);
  EXPECT_EQ(Written(), (std::vector<Bytes>{B(kResynchRequest), B(kResynchRequest)}));
}

TEST_F(FrmCommTest, WrongSequenceBitBeforeAnyCommandWritesNothing) {
  Arrive(kOk1);
  EXPECT_TRUE(Written().empty());
  EXPECT_TRUE(owner.events.empty());
}

TEST_F(FrmCommTest, ChainedAnswerArrivesAsOneCommandReceived) {
  link->SendCommand(CMD_ReadBinary);
  Arrive(kChain1);
  Arrive(kChain2);
  EXPECT_TRUE(owner.events.empty());
  EXPECT_EQ(Written().size(), 1u);  // no acknowledgement is sent
  Arrive(kChain3);
  EXPECT_EQ(owner.events, std::vector<Event>{Command(S({'A', 'B', 'C', 'D', 'E', 'F', 0x90, 0x00}),
                                                     CMD_ReadBinary)});
  // The next answer starts empty.
  link->SendCommand(CMD_EjectICC);
  Arrive(kOk1);
  EXPECT_EQ(owner.events.back(), Command(S({0x90, 0x00}), CMD_EjectICC));
}

TEST_F(FrmCommTest, RejectedBlockInsideAChainKeepsWhatWasAccepted) {
  link->SendCommand(CMD_ReadBinary);
  Arrive(kChain1);
  Arrive(kChain1);  // N(S) 0 again: rejected, the command is re-sent
  EXPECT_EQ(Written().size(), 2u);
  Arrive(kChain2);
  Arrive(kChain3);
  EXPECT_EQ(owner.events, std::vector<Event>{Command(S({'A', 'B', 'C', 'D', 'E', 'F', 0x90, 0x00}),
                                                     CMD_ReadBinary)});
}

TEST_F(FrmCommTest, CmdAfterAResendIsTheLastCommandSent) {
  link->SendCommand(CMD_ResetCT);
  Arrive(kOk0);
  link->SendCommand(CMD_ReadBinary);
  Arrive(kOk0);  // repeats the previous N(S)
  ASSERT_EQ(Written().back(), Written()[1]);
  Arrive(kData1);
  EXPECT_EQ(owner.events.back(),
            Command(S({0x4B, 0x56, 0xE4, 0xFC, 0xDF, 0x90, 0x00}), CMD_ReadBinary));
}

TEST_F(FrmCommTest, ResponseTextHoldsOneCharPerByteEndingWithTheStatusBytes) {
  link->SendCommand(CMD_ResetCT);
  link->SendCommand(CMD_ReadBinary);
  Arrive(kOk0);
  Arrive(kData1);
  ASSERT_EQ(owner.events.size(), 2u);
  const std::string& text = owner.events[1].text;
  ASSERT_EQ(text.size(), 7u);
  EXPECT_EQ(static_cast<unsigned char>(text[2]), 0xE4);
  EXPECT_EQ(static_cast<unsigned char>(text[5]), 0x90);
  EXPECT_EQ(static_cast<unsigned char>(text[6]), 0x00);
}

TEST_F(FrmCommTest, StateIsConsistentInsideEventsAndANestedSendWorks) {
  link->SendCommand(CMD_ResetCT);
  // The terminal answers the nested command at once: its block must start a fresh assembly.
  bus.Line(kPort).terminal = [](FakeSerialPort& p, std::span<const std::uint8_t> w) {
    if (w[4] == 0x12) p.Deliver(kOk1);
  };
  owner.on_command = [&](const std::string&, CmdType cmd) {
    EXPECT_FALSE(link->AwaitingRest());
    EXPECT_EQ(Threshold(), 3);
    EXPECT_EQ(link->RecvSeq(), cmd == CMD_ResetCT);
    if (cmd == CMD_ResetCT) link->SendCommand(CMD_RequestICC);
  };
  owner.on_wtx = [&] {
    EXPECT_FALSE(link->AwaitingRest());
    EXPECT_EQ(Threshold(), 3);
  };
  Arrive(kResynchResponse);
  Arrive(kOk0);
  EXPECT_EQ(owner.events, (std::vector<Event>{Resynched(), Command(S({0x90, 0x00}), CMD_ResetCT),
                                              Command(S({0x90, 0x00}), CMD_RequestICC)}));
}

TEST_F(FrmCommTest, ErrorFromTheOwnersHandlerPropagatesAndLeavesTheLinkUsable) {
  link->SendCommand(CMD_ResetCT);
  owner.on_command = [](const std::string&, CmdType) {
    throw AutomationError(0x80040001, "clsApplication", "handler failed");
  };
  port->Deliver(kOk0);
  EXPECT_THROW(loop.Drain(), AutomationError);
  ExpectStartState();
  EXPECT_TRUE(link->RecvSeq());

  owner.on_command = nullptr;
  link->SendCommand(CMD_RequestICC);
  Arrive(kOk1);
  EXPECT_EQ(owner.events.size(), 2u);
  EXPECT_EQ(owner.events.back().cmd, CMD_RequestICC);
}

TEST_F(FrmCommTest, OwnerMayReleaseTheLinkFromInsideItsEvents) {
  // Nothing of the link may be touched after an event: the owner can drop it there.
  link->SendCommand(CMD_ResetCT);
  owner.on_command = [&](const std::string&, CmdType) { link.reset(); };
  Arrive(kOk0);
  EXPECT_EQ(link, nullptr);

  NewLink();
  owner.on_time = [&](const std::string&) { link.reset(); };
  link->StartTimer("RESYNC", 800);
  loop.AdvanceBy(1s);
  EXPECT_EQ(link, nullptr);
  EXPECT_EQ(owner.events.size(), 2u);
}

// ---- One-shot alarm ---------------------------------------------------------------------------

TEST_F(FrmCommTest, AlarmFiresOnceAtItsInterval) {
  link->StartTimer("RESYNC", 800);
  loop.AdvanceBy(799ms);
  EXPECT_TRUE(owner.events.empty());
  loop.AdvanceBy(1ms);
  EXPECT_EQ(owner.events, std::vector<Event>{Time("RESYNC")});
  loop.AdvanceBy(10s);
  EXPECT_EQ(owner.events.size(), 1u);
  EXPECT_EQ(loop.PendingTimers(), 0u);
}

TEST_F(FrmCommTest, ReArmingReplacesKeyAndInterval) {
  link->StartTimer("RESYNC", 800);
  loop.AdvanceBy(500ms);
  link->StartTimer("PORTCHECK", 300);
  loop.AdvanceBy(299ms);
  EXPECT_TRUE(owner.events.empty());
  loop.AdvanceBy(1ms);
  EXPECT_EQ(owner.events, std::vector<Event>{Time("PORTCHECK")});
  loop.AdvanceBy(10s);
  EXPECT_EQ(owner.events.size(), 1u);
}

TEST_F(FrmCommTest, StopTimerDisablesTheAlarm) {
  link->StartTimer("RESYNC", 800);
  loop.AdvanceBy(400ms);
  link->StopTimer();
  loop.AdvanceBy(10s);
  EXPECT_TRUE(owner.events.empty());
  link->StopTimer();  // stopping an idle alarm is harmless
  EXPECT_EQ(loop.PendingTimers(), 0u);
}

TEST_F(FrmCommTest, NonPositiveIntervalLeavesTheAlarmDisabled) {
  link->StartTimer("RESYNC", 800);
  link->StartTimer("PORTCHECK", 0);
  EXPECT_EQ(loop.PendingTimers(), 0u);
  link->StartTimer("PORTCHECK", -5);
  loop.AdvanceBy(10s);
  EXPECT_TRUE(owner.events.empty());
}

TEST_F(FrmCommTest, AlarmCanBeReArmedFromItsOwnEvent) {
  int fired = 0;
  owner.on_time = [&](const std::string&) {
    if (++fired == 1) link->StartTimer("PORTCHECK", 300);
  };
  link->StartTimer("PORTCHECK", 300);
  loop.AdvanceBy(10s);
  EXPECT_EQ(owner.events, (std::vector<Event>{Time("PORTCHECK"), Time("PORTCHECK")}));
  EXPECT_EQ(loop.Now(), 10s);
}

TEST_F(FrmCommTest, AlarmIsNotStoppedByAnArrivingAnswer) {
  link->SendCommand(CMD_Resynch);
  link->StartTimer("RESYNC", 800);
  Arrive(kResynchResponse);
  loop.AdvanceBy(800ms);
  EXPECT_EQ(owner.events, (std::vector<Event>{Resynched(), Time("RESYNC")}));
}

TEST_F(FrmCommTest, HandlerCalledDirectlyDisablesTheAlarmFirst) {
  link->StartTimer("RESYNC", 800);
  link->Timer1_Timer();
  EXPECT_EQ(owner.events, std::vector<Event>{Time("RESYNC")});
  loop.AdvanceBy(10s);
  EXPECT_EQ(owner.events.size(), 1u);
}

TEST_F(FrmCommTest, DestroyingTheLinkCancelsTheAlarmAndSilencesThePort) {
  link->StartTimer("RESYNC", 800);
  port->Deliver(kResynchResponse);  // notification posted, not yet delivered
  link.reset();
  EXPECT_EQ(loop.PendingTimers(), 0u);
  loop.AdvanceBy(10s);
  EXPECT_TRUE(owner.events.empty());
}

}  // namespace
}  // namespace qz
