// The T=1 link on a scripted line and a hand-driven clock: how arriving bytes are assembled, how
// each kind of block is treated, and the one-shot alarm.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/frm_comm.h"
#include "link/t1_block.h"
#include "tests/fakes/fake_serial_port.h"
#include "tests/fakes/test_support.h"

namespace qz::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::string>;
using namespace std::chrono_literals;

const Bytes kResynched = H("21 E0 00 C1");
const Bytes kOk0 = H("21 00 02 90 00 B3"), kOk1 = H("21 40 02 90 00 F3");

// A fresh link on an open port, as the owner makes one for every read; the fixture is the
// owner and records its events ("C<cmd> <hex>", "W<value>", "T<key>"); `after` acts from inside.
class LinkTest : public ::testing::Test, public frmCommEvents {
 protected:
  LinkTest() { NewLink(); }
  void NewLink() {
    link.reset();
    events.clear();
    bus[1].written.clear();
    auto p = std::make_unique<FakeSerialPort>(loop, bus);
    port = p.get();
    link = std::make_unique<frmComm>(loop, std::move(p), *this);
    port->SetCommPort(1);
    port->SetPortOpen(true);
  }
  void Arrive(const Bytes& bytes, std::size_t from = 0, std::size_t n = 999) {
    port->Deliver(std::span(bytes).subspan(from, std::min(n, bytes.size() - from)));
    loop.AdvanceBy(0ms);
  }

  void CommandReceived(std::string sBuffer, CmdType CMD) override {
    Add("C" + std::to_string(CMD) + Hex(sBuffer));
  }
  void WTXResynchCompleted(std::int32_t& v) override { Add("W" + std::to_string(v)); }
  void TimeReached(std::string& Key) override { Add("T" + Key); }
  void Add(std::string e) {
    events.push_back(std::move(e));
    if (after) after();
  }

  FakeEventLoop loop;
  FakeSerialBus bus;
  FakeSerialPort* port = nullptr;
  std::unique_ptr<frmComm> link;
  Texts events;
  std::function<void()> after;
};

TEST_F(LinkTest, BlocksAreAssembledWhereverTheReadsCutThem) {
  const Bytes answer = H("21 00 06 60 90 80 01 90 00 C6");  // LEN 6
  for (std::size_t cut = 1; cut < answer.size(); ++cut) {
    NewLink();
    link->SendCommand(CMD_ReadBinary);
    Arrive(answer, 0, cut);
    // Under 3 bytes nobody is woken; once LEN is known the port waits for exactly the rest.
    EXPECT_EQ(port->RThreshold(), cut >= 3 ? static_cast<int>(answer.size() - cut) : 3) << cut;
    Arrive(answer, cut);
    EXPECT_EQ(events, Texts{"C5 60 90 80 01 90 00"}) << cut;
    EXPECT_EQ(port->RThreshold(), 3);
  }
  // An empty block, 3 bytes and then 1; and a port that reports before its threshold.
  Arrive(kResynched, 0, 3);
  EXPECT_EQ(port->RThreshold(), 1);
  Arrive(kResynched, 3);
  port->Deliver(std::span(kOk1).first(1));
  link->COMM_OnComm();
  EXPECT_EQ(port->RThreshold(), 2);
  Arrive(kOk1, 1, 2);
  EXPECT_EQ(port->RThreshold(), 3);
  Arrive(kOk1, 3);
  // A read longer than its block is dropped whole, in the start state and awaiting the rest.
  const Bytes overlong = H("21 00 02 90 00 B3 21");
  Arrive(overlong);
  Arrive(overlong, 0, 3);
  Arrive(overlong, 3);
  EXPECT_EQ(port->RThreshold(), 3);
  Arrive(kOk0);
  EXPECT_EQ(events, (Texts{"C5 60 90 80 01 90 00", "W1", "C5 90 00", "C5 90 00"}));
}

