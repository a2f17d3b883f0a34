// End-to-end figures of a terminal read at 9600 baud 8E1, against the simulated terminal:
//
//   inproc CARD READS DELAY_MS  ctsim's server on this thread's loop, on a pty, paced. Each read's
//                               wall time against the line time of the bytes exchanged, and the
//                               turnaround from the server writing an answer's last byte to the
//                               component writing its next command.
//   process CARD READS          ctsim --pace as a separate process, so that getrusage() of this
//                               process is the component's processor time alone.
//   process-unpaced CARD READS  the same with ctsim writing whole blocks at once, for comparison:
//                               the processor time a read costs when the bytes come in batches.
//   port-search SCANS           GetCardPort over four silent ptys: processor time against wall
//                               time (the listening waits must sleep).
//
// The component is driven through libqzcardreader.so's C++ API with the real platform; only its
// serial ports are wrapped, to count and timestamp the bytes where they cross the pty.
// Results are printed as Markdown table rows: | figure | value | target | verdict |.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/cls_application.h"
#include "app/platform_posix.h"
#include "card_images.h"
#include "ctsim_server_posix.h"
#include "link/serial_port.h"
#include "scenario.h"

#ifndef QZ_CTSIM_PATH
#define QZ_CTSIM_PATH "ctsim"
#endif

extern char** environ;

namespace {

// Nanoseconds this thread has spent runnable but waiting for a processor (the second field of
// /proc/self/schedstat); 0 where the kernel does not provide it.
long long RunQueueWaitNs() {
  static const int fd = open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char buf[128];
  const ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
  if (n <= 0) return 0;
  buf[n] = '\0';
  long long on_cpu = 0, waiting = 0;
  if (std::sscanf(buf, "%lld %lld", &on_cpu, &waiting) != 2) return 0;
  return waiting;
}

using Clock = std::chrono::steady_clock;
using Micros = std::chrono::duration<double, std::micro>;

// What crossed the line during one read, seen from the component's port.
struct Trace {
  std::size_t bytes_out = 0;
  std::size_t bytes_in = 0;
  std::size_t commands = 0;
  std::optional<Clock::time_point> first_output;
  std::optional<Clock::time_point> answer_end;  // the terminal's last byte written (inproc only)
  std::size_t chunks = 0;                       // pieces the terminal wrote (inproc only)
  std::vector<double> turnarounds_us;
  // The same less the time the process waited for a processor meanwhile: on a loaded machine a
  // woken process may wait milliseconds before it runs, which is the scheduler's, not ours.
  std::vector<double> own_us;
  long long run_queue_at_answer_end = 0;
  // The part after the component took the answer's last bytes from its port (Input): the
  // block assembly, the dialogue handler and the write. Before it lie the pty's delivery and
  // the loop's wake-up.
  std::optional<Clock::time_point> last_input;
  std::vector<double> after_input_us;

  void Reset() { *this = Trace{}; }
  double LineSeconds() const {
    return std::chrono::duration<double>(qz::kByteTime).count() *
           static_cast<double>(bytes_out + bytes_in);
  }
};

// The platform's port, counting and timestamping what passes through it.
class TracedPort final : public qz::SerialPort {
 public:
  TracedPort(std::unique_ptr<qz::SerialPort> inner, Trace& trace)
      : inner_(std::move(inner)), trace_(trace) {}

