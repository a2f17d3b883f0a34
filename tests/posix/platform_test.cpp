// The Linux platform: the poll() event loop, the console reader window, and the termios serial
// port on real pseudo-terminals.
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <ctime>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/automation_error.h"
#include "base/event_loop_posix.h"
#include "link/serial_port_posix.h"
#include "pty_pair.h"
#include "ui/reader_view_console_posix.h"

namespace qz {
namespace {

using std::chrono::milliseconds;
using testing::PtyPair;
using testing::ScopedEnv;

// Runs the loop until `done`; fails instead of hanging.
void RunUntil(PosixEventLoop& loop, const std::function<bool()>& done,
              milliseconds limit = milliseconds{10000}) {
  bool expired = false;
  const auto guard = loop.AddTimer(limit, [&] { expired = true; });
  loop.RunUntil([&] { return done() || expired; });
  loop.CancelTimer(guard);
  EXPECT_FALSE(expired) << "waited " << limit.count() << " ms in vain";
}

// Lets the loop run a while: that can miss a wrong event, never invent one.
void RunFor(PosixEventLoop& loop, milliseconds time) {
  bool over = false;
  loop.AddTimer(time, [&] { over = true; });
  loop.RunUntil([&] { return over; });
}

TEST(PosixEventLoop, TimersInDueOrderNeverEarlyAndPostedTasksAfterTheCurrentOne) {
  PosixEventLoop loop;
  std::vector<int> fired;
  const auto start = PosixEventLoop::Clock::now();
  loop.AddTimer(milliseconds{30}, [&] { fired.push_back(3); });
  loop.AddTimer(milliseconds{10}, [&] { fired.push_back(1); });
  const auto cancelled = loop.AddTimer(milliseconds{20}, [&] { fired.push_back(2); });
  loop.CancelTimer(cancelled);
  loop.CancelTimer(cancelled);  // again: ignored
  loop.Post([&] {
    loop.Post([&] { fired.push_back(0); });
    fired.push_back(-1);
  });
  loop.RunUntil([&] { return fired.size() == 4; });
  EXPECT_EQ(fired, (std::vector<int>{-1, 0, 1, 3}));
  EXPECT_GE(PosixEventLoop::Clock::now() - start, milliseconds{30});

  // A handler's exception reaches the caller once; the loop goes on.
  int runs = 0;
  loop.Post([&] { ++runs, throw std::runtime_error("boom"); });
  EXPECT_THROW(loop.RunUntil([] { return false; }), std::runtime_error);
  bool done = false;
  loop.Post([&] { done = true; });
  loop.RunUntil([&] { return done; });
  EXPECT_TRUE(done);
  EXPECT_EQ(runs, 1);
  // Waiting with nothing that could ever happen is a mistake, not a hang.
  EXPECT_THROW(loop.RunUntil([] { return false; }), std::logic_error);
}

TEST(PosixEventLoop, HungUpDescriptorEndsItsWatchAndALateSignalReachesNoNewWatch) {
  PosixEventLoop loop;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[1]);  // the reader sees POLLHUP for ever
  int calls = 0;
  const auto id = loop.WatchFd(fds[0], POLLIN, [&](short revents) {
    ++calls;
    EXPECT_TRUE(revents & POLLHUP);
  });
  int first = 0, second = 0;
  const auto signal_watch = loop.WatchSignal(SIGINT, [&] { ++first; });
  raise(SIGINT);  // caught, but the loop has not run yet
  loop.UnwatchSignal(signal_watch);
  loop.WatchSignal(SIGINT, [&] { ++second; });
  const std::clock_t cpu = std::clock();
  RunFor(loop, milliseconds{500});
  EXPECT_LT(std::clock() - cpu, CLOCKS_PER_SEC / 10) << "the loop must sleep while it waits";
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(loop.Watching(id));
  EXPECT_EQ(first + second, 0);
  raise(SIGINT);
  RunUntil(loop, [&] { return second == 1; });
  close(fds[0]);
}

class RecordingListener : public ReaderViewListener {
 public:
  void CancelClicked() override {}
  void CloseRequested(UnloadMode mode) override { modes.push_back(mode); }
  std::vector<UnloadMode> modes;
};

TEST(ConsoleReaderView, OnATerminalRedrawsOneStatusLineAndCtrlCIsACloseWhileShown) {
  PosixEventLoop loop;
  PtyPair pty;
  const int fd = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  termios raw{};
  tcgetattr(fd, &raw);
  cfmakeraw(&raw);  // see exactly what is written
  tcsetattr(fd, TCSANOW, &raw);
  std::FILE* tty = fdopen(fd, "w");
  RecordingListener listener;
  {
    ConsoleReaderView view(loop, tty);
    view.SetListener(&listener);
    view.SetTitle("T");
    view.SetMessage("A");
    view.Show(true);
    view.SetMessage("B");
    raise(SIGINT);
    RunUntil(loop, [&] { return !listener.modes.empty(); });
    EXPECT_EQ(listener.modes, std::vector<UnloadMode>{UnloadMode::kUserClose});
    view.Destroy();
  }
  struct sigaction now {};
  sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL) << "hidden again, Ctrl-C has its usual meaning";
  std::fclose(tty);
  std::string seen;
  char text[64];
  for (ssize_t n;
       seen.find('\n') == std::string::npos && (n = read(pty.Master(), text, sizeof text)) > 0;)
    seen.append(text, static_cast<std::size_t>(n));
  EXPECT_EQ(seen, "\r\033[KT: A\r\033[KT: B\n");
}

