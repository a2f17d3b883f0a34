// kvkread against ctsim playing a faulty terminal (--fault): every fault must end the read as
// the link's rules say. Before the RESYNCH is confirmed a lost answer is a silent terminal
// (RV_NoReaderResponding); after it, the read waits for the user, asleep, and Ctrl-C ends it
// (RV_UserCanceled). Cases run a few at a time so that the waits overlap.
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "subprocess.h"

namespace qz::testing {
namespace {

using Json = nlohmann::json;
using std::chrono::milliseconds;

constexpr milliseconds kLimit{60000};  // generous: a loaded machine under sanitizers
// A read left waiting is watched this long; one that spins on its port would use most of it.
constexpr milliseconds kWatch{2000};
constexpr milliseconds kMaxCpuWhileWaiting{400};

const std::string kResync = "Resync...";
const std::string kInsert = "Bitte Karte einführen...";
const std::string kInserted = "Karte eingeführt.";
const std::string kReading = "Karte wird gelesen...";
const std::string kRemove = "Karte entnehmen...";

// Offsets of the answers in what the terminal sends in a read of the tagged card (146 bytes):
// RESYNCH 0-3, RESET CT 4-9, REQUEST ICC 10-15, SELECT FILE 16-21, READ BINARY 22-173 (LEN at
// 24, SW1 at 171, EDC at 173), EJECT ICC 174-179.
constexpr int kReadBinaryAt = 22;

std::string DataFile(const std::string& name) {
  return std::string(QZ_TEST_DATA_DIR) + "/" + name;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::string LastLine(const std::string& text) {
  const std::vector<std::string> lines = Lines(text);
  return lines.empty() ? std::string() : lines.back();
}

std::string Card(const Json& out) {
  return out["card"].dump();
}

// One faulty terminal and the read against it.
struct Pair {
  Pair(const std::string& fault, int answer_delay = 0) : fault(fault) {
    ctsim = std::make_unique<Subprocess>(std::vector<std::string>{
        CTSIM_PATH, "--fault", fault, "--answer-delay", std::to_string(answer_delay), "--card",
        DataFile("card_tagged.bin")});
    const auto path = ctsim->ReadLine(kLimit);
    if (!path) throw std::runtime_error("ctsim printed no port: " + ctsim->Err());
    read = std::make_unique<Subprocess>(
        std::vector<std::string>{KVKREAD_PATH, "--device", *path, "--json"});
  }
  bool FaultHappened() { return ctsim->WaitForErr("fault " + fault + " done", kLimit); }

  std::string fault;
  std::unique_ptr<Subprocess> ctsim;
  std::unique_ptr<Subprocess> read;
};

struct WaitCase {
  std::string fault;
  std::string last_text;  // the progress text the read is left showing
};

// Starts all cases at once, lets each reach its fault, watches them wait, then cancels them.
void ExpectEachWaitsForCancel(const std::vector<WaitCase>& cases) {
  std::vector<std::unique_ptr<Pair>> pairs;
  for (const WaitCase& c : cases) pairs.push_back(std::make_unique<Pair>(c.fault));
  for (std::size_t i = 0; i < cases.size(); ++i) {
    ASSERT_TRUE(pairs[i]->FaultHappened()) << cases[i].fault << ": " << pairs[i]->ctsim->Err();
    ASSERT_TRUE(pairs[i]->read->WaitForErr(cases[i].last_text, kLimit))
        << cases[i].fault << ": " << pairs[i]->read->Err();
  }
  std::vector<milliseconds> before;
  for (auto& p : pairs) before.push_back(ProcessCpuTime(p->read->Pid()));
  // Nothing is printed while a read waits; this only lets the watch time pass.
  pairs.front()->read->WaitForErr("\n(no output while waiting)", kWatch);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto used = ProcessCpuTime(pairs[i]->read->Pid()) - before[i];
    EXPECT_LT(used, kMaxCpuWhileWaiting) << cases[i].fault << " spins while it waits";
    pairs[i]->read->Signal(SIGINT);
  }
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const ProcessResult r = pairs[i]->read->Wait(kLimit);
    ASSERT_FALSE(r.timed_out) << cases[i].fault << " ignored Ctrl-C";
    EXPECT_EQ(r.exit_code, 1) << cases[i].fault << ": " << r.err;
    const Json out = Json::parse(r.out, nullptr, false);
    EXPECT_EQ(out.value("result", ""), "RV_UserCanceled") << cases[i].fault << ": " << r.out;
    EXPECT_TRUE(out["card"].is_null()) << cases[i].fault;
    // Cancelled where the fault left it: nothing moved on after the fault.
    EXPECT_EQ(LastLine(r.err), cases[i].last_text) << cases[i].fault;
  }
}

TEST(FaultBeforeResynch, LostResynchResponseEndsAsNoReaderResponding) {
  // Noise anywhere in the RESYNCH response, a cut one, one that claims 255 bytes, a flood after
  // it, and a line closed on the RESYNCH request: the 800 ms limit ends each read.
  const std::vector<std::string> faults = {"noise:0", "noise:1",  "noise:2", "noise:3",
                                           "cut:0",   "len255:0", "flood:0", "hang-up:0"};
  std::vector<std::unique_ptr<Pair>> pairs;
  for (const auto& f : faults) pairs.push_back(std::make_unique<Pair>(f));
  for (std::size_t i = 0; i < faults.size(); ++i) {
    const ProcessResult r = pairs[i]->read->Wait(kLimit);
    ASSERT_FALSE(r.timed_out) << faults[i];
    EXPECT_EQ(r.exit_code, 1) << faults[i] << ": " << r.err;
    const Json out = Json::parse(r.out, nullptr, false);
    EXPECT_EQ(out.value("result", ""), "RV_NoReaderResponding") << faults[i] << ": " << r.out;
    EXPECT_TRUE(out["card"].is_null()) << faults[i];
    EXPECT_EQ(LastLine(r.err), kResync) << faults[i];
    EXPECT_TRUE(pairs[i]->FaultHappened()) << faults[i];
  }
}

TEST(FaultAfterResynch, NoiseInsideAnAnswerLosesItAndTheReadWaits) {
  // The noisy read is longer than the block it starts (dropped) or never completes: either way
  // that answer is gone, and no later command is timed.
  ExpectEachWaitsForCancel(
      {{"noise:4", kResync}, {"noise:6", kResync}, {"noise:9", kResync}, {"noise:10", kInsert}});
  ExpectEachWaitsForCancel({{"noise:" + std::to_string(kReadBinaryAt), kReading},
                            {"noise:" + std::to_string(kReadBinaryAt + 3), kReading},
                            {"noise:100", kReading},
                            {"noise:171", kReading},
                            {"noise:179", kRemove}});
}

TEST(FaultAfterResynch, CutBlockOrShortLen255LeavesTheReadWaiting) {
  ExpectEachWaitsForCancel({{"cut:1", kResync},
                            {"cut:4", kReading},
                            {"cut:5", kRemove},
                            {"len255:2", kInsert},
                            {"len255:4", kReading}});
}

TEST(FaultAfterResynch, WrongSequenceTwiceIsResentOnceThenWaits) {
  ExpectEachWaitsForCancel({{"wrong-seq-twice:1", kResync},
                            {"wrong-seq-twice:4", kReading},
                            {"wrong-seq-twice:5", kRemove}});
}

TEST(FaultAfterResynch, LineClosedAtEachStepLeavesTheReadWaiting) {
  ExpectEachWaitsForCancel({{"hang-up:1", kResync},
                            {"hang-up:2", kInsert},
                            {"hang-up:3", kInserted},
                            {"hang-up:4", kReading},
                            {"hang-up:5", kRemove}});
}

TEST(FaultAfterResynch, FloodAfterAnAnswerIsDroppedAndTheReadWaits) {
  ExpectEachWaitsForCancel({{"flood:3", kInserted}, {"flood:4", kReading}});
}

TEST(FaultDuplicate, DuplicatedAnswerIsReadOnceAndTheReadSucceeds) {
  // The copy carries an old N(S): the command is re-sent once, the terminal repeats its answer,
  // and every answer from there on arrives twice. The answer delay keeps each block in a read of
  // its own, as the link needs.
  const std::string expected = [] {
    Pair plain("noise:100000");  // a position past the read: no fault
    const ProcessResult r = plain.read->Wait(kLimit);
    return Card(Json::parse(r.out, nullptr, false));
  }();
  ASSERT_NE(expected.find("KrankenKassenName"), std::string::npos) << expected;
  std::vector<std::unique_ptr<Pair>> pairs;
  for (int step = 1; step <= 5; ++step)
    pairs.push_back(std::make_unique<Pair>("duplicate:" + std::to_string(step), 250));
  for (auto& p : pairs) {
    const ProcessResult r = p->read->Wait(kLimit);
    ASSERT_FALSE(r.timed_out) << p->fault;
    EXPECT_EQ(r.exit_code, 0) << p->fault << ": " << r.err;
    const Json out = Json::parse(r.out, nullptr, false);
    EXPECT_EQ(out.value("result", ""), "RV_ReadSuccessful") << p->fault << ": " << r.out;
    EXPECT_EQ(Card(out), expected) << p->fault;
    EXPECT_EQ(LastLine(r.err), kRemove) << p->fault;
  }
}

}  // namespace
}  // namespace qz::testing
