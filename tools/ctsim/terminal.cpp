#include "terminal.h"

#include <algorithm>

namespace qz::ctsim {
namespace {

constexpr std::uint8_t kInsResetCt = 0x11;
constexpr std::uint8_t kInsRequestIcc = 0x12;
constexpr std::uint8_t kInsEjectIcc = 0x15;
constexpr std::uint8_t kInsSelectFile = 0xA4;
constexpr std::uint8_t kInsReadBinary = 0xB0;
constexpr std::uint8_t kClaTerminal = 0x20;
constexpr std::uint8_t kClaCard = 0x00;
constexpr std::size_t kMaxCardData = 256;  // READ BINARY with Le 00

// The answer's NAD swaps the command's source and destination addresses.
std::uint8_t ReplyNad(std::uint8_t nad) {
  return static_cast<std::uint8_t>(((nad & 0x0F) << 4) | ((nad >> 4) & 0x0F));
}

}  // namespace

Terminal::Terminal(TerminalConfig config) : config_(std::move(config)) {
  if (config_.card.size() > kMaxCardData) config_.card.resize(kMaxCardData);
}

std::vector<Chunk> Terminal::Receive(std::span<const std::uint8_t> bytes,
                                     std::chrono::milliseconds now) {
  if (!in_.empty() && now - last_rx_ > kCharacterTimeout) in_.clear();
  last_rx_ = now;
  in_.insert(in_.end(), bytes.begin(), bytes.end());

  std::vector<Chunk> out;
  // The first complete block with a valid EDC, wherever it starts, is the next command; bytes
  // before it were garbage. Until one is complete, everything is kept.
  for (bool found = true; found;) {
    found = false;
    for (std::size_t at = 0; at + t1::kHeaderSize <= in_.size(); ++at) {
      const std::size_t need = std::size_t{in_[at + 2]} + 4;
      if (at + need > in_.size()) continue;
      const auto candidate = std::span(in_).subspan(at, need);
      if (t1::Lrc(candidate.first(need - 1)) != candidate.back()) continue;
      const t1::Bytes block(candidate.begin(), candidate.end());
      in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(at + need));
      HandleBlock(block, out);
      found = true;
      break;
    }
  }
  // Never more than two blocks' worth of unframed bytes.
  if (in_.size() > 2 * t1::kMaxBlockSize)
    in_.erase(in_.begin(), in_.end() - static_cast<std::ptrdiff_t>(t1::kMaxBlockSize));
  return out;
}

void Terminal::HandleBlock(const t1::Bytes& block, std::vector<Chunk>& out) {
  ++blocks_received_;
  if (config_.scenario.kind == ScenarioKind::kSilent) return;
  const std::uint8_t nad = block[0];
  const std::uint8_t pcb = block[1];
  const auto inf = std::span(block).subspan(t1::kHeaderSize, block[2]);

  std::vector<Chunk> answer;
  if (pcb == t1::kPcbResynchReq) {
    expect_seq_ = false;
    send_seq_ = false;
    last_answer_.clear();
    step_ = 0;
    sent_ = 0;
    noise_done_ = false;
    EmitBlock(t1::MakeBlock(ReplyNad(nad), t1::kPcbResynchResp, {}), config_.answer_delay, answer);
    ApplyFault(0, false, answer);
    out.insert(out.end(), answer.begin(), answer.end());
    return;
  }
  if (pcb & t1::kPcbRBlock) return;  // R-blocks and other S-blocks: nothing to answer

  const bool seq = (pcb & t1::kPcbSeqBit) != 0;
  if (seq != expect_seq_) {
    // The host repeats its last command: it did not accept our answer, so send it again.
    if (last_answer_.empty()) return;
    ++repeats_;
    std::vector<t1::Bytes> again = last_answer_;
    for (std::size_t i = 0; i < again.size(); ++i)
      EmitBlock(again[i], i == 0 ? config_.answer_delay : Terminal::kBlockGap, answer);
    ApplyFault(step_, true, answer);
    out.insert(out.end(), answer.begin(), answer.end());
    return;
  }
  expect_seq_ = !expect_seq_;
  ++commands_executed_;
  const std::uint8_t ins = inf.size() >= 2 ? inf[1] : 0;
  instructions_.push_back(ins);
  std::vector<t1::Bytes> blocks = BuildAnswerBlocks(ReplyNad(nad), Execute(inf));
  last_answer_ = blocks;
  Emit(std::move(blocks), ins, answer);
  ApplyFault(++step_, false, answer);
  out.insert(out.end(), answer.begin(), answer.end());
}