std::int32_t ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.Source(), kSerialErrorSource);
    return e.Number();
  }
  return 0;
}

TEST(PosixSerialPort, OpensTheMappedDevice8E1AndExclusively) {
  {
    ScopedEnv env("QZCARDREADER_PORTS", "");
    EXPECT_EQ(PosixPortPath(1, {}), "/dev/ttyS0");
    EXPECT_EQ(PosixPortPath(12, {}), "/dev/ttyS11");
  }
  PosixEventLoop loop;
  PtyPair pty;
  const std::vector<std::string> ports{pty.SlavePath(), "/dev/qz-no-such-device"};
  PosixSerialPort port(loop, ports), other(loop, ports);
  EXPECT_EQ(ErrorOf([&] { port.Output(std::vector<std::uint8_t>{1}); }), kErrPortNotOpen);
  for (std::int16_t n : {0, -1, 2, 3}) {
    port.SetCommPort(n);
    EXPECT_EQ(ErrorOf([&] { port.SetPortOpen(true); }), kErrInvalidPortNumber) << "COM" << n;
    EXPECT_FALSE(port.PortOpen());
  }
  port.SetPortOpen(false);  // closing a closed port does nothing
  port.SetCommPort(1);
  other.SetCommPort(1);
  port.SetPortOpen(true);
  EXPECT_EQ(ErrorOf([&] { port.SetPortOpen(true); }), kErrPortAlreadyOpen);
  EXPECT_EQ(ErrorOf([&] { port.SetCommPort(2); }), kErrPortAlreadyOpen);
  EXPECT_EQ(ErrorOf([&] { other.SetPortOpen(true); }), kErrPortNotAvailable);  // in use
  termios t{};
  tcgetattr(pty.Master(), &t);  // a master reports its slave's settings; a pty has no parity
  EXPECT_EQ(t.c_cflag & (CSIZE | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  port.SetPortOpen(false);
  EXPECT_EQ(ErrorOf([&] { other.SetPortOpen(true); }), 0);
}

TEST(PosixSerialPort, RawBytesOutAndThresholdNotificationsIn) {
  PosixEventLoop loop;
  PtyPair pty;
  PosixSerialPort port(loop, {pty.SlavePath()});
  int notified = 0;
  port.SetOnComm([&] { ++notified; });
  EXPECT_EQ(port.RThreshold(), 3);
  port.SetCommPort(1);
  port.SetPortOpen(true);
  const std::vector<std::uint8_t> block = {0x12, 0xC0, 0x00, 0xD2, 0x0A, 0x0D, 0x03, 0x7F};
  port.Output(block);  // no newline translation, no control characters eaten
  std::vector<std::uint8_t> got(block.size());
  for (std::size_t have = 0; have < got.size();) {
    const ssize_t n = read(pty.Master(), got.data() + have, got.size() - have);
    ASSERT_GT(n, 0);
    have += static_cast<std::size_t>(n);
  }
  EXPECT_EQ(got, block);

  pty.Write({0x21, 0xE0});  // below the threshold of 3
  RunFor(loop, milliseconds{100});
  EXPECT_EQ(notified, 0);
  pty.Write({0x00});
  RunUntil(loop, [&] { return notified == 1; });
  EXPECT_EQ(port.Input(), (std::vector<std::uint8_t>{0x21, 0xE0, 0x00}));
  EXPECT_TRUE(port.Input().empty());
  pty.Write({0xC1});
  RunFor(loop, milliseconds{100});
  port.SetRThreshold(1);  // lowered to what is waiting: notifies at once
  RunUntil(loop, [&] { return notified == 2; });
  EXPECT_EQ(port.Input(), (std::vector<std::uint8_t>{0xC1}));
  pty.Write({1, 2});
  RunUntil(loop, [&] { return notified == 3; });
  port.SetPortOpen(false);
  port.SetPortOpen(true);
  EXPECT_TRUE(port.Input().empty()) << "opening empties what arrived before";

  // The terminal's end goes away: bytes written to the vanished line are lost, as on a line with
  // nothing attached, and the read is left to its time-out or cancel.
  pty.CloseMaster();
  RunUntil(loop, [&] { return port.HungUp(); });
  EXPECT_EQ(ErrorOf([&] { port.Output(std::vector<std::uint8_t>{0x12, 0xC0, 0x00, 0xD2}); }), 0);
}

}  // namespace
}  // namespace qz
