#include "subprocess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace qz::testing {

std::string Subprocess::Contents(int fd) {
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = pread(fd, buf, sizeof buf, static_cast<off_t>(text.size()))) > 0;)
    text.append(buf, static_cast<std::size_t>(n));
  return text;
}

namespace {

std::vector<std::string> Prepend(const char* program, std::vector<std::string> args) {
  args.insert(args.begin(), program);
  return args;
}

}  // namespace

std::vector<std::string> ProcessResult::ErrLines() const {
  std::vector<std::string> lines;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

Subprocess::Subprocess(std::vector<std::string> argv,
                       const std::map<std::string, std::string>& env) {
  // Memory files rather than pipes: a child never blocks on output nobody reads yet.
  out_fd_ = memfd_create("out", MFD_CLOEXEC);
  err_fd_ = memfd_create("err", MFD_CLOEXEC);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out_fd_, 1);
  posix_spawn_file_actions_adddup2(&actions, err_fd_, 2);
  const std::size_t argc = argv.size();
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (!env.contains(entry.substr(0, entry.find('=')))) argv.push_back(entry);
  }
  for (const auto& [k, v] : env) argv.push_back(k + "=" + v);
  std::vector<char*> args, envp;
  for (std::size_t i = 0; i < argv.size(); ++i) (i < argc ? args : envp).push_back(argv[i].data());
  args.push_back(nullptr);
  envp.push_back(nullptr);
  const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error(std::string("posix_spawn: ") + std::strerror(rc));
}

Subprocess::~Subprocess() {
  if (!reaped_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
  }
  close(out_fd_);
  close(err_fd_);
}

bool Subprocess::Ended() {
  if (!reaped_ && waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
  return reaped_;
}

bool Subprocess::WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done() && !Ended() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds{5});
  return done();
}

bool Subprocess::WaitForErr(const std::string& text, std::chrono::milliseconds limit) {
  return WaitFor([&] { return Err().find(text) != std::string::npos; }, limit);
}

void Subprocess::Signal(int signo) {
  if (!reaped_) kill(pid_, signo);
}

ProcessResult Subprocess::Wait(std::chrono::milliseconds limit) {
  ProcessResult result;
  result.timed_out = !WaitFor([this] { return Ended(); }, limit);
  if (result.timed_out) kill(pid_, SIGKILL);
  if (!reaped_) waitpid(pid_, &status_, 0);
  reaped_ = true;
  if (WIFEXITED(status_)) result.exit_code = WEXITSTATUS(status_);
  result.out = Out();
  result.err = Err();
  return result;
}

std::chrono::milliseconds ProcessCpuTime(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The command name is in parentheses and may hold spaces; utime and stime are fields 14, 15.
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string skip;
  long utime = 0, stime = 0;
  for (int i = 3; i < 14; ++i) fields >> skip;
  fields >> utime >> stime;
  return std::chrono::milliseconds{(utime + stime) * 1000 / sysconf(_SC_CLK_TCK)};
}

std::string DataFile(const std::string& name) {
  return std::string(QZ_TEST_DATA_DIR) + "/" + name;
}

Ctsim::Ctsim(std::vector<std::string> args) : proc_(Prepend(CTSIM_PATH, std::move(args))) {
  if (!proc_.WaitFor([this] { return proc_.Out().find('\n') != std::string::npos; }))
    throw std::runtime_error("ctsim printed no port: " + proc_.Err());
  port_ = proc_.Out().substr(0, proc_.Out().find('\n'));
}

std::unique_ptr<Subprocess> StartKvkread(std::vector<std::string> args,
                                         const std::map<std::string, std::string>& env) {
  return std::make_unique<Subprocess>(Prepend(KVKREAD_PATH, std::move(args)), env);
}

ProcessResult Kvkread(std::vector<std::string> args,
                      const std::map<std::string, std::string>& env) {
  return StartKvkread(std::move(args), env)->Wait();
}

}  // namespace qz::testing