void Terminal::ApplyFault(int step, bool repeat, std::vector<Chunk>& answer) {
  const Fault& fault = config_.fault;
  if (answer.empty() || fault.kind == FaultKind::kNone) return;
  const std::string note = "fault " + fault.name + " done";
  if (fault.kind == FaultKind::kNoise) {
    // Counted over everything answered since the RESYNCH request, repeats included.
    for (Chunk& c : answer) {
      const std::size_t size = c.bytes.size();
      const std::size_t at = static_cast<std::size_t>(fault.arg);
      if (!noise_done_ && at >= sent_ && at < sent_ + size) {
        c.bytes.insert(c.bytes.begin() + static_cast<std::ptrdiff_t>(at - sent_), 3, 0xFF);
        c.note = note;
        noise_done_ = true;
      }
      sent_ += size;
    }
    return;
  }
  if (step != fault.arg || (repeat && fault.kind != FaultKind::kWrongSeqTwice)) return;
  switch (fault.kind) {
    case FaultKind::kCut: {
      Chunk first = std::move(answer.front());
      first.bytes.resize(std::max<std::size_t>(1, first.bytes.size() / 2));
      answer = {std::move(first)};
      break;
    }
    case FaultKind::kLongLength: {
      Chunk first = std::move(answer.front());
      first.bytes[2] = 0xFF;
      answer = {std::move(first)};
      break;
    }
    case FaultKind::kDuplicate: {
      // The host repeats its next command on the copy, so the copies and the answers after them
      // alternate: half the answer delay keeps both kinds of gap as wide as they can be.
      const std::size_t n = answer.size();
      for (std::size_t i = 0; i < n; ++i) {
        Chunk again = answer[i];
        again.delay = std::max(kBlockGap, config_.answer_delay / 2);
        answer.push_back(std::move(again));
      }
      break;
    }
    case FaultKind::kWrongSeqOnce:
    case FaultKind::kWrongSeqTwice:
      // The host's repeat of its command gets the answer as kept, with the right N(S).
      for (Chunk& c : answer) {
        if (c.bytes.size() < 4 || (c.bytes[1] & t1::kPcbRBlock) != 0) continue;
        c.bytes[1] ^= t1::kPcbSeqBit;
        c.bytes.back() ^= t1::kPcbSeqBit;  // the EDC stays right: only the sequence is wrong
      }
      break;
    case FaultKind::kGarbage:
      // Its third byte fits its length and its second is in the R-block range: however the
      // link's reads cut it, it is taken as one block and ignored, so the outcome is defined.
      answer.front().delay = kBlockGap;
      answer.insert(answer.begin(),
                    Chunk{config_.answer_delay, {0xFF, 0x92, 0x02, 0x00, 0xFF, 0x55}});
      break;
    case FaultKind::kHangUp:
      answer = {Chunk{config_.answer_delay, {}, true, {}}};
      break;
    case FaultKind::kFlood:
      answer.back().bytes.insert(answer.back().bytes.end(), kFloodBytes, 0xFF);
      break;
    case FaultKind::kStallAfter:
      // The note goes out first, on no bytes: whoever runs the line stops it on the note before
      // the answer leaves, so the host's very next command is the write that stalls.
      answer.front().delay = std::chrono::milliseconds{0};
      answer.insert(answer.begin(), Chunk{config_.answer_delay, {}, false, note});
      return;
    case FaultKind::kNone:
    case FaultKind::kNoise:
      break;
  }
  answer.back().note = note;
}