  void SetCommPort(std::int16_t port) override { inner_->SetCommPort(port); }
  std::int16_t CommPort() const override { return inner_->CommPort(); }
  void SetPortOpen(bool open) override { inner_->SetPortOpen(open); }
  bool PortOpen() const override { return inner_->PortOpen(); }
  void SetRThreshold(std::int16_t bytes) override { inner_->SetRThreshold(bytes); }
  std::int16_t RThreshold() const override { return inner_->RThreshold(); }
  void Output(std::span<const std::uint8_t> bytes) override {
    inner_->Output(bytes);
    // After the write: the command's first byte is on the pty now.
    const Clock::time_point now = Clock::now();
    if (!trace_.first_output) trace_.first_output = now;
    if (trace_.answer_end) {
      const double us = Micros(now - *trace_.answer_end).count();
      trace_.turnarounds_us.push_back(us);
      const double waited_us =
          static_cast<double>(RunQueueWaitNs() - trace_.run_queue_at_answer_end) / 1e3;
      trace_.own_us.push_back(std::max(0.0, us - waited_us));
      if (trace_.last_input && *trace_.last_input > *trace_.answer_end)
        trace_.after_input_us.push_back(Micros(now - *trace_.last_input).count());
      trace_.answer_end.reset();
    }
    trace_.bytes_out += bytes.size();
    ++trace_.commands;
  }
  std::vector<std::uint8_t> Input() override {
    std::vector<std::uint8_t> bytes = inner_->Input();
    if (!bytes.empty()) trace_.last_input = Clock::now();
    trace_.bytes_in += bytes.size();
    return bytes;
  }
  std::int16_t CommEvent() const override { return inner_->CommEvent(); }
  void SetOnComm(Notify on_comm) override { inner_->SetOnComm(std::move(on_comm)); }

 private:
  std::unique_ptr<qz::SerialPort> inner_;
  Trace& trace_;
};

class TracedPlatform final : public qz::Platform {
 public:
  TracedPlatform(qz::PosixPlatform& base, Trace& trace) : base_(base), trace_(trace) {}
  qz::EventLoop& Loop() override { return base_.Loop(); }
  std::unique_ptr<qz::SerialPort> CreateSerialPort() override {
    return std::make_unique<TracedPort>(base_.CreateSerialPort(), trace_);
  }
  std::unique_ptr<qz::ReaderView> CreateReaderView() override { return base_.CreateReaderView(); }
  std::unique_ptr<qz::KeyboardReader> CreateKeyboardReader() override {
    return base_.CreateKeyboardReader();
  }
  std::string ShortDate() override { return base_.ShortDate(); }
  std::string LongTime() override { return base_.LongTime(); }
  void AppendErrorLogLine(const std::string& line) override { base_.AppendErrorLogLine(line); }

 private:
  qz::PosixPlatform& base_;
  Trace& trace_;
};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  // Nearest rank.
  std::size_t rank = static_cast<std::size_t>(p / 100.0 * static_cast<double>(v.size()) + 0.999999);
  rank = std::clamp<std::size_t>(rank, 1, v.size());
  return v[rank - 1];
}
double Median(const std::vector<double>& v) {
  return Percentile(v, 50);
}

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return s(ru.ru_utime) + s(ru.ru_stime);
}

// Times the process went to sleep and was woken again: each one is a pass of the event loop.
long Wakeups() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_nvcsw;
}

void Row(const std::string& figure, const std::string& value, const std::string& target,
         std::optional<bool> met) {
  std::printf("| %s | %s | %s | %s |\n", figure.c_str(), value.c_str(), target.c_str(),
              !met ? "-" : (*met ? "met" : "**missed**"));
  std::fflush(stdout);
}

std::string Fmt(const char* format, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, value);
  return buf;
}

qz::ctsim::ScenarioKind KindOf(const std::string& card) {
  if (card == "tagged") return qz::ctsim::ScenarioKind::kTagged;
  if (card == "fixed") return qz::ctsim::ScenarioKind::kFixed;
  throw std::invalid_argument("card must be tagged or fixed");
}

// One successful read; throws when the read does not succeed (a benchmark of a failure would
// measure nothing useful).
double TimedRead(qz::clsApplication& app) {
  const Clock::time_point start = Clock::now();
  const qz::enmReturnValue result = app.ReadCard(qz::CRT_CommPort);
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  if (result != qz::RV_ReadSuccessful)
    throw std::runtime_error("read ended with result " + std::to_string(result));
  return wall;
}

