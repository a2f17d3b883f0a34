// Many reads on one clsApplication against simulated terminals in this process: descriptors and
// memory must not grow. QZ_SOAK_READS sets the number of reads (1000 in the test run; the `soak`
// target runs 20000).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/cls_application.h"
#include "app/platform_posix.h"
#include "app/ports_posix.h"
#include "base/unique_fd_posix.h"
#include "card_images.h"
#include "ctsim_server_posix.h"

namespace qz::testing {
namespace {

long OpenDescriptors() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

std::unique_ptr<ctsim::Server> StartTerminal(const char* scenario) {
  ctsim::ServerOptions options;
  options.terminal.scenario = *ctsim::ParseScenario(scenario);
  options.terminal.card = ctsim::DefaultCard(false);
  auto server = std::make_unique<ctsim::Server>(PosixPlatform::Default().PosixLoop(), options);
  server->OpenPty();
  return server;
}

TEST(Soak, ManyReadsOnOneObjectLeaveNothingBehind) {
  const int reads = std::getenv("QZ_SOAK_READS") ? std::atoi(std::getenv("QZ_SOAK_READS")) : 1000;
  auto tagged = StartTerminal("tagged");
  auto wrong = StartTerminal("wrong-card");
  SetPorts({tagged->PeerPath(), wrong->PeerPath()});

  clsApplication app;
  int as_expected = 0;
  long fds_after_warm_up = 0;
  [[maybe_unused]] std::size_t heap_after_warm_up = 0;
  // The progress texts of a thousand reads would bury a failure.
  UniqueFd saved_stderr(dup(2));
  dup2(UniqueFd(open("/dev/null", O_WRONLY | O_CLOEXEC)).Get(), 2);
  for (int i = 0; i < reads; ++i) {
    if (i == reads / 5) {
      fds_after_warm_up = OpenDescriptors();
      heap_after_warm_up = mallinfo2().uordblks;
    }
    const bool wrong = i % 10 == 9;  // every tenth a wrong card
    app.CommPort(wrong ? 2 : 1);
    as_expected += app.ReadCard(CRT_CommPort) == (wrong ? RV_WrongCard : RV_ReadSuccessful);
  }
  const long fds_at_end = OpenDescriptors();
  dup2(saved_stderr.Get(), 2);

  EXPECT_EQ(as_expected, reads);
  EXPECT_EQ(fds_at_end, fds_after_warm_up);
  // Bytes allocated and not freed; AddressSanitizer has its own allocator and leak check.
#ifndef __SANITIZE_ADDRESS__
  EXPECT_LT(mallinfo2().uordblks, heap_after_warm_up + 256 * 1024);
#endif
  SetPorts({});
}

}  // namespace
}  // namespace qz::testing
