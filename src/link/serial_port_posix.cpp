#include "link/serial_port_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "base/automation_error.h"

namespace qz {
namespace {

// Port numbers go up to 255, as on Windows (COM1 to COM255).
constexpr std::int16_t kMaxPort = 255;

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

// The number n of a /dev name "<prefix>n"; -1 for any other name.
long NumberAfter(std::string_view name, std::string_view prefix) {
  if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) return -1;
  long n = 0;
  for (const char c : name.substr(prefix.size())) {
    if (c < '0' || c > '9' || n > kMaxPort) return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

std::vector<std::string> DevNames() {
  std::vector<std::string> names;
  if (DIR* dir = opendir("/dev")) {
    while (const dirent* entry = readdir(dir)) names.emplace_back(entry->d_name);
    closedir(dir);
  }
  return names;
}

std::vector<std::string> Split(std::string_view list) {
  std::vector<std::string> entries;
  for (;;) {
    const std::size_t colon = list.find(':');
    entries.emplace_back(list.substr(0, colon));
    if (colon == std::string_view::npos) return entries;
    list.remove_prefix(colon + 1);
  }
}

}  // namespace

std::vector<std::string> DefaultPosixPorts(const std::vector<std::string>& dev_names) {
  std::vector<std::string> ports;
  std::vector<long> usb, acm;
  for (const std::string& name : dev_names) {
    if (const long n = NumberAfter(name, "ttyS"); n >= 0) {
      while (static_cast<long>(ports.size()) <= n) ports.push_back("");
      ports[n] = "/dev/" + name;
    }
    if (const long n = NumberAfter(name, "ttyUSB"); n >= 0) usb.push_back(n);
    if (const long n = NumberAfter(name, "ttyACM"); n >= 0) acm.push_back(n);
  }
  // A gap among the built-in ports stays a port that is not present.
  for (std::size_t i = 0; i < ports.size(); ++i)
    if (ports[i].empty()) ports[i] = "/dev/ttyS" + std::to_string(i);
  std::sort(usb.begin(), usb.end());
  std::sort(acm.begin(), acm.end());
  for (const long n : usb) ports.push_back("/dev/ttyUSB" + std::to_string(n));
  for (const long n : acm) ports.push_back("/dev/ttyACM" + std::to_string(n));
  return ports;
}

std::optional<std::string> PosixPortPath(std::int16_t port, const std::vector<std::string>& ports) {
  if (port < 1 || port > kMaxPort) return std::nullopt;
  std::vector<std::string> list = ports;
  if (list.empty()) {
    const char* user = std::getenv("QZCARDREADER_PORTS");
    list = user != nullptr && *user != '\0' ? Split(user) : DefaultPosixPorts(DevNames());
  }
  if (static_cast<std::size_t>(port) > list.size()) return std::nullopt;
  return list[port - 1];
}

PosixSerialPort::PosixSerialPort(PosixEventLoop& loop, std::vector<std::string> ports)
    : loop_(loop), ports_(std::move(ports)) {}

PosixSerialPort::~PosixSerialPort() {
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
  const std::string com = "COM" + std::to_string(port_);
  const std::optional<std::string> path = PosixPortPath(port_, ports_);
  if (!path) Raise(kErrInvalidPortNumber, "Invalid port number: " + com);
  const auto not_present = [&](const std::string& why) {
    Raise(kErrPortNotAvailable,
          "Port not present on this computer: " + com + " (" + *path + ": " + why + ")");
  };
  if (path->empty()) not_present("no device given");

  UniqueFd fd(open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    // A serial driver's device without its hardware (a ttyS with no UART) fails with EIO, here
    // or at the first ioctl below.
    const int e = errno;
    if (e == ENOENT || e == ENXIO || e == ENODEV || e == EIO) not_present(Why());
    Raise(kErrPortNotAvailable, "Hardware not available: " + *path + ": " + Why());
  }
  termios t{};
  if (tcgetattr(fd.Get(), &t) != 0) not_present("no serial line behind it, " + Why());
  // Two guards against sharing the line: the lock is honoured by every opener that asks for it,
  // root included; TIOCEXCL (set last, as it outlives this descriptor) stops other programs'
  // opens, except root's.
  if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
    Raise(kErrPortNotAvailable, "Port in use by another program: " + *path);
  cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARODD | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | PARENB | CREAD | CLOCAL;  // 8 data bits, even parity, 1 stop bit
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (cfsetispeed(&t, B9600) != 0 || cfsetospeed(&t, B9600) != 0 || !ApplyLine(fd.Get(), t))
    Raise(kErrCannotSetLine,
          "Could not set the line settings 9600,E,8,1 on " + *path + ": " + Why());
  ioctl(fd.Get(), TIOCEXCL);
  tcflush(fd.Get(), TCIOFLUSH);

  fd_ = std::move(fd);
  path_ = *path;
  buffer_.Clear();
  watch_ = loop_.WatchFd(fd_.Get(), POLLIN, [this](short revents) { OnReadable(revents); });
}

void PosixSerialPort::Close() {
  if (!fd_) return;
  if (watch_ != 0) loop_.UnwatchFd(watch_);
  watch_ = 0;
  // Exclusive mode belongs to the device, not to this descriptor: lift it, or the next opener
  // fails while someone else (a terminal simulator) still holds the device open.
  ioctl(fd_.Get(), TIOCNXCL);
  fd_.Reset();
  path_.clear();
  buffer_.Clear();
}

void PosixSerialPort::OnReadable(short revents) {
  std::uint8_t bytes[512];
  bool got = false, gone = (revents & kGoneBits) != 0;
  for (;;) {
    const ssize_t n = read(fd_.Get(), bytes, sizeof bytes);
    if (n > 0) {
      buffer_.Append(std::span(bytes, static_cast<std::size_t>(n)));
      got = true;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      gone = gone || !(n < 0 && errno == EAGAIN);  // end of file or EIO: the other end has gone
      break;
    }
  }
  if (gone) {
    // Nothing more will come: stop watching, so that the loop sleeps, and leave the read to its
    // time-out or the user's cancel as for a silent terminal. (The loop itself has ended the
    // watch when it reported the hang-up.)
    if (!(revents & kGoneBits)) loop_.UnwatchFd(watch_);
    watch_ = 0;
  }
  if (got && buffer_.Due()) PostNotify();
}

std::vector<std::uint8_t> PosixSerialPort::Input() {
  return buffer_.TakeAll();
}

void PosixSerialPort::SetRThreshold(std::int16_t bytes) {
  if (buffer_.SetThreshold(bytes) && PortOpen()) PostNotify();
}

void PosixSerialPort::Output(std::span<const std::uint8_t> bytes) {
  if (!PortOpen()) Raise(kErrPortNotOpen, "Port is not open");
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd_.Get(), bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // The driver's buffer is full: wait for room, within reason, since Output returns only
      // when the bytes are handed over. A line that went away meanwhile shows on the next write.
      pollfd p{fd_.Get(), POLLOUT, 0};
      if (poll(&p, 1, kWriteTimeoutMs) > 0) continue;
      Raise(kErrPortNotAvailable, "Write timed out on " + path_);
    }
    // EIO, ENXIO, ENODEV: the adapter was pulled out or the line hung up; no answer can come.
    Raise(kErrPortNotAvailable, "Write failed on " + path_ + ": " + Why());
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
