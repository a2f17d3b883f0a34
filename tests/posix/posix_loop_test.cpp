// The poll() event loop and the console reader window.
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "pty_pair.h"
#include "ui/event_loop_posix.h"
#include "ui/reader_view_console_posix.h"

namespace qz {
namespace {

using std::chrono::milliseconds;

TEST(PosixEventLoop, TimersFireInDueOrderAndCancelledOnesNever) {
  PosixEventLoop loop;
  std::vector<int> fired;
  const auto start = PosixEventLoop::Clock::now();
  loop.AddTimer(milliseconds{30}, [&] { fired.push_back(3); });
  loop.AddTimer(milliseconds{10}, [&] { fired.push_back(1); });
  const auto cancelled = loop.AddTimer(milliseconds{20}, [&] { fired.push_back(2); });
  loop.CancelTimer(cancelled);
  loop.CancelTimer(cancelled);  // again: ignored
  loop.RunUntil([&] { return fired.size() == 2; });
  EXPECT_EQ(fired, (std::vector<int>{1, 3}));
  EXPECT_GE(PosixEventLoop::Clock::now() - start, milliseconds{30});  // never early
}

TEST(PosixEventLoop, PostedTaskRunsAfterTheCurrentHandler) {
  PosixEventLoop loop;
  std::vector<std::string> order;
  loop.Post([&] {
    loop.Post([&] { order.push_back("inner"); });
    order.push_back("outer");
  });
  loop.RunUntil([&] { return order.size() == 2; });
  EXPECT_EQ(order, (std::vector<std::string>{"outer", "inner"}));
}

TEST(PosixEventLoop, HandlerExceptionLeavesTheLoopUsable) {
  PosixEventLoop loop;
  int runs = 0;
  bool later = false;
  loop.Post([&] {
    ++runs;
    throw std::runtime_error("boom");
  });
  loop.AddTimer(milliseconds{5}, [&] { later = true; });
  EXPECT_THROW(loop.RunUntil([] { return false; }), std::runtime_error);
  loop.RunUntil([&] { return later; });
  EXPECT_EQ(runs, 1);  // not run a second time
}

TEST(PosixEventLoop, WaitingWithNothingThatCanHappenIsAnError) {
  PosixEventLoop loop;
  EXPECT_THROW(loop.RunUntil([] { return false; }), std::logic_error);
  bool done = false;
  loop.Post([&] { done = true; });
  loop.ProcessPending();  // runs what is ready, never waits
  EXPECT_TRUE(done);
  loop.AddTimer(milliseconds{60000}, [] {});
  loop.ProcessPending();
}

TEST(PosixEventLoop, HungUpDescriptorEndsItsWatchInsteadOfSpinning) {
  PosixEventLoop loop;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[1]);  // the reader now sees POLLHUP for ever
  int calls = 0;
  const auto id = loop.WatchFd(fds[0], POLLIN, [&](short revents) {
    ++calls;
    EXPECT_TRUE(revents & POLLHUP);
  });
  bool timer = false;
  loop.AddTimer(milliseconds{200}, [&] { timer = true; });
  loop.RunUntil([&] { return timer; });
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(loop.Watching(id));
  close(fds[0]);
}

TEST(PosixEventLoop, SignalArrivingAfterItsWatchEndedDoesNotReachTheNextWatch) {
  PosixEventLoop loop;
  int first = 0, second = 0;
  const auto id = loop.WatchSignal(SIGINT, [&] { ++first; });
  raise(SIGINT);  // caught, but the loop has not run yet
  loop.UnwatchSignal(id);
  loop.WatchSignal(SIGINT, [&] { ++second; });
  bool over = false;
  loop.AddTimer(milliseconds{100}, [&] { over = true; });
  loop.RunUntil([&] { return over; });
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 0);
  raise(SIGINT);
  loop.RunUntil([&] { return second == 1; });
}

class RecordingListener : public ReaderViewListener {
 public:
  void CancelClicked() override { ++cancels; }
  void CloseRequested(UnloadMode mode) override { modes.push_back(mode); }
  int cancels = 0;
  std::vector<UnloadMode> modes;
};

std::string Contents(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string s;
  for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
  return s;
}

TEST(ConsoleReaderView, PrintsTitleAndEachMessageOnItsOwnLineOnlyWhileShown) {
  PosixEventLoop loop;
  std::FILE* out = std::tmpfile();
  ConsoleReaderView view(loop, out);
  view.SetTitle("KVK Kartenlesegerät an Port 1");
  view.SetMessage("Resync...");
  EXPECT_EQ(Contents(out), "");
  view.Show(true);
  view.SetMessage("Bitte Karte einführen...");
  view.Hide();
  view.SetMessage("not shown");
  EXPECT_EQ(Contents(out), "KVK Kartenlesegerät an Port 1\nResync...\nBitte Karte einführen...\n");
  std::fclose(out);
}

TEST(ConsoleReaderView, OnATerminalRedrawsOneStatusLine) {
  PosixEventLoop loop;
  testing::PtyPair pty;
  const int fd = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios raw{};
  tcgetattr(fd, &raw);
  cfmakeraw(&raw);  // see exactly what is written
  tcsetattr(fd, TCSANOW, &raw);
  std::FILE* out = fdopen(fd, "w");
  {
    ConsoleReaderView view(loop, out);
    view.SetTitle("T");
    view.SetMessage("A");
    view.Show(true);
    view.SetMessage("B");
    view.Hide();
  }
  std::fclose(out);
  std::string seen;
  char buf[256];
  for (ssize_t n; (n = read(pty.Master(), buf, sizeof buf)) > 0;) {
    seen.append(buf, static_cast<std::size_t>(n));
    if (seen.find('\n') != std::string::npos) break;
  }
  EXPECT_EQ(seen, "\r\033[KT: A\r\033[KT: B\n");
}

TEST(ConsoleReaderView, CtrlCWhileShownIsACloseByTheUser) {
  PosixEventLoop loop;
  std::FILE* out = std::tmpfile();
  RecordingListener listener;
  {
    ConsoleReaderView view(loop, out);
    view.SetListener(&listener);
    view.Show(true);
    raise(SIGINT);
    loop.RunUntil([&] { return !listener.modes.empty(); });
    EXPECT_EQ(listener.modes, std::vector<UnloadMode>{UnloadMode::kUserClose});
    view.Destroy();
  }
  // Hidden again, Ctrl-C has its usual meaning.
  struct sigaction now {};
  sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
  std::fclose(out);
}

}  // namespace
}  // namespace qz
