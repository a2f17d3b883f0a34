// The Linux platform: the poll() event loop, the console reader window, and the termios serial
// port on real pseudo-terminals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "base/automation_error.h"
#include "base/event_loop_posix.h"
#include "base/unique_fd_posix.h"
#include "link/serial_port_posix.h"
#include "ui/reader_view_console_posix.h"

namespace qz {
namespace {

using std::chrono::milliseconds;

// A pseudo-terminal whose master end plays the far side of the line.
struct Pty {
  UniqueFd master{posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)};
  std::string slave = (grantpt(master.Get()), unlockpt(master.Get()), ptsname(master.Get()));
  void Write(const std::vector<std::uint8_t>& bytes) {
    (void)!write(master.Get(), bytes.data(), bytes.size());
  }
};

// Runs the loop until `done`; fails instead of hanging.
void RunUntil(PosixEventLoop& loop, const std::function<bool()>& done) {
  bool expired = false;
  const auto guard = loop.AddTimer(milliseconds{10000}, [&] { expired = true; });
  loop.RunUntil([&] { return done() || expired; });
  loop.CancelTimer(guard);
  EXPECT_FALSE(expired) << "waited in vain";
}

// Lets the loop run a while: that can miss a wrong event, never invent one.
void RunFor(PosixEventLoop& loop, milliseconds time) {
  bool over = false;
  loop.AddTimer(time, [&] { over = true; });
  loop.RunUntil([&] { return over; });
}

TEST(PosixEventLoop, TimersInDueOrderPostedTasksFirstAndAHandlersExceptionLeavesItUsable) {
  PosixEventLoop loop;
  std::vector<int> fired;
  const auto start = PosixEventLoop::Clock::now();
  loop.AddTimer(milliseconds{30}, [&] { fired.push_back(3); });
  loop.AddTimer(milliseconds{10}, [&] { fired.push_back(1); });
  loop.CancelTimer(loop.AddTimer(milliseconds{20}, [&] { fired.push_back(2); }));
  loop.Post([&] {
    loop.Post([&] { fired.push_back(0); });
    fired.push_back(-1);
  });
  loop.RunUntil([&] { return fired.size() == 4; });
  EXPECT_EQ(fired, (std::vector<int>{-1, 0, 1, 3}));
  EXPECT_GE(PosixEventLoop::Clock::now() - start, milliseconds{30});

  int runs = 0;
  loop.Post([&] { ++runs, throw std::runtime_error("boom"); });
  EXPECT_THROW(loop.RunUntil([] { return false; }), std::runtime_error);
  RunFor(loop, milliseconds{1});
  EXPECT_EQ(runs, 1);
  // Waiting with nothing that could ever happen is a mistake, not a hang.
  EXPECT_THROW(loop.RunUntil([] { return false; }), std::logic_error);
}

TEST(PosixEventLoop, HungUpDescriptorEndsItsWatchAndALateSignalReachesNoNewWatch) {
  PosixEventLoop loop;
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  UniqueFd reader(ends[0]);
  close(ends[1]);  // the reader sees POLLHUP for ever
  int calls = 0;
  const auto id = loop.WatchFd(reader.Get(), POLLIN, [&](short revents) {
    ++calls;
    EXPECT_TRUE(revents & POLLHUP);
  });
  int first = 0, second = 0;
  const auto signal_watch = loop.WatchSignal(SIGINT, [&] { ++first; });
  raise(SIGINT);  // caught, but the loop has not run yet
  loop.UnwatchSignal(signal_watch);
  loop.WatchSignal(SIGINT, [&] { ++second; });
  RunFor(loop, milliseconds{100});
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(loop.Watching(id));
  EXPECT_EQ(first + second, 0);
  raise(SIGINT);
  RunUntil(loop, [&] { return second == 1; });
}

class RecordingListener : public ReaderViewListener {
 public:
  void CancelClicked() override {}
  void CloseRequested(UnloadMode mode) override { modes.push_back(mode); }
  std::vector<UnloadMode> modes;
};

TEST(ConsoleReaderView, OnATerminalRedrawsOneStatusLineAndCtrlCIsACloseWhileShown) {
  PosixEventLoop loop;
  Pty pty;
  std::FILE* tty = fdopen(open(pty.slave.c_str(), O_WRONLY | O_NOCTTY), "w");
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
       seen.find('\n') == std::string::npos && (n = read(pty.master.Get(), text, sizeof text)) > 0;)
    seen.append(text, static_cast<std::size_t>(n));
  EXPECT_EQ(seen, "\r\033[KT: A\r\033[KT: B\r\n");  // the line discipline adds the \r
}

// The error's number, and its description in `text`.
std::int32_t ErrorOf(const std::function<void()>& f, std::string* text = nullptr) {
  try {
    f();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.Source(), kSerialErrorSource);
    if (text != nullptr) *text = e.Description();
    return e.Number();
  }
  return 0;
}