TEST_F(LinkTest, EachKindOfBlockByItsPcb) {
  // Every block carries 62 00; then an answer 90 00 with the N(S) the link expects next. None
  // of them makes the link write again.
  const Texts ok = {"C1 90 00"};
  // clang-format off
  const std::pair<std::uint8_t, Texts> kCases[] = {
      {0x00, {"C1 62 00", "C1 90 00"}}, {0x20, {"C1 62 00 90 00"}},  // expected N(S); M
      {0xE0, {"W1", "C1 90 00"}}, {0xE3, {"W1", "C1 90 00"}},  // RESYNCH, WTX responses
      // R-blocks never cause a re-send; RESYNCH and WTX requests, IFS and ABORT are ignored.
      {0x80, ok}, {0x90, ok}, {0x82, ok}, {0xC0, ok}, {0xC3, ok}, {0xC1, ok}, {0xE1, ok}, {0xE2, ok},
  };
  // clang-format on
  for (const auto& [pcb, want] : kCases) {
    NewLink();
    link->SendCommand(CMD_ResetCT);
    Arrive(t1::MakeBlock(0x21, pcb, Bytes{0x62, 0x00}));
    Arrive((pcb & 0xC0) == 0 ? kOk1 : kOk0);
    EXPECT_EQ(bus[1].written.size(), 1u) << int(pcb);
    EXPECT_EQ(events, want) << int(pcb);
  }
}

TEST_F(LinkTest, WrongNsResendsTheLastBlockOncePerCommandAndChainsKeepTheirData) {
  Arrive(kOk1);  // nothing sent yet: nothing to repeat
  link->SendCommand(CMD_ResetCT);
  for (CmdType bad : {0, 7, -1})  // refused, changing nothing
    EXPECT_EQ(Raised([&] { link->SendCommand(bad); }),
              "5 frmComm: Invalid procedure call or argument");
  Arrive(kOk1);
  Arrive(kOk1);  // the second wrong N(S) is ignored
  Arrive(kOk0);
  link->SendCommand(CMD_ReadBinary);         // a new command earns a re-send again
  const Bytes chain1 = H("21 60 01 41 00");  // N(S) 1 with M; the EDC is not checked
  Arrive(chain1);
  Arrive(chain1);  // N(S) 1 again: the command is re-sent, "A" is kept
  Arrive(H("21 20 02 42 43 00"));
  Arrive(H("21 40 02 90 00 00"));
  const Bytes reset = H("12 00 05 20 11 00 00 00 26"), read = H("02 40 05 00 B0 00 00 00 F7");
  EXPECT_EQ(bus[1].written, (std::vector<Bytes>{reset, reset, read, read}));  // no acknowledgements
  EXPECT_EQ(events, (Texts{"C1 90 00", "C5 41 42 43 90 00"}));  // the command last sent
}

TEST_F(LinkTest, OwnerMayThrowFromOrReleaseTheLinkInsideAnEvent) {
  link->SendCommand(CMD_ResetCT);
  after = [] { throw AutomationError(1, "owner", "failed"); };
  port->Deliver(kOk0);
  EXPECT_THROW(loop.AdvanceBy(0ms), AutomationError);
  EXPECT_EQ(port->RThreshold(), 3);
  after = [&] { link.reset(); };  // nothing of the link may be touched after its event
  link->SendCommand(CMD_RequestICC);
  Arrive(kOk1);
  EXPECT_EQ(link, nullptr);
}

TEST_F(LinkTest, AlarmFiresOnceReArmingReplacesKeyAndIntervalAndStoppingDisarms) {
  after = [&] {
    if (events.size() == 2) link->StartTimer("RESYNC", 300);  // from its own event
  };
  link->StartTimer("RESYNC", 800);
  loop.AdvanceBy(500ms);
  link->StartTimer("PORTCHECK", 100);
  Arrive(kResynched);  // an answer does not stop it
  loop.AdvanceBy(99ms);
  EXPECT_EQ(events, Texts{"W1"});
  loop.AdvanceBy(1ms);
  loop.AdvanceBy(300ms);
  loop.AdvanceBy(10s);
  EXPECT_EQ(events, (Texts{"W1", "TPORTCHECK", "TRESYNC"}));
  link->StartTimer("RESYNC", 800);
  link->StopTimer();
  loop.AdvanceBy(10s);
  EXPECT_EQ(events.size(), 3u);
  link->StartTimer("RESYNC", 800);
  link.reset();
  EXPECT_EQ(loop.PendingTimers(), 0u);
}

TEST(ReceiveBuffer, DueWhenTheWaitingBytesReachTheThresholdAndNeverAtZero) {
  ReceiveBuffer rb;
  EXPECT_FALSE(rb.Append(std::span(kOk0).first(2)));
  EXPECT_TRUE(rb.SetThreshold(2));  // lowered to what is waiting: due at once
  EXPECT_FALSE(rb.SetThreshold(0));
  EXPECT_FALSE(rb.Append(std::span(kOk0).subspan(2)));
  EXPECT_EQ(rb.TakeAll(), kOk0);
}

}  // namespace
}  // namespace qz::testing
