// kvkread and ctsim as a user runs them, on real pseudo-terminals: exit statuses and outputs,
// Ctrl-C, the port search's printout, ctsim's command line, and the error log beside the loaded
// library. The dialogue's rules themselves are tested on fakes (tests/unit).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "kvk/kvk_data.h"
#include "link/serial_port.h"

namespace qz::testing {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Env = std::map<std::string, std::string>;  // set for a child on top of this process's

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct ProcessResult {
  int exit_code = -1;  // -1 when ended by a signal or killed at the deadline
  std::string out, err;
};

// A child process whose output goes to memory files rather than pipes, so that it never blocks
// on output nobody reads yet. Every wait ends after a minute (a loaded machine, sanitizers).
class Child {
 public:
  Child(const char* program, std::vector<std::string> args, const Env& env = {}) {
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if ((pid_ = fork()) == 0) {
      dup2(out_, 1);
      dup2(err_, 2);
      for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~Child() {
    if (!reaped_) kill(pid_, SIGKILL);
    Wait();
    close(out_);
    close(err_);
  }

  std::string Out() const { return ReadFile("/proc/self/fd/" + std::to_string(out_)); }
  std::string Err() const { return ReadFile("/proc/self/fd/" + std::to_string(err_)); }
  // Waits until `done` holds or the child has ended; returns `done()`.
  bool WaitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes{1};
    while (!done() && !Ended() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds{5});
    return done();
  }
  void Signal(int signo) { kill(pid_, signo); }
  ProcessResult Wait() {
    if (!WaitFor([this] { return Ended(); })) kill(pid_, SIGKILL);
    if (!reaped_) waitpid(pid_, &status_, 0);
    reaped_ = true;
    return {WIFEXITED(status_) ? WEXITSTATUS(status_) : -1, Out(), Err()};
  }

 private:
  bool Ended() { return reaped_ = reaped_ || waitpid(pid_, &status_, WNOHANG) == pid_; }

  pid_t pid_ = -1;
  int out_ = memfd_create("out", MFD_CLOEXEC), err_ = memfd_create("err", MFD_CLOEXEC);
  bool reaped_ = false;
  int status_ = 0;
};

ProcessResult Kvkread(std::vector<std::string> args, const Env& env = {}) {
  return Child(KVKREAD_PATH, std::move(args), env).Wait();
}

// ctsim on a pseudo-terminal of its own, whose path it prints first.
struct Ctsim : Child {
  explicit Ctsim(std::vector<std::string> args = {}) : Child(CTSIM_PATH, std::move(args)) {
    if (!WaitFor([this] { return Out().find('\n') != std::string::npos; }))
      throw std::runtime_error("ctsim printed no port: " + Err());
    port = Out().substr(0, Out().find('\n'));
  }
  std::string port;
};

// The record a read must print for a test card ("": the empty record), decoded here.
Json CardJson(const std::string& file) {
  clsKVKData record;
  if (!file.empty())
    record.DecodeKVK(ReadFile(fs::path(QZ_TEST_DATA_DIR) / file) + "\x90" + std::string(1, '\0'));
  Json out = Json::object();
  for (std::size_t i = 0; i < kKVKFieldCount; ++i)
    out[std::string(kKVKFieldNames[i])] = record.Get(static_cast<KVKField>(i));
  return out;
}

// The first n progress texts of a read, one line each, as kvkread writes them to stderr.
std::string Progress(std::size_t n) {
  const char* const texts[] = {"KVK Kartenlesegerät an Port 1", "Resync...",
                               "Bitte Karte einführen...",      "Karte eingeführt.",
                               "Karte wird gelesen...",         "Karte entnehmen..."};
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += std::string(texts[i]) + "\n";
  return out;
}

TEST(Kvkread, ExitStatusJsonAndProgressForEachKindOfResult) {
  struct Case {
    std::vector<std::string> ctsim;
    const char* result;
    int code;
    const char* card;   // the test card the record must hold, "" the empty record, null none
    std::size_t texts;  // how many progress texts were shown
  };
  // ctsim's built-in cards are the test cards: the installed ctsim needs no data files.
  const Case cases[] = {
      {{"--scenario", "tagged"}, "RV_ReadSuccessful", 0, "card_tagged.bin", 6},
      {{"--scenario", "fixed"}, "RV_ReadSuccessful", 0, "card_fixed.bin", 6},
      {{"--card", QZ_TEST_DATA_DIR "/card_fixed.bin"}, "RV_ReadSuccessful", 0, "card_fixed.bin", 6},
      {{"--scenario", "wrong-card"}, "RV_WrongCard", 3, "", 3},
      {{"--scenario", "silent"}, "RV_NoReaderResponding", 6, nullptr, 2}};
  for (const Case& c : cases) {
    Ctsim terminal(c.ctsim);
    const ProcessResult r = Kvkread({"--device", terminal.port, "--json"});
    EXPECT_EQ(r.exit_code, c.code == 0 ? 0 : 1) << c.result << r.err;
    EXPECT_EQ(Json::parse(r.out), Json({{"result", c.result},
                                        {"code", c.code},
                                        {"card", c.card ? CardJson(c.card) : Json(nullptr)}}));
    EXPECT_EQ(r.err, Progress(c.texts));
  }
  const ProcessResult table = Kvkread({"--simulate"});
  EXPECT_EQ(table.exit_code, 0);
  EXPECT_TRUE(table.out.starts_with("Result: RV_ReadSuccessful (0)\n")) << table.out;
  EXPECT_NE(table.out.find("\n  FamilienName        Weißmüller\n"), std::string::npos);
  EXPECT_EQ(Json::parse(Kvkread({"--simulate=no-card", "--json"}).out)["code"], 5);
  EXPECT_EQ(Kvkread({"--simulate=no-such-scenario"}).exit_code, 2);
}

// Which ports the search skips is the unit tests' matter; here, its printouts and exit statuses.
TEST(Kvkread, FindPortPrintsTheFoundPortAndCtrlCCancelsAWaitingRead) {
  Ctsim live;
  const Env ports = {{"QZCARDREADER_PORTS", "/dev/qz-missing:" + live.port}};
  ProcessResult r = Kvkread({"--find-port", "--json"}, ports);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(Json::parse(r.out), Json({{"port", 2}, {"device", live.port}}));
  EXPECT_EQ(Kvkread({"--find-port"}, ports).out,
            "Card terminal found on port 2 (" + live.port + ")\n");
  r = Kvkread({"--find-port", "--json"}, {{"QZCARDREADER_PORTS", "/dev/qz-missing"}});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(Json::parse(r.out), Json({{"port", -1}}));

  Ctsim empty({"--scenario", "no-card"});
  Child read(KVKREAD_PATH, {"--device", empty.port, "--waiting-time", "1000", "--json"});
  ASSERT_TRUE(read.WaitFor([&] { return read.Err().starts_with(Progress(3)); })) << read.Err();
  read.Signal(SIGINT);
  r = read.Wait();
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(Json::parse(r.out),
            Json::parse(R"({"result": "RV_UserCanceled", "code": 4, "card": null})"));
}

TEST(Ctsim, PacedThroughItsLinkWhichGoesWithIt) {
  const std::string link = "/tmp/qz-ctsim-link-" + std::to_string(getpid());
  Ctsim terminal({"--pty-link", link, "--pace"});
  EXPECT_EQ(fs::read_symlink(link), terminal.port);
  // Lower bound only: the line time of every byte of a read of the tagged card at 9600 8E1.
  const long bytes =
      57 + 28 + static_cast<long>(fs::file_size(QZ_TEST_DATA_DIR "/card_tagged.bin")) + 6;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Kvkread({"--device", link, "--json"}).exit_code, 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, bytes * kByteTime);
  terminal.Signal(SIGTERM);
  EXPECT_EQ(terminal.Wait().exit_code, 0);
  EXPECT_FALSE(fs::is_symlink(link));
}

// The library copied into a folder of its own, so that its error log is this test's alone.
struct LibraryCopy {
  LibraryCopy() : dir(mkdtemp(name)) {
    fs::copy_file(QZ_LIBRARY_PATH, dir / fs::path(QZ_LIBRARY_PATH).filename());
  }
  ~LibraryCopy() { fs::remove_all(dir); }
  std::map<std::string, std::string> Env() const { return {{"LD_LIBRARY_PATH", dir}}; }
  char name[32] = "/tmp/qz-errlog-XXXXXX";
  fs::path dir;
};

TEST(KvkreadErrorLog, EachRaisedErrorIsOneLineBesideTheLoadedLibraryUnlessItCannotBeWritten) {
  LibraryCopy copy;
  EXPECT_EQ(Kvkread({"--port", "0"}, copy.Env()).exit_code, 2);
  // No keyboard card reader library exists for Linux.
  ProcessResult r = Kvkread({"--keyboard", "--json"}, copy.Env());
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(Json::parse(r.out), Json::parse(R"({"error": {"number": -2147221501,
      "source": "ReadCard", "description": "No Cherry Driver installed"}})"));
  // A write that fails inside the dialogue: the terminal stops taking bytes once it has
  // answered REQUEST ICC, so SELECT FILE cannot be written.
  Ctsim stalled({"--fault", "stall-after:2"});
  r = Kvkread({"--device", stalled.port, "--json"}, copy.Env());
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(Json::parse(r.out)["error"]["number"], 8010);
  EXPECT_EQ(r.err, Progress(4));
  const std::string line =
      "[^\t\n]+\t[^\t\n]+\tModule : ClsApplication\tMethod : ReadCard\t"
      "Comment : None\tErrNo : ([-0-9]+)\tErrDesc. : [^\t\n]+\t"
      "ErrSource : [^\t\n]+\r\n";
  const std::string log = ReadFile(copy.dir / "libqzcardreader.err");
  EXPECT_TRUE(std::regex_match(log, std::regex(line + line + line))) << log;
  for (const char* number : {"-2147221503", "339", "8010"})  // 339 is logged as it came
    EXPECT_NE(log.find("ErrNo : " + std::string(number) + "\t"), std::string::npos) << number;

  // A log no one can append to (a directory, root included) is the error the host gets; a read
  // that logs nothing does not care.
  LibraryCopy blocked;
  fs::create_directory(blocked.dir / "libqzcardreader.err");
  r = Kvkread({"--port", "0", "--json"}, blocked.Env());
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(Json::parse(r.out)["error"], Json::parse(R"({"number": 75, "source": "qzCardReader",
      "description": "Path/File access error"})"));
  EXPECT_EQ(Kvkread({"--simulate", "--json"}, blocked.Env()).exit_code, 0);
}

}  // namespace
}  // namespace qz::testing
