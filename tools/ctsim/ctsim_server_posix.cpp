#include "ctsim_server_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace qz::ctsim {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void MakeRaw(int fd, bool serial_line) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return;  // not a terminal: nothing to set
  cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARODD | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | CREAD | CLOCAL;
  if (serial_line) t.c_cflag |= PARENB;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  tcsetattr(fd, TCSANOW, &t);
}

// How many bytes a UART's receiver hands over at once: the interrupt trigger level of a 16550A's
// 16-byte FIFO as Linux sets it. A USB adapter's packets are larger still. (A pseudo-terminal
// would otherwise wake its reader for every single byte, which no real port does.)
constexpr std::size_t kFifoGroup = 8;

}  // namespace

Server::Server(PosixEventLoop& loop, ServerOptions options)
    : loop_(loop), options_(std::move(options)), terminal_(options_.terminal) {}

Server::~Server() {
  if (watch_ != 0) loop_.UnwatchFd(watch_);
  if (rewatch_timer_ != 0) loop_.CancelTimer(rewatch_timer_);
  if (pump_timer_ != 0) loop_.CancelTimer(pump_timer_);
}

std::string Server::OpenPty() {
  fd_.Reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!fd_) Fail("posix_openpt");
  if (grantpt(fd_.Get()) != 0 || unlockpt(fd_.Get()) != 0) Fail("grantpt/unlockpt");
  char name[128];
  if (ptsname_r(fd_.Get(), name, sizeof name) != 0) Fail("ptsname_r");
  peer_path_ = name;
  fcntl(fd_.Get(), F_SETFL, fcntl(fd_.Get(), F_GETFL) | O_NONBLOCK);
  // Raw from the start, so that a peer that does not set the line up fully still sees bytes
  // unchanged; and held open, so that the master stays quiet while no peer has the port open.
  slave_fd_.Reset(open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!slave_fd_) Fail("open " + peer_path_);
  MakeRaw(slave_fd_.Get(), false);
  Watch();
  return peer_path_;
}

void Server::OpenDevice(const std::string& path) {
  fd_.Reset(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd_) Fail("open " + path);
  MakeRaw(fd_.Get(), true);
  tcflush(fd_.Get(), TCIOFLUSH);
  peer_path_ = path;
  Watch();
}

void Server::Watch() {
  watch_ = loop_.WatchFd(fd_.Get(), POLLIN, [this](short revents) { OnReadable(revents); });
}

void Server::OnReadable(short revents) {
  std::uint8_t buf[512];
  bool hung_up = false;
  for (;;) {
    const ssize_t n = read(fd_.Get(), buf, sizeof buf);
    if (n > 0) {
      Clock::time_point now = Clock::now();
      Clock::time_point complete = now;
      if (options_.pace) {
        // On a real line the command is complete only when its last byte has come in.
        rx_free_ = std::max(rx_free_, now) + kByteTime * static_cast<long>(n);
        complete = rx_free_;
      }
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - epoch_);
      std::vector<Chunk> chunks =
          terminal_.Receive(std::span(buf, static_cast<std::size_t>(n)), ms);
      for (std::size_t i = 0; i < chunks.size(); ++i) {
        Pending p{std::move(chunks[i].bytes), chunks[i].delay, Clock::time_point::min()};
        p.hang_up = chunks[i].hang_up;
        p.note = std::move(chunks[i].note);
        if (i == 0) {
          p.earliest = complete + chunks[i].delay;
          p.delay = std::chrono::milliseconds{0};
        }
        queue_.push_back(std::move(p));
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    hung_up = true;  // no peer on the line (EIO on a pty master), or the device is gone
    break;
  }
  const bool loop_ended_watch = (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
  if ((hung_up || loop_ended_watch) && watch_ != 0) {
    // Listen again a little later instead of spinning on a descriptor that stays "ready".
    if (!loop_ended_watch) loop_.UnwatchFd(watch_);
    watch_ = 0;
    rewatch_timer_ = loop_.AddTimer(std::chrono::milliseconds{20}, [this] {
      rewatch_timer_ = 0;
      Watch();
    });
  }
  Pump();
}

bool Server::WriteSome(Pending& p, std::size_t upto) {
  bool flushed = false;
  while (p.written < upto) {
    const ssize_t n = write(fd_.Get(), p.bytes.data() + p.written, upto - p.written);
    if (n > 0) {
      p.written += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // The line's buffer is full because no peer reads it (nobody has the port open): like a
      // line with nothing attached, it loses what was sent. A peer that opens the port empties
      // it anyway.
      if (slave_fd_ && tcflush(slave_fd_.Get(), TCIFLUSH) == 0 && !flushed) {
        flushed = true;
        continue;
      }
      return false;  // try again soon
    }
    p.written = p.bytes.size();  // nobody on the line: the bytes are lost
  }
  return true;
}

void Server::Pump() {
  while (!queue_.empty()) {
    Pending& p = queue_.front();
    const Clock::time_point now = Clock::now();
    if (!p.started) {
      const Clock::time_point due = std::max(p.earliest, line_free_ + p.delay);
      if (now < due) return ArmPump(due);
      p.started = true;
      p.start = options_.pace ? std::max(due, line_free_) : now;
    }
    if (p.hang_up) {
      const std::string note = std::move(p.note);
      CloseLine();
      if (on_note_ && !note.empty()) on_note_(note);
      return;
    }
    std::size_t upto = p.bytes.size();
    if (options_.pace) {
      // Bytes are handed over as a serial port's receiver does: a group once its last byte has
      // crossed the line, and the rest of the block when its last byte has.
      const auto crossed = static_cast<std::size_t>((now - p.start) / kByteTime);
      if (crossed < p.bytes.size()) upto = crossed - crossed % kFifoGroup;
    }
    if (!WriteSome(p, upto)) return ArmPump(now + std::chrono::milliseconds{5});
    if (p.written < p.bytes.size()) {
      const std::size_t next = std::min(p.bytes.size(), p.written + kFifoGroup);
      return ArmPump(p.start + kByteTime * static_cast<long>(next));
    }
    line_free_ =
        options_.pace ? p.start + kByteTime * static_cast<long>(p.bytes.size()) : Clock::now();
    t1::Bytes done = std::move(p.bytes);
    const std::string note = std::move(p.note);
    queue_.pop_front();
    if (on_written_) on_written_(done);
    if (on_note_ && !note.empty()) on_note_(note);
  }
}

void Server::CloseLine() {
  // Both ends this server holds go, so the peer's port sees the line hang up for good.
  if (watch_ != 0) loop_.UnwatchFd(watch_);
  watch_ = 0;
  if (rewatch_timer_ != 0) loop_.CancelTimer(rewatch_timer_);
  rewatch_timer_ = 0;
  slave_fd_.Reset();
  fd_.Reset();
  queue_.clear();
  line_closed_ = true;
}

void Server::ArmPump(Clock::time_point due) {
  if (pump_timer_ != 0) return;
  // To the point a byte's last bit is out, not a whole millisecond later: each answer's last
  // byte would otherwise leave up to a millisecond after its line time.
  pump_timer_ = loop_.AddTimerAt(due, [this] {
    pump_timer_ = 0;
    Pump();
  });
}

}  // namespace qz::ctsim
