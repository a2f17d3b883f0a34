// The card terminal's side of the T=1 link, free of I/O: bytes from the host go in, the bytes
// to send back come out as chunks, each with the pause that must precede it. The server (or a
// test) does the waiting and the writing.
//
// It behaves like a terminal with one card slot: RESYNCH resets both sequence numbers; an
// I-block with the expected N(S) is a new command, one with the previous N(S) asks for the last
// answer again; blocks with a bad EDC are skipped.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <string>

#include "fault.h"
#include "link/t1_block.h"
#include "scenario.h"

namespace qz::ctsim {

struct Chunk {
  std::chrono::milliseconds delay{0};  // after the previous chunk (the first: after the command)
  t1::Bytes bytes;
  bool hang_up = false;  // instead of bytes: the terminal closes the line
  std::string note{};    // said once the chunk is out (faults, for logs and tests)
};

struct TerminalConfig {
  Scenario scenario;
  t1::Bytes card;                             // the card file READ BINARY returns
  std::chrono::milliseconds answer_delay{0};  // the terminal's thinking time before each answer
  Fault fault{};
};

class Terminal {
 public:
  // Blocks that must reach the host separately are this far apart: the link reads whatever is
  // waiting, and a read that runs into the next block is dropped.
  static constexpr std::chrono::milliseconds kBlockGap{100};
  static constexpr std::chrono::milliseconds kPieceGap{3};
  // Bytes older than this with no complete block are a broken command, dropped when new bytes
  // arrive (a terminal's character waiting time).
  static constexpr std::chrono::milliseconds kCharacterTimeout{500};
  static constexpr std::size_t kMaxInf = 254;     // the terminal's IFSC
  static constexpr std::size_t kChainedInf = 32;  // piece size of the chained scenario

  explicit Terminal(TerminalConfig config);

  // `now` is any monotonic time; it only serves the character waiting time.
  std::vector<Chunk> Receive(std::span<const std::uint8_t> bytes, std::chrono::milliseconds now);

  // What happened so far, for tests and the server's log.
  int BlocksReceived() const { return blocks_received_; }
  int CommandsExecuted() const { return commands_executed_; }
  int Repeats() const { return repeats_; }
  const std::vector<std::uint8_t>& Instructions() const { return instructions_; }

 private:
  struct Answer {
    t1::Bytes data;
    std::uint8_t sw1;
    std::optional<std::uint8_t> sw2;  // none: an answer cut short
  };

  void HandleBlock(const t1::Bytes& block, std::vector<Chunk>& out);
  Answer Execute(std::span<const std::uint8_t> apdu);
  std::vector<t1::Bytes> BuildAnswerBlocks(std::uint8_t nad, const Answer& answer);
  // Appends the blocks as the scenario writes them to the line.
  void Emit(std::vector<t1::Bytes> blocks, std::uint8_t ins, std::vector<Chunk>& out);
  void EmitBlock(const t1::Bytes& block, std::chrono::milliseconds delay, std::vector<Chunk>& out);
  // Changes the answer to the dialogue's step `step` as the configured fault says; `repeat` is
  // an answer sent again because the host repeated its command.
  void ApplyFault(int step, bool repeat, std::vector<Chunk>& answer);

  TerminalConfig config_;
  t1::Bytes in_;
  std::chrono::milliseconds last_rx_{0};
  bool expect_seq_ = false;  // N(S) of the next new command
  bool send_seq_ = false;    // N(S) of the next I-block sent
  std::vector<t1::Bytes> last_answer_;
  int requests_ = 0;      // REQUEST ICC since the last RESET CT
  int step_ = 0;          // commands of this dialogue so far, RESYNCH being step 0
  std::size_t sent_ = 0;  // bytes answered in this dialogue (the noise fault's position)
  bool noise_done_ = false;
  int blocks_received_ = 0;
  int commands_executed_ = 0;
  int repeats_ = 0;
  std::vector<std::uint8_t> instructions_;
};

}  // namespace qz::ctsim
