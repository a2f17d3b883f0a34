// kvkread as a separate process against ctsim on a real pseudo-terminal: every scenario, the
// port search, Ctrl-C, injected line faults, and the error log beside the loaded library.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "kvk/kvk_data.h"
#include "subprocess.h"

namespace qz::testing {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using std::chrono::milliseconds;

// The progress texts, by their letters in the tables below.
const std::map<char, std::string> kTexts = {{'R', "Resync..."},
                                            {'I', "Bitte Karte einführen..."},
                                            {'E', "Karte eingeführt."},
                                            {'L', "Karte wird gelesen..."},
                                            {'X', "Karte entnehmen..."}};

std::vector<std::string> Texts(const std::string& letters) {
  std::vector<std::string> out = {"KVK Kartenlesegerät an Port 1"};
  for (char c : letters) out.push_back(kTexts.at(c));
  return out;
}

enum class Card { kNull, kEmpty, kTagged, kFixed };

// The record the component must make of the card, decoded here the same way.
Json CardJson(Card card) {
  if (card == Card::kNull) return nullptr;
  std::ifstream in(DataFile(card == Card::kFixed ? "card_fixed.bin" : "card_tagged.bin"));
  const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  clsKVKData record;
  if (card != Card::kEmpty) record.DecodeKVK(data + "\x90" + std::string(1, '\0'));
  Json out = Json::object();
  for (std::size_t i = 0; i < kKVKFieldCount; ++i)
    out[std::string(kKVKFieldNames[i])] = record.Get(static_cast<KVKField>(i));
  return out;
}

struct ScenarioCase {
  std::string scenario;
  int code;
  std::string result;
  Card card;
  std::string texts;
};

class EndToEnd : public ::testing::TestWithParam<ScenarioCase> {};

TEST_P(EndToEnd, KvkreadAgainstCtsim) {
  const ScenarioCase& c = GetParam();
  Ctsim terminal({"--scenario", c.scenario, "--card",
                  DataFile(c.card == Card::kFixed ? "card_fixed.bin" : "card_tagged.bin")});
  const ProcessResult r = Kvkread({"--device", terminal.Port(), "--json"});
  ASSERT_FALSE(r.timed_out) << r.err;
  EXPECT_EQ(r.exit_code, c.code == 0 ? 0 : 1) << r.err;
  EXPECT_EQ(r.Json(), Json({{"result", c.result}, {"code", c.code}, {"card", CardJson(c.card)}}));
  EXPECT_EQ(r.ErrLines(), Texts(c.texts));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Scenarios, EndToEnd, ::testing::Values(
    ScenarioCase{"tagged", 0, "RV_ReadSuccessful", Card::kTagged, "RIELX"},
    ScenarioCase{"fixed", 0, "RV_ReadSuccessful", Card::kFixed, "RIELX"},
    ScenarioCase{"no-card", 5, "RV_NoCardInserted", Card::kEmpty, "RIIIII"},
    ScenarioCase{"card-after-2", 0, "RV_ReadSuccessful", Card::kTagged, "RIIIELX"},
    ScenarioCase{"wrong-card", 3, "RV_WrongCard", Card::kEmpty, "RI"},
    ScenarioCase{"no-application", 3, "RV_WrongCard", Card::kEmpty, "RIE"},
    ScenarioCase{"card-removed", 1, "RV_CardRemovedDuringReading", Card::kEmpty, "RIEL"},
    ScenarioCase{"eject-error", 2, "RV_Error", Card::kTagged, "RIELX"},
    ScenarioCase{"silent", 6, "RV_NoReaderResponding", Card::kNull, "R"},
    ScenarioCase{"split", 0, "RV_ReadSuccessful", Card::kTagged, "RIELX"},
    ScenarioCase{"chained", 0, "RV_ReadSuccessful", Card::kTagged, "RIELX"},
    ScenarioCase{"wrong-seq-once", 0, "RV_ReadSuccessful", Card::kTagged, "RIELX"},
    ScenarioCase{"wtx", 0, "RV_ReadSuccessful", Card::kTagged, "RIELX"},
    ScenarioCase{"noise", 0, "RV_ReadSuccessful", Card::kTagged, "RIELX"}),
    [](const auto& info) { return std::regex_replace(info.param.scenario, std::regex("-"), "_"); });
// clang-format on

TEST(EndToEndPortSearch, SkipsSilentAndHeldPorts) {
  Ctsim silent({"--scenario", "silent"});
  Ctsim live({"--scenario", "tagged"});
  const std::string missing = "/dev/qz-no-such-port";
  const auto search = [](const std::string& ports) {
    return Kvkread({"--find-port", "--json"}, {{"QZCARDREADER_PORTS", ports}}).Json()["port"];
  };
  EXPECT_EQ(search(silent.Port() + ":" + live.Port() + ":" + missing), 2);

  // A read that waits for a card holds its port; Ctrl-C then ends it as cancelled by the user.
  Ctsim busy({"--scenario", "no-card", "--answer-delay", "200"});
  auto holder = StartKvkread({"--device", busy.Port(), "--waiting-time", "1000", "--json"});
  ASSERT_TRUE(holder->WaitForErr(kTexts.at('I'))) << holder->Err();
  EXPECT_EQ(search(busy.Port() + ":" + live.Port()), 2);
  holder->Signal(SIGINT);
  const ProcessResult r = holder->Wait();
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.Json(), Json::parse(R"({"result": "RV_UserCanceled", "code": 4, "card": null})"));
}

