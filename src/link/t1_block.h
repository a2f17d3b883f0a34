// T=1 block framing, free of I/O: NAD PCB LEN INF... EDC, where EDC is the XOR (LRC) of all
// bytes before it. Shared by the link and by the simulated terminal.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace qz::t1 {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::size_t kHeaderSize = 3;      // NAD, PCB, LEN
inline constexpr std::size_t kMaxBlockSize = 259;  // 3 + 255 + EDC

// PCB values and bits as this link uses them.
inline constexpr std::uint8_t kPcbSeqBit = 0x40;       // N(S) of an I-block
inline constexpr std::uint8_t kPcbMoreBit = 0x20;      // M of an I-block
inline constexpr std::uint8_t kPcbRBlock = 0x80;       // R- and S-blocks have bit 0x80
inline constexpr std::uint8_t kPcbResynchReq = 0xC0;   // S(RESYNCH request)
inline constexpr std::uint8_t kPcbResynchResp = 0xE0;  // S(RESYNCH response)
inline constexpr std::uint8_t kPcbWtxReq = 0xC3;       // S(WTX request)
inline constexpr std::uint8_t kPcbWtxResp = 0xE3;      // S(WTX response)

inline std::uint8_t Lrc(std::span<const std::uint8_t> bytes) {
  std::uint8_t x = 0;
  for (std::uint8_t b : bytes) x ^= b;
  return x;
}

// A whole block with its EDC. `inf` must not exceed 255 bytes.
inline Bytes MakeBlock(std::uint8_t nad, std::uint8_t pcb, std::span<const std::uint8_t> inf) {
  Bytes block;
  block.reserve(inf.size() + 4);
  block.push_back(nad);
  block.push_back(pcb);
  block.push_back(static_cast<std::uint8_t>(inf.size()));
  block.insert(block.end(), inf.begin(), inf.end());
  block.push_back(Lrc(block));
  return block;
}

}  // namespace qz::t1
