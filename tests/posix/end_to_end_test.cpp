// kvkread as a separate process against ctsim on a real pseudo-terminal: every scenario, the
// port search, cancelling with Ctrl-C, the error log beside the library, a vanished terminal.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "kvk/kvk_data.h"
#include "subprocess.h"

namespace qz::testing {
namespace {

using Json = nlohmann::json;
using std::chrono::milliseconds;

constexpr milliseconds kLimit{60000};  // generous: a loaded machine under sanitizers

const std::string kTitle = "KVK Kartenlesegerät an Port 1";
const std::string kResync = "Resync...";
const std::string kInsert = "Bitte Karte einführen...";
const std::string kInserted = "Karte eingeführt.";
const std::string kReading = "Karte wird gelesen...";
const std::string kRemove = "Karte entnehmen...";

std::string DataFile(const std::string& name) {
  return std::string(QZ_TEST_DATA_DIR) + "/" + name;
}

// A ctsim process serving one pseudo-terminal.
class Terminal {
 public:
  explicit Terminal(std::vector<std::string> args) {
    args.insert(args.begin(), CTSIM_PATH);
    proc_ = std::make_unique<Subprocess>(args);
    auto line = proc_->ReadLine(kLimit);
    if (!line) throw std::runtime_error("ctsim printed no port: " + proc_->Err());
    path_ = *line;
  }
  const std::string& Path() const { return path_; }
  Subprocess& Proc() { return *proc_; }