Terminal::Answer Terminal::Execute(std::span<const std::uint8_t> apdu) {
  const ScenarioKind kind = config_.scenario.kind;
  if (apdu.size() < 4) return {{}, 0x67, 0x00};
  const std::uint8_t cla = apdu[0];
  const std::uint8_t ins = apdu[1];
  if (kind == ScenarioKind::kAnswer && ins == config_.scenario.ins) {
    const t1::Bytes& r = config_.scenario.reply;
    if (r.size() < 2) return {{}, r.at(0), std::nullopt};
    // Data comes only with success and warnings, as on a card.
    const bool data = ins == kInsReadBinary && (r[0] == 0x90 || r[0] == 0x62 || r[0] == 0x63);
    return {data ? config_.card : t1::Bytes{}, r[0], r[1]};
  }
  if (cla == kClaTerminal) {
    switch (ins) {
      case kInsResetCt:
        requests_ = 0;
        return {{}, 0x90, 0x00};
      case kInsRequestIcc:
        ++requests_;
        if (kind == ScenarioKind::kCardAfter && requests_ <= config_.scenario.card_after)
          return {{}, 0x62, 0x00};
        return {{}, 0x90, 0x00};
      case kInsEjectIcc:
        return {{}, 0x90, 0x01};
      default:
        return {{}, 0x6D, 0x00};
    }
  }
  if (cla == kClaCard) {
    switch (ins) {
      case kInsSelectFile:
        return {{}, 0x90, 0x00};
      case kInsReadBinary:
        return {config_.card, 0x90, 0x00};
      default:
        return {{}, 0x6D, 0x00};
    }
  }
  return {{}, 0x6E, 0x00};
}

std::vector<t1::Bytes> Terminal::BuildAnswerBlocks(std::uint8_t nad, const Answer& answer) {
  t1::Bytes inf = answer.data;
  inf.push_back(answer.sw1);
  if (answer.sw2) inf.push_back(*answer.sw2);
  const std::size_t piece = config_.scenario.kind == ScenarioKind::kChained ? kChainedInf : kMaxInf;
  std::vector<t1::Bytes> blocks;
  for (std::size_t at = 0; at < inf.size(); at += piece) {
    const std::size_t n = std::min(piece, inf.size() - at);
    const bool more = at + n < inf.size();
    std::uint8_t pcb = send_seq_ ? t1::kPcbSeqBit : std::uint8_t{0};
    if (more) pcb |= t1::kPcbMoreBit;
    send_seq_ = !send_seq_;
    blocks.push_back(t1::MakeBlock(nad, pcb, std::span(inf).subspan(at, n)));
  }
  return blocks;
}

void Terminal::Emit(std::vector<t1::Bytes> blocks, std::uint8_t ins, std::vector<Chunk>& out) {
  const ScenarioKind kind = config_.scenario.kind;
  std::chrono::milliseconds delay = config_.answer_delay;
  if (kind == ScenarioKind::kWtx && ins == kInsReadBinary) {
    const std::uint8_t bwi_multiplier = 0x01;
    EmitBlock(t1::MakeBlock(blocks.front()[0], t1::kPcbWtxReq,
                            std::span<const std::uint8_t>(&bwi_multiplier, 1)),
              delay, out);
    delay = kBlockGap;
  }
  for (std::size_t i = 0; i < blocks.size(); ++i)
    EmitBlock(blocks[i], i == 0 ? delay : kBlockGap, out);
}

void Terminal::EmitBlock(const t1::Bytes& block, std::chrono::milliseconds delay,
                         std::vector<Chunk>& out) {
  if (config_.scenario.kind != ScenarioKind::kSplit) {
    out.push_back(Chunk{delay, block});
    return;
  }
  std::size_t size = 1;
  for (std::size_t at = 0; at < block.size(); at += size, size = size % 3 + 1) {
    const std::size_t n = std::min(size, block.size() - at);
    out.push_back(Chunk{at == 0 ? delay : kPieceGap,
                        t1::Bytes(block.begin() + static_cast<std::ptrdiff_t>(at),
                                  block.begin() + static_cast<std::ptrdiff_t>(at + n))});
  }
}

}  // namespace qz::ctsim
