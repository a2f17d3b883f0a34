// Throughput of the two pure-CPU stages of a read: decoding the card file and assembling the
// terminal's blocks from receive notifications. Both run on the host's thread between bytes of
// a 9600 baud line, so they only need to be far faster than the line (about 870 bytes/s).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "kvk/kvk_data.h"
#include "link/frm_comm.h"
#include "link/t1_block.h"
#include "tests/fakes/fake_event_loop.h"
#include "tests/fakes/fake_serial_port.h"

#ifndef QZ_BENCH_DATA_DIR
#define QZ_BENCH_DATA_DIR "tests/data"
#endif

namespace {

using qz::t1::Bytes;

Bytes LoadCard(const char* name) {
  std::ifstream in(std::string(QZ_BENCH_DATA_DIR) + "/" + name, std::ios::binary);
  if (!in) throw std::runtime_error(std::string("cannot read ") + name);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The READ BINARY answer as the dialogue hands it over: card file, then 90 00.
std::string Answer(const Bytes& card) {
  std::string s(card.begin(), card.end());
  s.push_back(static_cast<char>(0x90));
  s.push_back(static_cast<char>(0x00));
  return s;
}

void DecodeCard(benchmark::State& state, const char* file) {
  const std::string answer = Answer(LoadCard(file));
  for (auto _ : state) {
    qz::clsKVKData record;
    record.DecodeKVK(answer);
    benchmark::DoNotOptimize(record);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * answer.size()));
}
BENCHMARK_CAPTURE(DecodeCard, Tagged, "card_tagged.bin");
BENCHMARK_CAPTURE(DecodeCard, Fixed, "card_fixed.bin");

// The link on a fake port: blocks go in through the port's receive buffer and notification,
// exactly as the platform ports deliver them, and whole answers come out as events.
class Link final : private qz::frmCommEvents {
 public:
  Link() {
    bus_[1];
    auto port = std::make_unique<qz::testing::FakeSerialPort>(loop_, bus_);
    port_ = port.get();
    link_ = std::make_unique<qz::frmComm>(loop_, std::move(port),
                                          static_cast<qz::frmCommEvents&>(*this));
    port_->SetCommPort(1);
    port_->SetPortOpen(true);
  }

  // The blocks of one answer as the terminal frames them, the first with N(S) = `seq`.
  static std::vector<Bytes> Frame(const std::string& answer, std::size_t piece, bool seq) {
    std::vector<Bytes> blocks;
    for (std::size_t at = 0; at < answer.size(); at += piece) {
      const std::size_t n = std::min(piece, answer.size() - at);
      std::uint8_t pcb = seq ? qz::t1::kPcbSeqBit : std::uint8_t{0};
      if (at + n < answer.size()) pcb |= qz::t1::kPcbMoreBit;
      seq = !seq;
      const auto* inf = reinterpret_cast<const std::uint8_t*>(answer.data()) + at;
      blocks.push_back(qz::t1::MakeBlock(0x21, pcb, std::span(inf, n)));
    }
    return blocks;
  }

  // Hands `bytes` to the port in reads of `read_size` bytes, each followed by the loop's
  // dispatch, as a serial line delivers them.
  void Feed(const Bytes& bytes, std::size_t read_size) {
    for (std::size_t at = 0; at < bytes.size(); at += read_size) {
      const std::size_t n = std::min(read_size, bytes.size() - at);
      port_->Deliver(std::span(bytes).subspan(at, n));
      loop_.AdvanceBy(std::chrono::milliseconds(0));
    }
  }

  std::int64_t Answers() const { return answers_; }

 private:
  void CommandReceived(std::string sBuffer, qz::CmdType) override {
    ++answers_;
    benchmark::DoNotOptimize(sBuffer.data());
  }
  void WTXResynchCompleted(std::int32_t&) override {}
  void TimeReached(std::string&) override {}

  qz::testing::FakeEventLoop loop_;
  qz::testing::FakeSerialBus bus_;
  qz::testing::FakeSerialPort* port_ = nullptr;
  std::unique_ptr<qz::frmComm> link_;
  std::int64_t answers_ = 0;
};

// args: INF bytes per block (254 = whole answer in one block, 32 = chained like the terminal's
// chained scenario), bytes per serial read (0 = whole block at once).
void AssembleAnswer(benchmark::State& state, const char* file) {
  const std::string answer = Answer(LoadCard(file));
  const auto piece = static_cast<std::size_t>(state.range(0));
  const auto read_size = static_cast<std::size_t>(state.range(1));
  // Framed once for each starting N(S): the link expects the sequence to continue from the
  // last answer, and framing inside the loop would be measured too.
  const std::vector<Bytes> framed[2] = {Link::Frame(answer, piece, false),
                                        Link::Frame(answer, piece, true)};
  Link link;
  bool seq = false;
  std::int64_t line_bytes = 0;
  for (auto _ : state) {
    const std::vector<Bytes>& blocks = framed[seq ? 1 : 0];
    if (blocks.size() % 2 != 0) seq = !seq;
    for (const Bytes& block : blocks) {
      link.Feed(block, read_size == 0 ? block.size() : read_size);
      line_bytes += static_cast<std::int64_t>(block.size());
    }
  }
  if (link.Answers() != static_cast<std::int64_t>(state.iterations()))
    state.SkipWithError("the link lost answers");
  state.SetBytesProcessed(line_bytes);
}
BENCHMARK_CAPTURE(AssembleAnswer, Tagged, "card_tagged.bin")
    ->ArgNames({"inf", "read"})
    ->Args({254, 0})  // whole block in one read
    ->Args({254, 3})  // split: the line hands over three bytes at a time
    ->Args({254, 1})  // split: byte by byte
    ->Args({32, 0})   // chained answer, whole blocks
    ->Args({32, 3});  // chained and split
BENCHMARK_CAPTURE(AssembleAnswer, Fixed, "card_fixed.bin")
    ->ArgNames({"inf", "read"})
    ->Args({254, 0})
    ->Args({254, 1})
    ->Args({32, 0});

}  // namespace

BENCHMARK_MAIN();
