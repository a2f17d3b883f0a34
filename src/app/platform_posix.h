// The platform of the Linux library: the poll() loop, termios ports, the console reader window,
// the user's locale for dates and times, and the error log beside the library file. No keyboard
// card reader library exists for Linux: a keyboard read finds no driver.
#pragma once

#include <string>
#include <vector>

#include "app/platform.h"
#include "base/event_loop_posix.h"

namespace qz {

class PosixPlatform final : public Platform {
 public:
  // ports: the devices of COM1, COM2, ...; empty for the default (QZCARDREADER_PORTS when the
  // user set it, else the system's serial devices).
  explicit PosixPlatform(std::vector<std::string> ports = {}) : ports_(std::move(ports)) {}
  // Ports opened from now on use the new list (a simulated terminal's pty is known only once
  // the simulator runs on this platform's loop).
  void SetPorts(std::vector<std::string> ports) { ports_ = std::move(ports); }
  const std::vector<std::string>& Ports() const { return ports_; }

  EventLoop& Loop() override { return loop_; }
  // The same loop, with its descriptor and signal watches (for tools that share it).
  PosixEventLoop& PosixLoop() { return loop_; }

  std::unique_ptr<SerialPort> CreateSerialPort() override;
  std::unique_ptr<ReaderView> CreateReaderView() override;
  std::unique_ptr<KeyboardReader> CreateKeyboardReader() override;
  std::string ShortDate() override;
  std::string LongTime() override;
  void AppendErrorLogLine(const std::string& line) override;

  // The thread's platform, as Platform::Default() returns it.
  static PosixPlatform& Default();

 private:
  PosixEventLoop loop_;
  std::vector<std::string> ports_;
};

// Where the error log goes: beside the shared library this code was loaded from, named after its
// base name (libqzcardreader.so -> libqzcardreader.err).
std::string ErrorLogPath();

}  // namespace qz
