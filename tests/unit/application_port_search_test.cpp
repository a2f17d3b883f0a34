// GetCardPort: which port it reports, how long it listens, and that it leaves no port open.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/unit/application_test_support.h"

namespace qz::testing {
namespace {

using std::chrono::milliseconds;

class PortSearchTest : public ::testing::Test {
 protected:
  FakePlatform platform;
  std::unique_ptr<clsApplication> app = std::make_unique<clsApplication>(platform);
  clsApplicationTestPeer peer{*app};
};

TEST_F(PortSearchTest, FindsTheTerminalOnTheSecondPortAfterTwoListeningPeriods) {
  platform.bus.Line(1);  // present, nothing attached
  ScriptedTerminal terminal(platform.bus, 2);
  platform.bus.Line(3);  // present; never tried once COM2 answers
  app->CommPort(7);
  const auto record = app->KVKData();

  EXPECT_EQ(app->GetCardPort(), 2);
  EXPECT_EQ(platform.loop.Now(), milliseconds(600)) << "300 ms per port, also when answered";
  EXPECT_EQ(platform.loop.Pumps(), 0u) << "the wait sleeps until the next event";
  EXPECT_EQ(platform.bus.open_count, 0);
  EXPECT_EQ(platform.bus.Line(1).written, Blocks({kResynch}));
  EXPECT_EQ(platform.bus.Line(2).written, Blocks({kResynch})) << "the scan sends nothing more";
  EXPECT_EQ(platform.bus.Line(3).opens, 0);
  EXPECT_FALSE(peer.PortCheck());
  EXPECT_EQ(app->CommPort(), 7);
  EXPECT_EQ(app->KVKData(), record);
  EXPECT_EQ(platform.views.size(), 1u) << "no window";

  // The host stores the port and reads from it.
  app->CommPort(2);
  terminal.replies[CMD_ResetCT] = {Status(0x6E, 0x00)};
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_Error);
  EXPECT_EQ(platform.bus.Line(2).written.size(), 3u);
}

TEST_F(PortSearchTest, InvalidFirstPortEndsTheScanAtOnce) {
  EXPECT_EQ(app->GetCardPort(), -1);
  EXPECT_EQ(platform.loop.Now(), milliseconds(0));
  EXPECT_FALSE(peer.PortCheck());
}

TEST_F(PortSearchTest, PortsThatFailToOpenCostNoTime) {
  platform.bus.Line(1).open_error = kErrPortNotAvailable;
  platform.bus.Line(2).open_error = kErrCannotSetLine;
  ScriptedTerminal terminal(platform.bus, 3);
  EXPECT_EQ(app->GetCardPort(), 3);
  EXPECT_EQ(platform.loop.Now(), milliseconds(300));
  EXPECT_EQ(platform.bus.open_count, 0);
}

TEST_F(PortSearchTest, NoTerminalAnywhereGivesMinusOne) {
  platform.bus.Line(1);
  ScriptedTerminal silent(platform.bus, 2);
  silent.resynch_delay.reset();
  EXPECT_EQ(app->GetCardPort(), -1);
  EXPECT_EQ(platform.loop.Now(), milliseconds(600));
  EXPECT_EQ(platform.bus.open_count, 0);
}

TEST_F(PortSearchTest, AnswerAfterTheListeningTimeDoesNotCount) {
  ScriptedTerminal slow(platform.bus, 1);
  slow.resynch_delay = milliseconds(301);
  EXPECT_EQ(app->GetCardPort(), -1);
}

TEST_F(PortSearchTest, CallsDuringTheScanAreRefused) {
  ScriptedTerminal terminal(platform.bus, 1);
  std::int16_t nested_scan = 99;
  enmReturnValue nested_read = RV_ReadSuccessful;
  platform.loop.AddTimer(milliseconds(150), [&] {
    nested_scan = app->GetCardPort();
    nested_read = app->ReadCard(CRT_CommPort);
  });
  EXPECT_EQ(app->GetCardPort(), 1);
  EXPECT_EQ(nested_scan, 0);
  EXPECT_EQ(nested_read, RV_Error);
  EXPECT_EQ(platform.bus.Line(1).opens, 1);
}

TEST_F(PortSearchTest, CallDuringAReadReturnsZeroAndTouchesNoPort) {
  peer.SetBusy(true);
  platform.bus.Line(1);
  EXPECT_EQ(app->GetCardPort(), 0);
  EXPECT_EQ(platform.bus.Line(1).opens, 0);
  EXPECT_FALSE(peer.PortCheck());
}

}  // namespace
}  // namespace qz::testing
