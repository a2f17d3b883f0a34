#include "link/serial_port_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "base/automation_error.h"

namespace qz {
namespace {

[[noreturn]] void Raise(std::int32_t number, const std::string& description) {
  throw AutomationError(number, kSerialErrorSource, description);
}

std::string Why() {
  return std::strerror(errno);
}

bool IsPseudoTerminal(int fd) {
  struct stat st {};
  // Unix98 pty slaves have the majors 136 to 143.
  return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
         major(st.st_rdev) <= 143;
}

// Sets the line. A pseudo-terminal takes every setting but parity (it has no wire to put a
// parity bit on), and glibc then reports EINVAL although the rest was applied. That is accepted
// for a pseudo-terminal only, so that simulated terminals work; a real port that refuses even
// parity is error 8015.
bool ApplyLine(int fd, const termios& wanted) {
  if (tcsetattr(fd, TCSANOW, &wanted) == 0) return true;
  const int error = errno;
  termios now{};
  if (error == EINVAL && IsPseudoTerminal(fd) && tcgetattr(fd, &now) == 0 &&
      (now.c_cflag & CSIZE) == CS8 && cfgetospeed(&now) == B9600 && (now.c_cflag & CREAD)) {
    return true;
  }
  errno = error;
  return false;
}

// How long Output waits for room in the driver's buffer before it gives up.
constexpr int kWriteTimeoutMs = 2000;

constexpr short kGoneBits = POLLHUP | POLLERR | POLLNVAL;

// The last bytes of a block are listened for as they come, so that the block is taken when its
// last byte is, not when a timer says so.
constexpr std::size_t kListenedBytes = 2;

}  // namespace

std::optional<std::string> PosixPortPath(std::int16_t port, const std::vector<std::string>& ports) {
  if (port <= 0) return std::nullopt;
  if (!ports.empty()) {
    if (static_cast<std::size_t>(port) > ports.size() || ports[port - 1].empty())
      return std::nullopt;
    return ports[port - 1];
  }
  if (const char* list = std::getenv("QZCARDREADER_PORTS")) {
    std::string_view rest(list);
    for (int n = 1;; ++n) {
      const std::size_t colon = rest.find(':');
      const std::string_view entry = rest.substr(0, colon);
      if (n == port) {
        if (entry.empty()) return std::nullopt;
        return std::string(entry);
      }
      if (colon == std::string_view::npos) return std::nullopt;
      rest.remove_prefix(colon + 1);
    }
  }
  return "/dev/ttyS" + std::to_string(port - 1);
}

PosixSerialPort::PosixSerialPort(PosixEventLoop& loop, std::vector<std::string> ports)
    : loop_(loop), alive_(std::make_shared<bool>(true)), ports_(std::move(ports)) {}

PosixSerialPort::~PosixSerialPort() {
  *alive_ = false;
  Close();
}

void PosixSerialPort::SetCommPort(std::int16_t port) {
  if (PortOpen()) Raise(kErrPortAlreadyOpen, "Port already open");
  port_ = port;
}

void PosixSerialPort::SetPortOpen(bool open) {
  if (!open) {
    Close();
    return;
  }
  if (PortOpen()) Raise(kErrPortAlreadyOpen, "Port already open");
  Open();
}

void PosixSerialPort::Open() {
  const std::optional<std::string> path = PosixPortPath(port_, ports_);
  if (!path) Raise(kErrInvalidPortNumber, "Invalid port number: COM" + std::to_string(port_));
  struct stat st {};
  if (stat(path->c_str(), &st) != 0)
    Raise(kErrInvalidPortNumber,
          "Invalid port number: COM" + std::to_string(port_) + " (" + *path + " does not exist)");

  const int fd = open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int e = errno;
    const std::string why = Why();
    if (e == ENOENT || e == ENXIO || e == ENODEV)
      Raise(kErrInvalidPortNumber, "Invalid port number: " + *path + ": " + why);
    Raise(kErrPortNotAvailable, "Hardware not available: " + *path + ": " + why);
  }
  // Two guards against sharing the line: TIOCEXCL stops other programs' opens (except root's),
  // and the lock is honoured by every opener that asks for it, root included.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    Raise(kErrPortNotAvailable, "Port in use by another program: " + *path);
  }
  termios t{};
  if (tcgetattr(fd, &t) != 0) {
    const std::string why = Why();
    close(fd);
    Raise(kErrInvalidPortNumber,
          "Invalid port number: " + *path + " is not a serial port (" + why + ")");
  }
  ioctl(fd, TIOCEXCL);
  cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARODD | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | PARENB | CREAD | CLOCAL;  // 8 data bits, even parity, 1 stop bit
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (cfsetispeed(&t, B9600) != 0 || cfsetospeed(&t, B9600) != 0 || !ApplyLine(fd, t)) {
    const std::string why = Why();
    ioctl(fd, TIOCNXCL);
    close(fd);
    Raise(kErrCannotSetLine, "Could not set the line settings 9600,E,8,1 on " + *path + ": " + why);
  }
  tcflush(fd, TCIOFLUSH);

  fd_ = fd;
  path_ = *path;
  hung_up_ = false;
  last_read_ = {};
  buffer_.Clear();
  Listen();
}

void PosixSerialPort::Listen() {
  if (fd_ >= 0 && watch_ == 0 && !hung_up_)
    watch_ = loop_.WatchFd(fd_, POLLIN, [this](short revents) { OnReadable(revents); });
}