 private:
  std::unique_ptr<Subprocess> proc_;
  std::string path_;
};

ProcessResult Kvkread(std::vector<std::string> args,
                      const std::map<std::string, std::string>& env = {}) {
  args.insert(args.begin(), KVKREAD_PATH);
  Subprocess p(args, env);
  return p.Wait(kLimit);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The record the component must produce from a card file, decoded here the same way.
Json ExpectedCard(const std::string& file) {
  std::ifstream in(DataFile(file), std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  clsKVKData record;
  record.DecodeKVK(data + "\x90" + std::string(1, '\0'));
  Json card = Json::object();
  for (std::size_t i = 0; i < kKVKFieldCount; ++i)
    card[std::string(kKVKFieldNames[i])] = record.Get(static_cast<KVKField>(i));
  return card;
}

enum class CardIs { kNull, kEmpty, kTagged, kFixed };

struct ScenarioCase {
  std::string scenario;
  int code;
  std::string result;
  CardIs card;
  std::vector<std::string> texts;  // after the title
};

void PrintTo(const ScenarioCase& c, std::ostream* os) {
  *os << c.scenario;
}

std::vector<std::string> Success() {
  return {kResync, kInsert, kInserted, kReading, kRemove};
}

class EndToEnd : public ::testing::TestWithParam<ScenarioCase> {};

TEST_P(EndToEnd, KvkreadAgainstCtsim) {
  const ScenarioCase& c = GetParam();
  const std::string card_file = c.card == CardIs::kFixed ? "card_fixed.bin" : "card_tagged.bin";
  Terminal terminal({"--scenario", c.scenario, "--card", DataFile(card_file)});
  const ProcessResult r = Kvkread({"--device", terminal.Path(), "--json"});
  ASSERT_FALSE(r.timed_out) << r.err;
  EXPECT_EQ(r.exit_code, c.code == 0 ? 0 : 1) << r.err;

  const Json out = Json::parse(r.out);
  EXPECT_EQ(out["result"], c.result);
  EXPECT_EQ(out["code"], c.code);
  switch (c.card) {
    case CardIs::kNull:
      EXPECT_TRUE(out["card"].is_null());
      break;
    case CardIs::kEmpty:
      ASSERT_TRUE(out["card"].is_object());
      EXPECT_EQ(out["card"].size(), kKVKFieldCount);
      for (const auto& [name, value] : out["card"].items()) EXPECT_EQ(value, "") << name;
      break;
    case CardIs::kTagged:
      EXPECT_EQ(out["card"], ExpectedCard("card_tagged.bin"));
      break;
    case CardIs::kFixed:
      EXPECT_EQ(out["card"], ExpectedCard("card_fixed.bin"));
      break;
  }
  std::vector<std::string> texts = {kTitle};
  texts.insert(texts.end(), c.texts.begin(), c.texts.end());
  EXPECT_EQ(Lines(r.err), texts);
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, EndToEnd,
    ::testing::Values(
        ScenarioCase{"tagged", 0, "RV_ReadSuccessful", CardIs::kTagged, Success()},
        ScenarioCase{"fixed", 0, "RV_ReadSuccessful", CardIs::kFixed, Success()},
        ScenarioCase{"no-card",
                     5,
                     "RV_NoCardInserted",
                     CardIs::kEmpty,
                     {kResync, kInsert, kInsert, kInsert, kInsert, kInsert}},
        ScenarioCase{"card-after-2",
                     0,
                     "RV_ReadSuccessful",
                     CardIs::kTagged,
                     {kResync, kInsert, kInsert, kInsert, kInserted, kReading, kRemove}},
        ScenarioCase{"wrong-card", 3, "RV_WrongCard", CardIs::kEmpty, {kResync, kInsert}},
        ScenarioCase{
            "no-application", 3, "RV_WrongCard", CardIs::kEmpty, {kResync, kInsert, kInserted}},
        ScenarioCase{"card-removed",
                     1,
                     "RV_CardRemovedDuringReading",
                     CardIs::kEmpty,
                     {kResync, kInsert, kInserted, kReading}},
        ScenarioCase{"eject-error", 2, "RV_Error", CardIs::kTagged, Success()},
        ScenarioCase{"silent", 6, "RV_NoReaderResponding", CardIs::kNull, {kResync}},
        ScenarioCase{"split", 0, "RV_ReadSuccessful", CardIs::kTagged, Success()},
        ScenarioCase{"chained", 0, "RV_ReadSuccessful", CardIs::kTagged, Success()},
        ScenarioCase{"wrong-seq-once", 0, "RV_ReadSuccessful", CardIs::kTagged, Success()},
        ScenarioCase{"wtx", 0, "RV_ReadSuccessful", CardIs::kTagged, Success()},
        ScenarioCase{"noise", 0, "RV_ReadSuccessful", CardIs::kTagged, Success()}),
    [](const auto& info) {
      std::string name = info.param.scenario;
      for (char& ch : name)
        if (ch == '-') ch = '_';
      return name;
    });

TEST(EndToEndSimulate, BuiltInTerminalReadsInTheSameProcess) {
  const ProcessResult ok = Kvkread({"--simulate", "--json"});
  EXPECT_EQ(ok.exit_code, 0) << ok.err;
  EXPECT_EQ(Json::parse(ok.out)["card"], ExpectedCard("card_tagged.bin"));
  EXPECT_EQ(Lines(ok.err).back(), kRemove);

  const ProcessResult paced = Kvkread({"--simulate=chained"});
  EXPECT_EQ(paced.exit_code, 0) << paced.err;
  EXPECT_NE(paced.out.find("Result: RV_ReadSuccessful (0)"), std::string::npos);

  const ProcessResult bad = Kvkread({"--simulate=no-such-scenario"});
  EXPECT_EQ(bad.exit_code, 2);
  const ProcessResult usage = Kvkread({"--port", "1", "--device", "/dev/null"});
  EXPECT_EQ(usage.exit_code, 2);
  // Without the keyboard library the keyboard read says so in the component's own terms.
  const ProcessResult keyboard =
      Kvkread({"--keyboard", "--json"}, {{"LD_LIBRARY_PATH", "/nonexistent"}});
  EXPECT_EQ(keyboard.exit_code, 2);
  EXPECT_EQ(Json::parse(keyboard.out)["error"]["number"], -2147221501);
  const ProcessResult help = Kvkread({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("Examples"), std::string::npos);
}

TEST(EndToEndPortSearch, FindsTheLiveTerminalPastASilentOneAndStopsAtAMissingPort) {
  Terminal silent({"--scenario", "silent"});
  Terminal live({"--scenario", "tagged"});
  const std::string missing = "/dev/qz-no-such-port";

  ProcessResult r =
      Kvkread({"--find-port", "--json"},
              {{"QZCARDREADER_PORTS", silent.Path() + ":" + live.Path() + ":" + missing}});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Json::parse(r.out), Json::parse(R"({"port": 2})"));

  // A port that does not exist ends the search: the terminal behind it is never tried.
  r = Kvkread({"--find-port", "--json"},
              {{"QZCARDREADER_PORTS", silent.Path() + ":" + missing + ":" + live.Path()}});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_EQ(Json::parse(r.out), Json::parse(R"({"port": -1})"));
}

TEST(EndToEndPortSearch, PortHeldByAnotherProgramIsSkipped) {
  Terminal live({"--scenario", "tagged"});
  // A read in progress holds the first port (it waits for a card for a long time).
  Terminal slow({"--scenario", "no-card", "--answer-delay", "200"});
  Subprocess holder({KVKREAD_PATH, "--device", slow.Path(), "--waiting-time", "1000"});
  ASSERT_TRUE(holder.WaitForErr(kInsert, kLimit)) << holder.Err();
  const ProcessResult r =
      Kvkread({"--find-port", "--json"}, {{"QZCARDREADER_PORTS", slow.Path() + ":" + live.Path()}});
  EXPECT_EQ(Json::parse(r.out), Json::parse(R"({"port": 2})")) << r.err;
  holder.Signal(SIGINT);
  EXPECT_EQ(holder.Wait(kLimit).exit_code, 1);
}

TEST(EndToEndCtsim, ServesOnePeerAfterAnotherAndCleansUpOnSigterm) {
  const std::string link = "/tmp/qz-ctsim-link-" + std::to_string(getpid());
  Terminal terminal({"--scenario", "tagged", "--pty-link", link});
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), terminal.Path());
  // The master stays open across the peer's closes and reopens.
  for (int read = 0; read < 3; ++read) {
    const ProcessResult r = Kvkread({"--device", link, "--json"});
    EXPECT_EQ(r.exit_code, 0) << "read " << read << ": " << r.err;
  }
  terminal.Proc().Signal(SIGTERM);
  const ProcessResult end = terminal.Proc().Wait(kLimit);
  EXPECT_EQ(end.exit_code, 0) << end.err;
  EXPECT_NE(access(link.c_str(), F_OK), 0) << "link left behind";
}

TEST(EndToEndCtsim, PacedTerminalIsNeverFasterThanTheLine) {
  // Lower bound only: the line time of every byte exchanged in a read of the tagged card.
  std::ifstream card(DataFile("card_tagged.bin"), std::ios::binary | std::ios::ate);
  const long card_bytes = static_cast<long>(card.tellg());
  const long host = 4 + 9 + 10 + 15 + 9 + 10;                        // the six commands
  const long terminal_bytes = 4 + 6 + 6 + 6 + (card_bytes + 6) + 6;  // their answers
  const auto line_time =
      std::chrono::nanoseconds{(host + terminal_bytes) * 11'000'000'000LL / 9600};

  Terminal terminal({"--scenario", "tagged", "--pace"});
  const auto start = std::chrono::steady_clock::now();
  const ProcessResult r = Kvkread({"--device", terminal.Path(), "--json"});
  const auto wall = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_GE(wall, line_time);
}

TEST(EndToEndCancel, CtrlCDuringAReadIsUserCanceled) {
  // Each card request takes 200 ms and there are 1000 of them: the read is still waiting.
  Terminal terminal({"--scenario", "no-card", "--answer-delay", "200"});
  Subprocess read({KVKREAD_PATH, "--device", terminal.Path(), "--waiting-time", "1000", "--json"});
  ASSERT_TRUE(read.WaitForErr(kInsert, kLimit)) << read.Err();
  read.Signal(SIGINT);
  const ProcessResult r = read.Wait(kLimit);
  EXPECT_EQ(r.exit_code, 1);
  const Json out = Json::parse(r.out);
  EXPECT_EQ(out["result"], "RV_UserCanceled");
  EXPECT_EQ(out["code"], 4);
  EXPECT_TRUE(out["card"].is_null());
}

TEST(EndToEndHangUp, VanishedTerminalLeavesTheReadWaitingWithoutSpinning) {
  Terminal terminal({"--scenario", "no-card", "--answer-delay", "200"});
  Subprocess read({KVKREAD_PATH, "--device", terminal.Path(), "--waiting-time", "1000", "--json"});
  ASSERT_TRUE(read.WaitForErr(kInsert, kLimit)) << read.Err();
  terminal.Proc().Signal(SIGKILL);  // the far end of the line is gone
  terminal.Proc().Wait(kLimit);

  const auto before = ProcessCpuTime(read.Pid());
  read.WaitForErr("(nothing is printed while waiting)", milliseconds{2000});
  const auto used = ProcessCpuTime(read.Pid()) - before;
  // A loop polling the hung-up port would use most of the two seconds.
  EXPECT_LT(used, milliseconds{400});

  read.Signal(SIGINT);
  const ProcessResult r = read.Wait(kLimit);
  EXPECT_EQ(Json::parse(r.out)["result"], "RV_UserCanceled");
}

TEST(EndToEndErrorLog, NoPortSetWritesOneLineBesideTheLoadedLibrary) {
  namespace fs = std::filesystem;
  char dir_template[] = "/tmp/qz-errlog-XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const fs::path dir = dir_template;
  const fs::path library = QZ_LIBRARY_PATH;
  fs::copy_file(library, dir / library.filename());

  const ProcessResult r = Kvkread({"--port", "0", "--json"}, {{"LD_LIBRARY_PATH", dir.string()}});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(Json::parse(r.out), Json::parse(R"({"error": {"number": -2147221503,
      "source": "ClsApplication", "description": "No CommPort is set"}})"));

  std::ifstream in(dir / "libqzcardreader.err", std::ios::binary);
  ASSERT_TRUE(in.good()) << "no log beside " << (dir / library.filename());
  const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
  std::vector<std::string> fields;
  std::istringstream line(log.substr(0, log.size() - 2));
  for (std::string f; std::getline(line, f, '\t');) fields.push_back(f);
  ASSERT_EQ(fields.size(), 8u) << log;
  EXPECT_FALSE(fields[0].empty());
  EXPECT_FALSE(fields[1].empty());
  EXPECT_EQ(fields[2], "Module : ClsApplication");
  EXPECT_EQ(fields[3], "Method : ReadCard");
  EXPECT_EQ(fields[4], "Comment : None");
  EXPECT_EQ(fields[5], "ErrNo : -2147221503");
  EXPECT_EQ(fields[6], "ErrDesc. : No CommPort is set");
  EXPECT_EQ(fields[7], "ErrSource : ClsApplication");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace qz::testing
