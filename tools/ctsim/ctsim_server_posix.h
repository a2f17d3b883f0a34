// The simulated card terminal on a line: a pseudo-terminal it creates (or a given device), read
// and written from a PosixEventLoop. It answers through a Terminal and writes the answers after
// their pauses, optionally at the line rate of 9600 baud 8E1 and handed over in groups as a
// serial port's receiver does.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <string>

#include "base/event_loop_posix.h"
#include "base/unique_fd_posix.h"
#include "link/serial_port.h"
#include "terminal.h"

namespace qz::ctsim {

struct ServerOptions {
  TerminalConfig terminal;
  bool pace = false;  // write (and take in) bytes at 11 bits a byte, 9600 baud, in receiver groups
};

class Server {
 public:
  using Clock = std::chrono::steady_clock;

  Server(PosixEventLoop& loop, ServerOptions options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Creates a raw pseudo-terminal and returns the path of its slave, the port a peer opens.
  // Throws std::system_error.
  std::string OpenPty();
  // Uses an existing device (a real serial port), set to 9600 8E1 raw. Throws std::system_error.
  void OpenDevice(const std::string& path);

  const std::string& PeerPath() const { return peer_path_; }
  const Terminal& Sim() const { return terminal_; }
  // Called after each chunk has been written (for logs and tests).
  void SetOnWritten(std::function<void(const t1::Bytes&)> on_written) {
    on_written_ = std::move(on_written);
  }
  // Called with a chunk's note once it is out (the faults say when they have happened).
  void SetOnNote(std::function<void(const std::string&)> on_note) { on_note_ = std::move(on_note); }
  // The line was closed by a hang-up fault; nothing is read or written any more.
  bool LineClosed() const { return line_closed_; }

 private:
  struct Pending {
    t1::Bytes bytes;
    std::chrono::milliseconds delay;  // after the previous chunk has gone out
    Clock::time_point earliest;       // not before (the first chunk of an answer)
    std::size_t written = 0;
    Clock::time_point start{};  // when its first byte went out (paced)
    bool started = false;
    bool hang_up = false;
    std::string note{};
  };

  void Watch();
  void OnReadable(short revents);
  void Pump();
  void ArmPump(Clock::time_point due);
  bool WriteSome(Pending& p, std::size_t upto);
  void CloseLine();

  PosixEventLoop& loop_;
  ServerOptions options_;
  Terminal terminal_;
  UniqueFd fd_;
  UniqueFd slave_fd_;  // held open so that the master never sees a hang-up between peers
  std::string peer_path_;
  PosixEventLoop::WatchId watch_ = 0;
  EventLoop::TimerId rewatch_timer_ = 0;
  EventLoop::TimerId pump_timer_ = 0;
  std::deque<Pending> queue_;
  Clock::time_point line_free_{};  // end of the last byte sent
  Clock::time_point rx_free_{};    // end of the last byte taken in (paced)
  Clock::time_point epoch_ = Clock::now();
  std::function<void(const t1::Bytes&)> on_written_;
  std::function<void(const std::string&)> on_note_;
  bool line_closed_ = false;
};

}  // namespace qz::ctsim