int InProcess(const std::string& card, int reads, int delay_ms) {
  qz::PosixPlatform& base = qz::PosixPlatform::Default();
  qz::ctsim::ServerOptions options;
  options.pace = true;
  options.terminal.scenario.kind = KindOf(card);
  options.terminal.scenario.name = card;
  options.terminal.card = qz::ctsim::DefaultCard(card == "fixed");
  options.terminal.answer_delay = std::chrono::milliseconds{delay_ms};
  qz::ctsim::Server server(base.PosixLoop(), options);
  base.SetPorts({server.OpenPty()});

  Trace trace;
  server.SetOnWritten([&](const qz::t1::Bytes&) {
    // Read first, so that its system call falls outside the interval measured.
    trace.run_queue_at_answer_end = RunQueueWaitNs();
    trace.answer_end = Clock::now();
    ++trace.chunks;
  });
  TracedPlatform platform(base, trace);
  qz::clsApplication app(platform);
  app.CommPort(1);

  // Turnarounds over 1 ms, counted by the exchange they follow (0: the RESYNCH response).
  std::vector<int> slow_by_exchange;
  std::size_t exchanges = 0;
  std::vector<double> after_input_us;
  std::vector<double> ratios, residuals_ms, turnarounds_us, own_us, start_ms, end_ms, pacing_ms;
  double line_ms = 0, limit_ms = 0;
  for (int i = 0; i < reads; ++i) {
    trace.Reset();
    const Clock::time_point start = Clock::now();
    const double wall = TimedRead(app);
    const Clock::time_point end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(wall));
    // The terminal's own pauses: its answer delay before every answer and the gap before each
    // further block of a chained answer.
    const double pauses = static_cast<double>(trace.commands) * delay_ms / 1e3 +
                          static_cast<double>(trace.chunks - trace.commands) *
                              std::chrono::duration<double>(qz::ctsim::Terminal::kBlockGap).count();
    const double limit = trace.LineSeconds() + pauses;
    line_ms = trace.LineSeconds() * 1e3;
    limit_ms = limit * 1e3;
    ratios.push_back(wall / limit);
    residuals_ms.push_back((wall - limit) * 1e3);
    turnarounds_us.insert(turnarounds_us.end(), trace.turnarounds_us.begin(),
                          trace.turnarounds_us.end());
    for (std::size_t k = 0; k < trace.turnarounds_us.size(); ++k) {
      if (trace.turnarounds_us[k] < 1000) continue;
      if (slow_by_exchange.size() <= k) slow_by_exchange.resize(k + 1);
      ++slow_by_exchange[k];
    }
    own_us.insert(own_us.end(), trace.own_us.begin(), trace.own_us.end());
    after_input_us.insert(after_input_us.end(), trace.after_input_us.begin(),
                          trace.after_input_us.end());
    exchanges = std::max(exchanges, trace.turnarounds_us.size());
    // Where the residual goes: before the first command, after the last answer, between
    // answers and commands (turnarounds), and the rest, which is the simulator's pacing
    // (its timers fire a little after each byte's line time, more on a busy machine).
    const double before =
        std::chrono::duration<double, std::milli>(*trace.first_output - start).count();
    const double after =
        trace.answer_end
            ? std::chrono::duration<double, std::milli>(end - *trace.answer_end).count()
            : 0.0;
    double turn = 0;
    for (double t : trace.turnarounds_us) turn += t / 1e3;
    start_ms.push_back(before);
    end_ms.push_back(after);
    pacing_ms.push_back((wall - limit) * 1e3 - before - after - turn);
  }

  const std::string what = card + " card, answer delay " + std::to_string(delay_ms) + " ms";
  const double ratio = Median(ratios);
  Row("Read, " + what + ": wall / (line time + terminal pauses), median of " +
          std::to_string(reads),
      Fmt("%.4f", ratio) + " (line " + Fmt("%.1f", line_ms) + " ms, limit " +
          Fmt("%.1f", limit_ms) + " ms)",
      "≤ 1.02", ratio <= 1.02);
  Row("Read, " + what + ": residual over the limit, median / p99",
      Fmt("%.2f", Median(residuals_ms)) + " / " + Fmt("%.2f", Percentile(residuals_ms, 99)) +
          " ms (start " + Fmt("%.2f", Median(start_ms)) + ", end " + Fmt("%.2f", Median(end_ms)) +
          ", simulator pacing " + Fmt("%.2f", Median(pacing_ms)) + ")",
      "-", std::nullopt);
  // The same with the simulator's lateness counted as the terminal's: what the component adds.
  std::vector<double> own;
  for (std::size_t i = 0; i < ratios.size(); ++i)
    own.push_back(ratios[i] - pacing_ms[i] / limit_ms);
  Row("Read, " + what + ": the same without the simulator's pacing lateness, median",
      Fmt("%.4f", Median(own)), "≤ 1.02", Median(own) <= 1.02);
  const double p50 = Median(turnarounds_us), p99 = Percentile(turnarounds_us, 99);
  Row("Turnaround, " + what + ": last answer byte → next command, median / p99 of " +
          std::to_string(turnarounds_us.size()),
      Fmt("%.0f", p50) + " / " + Fmt("%.0f", p99) + " µs", "< 1000 µs", p99 < 1000);
  slow_by_exchange.resize(std::max(slow_by_exchange.size(), exchanges));
  std::string slow;
  for (std::size_t k = 0; k < slow_by_exchange.size(); ++k)
    slow += (k ? ", " : "") + std::to_string(slow_by_exchange[k]);
  Row("Turnaround, " + what + ": how many were over 1 ms, after answer 1, 2, ...",
      slow.empty() ? "none" : slow, "-", std::nullopt);
  const double q50 = Median(own_us), q99 = Percentile(own_us, 99);
  Row("Turnaround, " + what +
          ": the same less the time spent waiting for a processor, median / p99",
      Fmt("%.0f", q50) + " / " + Fmt("%.0f", q99) + " µs", "< 1000 µs", q99 < 1000);
  Row("Turnaround, " + what + ": of it, from the component taking the last bytes to the command, " +
          "median / p99",
      Fmt("%.0f", Median(after_input_us)) + " / " + Fmt("%.0f", Percentile(after_input_us, 99)) +
          " µs",
      "-", std::nullopt);
  return 0;
}

