// Child processes for the end-to-end tests, their output kept in memory files; every wait has a
// generous deadline instead of a sleep. ctsim and kvkread are started as such children.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace qz::testing {

inline constexpr std::chrono::milliseconds kLimit{60000};  // a loaded machine under sanitizers

struct ProcessResult {
  int exit_code = -1;  // -1 when ended by a signal
  bool timed_out = false;
  std::string out, err;
  // Standard output as JSON; an empty object when it is none.
  nlohmann::json Json() const {
    nlohmann::json j = nlohmann::json::parse(out, nullptr, false);
    return j.is_discarded() ? nlohmann::json::object() : j;
  }
  std::vector<std::string> ErrLines() const;
};

class Subprocess {
 public:
  // `env` adds to or replaces this process's environment.
  Subprocess(std::vector<std::string> argv, const std::map<std::string, std::string>& env = {});
  ~Subprocess();  // kills a child still running
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  pid_t Pid() const { return pid_; }
  std::string Out() const { return Contents(out_fd_); }
  std::string Err() const { return Contents(err_fd_); }
  // Waits until `done` holds or the child has ended; returns `done()`.
  bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = kLimit);
  bool WaitForErr(const std::string& text, std::chrono::milliseconds limit = kLimit);
  void Signal(int signo);
  // The exit status and all output; kills the child after `limit`.
  ProcessResult Wait(std::chrono::milliseconds limit = kLimit);

 private:
  static std::string Contents(int fd);
  bool Ended();

  pid_t pid_ = -1;
  int out_fd_ = -1, err_fd_ = -1;
  bool reaped_ = false;
  int status_ = 0;
};

// CPU time (user + system) the process has used so far.
std::chrono::milliseconds ProcessCpuTime(pid_t pid);

std::string DataFile(const std::string& name);

// ctsim serving a pseudo-terminal of its own.
class Ctsim {
 public:
  explicit Ctsim(std::vector<std::string> args);
  const std::string& Port() const { return port_; }
  Subprocess& Proc() { return proc_; }
  bool FaultDone(const std::string& fault) { return proc_.WaitForErr("fault " + fault + " done"); }

 private:
  Subprocess proc_;
  std::string port_;
};

std::unique_ptr<Subprocess> StartKvkread(std::vector<std::string> args,
                                         const std::map<std::string, std::string>& env = {});
ProcessResult Kvkread(std::vector<std::string> args,
                      const std::map<std::string, std::string>& env = {});

}  // namespace qz::testing