TEST(EndToEndCtsim, ServesPeersInTurnPacedAndLeavesNoLinkBehind) {
  const std::string link = "/tmp/qz-ctsim-link-" + std::to_string(getpid());
  Ctsim terminal({"--scenario", "tagged", "--pty-link", link, "--pace"});
  EXPECT_EQ(fs::read_symlink(link), terminal.Port());
  // Lower bound only: the line time of every byte of a read of the tagged card at 9600 8E1.
  const long bytes = 57 + 28 + static_cast<long>(fs::file_size(DataFile("card_tagged.bin"))) + 6;
  for (int read = 0; read < 2; ++read) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Kvkread({"--device", link, "--json"}).exit_code, 0) << read;
    EXPECT_GE(std::chrono::steady_clock::now() - start,
              std::chrono::nanoseconds{bytes * 11'000'000'000LL / 9600});
  }
  terminal.Proc().Signal(SIGTERM);
  EXPECT_EQ(terminal.Proc().Wait().exit_code, 0);
  EXPECT_FALSE(fs::is_symlink(link));
}

// How a read against a faulty terminal must end: 'N' no reader responding (before the RESYNCH is
// confirmed a lost answer is a silent terminal); after it the read waits, asleep, for the
// user's cancel, showing the progress text of that letter; 'S' the card is read; '?' any result.
struct FaultCase {
  std::string fault;
  char ends;
  int answer_delay = 0;
};

