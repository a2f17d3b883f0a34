// The POSIX port's sleep while a block's rest is on the line: whatever arrives meanwhile is
// delivered once, in order, with one notification; a block that stops short still waits; a
// hang-up during the sleep is still seen.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "base/event_loop_posix.h"
#include "link/serial_port_posix.h"
#include "pty_pair.h"

namespace qz {
namespace {

using std::chrono::milliseconds;
using testing::PtyPair;
using testing::ScopedEnv;

void RunUntil(PosixEventLoop& loop, const std::function<bool()>& done) {
  bool expired = false;
  const auto guard = loop.AddTimer(milliseconds{10000}, [&] { expired = true; });
  loop.RunUntil([&] { return done() || expired; });
  loop.CancelTimer(guard);
  EXPECT_FALSE(expired) << "waited in vain";
}

void RunFor(PosixEventLoop& loop, milliseconds time) {
  bool over = false;
  loop.AddTimer(time, [&] { over = true; });
  loop.RunUntil([&] { return over; });
}

std::vector<std::uint8_t> Counting(std::uint8_t from, std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(from + i);
  return bytes;
}

struct PacedPort {
  PosixEventLoop loop;
  PtyPair pty;
  // A second look at the port's line, opened before the port makes it exclusive: it only counts
  // what waits in the driver, never reads.
  int look = open(pty.SlavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  PosixSerialPort port{loop, {pty.SlavePath()}};
  int notified = 0;

  PacedPort() {
    port.SetOnComm([this] { ++notified; });
    port.SetCommPort(1);
    port.SetPortOpen(true);
  }
  ~PacedPort() { close(look); }
  // Waits until `n` bytes are in the driver, without running the loop.
  void AwaitInDriver(int n) {
    int waiting = 0;
    for (int i = 0; i < 1000 && ioctl(look, FIONREAD, &waiting) == 0 && waiting < n; ++i) {
      pollfd p{look, POLLIN, 0};
      poll(&p, 1, 10);
    }
    ASSERT_EQ(waiting, n);
  }
  // A header has just come in, as the link sees it: the port's clock for the rest starts now.
  void Header() {
    notified = 0;
    port.SetRThreshold(3);
    pty.Write({0x00, 0x40, 0x30});
    RunUntil(loop, [&] { return notified == 1; });
    EXPECT_EQ(port.Input().size(), 3u);
    notified = 0;
  }
};

TEST(PosixSerialPortPacing, BytesThatCameDuringTheSleepAreDeliveredOnceWithOneNotification) {
  PacedPort p;
  p.Header();
  p.port.SetRThreshold(48);
  EXPECT_TRUE(p.port.SleepingOnTheLine()) << "48 bytes are more than 50 ms of line";
  // Faster than the line: a sender catching up, or a FIFO handing over a batch.
  const std::vector<std::uint8_t> rest = Counting(1, 48);
  p.pty.Write({rest.begin(), rest.begin() + 20});
  RunUntil(p.loop, [&] { return !p.port.SleepingOnTheLine(); });
  p.pty.Write({rest.begin() + 20, rest.end()});
  RunUntil(p.loop, [&] { return p.notified == 1; });
  RunFor(p.loop, milliseconds{100});
  EXPECT_EQ(p.notified, 1);
  EXPECT_EQ(p.port.Input(), rest);

  // Too little left to be worth a timer: listened for byte by byte.
  p.port.SetRThreshold(3);
  EXPECT_FALSE(p.port.SleepingOnTheLine());
}

TEST(PosixSerialPortPacing, BlockThatStopsShortWaitsListeningAndEndsWhenTheRestComes) {
  PacedPort p;
  p.Header();
  p.port.SetRThreshold(40);
  EXPECT_TRUE(p.port.SleepingOnTheLine());
  p.pty.Write(Counting(1, 10));
  // Long past the line time of 40 bytes: no notification, and no timer ticking meanwhile.
  RunFor(p.loop, milliseconds{300});
  EXPECT_EQ(p.notified, 0);
  EXPECT_FALSE(p.port.SleepingOnTheLine());
  p.pty.Write(Counting(11, 30));
  RunUntil(p.loop, [&] { return p.notified == 1; });
  EXPECT_EQ(p.port.Input(), Counting(1, 40));

  // Asked while asleep: the port first takes what waits in the driver.
  p.Header();
  p.port.SetRThreshold(40);
  p.pty.Write(Counting(1, 5));
  p.AwaitInDriver(5);
  ASSERT_TRUE(p.port.SleepingOnTheLine());
  p.port.SetRThreshold(5);  // lowered to what has come: notified as before
  RunUntil(p.loop, [&] { return p.notified == 1; });
  EXPECT_EQ(p.port.Input(), Counting(1, 5));
  p.Header();
  p.port.SetRThreshold(40);
  p.pty.Write(Counting(1, 3));
  p.AwaitInDriver(3);
  ASSERT_TRUE(p.port.SleepingOnTheLine());
  EXPECT_EQ(p.port.Input(), Counting(1, 3));
}

TEST(PosixSerialPortPacing, HangUpDuringTheSleepIsSeenAndTheBytesBeforeItKept) {
  PacedPort p;
  p.Header();
  p.port.SetRThreshold(60);
  EXPECT_TRUE(p.port.SleepingOnTheLine());
  p.pty.Write(Counting(1, 4));
  p.pty.CloseMaster();
  RunUntil(p.loop, [&] { return p.port.HungUp(); });
  EXPECT_FALSE(p.port.SleepingOnTheLine());
  EXPECT_EQ(p.notified, 0);
  p.port.SetPortOpen(false);
  EXPECT_FALSE(p.port.SleepingOnTheLine());
}

}  // namespace
}  // namespace qz