// A child ctsim on a pty of its own; SIGTERM ends it.
class ChildSimulator {
 public:
  ChildSimulator(const std::string& card, bool pace) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string scenario = card;
    // Unpaced, the terminal writes each block at once: the same read with one wake-up per
    // block instead of one per byte or two.
    const char* argv[] = {QZ_CTSIM_PATH, "--scenario", scenario.c_str(), pace ? "--pace" : nullptr,
                          nullptr};
    const int rc = posix_spawn(&pid_, QZ_CTSIM_PATH, &actions, nullptr,
                               const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
      close(out[0]);
      throw std::runtime_error("cannot start " + std::string(QZ_CTSIM_PATH));
    }
    // The first line is the pty to open.
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') path_.push_back(c);
    close(out[0]);
    if (path_.empty()) throw std::runtime_error("ctsim printed no port");
  }
  ~ChildSimulator() {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  const std::string& Path() const { return path_; }

 private:
  pid_t pid_ = -1;
  std::string path_;
};

int SeparateProcess(const std::string& card, int reads, bool pace) {
  KindOf(card);
  ChildSimulator sim(card, pace);
  qz::PosixPlatform& base = qz::PosixPlatform::Default();
  base.SetPorts({sim.Path()});
  Trace trace;
  TracedPlatform platform(base, trace);
  qz::clsApplication app(platform);
  app.CommPort(1);

  std::vector<double> cpu_ms, ratios, wakeups;
  for (int i = 0; i < reads; ++i) {
    trace.Reset();
    const long wake0 = Wakeups();
    const double cpu0 = CpuSeconds();
    const double wall = TimedRead(app);
    cpu_ms.push_back((CpuSeconds() - cpu0) * 1e3);
    wakeups.push_back(static_cast<double>(Wakeups() - wake0));
    ratios.push_back(wall / trace.LineSeconds());
  }
  const double p50 = Median(cpu_ms), worst = *std::max_element(cpu_ms.begin(), cpu_ms.end());
  const std::string how = pace ? "ctsim as a process" : "ctsim as a process, unpaced";
  Row("Read, " + card + " card, " + how + ": processor time, median / max of " +
          std::to_string(reads),
      Fmt("%.2f", p50) + " / " + Fmt("%.2f", worst) + " ms (" + Fmt("%.0f", Median(wakeups)) +
          " wake-ups for " + std::to_string(trace.bytes_in) + " bytes in, " +
          Fmt("%.0f", p50 * 1e3 / std::max(1.0, Median(wakeups))) + " µs each)",
      pace ? "< 5 ms" : "- (comparison)", pace ? std::optional<bool>(p50 < 5.0) : std::nullopt);
  if (pace)
    Row("Read, " + card + " card, " + how + ": wall / line time, median",
        Fmt("%.4f", Median(ratios)), "≤ 1.02", Median(ratios) <= 1.02);
  return 0;
}

