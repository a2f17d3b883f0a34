// A child process for end-to-end tests: its standard output and error are captured through
// pipes, and every wait has a generous deadline instead of a sleep.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qz::testing {

struct ProcessResult {
  int exit_code = -1;   // -1 when ended by a signal
  int term_signal = 0;  // the signal that ended it, or 0
  bool timed_out = false;
  std::string out, err;
};

class Subprocess {
 public:
  // `env` entries are added to (or replace those of) this process's environment; an empty value
  // removes the variable.
  Subprocess(const std::vector<std::string>& argv,
             const std::map<std::string, std::string>& env = {});
  ~Subprocess();  // kills a child still running
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  pid_t Pid() const { return pid_; }
  // Reads until standard output holds a whole line; returns it without the newline.
  std::optional<std::string> ReadLine(std::chrono::milliseconds limit);
  // Reads until standard error contains `text`.
  bool WaitForErr(const std::string& text, std::chrono::milliseconds limit);
  void Signal(int signo);
  // Collects the rest of the output and the exit status; kills the child after `limit`.
  ProcessResult Wait(std::chrono::milliseconds limit);

  const std::string& Out() const { return out_; }
  const std::string& Err() const { return err_; }

 private:
  // Reads whatever is there, waiting at most until `deadline`; false when both pipes are closed.
  bool Pump(std::chrono::steady_clock::time_point deadline);

  pid_t pid_ = -1;
  int out_fd_ = -1, err_fd_ = -1;
  std::string out_, err_;
  bool reaped_ = false;
  int status_ = 0;
};

// CPU time (user + system) the process has used so far, from /proc.
std::chrono::milliseconds ProcessCpuTime(pid_t pid);

}  // namespace qz::testing
