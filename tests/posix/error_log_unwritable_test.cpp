// kvkread with the library copied into a folder where its error log cannot be written. Tests run
// as root in CI, where permission bits stop nothing, so the log's path is made a directory (no
// one can append to that); when setpriv is there, a read-only folder is also tried as an
// unprivileged user. The host must get the log's failure (75) instead of the error being
// logged, and reads that log nothing must work as before.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "subprocess.h"

namespace qz::testing {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using std::chrono::milliseconds;

constexpr milliseconds kLimit{60000};
const Json kLogFailure = Json::parse(
    R"({"error": {"number": 75, "source": "qzCardReader", "description": "Path/File access error"}})");

class LibraryCopy {
 public:
  LibraryCopy() {
    char dir_template[] = "/tmp/qz-rolog-XXXXXX";
    if (mkdtemp(dir_template) == nullptr) throw std::runtime_error("mkdtemp");
    dir_ = dir_template;
    const fs::path library = QZ_LIBRARY_PATH;
    fs::copy_file(library, dir_ / library.filename());
  }
  ~LibraryCopy() {
    fs::permissions(dir_, fs::perms::owner_all);
    fs::remove_all(dir_);
  }
  const fs::path& Dir() const { return dir_; }
  fs::path Log() const { return dir_ / "libqzcardreader.err"; }

 private:
  fs::path dir_;
};

ProcessResult RunHost(std::vector<std::string> args,
                      const std::map<std::string, std::string>& env) {
  Subprocess p(args, env);
  return p.Wait(kLimit);
}

TEST(ErrorLogUnwritable, HostGetsTheLogFailureAndReadsThatLogNothingStillWork) {
  LibraryCopy copy;
  fs::create_directory(copy.Log());
  const std::map<std::string, std::string> env = {{"LD_LIBRARY_PATH", copy.Dir().string()}};

  // No port set, and a port that does not exist: both would be logged.
  ProcessResult r = RunHost({KVKREAD_PATH, "--port", "0", "--json"}, env);
  EXPECT_EQ(r.exit_code, 2) << r.err;
  EXPECT_EQ(Json::parse(r.out, nullptr, false), kLogFailure) << r.out;
  r = RunHost({KVKREAD_PATH, "--device", "/nonexistent/qz-port", "--json"}, env);
  EXPECT_EQ(r.exit_code, 2) << r.err;
  EXPECT_EQ(Json::parse(r.out, nullptr, false), kLogFailure) << r.out;

  // A terminal read logs nothing, so the log's folder does not matter to it.
  Subprocess terminal({CTSIM_PATH, "--scenario", "tagged"});
  const auto port = terminal.ReadLine(kLimit);
  ASSERT_TRUE(port) << terminal.Err();
  r = RunHost({KVKREAD_PATH, "--device", *port, "--json"}, env);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Json::parse(r.out, nullptr, false).value("result", ""), "RV_ReadSuccessful");
  EXPECT_TRUE(fs::is_empty(copy.Log()));
}

TEST(ErrorLogUnwritable, ReadOnlyFolderForAnUnprivilegedUser) {
  std::vector<std::string> prefix;
  if (geteuid() == 0) {
    // Root writes anywhere: run the host as nobody instead.
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv is not installed";
    prefix = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  }
  LibraryCopy copy;
  fs::permissions(copy.Dir(), fs::perms::owner_read | fs::perms::owner_exec |
                                  fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
  std::vector<std::string> args = prefix;
  for (const char* a : {KVKREAD_PATH, "--port", "0", "--json"}) args.emplace_back(a);
  const ProcessResult r = RunHost(args, {{"LD_LIBRARY_PATH", copy.Dir().string()}});
  EXPECT_EQ(r.exit_code, 2) << r.err;
  EXPECT_EQ(Json::parse(r.out, nullptr, false), kLogFailure) << r.out << r.err;
  EXPECT_FALSE(fs::exists(copy.Log()));
}

}  // namespace
}  // namespace qz::testing