// Runs the cases side by side so that their waits overlap.
void ExpectFaultsEndAsTheRulesSay(const std::vector<FaultCase>& cases) {
  std::vector<std::unique_ptr<Ctsim>> sims;
  std::vector<std::unique_ptr<Subprocess>> reads;
  for (const FaultCase& c : cases) {
    sims.push_back(std::make_unique<Ctsim>(std::vector<std::string>{
        "--fault", c.fault, "--answer-delay", std::to_string(c.answer_delay)}));
    reads.push_back(StartKvkread({"--device", sims.back()->Port(), "--json"}));
  }
  std::vector<std::pair<std::size_t, milliseconds>> waiting;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    if (!kTexts.contains(cases[i].ends)) continue;
    ASSERT_TRUE(sims[i]->FaultDone(cases[i].fault)) << cases[i].fault;
    ASSERT_TRUE(reads[i]->WaitForErr(kTexts.at(cases[i].ends))) << cases[i].fault;
    waiting.emplace_back(i, ProcessCpuTime(reads[i]->Pid()));
  }
  if (!waiting.empty()) {
    // Nothing is printed while a read waits: this only lets two seconds pass. A read that
    // polled a dead or noisy port would use most of them.
    reads[waiting[0].first]->WaitForErr("\n(no output while waiting)", milliseconds{2000});
    for (const auto& [i, before] : waiting) {
      EXPECT_LT(ProcessCpuTime(reads[i]->Pid()) - before, milliseconds{400}) << cases[i].fault;
      reads[i]->Signal(SIGINT);
    }
  }
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const FaultCase& c = cases[i];
    if (c.ends == '?') {  // it may lose an answer on the way and wait: Ctrl-C must end that
      reads[i]->WaitFor([] { return false; }, milliseconds{10000});
      reads[i]->Signal(SIGINT);
    }
    const ProcessResult r = reads[i]->Wait();
    ASSERT_FALSE(r.timed_out) << c.fault;
    EXPECT_TRUE(sims[i]->FaultDone(c.fault)) << c.fault;
    const Json out = r.Json();
    if (c.ends == '?') {
      EXPECT_TRUE(out["code"].is_number_integer() && r.exit_code >= 0 && r.exit_code <= 1)
          << c.fault << ": " << r.out << r.err;
      continue;
    }
    const std::string result = c.ends == 'S'   ? "RV_ReadSuccessful"
                               : c.ends == 'N' ? "RV_NoReaderResponding"
                                               : "RV_UserCanceled";
    EXPECT_EQ(r.exit_code, c.ends == 'S' ? 0 : 1) << c.fault << ": " << r.err;
    EXPECT_EQ(out.value("result", ""), result) << c.fault;
    EXPECT_EQ(out["card"], CardJson(c.ends == 'S' ? Card::kTagged : Card::kNull)) << c.fault;
    // Nothing moved on after the fault.
    const std::vector<std::string> texts = r.ErrLines();
    const char last = c.ends == 'S' ? 'X' : c.ends == 'N' ? 'R' : c.ends;
    EXPECT_EQ(texts.empty() ? "" : texts.back(), kTexts.at(last)) << c.fault;
  }
}

// clang-format off
TEST(FaultInjection, LostResynchResponseIsNoReaderResponding) {
  ExpectFaultsEndAsTheRulesSay({{"noise:0", 'N'}, {"noise:1", 'N'}, {"noise:2", 'N'},
      {"noise:3", 'N'}, {"cut:0", 'N'}, {"len255:0", 'N'}, {"flood:0", 'N'}, {"hang-up:0", 'N'}});
}

// Offsets in what the terminal sends in a read of the tagged card: RESYNCH 0-3, RESET CT 4-9,
// REQUEST ICC 10-15, SELECT FILE 16-21, READ BINARY 22-173 (SW1 at 171), EJECT ICC 174-179.
TEST(FaultInjection, NoiseInsideAnAnswerLosesItAndTheReadWaits) {
  ExpectFaultsEndAsTheRulesSay({{"noise:4", 'R'}, {"noise:6", 'R'}, {"noise:9", 'R'},
      {"noise:10", 'I'}, {"noise:22", 'L'}, {"noise:25", 'L'}, {"noise:100", 'L'},
      {"noise:171", 'L'}, {"noise:179", 'X'}});
}

TEST(FaultInjection, CutShortLongLengthOrWrongSequenceTwiceLeavesTheReadWaiting) {
  ExpectFaultsEndAsTheRulesSay({{"cut:1", 'R'}, {"cut:4", 'L'}, {"cut:5", 'X'},
      {"len255:2", 'I'}, {"len255:4", 'L'}, {"wrong-seq-twice:1", 'R'},
      {"wrong-seq-twice:4", 'L'}, {"wrong-seq-twice:5", 'X'}});
}

TEST(FaultInjection, LineClosedAtEachStepOrFloodedLeavesTheReadWaiting) {
  ExpectFaultsEndAsTheRulesSay({{"hang-up:1", 'R'}, {"hang-up:2", 'I'}, {"hang-up:3", 'E'},
      {"hang-up:4", 'L'}, {"hang-up:5", 'X'}, {"flood:3", 'E'}, {"flood:4", 'L'}});
}

