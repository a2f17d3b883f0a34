// Errors of a serial read: what the host is raised, what the log gets, and that the object is
// ready for the next read afterwards.
#include <gtest/gtest.h>

#include "tests/unit/application_test_support.h"

namespace qz::testing {
namespace {

// Runs a read that must raise; returns the error.
AutomationError ReadExpectingError(clsApplication& app, std::int32_t type) {
  try {
    app.ReadCard(type);
  } catch (const AutomationError& err) {
    return err;
  }
  ADD_FAILURE() << "ReadCard raised nothing";
  return AutomationError(0, "", "");
}

TEST_F(ApplicationTest, NoCommPortRaisesLogsOnceAndOpensNothing) {
  for (std::int16_t port : {0, -1}) {
    platform.log_lines.clear();
    app->CommPort(port);
    const AutomationError err = ReadExpectingError(*app, CRT_CommPort);
    EXPECT_EQ(err.Number(), -2147221503);
    EXPECT_EQ(err.Source(), "ClsApplication");
    EXPECT_EQ(err.Description(), "No CommPort is set");
    ASSERT_EQ(platform.log_lines.size(), 1u);
    EXPECT_EQ(platform.log_lines[0],
              "06.12.2026\t03:15:02\tModule : ClsApplication\tMethod : ReadCard\tComment : None"
              "\tErrNo : -2147221503\tErrDesc. : No CommPort is set\tErrSource : ClsApplication"
              "\r\n");
    EXPECT_EQ(platform.bus.Line(1).opens, 0);
    EXPECT_EQ(platform.LastView().shows, 0) << "no window is shown";
    ExpectIdleAfterRead();
  }
  app->CommPort(1);
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_ReadSuccessful);
}

TEST_F(ApplicationTest, PortThatCannotBeOpenedRaisesTheControlsError) {
  platform.bus.Line(3).open_error = kErrPortNotAvailable;
  for (std::int16_t port : {3, 9}) {  // held by another program; no such port
    platform.log_lines.clear();
    app->CommPort(port);
    const AutomationError err = ReadExpectingError(*app, CRT_CommPort);
    EXPECT_EQ(err.Number(), port == 3 ? kErrPortNotAvailable : kErrInvalidPortNumber);
    EXPECT_EQ(err.Source(), kSerialErrorSource);
    EXPECT_EQ(err.Description(), port == 3 ? "Port not available" : "Invalid port number");
    ASSERT_EQ(platform.log_lines.size(), 1u);
    EXPECT_NE(platform.log_lines[0].find("\tMethod : ReadCard\tComment : None\tErrNo : " +
                                         std::to_string(err.Number()) + "\t"),
              std::string::npos);
    ExpectIdleAfterRead();
  }
  app->CommPort(1);
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_ReadSuccessful);
}

TEST_F(ApplicationTest, LogThatCannotBeWrittenIsRaisedInstead) {
  platform.log_fails = true;
  app->CommPort(0);
  const AutomationError err = ReadExpectingError(*app, CRT_CommPort);
  EXPECT_EQ(err.Number(), 75);
  EXPECT_EQ(err.Description(), "Path/File access error");
  ExpectIdleAfterRead();
}

TEST_F(ApplicationTest, ErrorInsideTheWaitEndsTheReadWithThatError) {
  // The port vanishes while the card is being selected: the next write fails in the handler.
  platform.on_message = [&](FakeViewRecord&, const std::string& text) {
    if (text == kCardInserted) platform.bus.open_port->SetPortOpen(false);
  };
  const AutomationError err = ReadExpectingError(*app, CRT_CommPort);
  EXPECT_EQ(err.Number(), kErrPortNotOpen);
  ASSERT_EQ(platform.log_lines.size(), 1u);
  EXPECT_TRUE(platform.LastView().destroyed) << "no window is left on the screen";
  ExpectIdleAfterRead();

  platform.on_message = nullptr;
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_ReadSuccessful);
}

TEST_F(ApplicationTest, ComponentNotRegisteredIsPassedOnInASerialRead) {
  platform.bus.Line(4).open_error = kErrComponentNotRegistered;
  app->CommPort(4);
  EXPECT_EQ(ReadExpectingError(*app, CRT_CommPort).Number(), kErrComponentNotRegistered);
}

TEST_F(ApplicationTest, TestSendsOneResynchOnThePortAsItIs) {
  try {
    app->Test();
    ADD_FAILURE() << "a closed port must refuse the write";
  } catch (const AutomationError& err) {
    EXPECT_EQ(err.Number(), kErrPortNotOpen);
  }
  EXPECT_TRUE(platform.log_lines.empty()) << "Test logs nothing";

  peer.Link().COMM().SetCommPort(1);
  peer.Link().COMM().SetPortOpen(true);
  terminal.resynch_delay.reset();
  app->Test();
  EXPECT_EQ(Written(), Blocks({kResynch}));
  EXPECT_EQ(platform.loop.PendingTimers(), 0u) << "no timer is started";
}

TEST(ApplicationLifetime, DestroyingAnObjectClosesItsPortAndStopsItsTimer) {
  FakePlatform platform;
  platform.bus.Line(1);
  {
    clsApplication app(platform);
    clsApplicationTestPeer peer(app);
    peer.Link().COMM().SetCommPort(1);
    peer.Link().COMM().SetPortOpen(true);
    peer.Link().StartTimer("RESYNC", 800);
  }
  EXPECT_EQ(platform.bus.open_count, 0);
  EXPECT_EQ(platform.loop.PendingTimers(), 0u);
  EXPECT_TRUE(platform.LastView().destroyed);
}

}  // namespace
}  // namespace qz::testing
