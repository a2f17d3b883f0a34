// Many reads on one clsApplication against simulated terminals in this process: descriptors,
// memory and error-log lines must not grow beyond what the results call for. QZ_SOAK_READS sets
// the number of reads (1000 in the test run; the `soak` target runs 20000).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "app/cls_application.h"
#include "app/platform_posix.h"
#include "card_images.h"
#include "ctsim_server_posix.h"
#include "link/serial_port.h"

namespace qz::testing {
namespace {

long OpenDescriptors() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

long ResidentKiB() {
  std::ifstream in("/proc/self/statm");
  long size = 0, resident = 0;
  in >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int LogLinesWith(const std::string& text) {
  std::ifstream in(ErrorLogPath());
  int n = 0;
  for (std::string line; std::getline(in, line);) n += line.find(text) != std::string::npos;
  return n;
}

std::unique_ptr<ctsim::Server> StartTerminal(PosixEventLoop& loop, const char* scenario,
                                             const char* fault = nullptr) {
  ctsim::ServerOptions options;
  options.terminal.scenario = *ctsim::ParseScenario(scenario);
  options.terminal.card = ctsim::DefaultCardFor(false, QZ_TEST_DATA_DIR);
  if (fault != nullptr) options.terminal.fault = *ctsim::ParseFault(fault);
  auto server = std::make_unique<ctsim::Server>(loop, options);
  server->OpenPty();
  return server;
}

TEST(Soak, ManyReadsOnOneObjectLeaveNothingBehind) {
  const char* env = std::getenv("QZ_SOAK_READS");
  const int reads = env != nullptr ? std::atoi(env) : 1000;
  ASSERT_GE(reads, 40);
  PosixPlatform& platform = PosixPlatform::Default();
  auto tagged = StartTerminal(platform.PosixLoop(), "tagged");
  auto wrong = StartTerminal(platform.PosixLoop(), "wrong-card");
  auto stalled = StartTerminal(platform.PosixLoop(), "tagged", "stall-after:2");
  // COM3 does not exist; its name marks this run's lines in the shared log.
  const std::string missing = "/nonexistent/qz-soak-" + std::to_string(getpid());
  setenv("QZCARDREADER_PORTS",
         (tagged->PeerPath() + ":" + wrong->PeerPath() + ":" + missing + ":" + stalled->PeerPath())
             .c_str(),
         1);
  const int log_before = LogLinesWith(missing);

  clsApplication app(platform);
  std::map<int, int> results;
  int errors = 0;
  long fds_after_warm_up = 0, fds_at_end = 0;
  [[maybe_unused]] long rss_after_warm_up = 0;
  const int saved_stderr = dup(2);  // the progress texts of a thousand reads would bury a failure
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  dup2(null, 2);
  close(null);
  for (int i = 0; i < reads; ++i) {
    if (i == reads / 5) {
      fds_after_warm_up = OpenDescriptors();
      rss_after_warm_up = ResidentKiB();
    }
    // Mostly good reads, every tenth a wrong card, every twentieth a port that is missing.
    const std::int16_t port = i % 20 == 19 ? 3 : i % 10 == 9 ? 2 : 1;
    app.CommPort(port);
    try {
      const enmReturnValue r = app.ReadCard(CRT_CommPort);
      ++results[r];
      ASSERT_TRUE(r != RV_ReadSuccessful ||
                  !app.KVKData()->Get(KVKField::KrankenKassenName).empty())
          << "read " << i;
    } catch (const AutomationError& e) {
      ASSERT_EQ(port, 3) << "read " << i << ": " << e.Description();
      ++errors;
    }
  }
  fds_at_end = OpenDescriptors();

  // A write that fails with the port open (the terminal stops taking bytes once it has answered
  // REQUEST ICC): the read ends with that error and closes its port all the same.
  const int stall_fd = open(stalled->PeerPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  stalled->SetOnNote([&](const std::string&) { tcflow(stall_fd, TCOOFF); });
  app.CommPort(4);
  try {
    app.ReadCard(CRT_CommPort);
    ADD_FAILURE() << "the stalled write raised nothing";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.Number(), kErrPortNotAvailable);
  }
  close(stall_fd);
  EXPECT_EQ(OpenDescriptors(), fds_at_end);
  dup2(saved_stderr, 2);
  close(saved_stderr);

  const int missing_reads = reads / 20;
  const int wrong_reads = reads / 10 - missing_reads;
  EXPECT_EQ(results[RV_ReadSuccessful], reads - wrong_reads - missing_reads);
  EXPECT_EQ(results[RV_WrongCard], wrong_reads);
  EXPECT_EQ(errors, missing_reads);
  EXPECT_EQ(LogLinesWith(missing) - log_before, missing_reads);  // a line per raised error only
  EXPECT_EQ(fds_at_end, fds_after_warm_up);
  // AddressSanitizer keeps freed memory in quarantine; there its leak check stands in.
#ifndef __SANITIZE_ADDRESS__
  EXPECT_LT(ResidentKiB() - rss_after_warm_up, 4096);
#endif
  unsetenv("QZCARDREADER_PORTS");
}

}  // namespace
}  // namespace qz::testing
