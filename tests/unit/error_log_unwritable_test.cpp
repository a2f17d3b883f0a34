// A log that cannot be written while a read has its port open: the host gets the log's failure,
// and the read still closes its port and leaves the object ready for the next read.
#include <gtest/gtest.h>

#include "tests/unit/application_test_support.h"

namespace qz::testing {
namespace {

TEST_F(ApplicationTest, UnwritableLogDuringAnOpenReadIsRaisedAfterTheClosingSteps) {
  // The terminal stops taking bytes when SELECT FILE is written: the write fails inside the
  // dialogue, with the port open.
  FakeLine& line = platform.bus.Line(1);
  auto answer = line.terminal;
  bool port_open_at_failure = false;
  line.terminal = [&](FakeSerialPort& port, std::span<const std::uint8_t> written) {
    if (written.size() > 4 && written[4] == 0xA4) {
      port_open_at_failure = port.PortOpen();
      throw AutomationError(kErrPortNotAvailable, kSerialErrorSource, "Write timed out");
    }
    answer(port, written);
  };
  platform.log_fails = true;
  try {
    app->ReadCard(CRT_CommPort);
    ADD_FAILURE() << "ReadCard raised nothing";
  } catch (const AutomationError& err) {
    EXPECT_EQ(err.Number(), 75);
    EXPECT_EQ(err.Description(), "Path/File access error");
  }
  EXPECT_TRUE(port_open_at_failure);
  EXPECT_TRUE(platform.log_lines.empty());
  EXPECT_TRUE(platform.LastView().destroyed) << "no window is left on the screen";
  ExpectIdleAfterRead();

  line.terminal = answer;
  platform.log_fails = false;
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_ReadSuccessful);
  EXPECT_EQ(line.opens, 2);
}

}  // namespace
}  // namespace qz::testing
