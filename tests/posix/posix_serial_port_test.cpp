// The termios serial port on real pseudo-terminals.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <string>
#include <vector>

#include "app/automation_error.h"
#include "link/serial_port_posix.h"
#include "pty_pair.h"

namespace qz {
namespace {

using std::chrono::milliseconds;
using testing::PtyPair;
using testing::ScopedEnv;

std::int32_t ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.Source(), kSerialErrorSource);
    EXPECT_FALSE(e.Description().empty());
    return e.Number();
  }
  return 0;
}

// Runs the loop until `done`, failing the test after a generous limit instead of hanging.
void RunFor(PosixEventLoop& loop, const std::function<bool()>& done, milliseconds limit) {
  bool expired = false;
  const auto guard = loop.AddTimer(limit, [&] { expired = true; });
  loop.RunUntil([&] { return done() || expired; });
  loop.CancelTimer(guard);
  EXPECT_FALSE(expired) << "waited " << limit.count() << " ms in vain";
}

TEST(PosixPortPath, MapsComNumbersToTtySOrToTheListInTheEnvironment) {
  {
    ScopedEnv env("QZCARDREADER_PORTS", "");
    unsetenv("QZCARDREADER_PORTS");
    EXPECT_EQ(PosixPortPath(1), "/dev/ttyS0");
    EXPECT_EQ(PosixPortPath(12), "/dev/ttyS11");
    EXPECT_EQ(PosixPortPath(0), std::nullopt);
    EXPECT_EQ(PosixPortPath(-3), std::nullopt);
  }
  ScopedEnv env("QZCARDREADER_PORTS", "/dev/a:/dev/b");
  EXPECT_EQ(PosixPortPath(1), "/dev/a");
  EXPECT_EQ(PosixPortPath(2), "/dev/b");
  EXPECT_EQ(PosixPortPath(3), std::nullopt);
  EXPECT_EQ(PosixPortPath(0), std::nullopt);
}

TEST(PosixSerialPort, NumbersThatNameNoDeviceAreError8002) {
  PosixEventLoop loop;
  PtyPair pty;
  ScopedEnv env("QZCARDREADER_PORTS", pty.SlavePath() + ":/dev/qz-no-such-device");
  PosixSerialPort port(loop);
  for (std::int16_t n : {0, -1, 2, 3}) {
    port.SetCommPort(n);
    EXPECT_EQ(ErrorOf([&] { port.SetPortOpen(true); }), kErrInvalidPortNumber) << "COM" << n;
    EXPECT_FALSE(port.PortOpen());
  }
  port.SetCommPort(1);
  EXPECT_EQ(ErrorOf([&] { port.SetPortOpen(true); }), 0);
  EXPECT_TRUE(port.PortOpen());
}

TEST(PosixSerialPort, OpenCloseRulesOfTheCommControl) {
  PosixEventLoop loop;
  PtyPair pty;
  ScopedEnv env("QZCARDREADER_PORTS", pty.SlavePath());
  PosixSerialPort port(loop);
  EXPECT_EQ(port.RThreshold(), 3);
  EXPECT_EQ(ErrorOf([&] { port.Output(std::vector<std::uint8_t>{1}); }), kErrPortNotOpen);
  port.SetPortOpen(false);  // closing a closed port does nothing
  port.SetCommPort(1);
  port.SetPortOpen(true);
  EXPECT_EQ(ErrorOf([&] { port.SetPortOpen(true); }), kErrPortAlreadyOpen);
  EXPECT_EQ(ErrorOf([&] { port.SetCommPort(2); }), kErrPortAlreadyOpen);
  EXPECT_EQ(port.CommPort(), 1);
  port.SetPortOpen(false);
  EXPECT_FALSE(port.PortOpen());
}

TEST(PosixSerialPort, PortInUseByAnotherOpenerFailsUntilItIsClosed) {
  PosixEventLoop loop;
  PtyPair pty;
  ScopedEnv env("QZCARDREADER_PORTS", pty.SlavePath());
  PosixSerialPort first(loop), second(loop);
  first.SetCommPort(1);
  second.SetCommPort(1);
  first.SetPortOpen(true);
  EXPECT_EQ(ErrorOf([&] { second.SetPortOpen(true); }), kErrPortNotAvailable);
  first.SetPortOpen(false);
  EXPECT_EQ(ErrorOf([&] { second.SetPortOpen(true); }), 0);
}