TEST(PosixSerialPort, DefaultPortsAreTheBuiltInNumbersThenTheUsbAdaptersInNumberOrder) {
  EXPECT_EQ(DefaultPosixPorts({"ttyUSB10", "ttyS2", "ttyACM0", "tty5", "ttyUSB2", "ttyS0", "ttySx",
                               "ttyUSB", "ttyS10x"}),
            (std::vector<std::string>{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyUSB2",
                                      "/dev/ttyUSB10", "/dev/ttyACM0"}));
  EXPECT_EQ(DefaultPosixPorts({"ttyUSB0"}), std::vector<std::string>{"/dev/ttyUSB0"});
}

TEST(PosixSerialPort, PastTheLastPortIsInvalidAMissingDeviceIsNotPresentAndOpensAreExclusive) {
  PosixEventLoop loop;
  Pty pty;
  const std::vector<std::string> ports{pty.slave, "/dev/qz-no-such-device", "", "/dev/null"};
  PosixSerialPort port(loop, ports), other(loop, ports);
  EXPECT_EQ(ErrorOf([&] { port.Output(std::vector<std::uint8_t>{1}); }), kErrPortNotOpen);
  for (std::int16_t n : {0, -1, 5, 256}) {
    port.SetCommPort(n);
    EXPECT_EQ(ErrorOf([&] { port.SetPortOpen(true); }), kErrInvalidPortNumber) << "COM" << n;
  }
  for (std::int16_t n : {2, 3, 4}) {
    port.SetCommPort(n);
    std::string text;
    EXPECT_EQ(ErrorOf([&] { port.SetPortOpen(true); }, &text), kErrPortNotAvailable) << n;
    EXPECT_NE(text.find("not present on this computer: COM" + std::to_string(n)), std::string::npos)
        << text;
    EXPECT_FALSE(port.PortOpen());
  }
  port.SetPortOpen(false);  // closing a closed port does nothing
  port.SetCommPort(1);
  other.SetCommPort(1);
  port.SetPortOpen(true);
  // Exclusive mode keeps other programs out (root aside, which the lock above stops).
  const auto exclusive = [&] {
    UniqueFd fd(open(pty.slave.c_str(), O_RDWR | O_NOCTTY));
    int on = 1;  // a refused open shows it as well
    if (fd) ioctl(fd.Get(), TIOCGEXCL, &on);
    return on;
  };
  EXPECT_EQ(exclusive(), 1);
  EXPECT_EQ(ErrorOf([&] { port.SetPortOpen(true); }), kErrPortAlreadyOpen);
  EXPECT_EQ(ErrorOf([&] { port.SetCommPort(2); }), kErrPortAlreadyOpen);
  EXPECT_EQ(ErrorOf([&] { other.SetPortOpen(true); }), kErrPortNotAvailable);  // in use
  termios t{};
  tcgetattr(pty.master.Get(), &t);  // a master reports its slave's settings; a pty has no parity
  EXPECT_EQ(t.c_cflag & (CSIZE | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  port.SetPortOpen(false);
  EXPECT_EQ(exclusive(), 0) << "the device's exclusive mode outlives the descriptor";
  EXPECT_EQ(ErrorOf([&] { other.SetPortOpen(true); }), 0);
}

TEST(PosixSerialPort, RawBytesOutThresholdNotificationsInAndAWriteToAGoneLineFails) {
  PosixEventLoop loop;
  Pty pty;
  PosixSerialPort port(loop, {pty.slave});
  int notified = 0;
  port.SetOnComm([&] { ++notified; });
  port.SetCommPort(1);
  port.SetPortOpen(true);
  const std::vector<std::uint8_t> block = {0x12, 0xC0, 0x00, 0xD2, 0x0A, 0x0D, 0x03, 0x7F};
  port.Output(block);  // no newline translation, no control characters eaten
  std::vector<std::uint8_t> got(block.size());
  for (std::size_t have = 0; have < got.size();) {
    const ssize_t n = read(pty.master.Get(), got.data() + have, got.size() - have);
    ASSERT_GT(n, 0);
    have += static_cast<std::size_t>(n);
  }
  EXPECT_EQ(got, block);

  pty.Write({0x21, 0xE0, 0x00});  // the threshold of 3
  RunUntil(loop, [&] { return notified == 1; });
  EXPECT_EQ(port.Input(), (std::vector<std::uint8_t>{0x21, 0xE0, 0x00}));
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

  // The terminal's end goes away (an adapter pulled out, a line hung up): the loop stops
  // watching it, and the next command fails instead of waiting for an answer that cannot come.
  pty.master.Reset();
  RunFor(loop, milliseconds{100});
  std::string text;
  EXPECT_EQ(ErrorOf([&] { port.Output(std::vector<std::uint8_t>{0x12}); }, &text),
            kErrPortNotAvailable);
  EXPECT_NE(text.find(pty.slave + ": Input/output error"), std::string::npos) << text;
}

}  // namespace
}  // namespace qz