TEST(FaultInjection, DuplicatedAnswersAreTakenOnceOrEndTheReadByThemselves) {
  // A copy carries an old N(S): the host sends its command again, and the read succeeds; the
  // answer delay keeps each block in a read of its own. A second RESYNCH response restarts the
  // chain, and as answers name no command, each later answer is taken for the next command's:
  // of that read only an ending with a result code is asked.
  ExpectFaultsEndAsTheRulesSay({{"duplicate:0", '?', 500}, {"duplicate:1", 'S', 500},
      {"duplicate:2", 'S', 500}, {"duplicate:3", 'S', 500}, {"duplicate:4", 'S', 500},
      {"duplicate:5", 'S', 500}});
}
// clang-format on

// The library copied into a folder of its own, so that its error log is this test's alone.
struct LibraryCopy {
  LibraryCopy() {
    char name[] = "/tmp/qz-errlog-XXXXXX";
    dir = mkdtemp(name);
    fs::copy_file(QZ_LIBRARY_PATH, dir / fs::path(QZ_LIBRARY_PATH).filename());
  }
  ~LibraryCopy() {
    fs::permissions(dir, fs::perms::owner_all);
    fs::remove_all(dir);
  }
  std::map<std::string, std::string> Env() const { return {{"LD_LIBRARY_PATH", dir}}; }
  std::string Log() const {
    std::ifstream in(dir / "libqzcardreader.err", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  fs::path dir;
};

TEST(EndToEndErrorLog, EachRaisedErrorIsOneLineBesideTheLoadedLibrary) {
  LibraryCopy copy;
  ProcessResult r = Kvkread({"--port", "0", "--json"}, copy.Env());
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.Json(), Json::parse(R"({"error": {"number": -2147221503,
      "source": "ClsApplication", "description": "No CommPort is set"}})"));
  EXPECT_TRUE(std::regex_match(
      copy.Log(), std::regex("[^\t\n]+\t[^\t\n]+\tModule : ClsApplication\tMethod : ReadCard\t"
                             "Comment : None\tErrNo : -2147221503\tErrDesc. : No CommPort is "
                             "set\tErrSource : ClsApplication\r\n")))
      << copy.Log();

  // A write that fails with the port open, inside the dialogue: the terminal stops taking
  // bytes once it has answered REQUEST ICC, so SELECT FILE cannot be written.
  Ctsim stalled({"--fault", "stall-after:2"});
  r = Kvkread({"--device", stalled.Port(), "--json"}, copy.Env());
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.Json()["error"]["number"], 8010);
  EXPECT_EQ(r.Json()["error"]["description"], "Write timed out on " + stalled.Port());
  EXPECT_EQ(r.ErrLines(), Texts("RIE"));
  const std::string log = copy.Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
  EXPECT_NE(log.find("ErrNo : 8010\tErrDesc. : Write timed out on " + stalled.Port()),
            std::string::npos)
      << log;
}

TEST(EndToEndErrorLog, UnwritableLogIsTheErrorTheHostGets) {
  // Made a directory: no one can append to that, root included.
  const Json log_failure = Json::parse(
      R"({"number": 75, "source": "qzCardReader", "description": "Path/File access error"})");
  LibraryCopy copy;
  fs::create_directory(copy.dir / "libqzcardreader.err");
  EXPECT_EQ(Kvkread({"--port", "0", "--json"}, copy.Env()).Json()["error"], log_failure);
  Ctsim stalled({"--fault", "stall-after:3"});
  ProcessResult r = Kvkread({"--device", stalled.Port(), "--json"}, copy.Env());
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.Json()["error"], log_failure) << r.out;
  // A read that logs nothing does not care.
  Ctsim terminal({"--scenario", "tagged"});
  r = Kvkread({"--device", terminal.Port(), "--json"}, copy.Env());
  EXPECT_EQ(r.Json()["result"], "RV_ReadSuccessful") << r.err;
  EXPECT_TRUE(fs::is_empty(copy.dir / "libqzcardreader.err"));
}

}  // namespace
}  // namespace qz::testing