TEST(PosixSerialPort, WritesWholeBlocksToTheLine) {
  PosixEventLoop loop;
  PtyPair pty;
  ScopedEnv env("QZCARDREADER_PORTS", pty.SlavePath());
  PosixSerialPort port(loop);
  port.SetCommPort(1);
  port.SetPortOpen(true);
  const std::vector<std::uint8_t> block = {0x12, 0xC0, 0x00, 0xD2, 0x0A, 0x0D, 0x03, 0x7F};
  port.Output(block);  // raw: no newline translation, no control characters eaten
  std::vector<std::uint8_t> got(block.size());
  std::size_t have = 0;
  while (have < got.size()) {
    const ssize_t n = read(pty.Master(), got.data() + have, got.size() - have);
    ASSERT_GT(n, 0);
    have += static_cast<std::size_t>(n);
  }
  EXPECT_EQ(got, block);
}

TEST(PosixSerialPort, NotifiesWhenWaitingBytesReachTheThreshold) {
  PosixEventLoop loop;
  PtyPair pty;
  ScopedEnv env("QZCARDREADER_PORTS", pty.SlavePath());
  PosixSerialPort port(loop);
  int notified = 0;
  port.SetOnComm([&] {
    ++notified;
    EXPECT_EQ(port.CommEvent(), kComEvReceive);
  });
  port.SetCommPort(1);
  port.SetPortOpen(true);

  // Two bytes stay below the threshold of 3. (Waiting a while can only miss a wrong
  // notification, never invent one.)
  pty.Write({0x21, 0xE0});
  bool looked = false;
  loop.AddTimer(milliseconds{100}, [&] { looked = true; });
  loop.RunUntil([&] { return looked; });
  EXPECT_EQ(notified, 0);

  pty.Write({0x00});
  RunFor(
      loop, [&] { return notified == 1; }, milliseconds{10000});
  EXPECT_EQ(port.Input(), (std::vector<std::uint8_t>{0x21, 0xE0, 0x00}));
  EXPECT_TRUE(port.Input().empty());

  // A threshold lowered to what is already waiting notifies at once.
  pty.Write({0xC1});
  looked = false;
  loop.AddTimer(milliseconds{100}, [&] { looked = true; });
  loop.RunUntil([&] { return looked; });
  EXPECT_EQ(notified, 1);
  port.SetRThreshold(1);
  RunFor(
      loop, [&] { return notified == 2; }, milliseconds{10000});
  EXPECT_EQ(port.Input(), (std::vector<std::uint8_t>{0xC1}));
}

TEST(PosixSerialPort, OpeningEmptiesWhatArrivedBefore) {
  PosixEventLoop loop;
  PtyPair pty;
  ScopedEnv env("QZCARDREADER_PORTS", pty.SlavePath());
  PosixSerialPort port(loop);
  int notified = 0;
  port.SetOnComm([&] { ++notified; });
  port.SetCommPort(1);
  port.SetPortOpen(true);
  pty.Write({1, 2, 3});
  RunFor(
      loop, [&] { return notified == 1; }, milliseconds{10000});
  port.SetPortOpen(false);
  port.SetPortOpen(true);
  EXPECT_TRUE(port.Input().empty());
}

TEST(PosixSerialPort, HungUpPeerDoesNotSpinTheProcessor) {
  PosixEventLoop loop;
  PtyPair pty;
  ScopedEnv env("QZCARDREADER_PORTS", pty.SlavePath());
  PosixSerialPort port(loop);
  port.SetCommPort(1);
  port.SetPortOpen(true);
  pty.CloseMaster();  // the terminal's end goes away: the slave reports POLLHUP for ever

  timespec cpu0{}, cpu1{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu0);
  bool over = false;
  loop.AddTimer(milliseconds{1500}, [&] { over = true; });
  loop.RunUntil([&] { return over; });
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu1);
  const double used = (cpu1.tv_sec - cpu0.tv_sec) + (cpu1.tv_nsec - cpu0.tv_nsec) / 1e9;
  EXPECT_TRUE(port.HungUp());
  // A loop that kept polling the hung-up descriptor would burn the whole 1.5 s.
  EXPECT_LT(used, 0.5) << "CPU seconds used while waiting";
  // Writing to the vanished line loses the bytes, as on a line with nothing attached.
  EXPECT_EQ(ErrorOf([&] { port.Output(std::vector<std::uint8_t>{0x12, 0xC0, 0x00, 0xD2}); }), 0);
}

}  // namespace
}  // namespace qz
