#include "subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace qz::testing {

Subprocess::Subprocess(const std::vector<std::string>& argv,
                       const std::map<std::string, std::string>& env) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe2 failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);

  std::map<std::string, std::string> merged;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::size_t eq = entry.find('=');
    if (eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [k, v] : env) {
    if (v.empty())
      merged.erase(k);
    else
      merged[k] = v;
  }
  std::vector<std::string> env_strings;
  for (const auto& [k, v] : merged) env_strings.push_back(k + "=" + v);
  std::vector<char*> envp, args;
  for (auto& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_copy = argv;
  for (auto& s : argv_copy) args.push_back(s.data());
  args.push_back(nullptr);

  const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  out_fd_ = out[0];
  err_fd_ = err[0];
  if (rc != 0) throw std::runtime_error("posix_spawn " + argv[0] + ": " + std::strerror(rc));
}

Subprocess::~Subprocess() {
  if (!reaped_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
  }
  if (out_fd_ >= 0) close(out_fd_);
  if (err_fd_ >= 0) close(err_fd_);
}

bool Subprocess::Pump(std::chrono::steady_clock::time_point deadline) {
  pollfd fds[2];
  int n = 0;
  if (out_fd_ >= 0) fds[n++] = pollfd{out_fd_, POLLIN, 0};
  if (err_fd_ >= 0) fds[n++] = pollfd{err_fd_, POLLIN, 0};
  if (n == 0) return false;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  const int r =
      poll(fds, static_cast<nfds_t>(n), static_cast<int>(std::max<long>(0, left.count())));
  if (r <= 0) return true;
  for (int i = 0; i < n; ++i) {
    if (fds[i].revents == 0) continue;
    char buf[4096];
    const ssize_t got = read(fds[i].fd, buf, sizeof buf);
    const bool is_out = fds[i].fd == out_fd_;
    if (got > 0) {
      (is_out ? out_ : err_).append(buf, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      close(fds[i].fd);
      (is_out ? out_fd_ : err_fd_) = -1;
    }
  }
  return true;
}

std::optional<std::string> Subprocess::ReadLine(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const std::size_t nl = out_.find('\n');
    if (nl != std::string::npos) {
      std::string line = out_.substr(0, nl);
      out_.erase(0, nl + 1);
      return line;
    }
    if (std::chrono::steady_clock::now() >= deadline || !Pump(deadline)) return std::nullopt;
  }
}

bool Subprocess::WaitForErr(const std::string& text, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (err_.find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= deadline || !Pump(deadline)) return false;
  }
  return true;
}

void Subprocess::Signal(int signo) {
  if (!reaped_) kill(pid_, signo);
}

ProcessResult Subprocess::Wait(std::chrono::milliseconds limit) {
  ProcessResult result;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  // The pipes close when the child ends.
  while (std::chrono::steady_clock::now() < deadline && Pump(deadline)) {
  }
  if (out_fd_ >= 0 || err_fd_ >= 0) {
    result.timed_out = true;
    kill(pid_, SIGKILL);
  }
  if (!reaped_) {
    waitpid(pid_, &status_, 0);
    reaped_ = true;
  }
  if (WIFEXITED(status_)) result.exit_code = WEXITSTATUS(status_);
  if (WIFSIGNALED(status_)) result.term_signal = WTERMSIG(status_);
  result.out = out_;
  result.err = err_;
  return result;
}

std::chrono::milliseconds ProcessCpuTime(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Fields after the command name, which is in parentheses and may hold spaces.
  const std::size_t close_paren = content.rfind(')');
  std::istringstream fields(content.substr(close_paren + 2));
  std::string skip;
  long utime = 0, stime = 0;
  for (int i = 3; i < 14; ++i) fields >> skip;  // state .. cmajflt
  fields >> utime >> stime;
  const long ticks = sysconf(_SC_CLK_TCK);
  return std::chrono::milliseconds{(utime + stime) * 1000 / ticks};
}

}  // namespace qz::testing