int PortSearch(int scans) {
  // Four ptys nobody answers on; their masters stay open so that the slaves can be opened.
  std::vector<int> masters;
  std::vector<std::string> ports;
  for (int i = 0; i < 4; ++i) {
    const int fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0) throw std::runtime_error("posix_openpt");
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    masters.push_back(fd);
    char name[128];
    if (ptsname_r(fd, name, sizeof name) != 0) throw std::runtime_error("ptsname_r");
    ports.emplace_back(name);
  }
  qz::PosixPlatform platform(ports);
  qz::clsApplication app(platform);

  std::vector<double> shares, walls, cpus;
  for (int i = 0; i < scans; ++i) {
    const double cpu0 = CpuSeconds();
    const Clock::time_point start = Clock::now();
    const std::int16_t found = app.GetCardPort();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = CpuSeconds() - cpu0;
    if (found != -1) throw std::runtime_error("a silent port was reported as a terminal");
    walls.push_back(wall * 1e3);
    cpus.push_back(cpu * 1e3);
    shares.push_back(cpu / wall * 100);
    // Drop what the scan wrote, so that the ptys never fill up.
    for (int fd : masters) {
      char buf[256];
      while (read(fd, buf, sizeof buf) > 0) {
      }
    }
  }
  for (int fd : masters) close(fd);
  const double worst = *std::max_element(shares.begin(), shares.end());
  Row("GetCardPort over 4 silent ports: processor / wall time, median / max of " +
          std::to_string(scans),
      Fmt("%.3f", Median(shares)) + " / " + Fmt("%.3f", worst) + " % (" +
          Fmt("%.2f", Median(cpus)) + " ms of " + Fmt("%.0f", Median(walls)) + " ms)",
      "< 2 %", worst < 2.0);
  return 0;
}

int Usage() {
  std::printf(
      "usage: qz_line_bench inproc tagged|fixed READS DELAY_MS\n"
      "       qz_line_bench process|process-unpaced tagged|fixed READS\n"
      "       qz_line_bench port-search SCANS\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // The console reader window draws its progress on standard error; a benchmark has no one to
  // show it to, and a terminal redrawing the line would be measured too.
  if (std::freopen("/dev/null", "w", stderr) == nullptr) return 2;
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() == 4 && args[0] == "inproc")
      return InProcess(args[1], std::stoi(args[2]), std::stoi(args[3]));
    if (args.size() == 3 && args[0] == "process")
      return SeparateProcess(args[1], std::stoi(args[2]), true);
    if (args.size() == 3 && args[0] == "process-unpaced")
      return SeparateProcess(args[1], std::stoi(args[2]), false);
    if (args.size() == 2 && args[0] == "port-search") return PortSearch(std::stoi(args[1]));
  } catch (const std::exception& e) {
    std::printf("qz_line_bench: %s\n", e.what());
    return 1;
  }
  return Usage();
}