void PosixSerialPort::Close() {
  if (fd_ < 0) return;
  if (watch_ != 0) loop_.UnwatchFd(watch_);
  watch_ = 0;
  if (line_timer_ != 0) loop_.CancelTimer(line_timer_);
  line_timer_ = 0;
  // Exclusive mode belongs to the device, not to this descriptor: lift it, or the next opener
  // fails while someone else (a terminal simulator) still holds the device open.
  ioctl(fd_, TIOCNXCL);
  close(fd_);
  fd_ = -1;
  path_.clear();
  buffer_.Clear();
}

bool PosixSerialPort::ReadWaiting() {
  std::uint8_t bytes[512];
  bool got = false;
  for (;;) {
    const ssize_t n = read(fd_, bytes, sizeof bytes);
    if (n > 0) {
      buffer_.Append(std::span(bytes, static_cast<std::size_t>(n)));
      got = true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    hung_up_ = true;  // end of file or EIO: the other end has gone
    break;
  }
  if (got) last_read_ = PosixEventLoop::Clock::now();
  return got;
}

void PosixSerialPort::OnReadable(short revents) {
  const bool got = ReadWaiting();
  if (hung_up_ || (revents & kGoneBits)) {
    // Nothing more will come: stop watching, so that the loop sleeps, and leave the read to its
    // time-out or the user's cancel as for a silent terminal.
    hung_up_ = true;
    if (watch_ != 0 && !(revents & kGoneBits)) loop_.UnwatchFd(watch_);
    watch_ = 0;
  }
  if (got && buffer_.Due()) {
    PostNotify();
  } else if (got) {
    SleepOnTheLine();
  }
}

// A UART's receive FIFO, or a USB adapter's latency timer, hands bytes over in batches; a
// pseudo-terminal (a simulated terminal) hands over each byte as it is written, and waking for
// every one of them is nearly all the processor time of a read at 9600 baud. Once the link has
// said how many bytes it waits for, the block cannot be complete before they have crossed the
// line, so the port stops watching until all but the last two can have come. They are then read
// together and the last two listened for, so the block is taken no later than if every byte
// had been watched. Nothing is lost meanwhile: the bytes wait in the driver.
void PosixSerialPort::SleepOnTheLine() {
  if (watch_ == 0 || line_timer_ != 0 || buffer_.Threshold() <= 0) return;
  const auto threshold = static_cast<std::size_t>(buffer_.Threshold());
  if (buffer_.Size() + kListenedBytes >= threshold) return;
  const std::size_t sleep_bytes = threshold - buffer_.Size() - kListenedBytes;
  // The next byte may follow the last read at once, each further one a byte time later. Half a
  // byte is kept in hand for a sender that runs a little ahead of our read times (a simulator
  // on its own timers).
  const PosixEventLoop::Clock::time_point now = PosixEventLoop::Clock::now();
  auto wait = last_read_ + kByteTime * static_cast<long>(sleep_bytes) - kByteTime / 2 - now;
  // ppoll may end up to 0.1 % of its time-out, and at least 50 µs, late; ask that much earlier.
  wait -= wait / 1000 + std::chrono::microseconds{50};
  if (wait < kByteTime) return;  // not worth a timer: it would save a wake-up at most
  loop_.UnwatchFd(watch_);
  watch_ = 0;
  line_timer_ = loop_.AddTimerAt(now + wait, [this] {
    line_timer_ = 0;
    Listen();
  });
}

void PosixSerialPort::WakeUp() {
  // Asked about its bytes while asleep: take what the driver holds first, as if it had watched.
  loop_.CancelTimer(line_timer_);
  line_timer_ = 0;
  ReadWaiting();
  Listen();
}

std::vector<std::uint8_t> PosixSerialPort::Input() {
  if (line_timer_ != 0) WakeUp();
  return buffer_.TakeAll();
}

void PosixSerialPort::SetRThreshold(std::int16_t bytes) {
  if (line_timer_ != 0) WakeUp();
  if (buffer_.SetThreshold(bytes) && PortOpen()) {
    PostNotify();
  } else if (PortOpen()) {
    SleepOnTheLine();
  }
}

void PosixSerialPort::Output(std::span<const std::uint8_t> bytes) {
  if (!PortOpen()) Raise(kErrPortNotOpen, "Port is not open");
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // The driver's buffer is full: wait for room, within reason (the Comm control's Output
      // also returns only when the bytes are handed over).
      pollfd p{fd_, POLLOUT, 0};
      if (poll(&p, 1, kWriteTimeoutMs) > 0 && !(p.revents & (POLLHUP | POLLERR))) continue;
      if (p.revents & (POLLHUP | POLLERR)) break;
      Raise(kErrPortNotAvailable, "Write timed out on " + path_);
    }
    // EIO and the like: nobody at the other end. A real line with nothing attached takes the
    // bytes and loses them; the read is left to its time-out or the user's cancel.
    hung_up_ = true;
    break;
  }
}

void PosixSerialPort::PostNotify() {
  // One pending notification at most; it is delivered only if still due when it runs.
  if (pending_) return;
  pending_ = true;
  loop_.Post([this, alive = std::weak_ptr<bool>(alive_)] {
    if (alive.expired()) return;
    pending_ = false;
    if (PortOpen() && buffer_.Due() && on_comm_) on_comm_();
  });
}

}  // namespace qz
