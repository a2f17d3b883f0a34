#include "link/frm_comm.h"

#include <chrono>
#include <utility>

#include "base/automation_error.h"
#include "link/command_table.h"
#include "link/t1_block.h"

namespace qz {
namespace {

// A notification is due once the header (NAD PCB LEN) is there; LEN then tells the rest.
constexpr std::int16_t kHeaderThreshold = static_cast<std::int16_t>(t1::kHeaderSize);

// A block is exactly LEN + 4 bytes: header, INF, EDC.
std::size_t BlockSize(const std::vector<std::uint8_t>& block) {
  return block[2] + 4u;
}

// S(RESYNCH response) 0xE0 or S(WTX response) 0xE3.
bool IsResynchOrWtxResponse(std::uint8_t pcb) {
  return (pcb & 0xE0) == 0xE0 && ((pcb & 0x1F) == 0x00 || (pcb & 0x1F) == 0x03);
}

}  // namespace

frmComm::frmComm(EventLoop& loop, std::unique_ptr<SerialPort> port, frmCommEvents& owner)
    : loop_(loop), port_(std::move(port)), owner_(owner) {
  port_->SetRThreshold(kHeaderThreshold);
  port_->SetOnComm([this] { COMM_OnComm(); });
}

frmComm::~frmComm() {
  StopTimer();
  port_->SetOnComm(nullptr);
}

std::int16_t frmComm::SendCommand(CmdType CmdType) {
  const TerminalCommand* command = FindCommand(CmdType);
  if (command == nullptr) {
    // The run-time error hosts know for a bad argument: a caller bug, nothing is sent.
    throw AutomationError(5, "frmComm", "Invalid procedure call or argument");
  }
  t1::Bytes block = BuildCommandBlock(*command, mSendSeq);
  mCmdType = CmdType;
  // Only I-blocks consume a sequence number; RESYNCH leaves N(S) alone.
  if (!command->resynch) mSendSeq = !mSendSeq;
  mSendCount = 1;  // a new exchange earns one re-send again
  mLastBlock = std::move(block);
  port_->Output(mLastBlock);
  return 0;
}

void frmComm::StartTimer(const std::string& Key, std::int16_t ms) {
  mTimerKey = Key;
  StopTimer();
  // A window timer with interval 0 never fires; a negative interval is treated the same rather
  // than as an immediate alarm, so a bad value cannot end a read early.
  if (ms <= 0) return;
  timer_ = loop_.AddTimer(std::chrono::milliseconds(ms), [this] { Timer1_Timer(); });
}

void frmComm::StopTimer() {
  if (timer_ != 0) loop_.CancelTimer(timer_);
  timer_ = 0;
}

void frmComm::Timer1_Timer() {
  // One-shot: disabled before the owner hears of it, so the owner may re-arm from the event.
  StopTimer();
  std::string key = mTimerKey;
  owner_.TimeReached(key);
}

void frmComm::COMM_OnComm() {
  if (port_->CommEvent() != kComEvReceive) return;

  const bool had_header = mBlock.size() >= t1::kHeaderSize;
  std::vector<std::uint8_t> waiting = port_->Input();
  if (!mAwaitRest) {
    // Start state: this read begins a new block.
    mBlock = std::move(waiting);
    if (mBlock.empty()) return;
  } else {
    mBlock.insert(mBlock.end(), waiting.begin(), waiting.end());
  }

  if (mBlock.size() < t1::kHeaderSize) {
    // LEN has not arrived yet: keep the bytes and be woken when the header is complete.
    mAwaitRest = true;
    port_->SetRThreshold(static_cast<std::int16_t>(t1::kHeaderSize - mBlock.size()));
    return;
  }

  const std::size_t need = BlockSize(mBlock);
  const std::size_t have = mBlock.size();
  if (have == need) {
    // A block is judged by its length and PCB only; NAD and EDC are not checked.
    ProcessBlock();
  } else if (have > need) {
    // More bytes than the block they start: the read cannot be framed, drop it all.
    ResetAssembly();
  } else if (!mAwaitRest || !had_header) {
    // LEN just became known: be woken exactly when the rest of the block is waiting.
    mAwaitRest = true;
    port_->SetRThreshold(static_cast<std::int16_t>(need - have));
  }
  // Otherwise a continuation still short of the block: keep waiting on the same threshold.
}

void frmComm::ResetAssembly() {
  mBlock.clear();
  mAwaitRest = false;
  port_->SetRThreshold(kHeaderThreshold);
}

void frmComm::ProcessBlock() {
  // The link is back in its start state before it re-sends or raises anything: the owner may
  // send the next command from inside the event.
  const std::vector<std::uint8_t> block = std::move(mBlock);
  ResetAssembly();
  const std::uint8_t pcb = block[1];

  if (IsResynchOrWtxResponse(pcb)) {
    std::int32_t resynch_done = 1;
    owner_.WTXResynchCompleted(resynch_done);
    return;
  }
  // R-blocks and all other S-blocks (RESYNCH/WTX requests, IFS, ABORT) are ignored: this link
  // never acknowledges, never answers WTX and never re-sends because of an R-block.
  if ((pcb & t1::kPcbRBlock) != 0) return;

  // I-block. A wrong N(S) means the terminal missed our block: repeat it once per command.
  const bool ns = (pcb & t1::kPcbSeqBit) != 0;
  if (ns != mRecvSeq) {
    // Nothing sent yet means nothing to repeat.
    if (mSendCount >= 2 || mLastBlock.empty()) return;
    ++mSendCount;
    port_->Output(mLastBlock);
    return;
  }

  // Accepted: keep its INF (EDC is the last byte and is not checked), expect the other N(S).
  // A LEN 0 block adds nothing; an answer that ends up without status bytes is still
  // delivered, and the dialogue treats it as one it does not recognise.
  mResponse.insert(mResponse.end(), block.begin() + t1::kHeaderSize, block.end() - 1);
  mRecvSeq = !mRecvSeq;
  // M set: more I-blocks of this answer follow; their INF is appended. No R-block is sent.
  if ((pcb & t1::kPcbMoreBit) != 0) return;

  // The answer is complete: one char per byte, SW1 SW2 last.
  std::string sBuffer(mResponse.begin(), mResponse.end());
  mResponse.clear();
  owner_.CommandReceived(std::move(sBuffer), mCmdType);
}

}  // namespace qz
