#include "fault.h"

namespace qz::ctsim {
namespace {

struct Entry {
  std::string_view name;
  FaultKind kind;
  int min_arg;  // the RESYNCH response has no N(S) to get wrong
  std::string_view description;
};

constexpr Entry kEntries[] = {
    {"noise", FaultKind::kNoise, 0,
     "three 0xFF bytes inserted before byte P of the dialogue's answers (noise:P)"},
    {"cut", FaultKind::kCut, 0, "the answer to step S stops half way, then silence (cut:S)"},
    {"len255", FaultKind::kLongLength, 0,
     "the answer to step S says LEN 255 but brings too few bytes (len255:S)"},
    {"duplicate", FaultKind::kDuplicate, 0,
     "each block of the answer to step S is sent twice, half the answer delay apart; give "
     "--answer-delay 500 so that every block keeps a read of its own (duplicate:S)"},
    {"wrong-seq-once", FaultKind::kWrongSeqOnce, 1,
     "the answer to step S carries the wrong N(S); its repeat is right (wrong-seq-once:S)"},
    {"wrong-seq-twice", FaultKind::kWrongSeqTwice, 1,
     "the answer to step S and its repeat both carry the wrong N(S) (wrong-seq-twice:S)"},
    {"garbage", FaultKind::kGarbage, 0,
     "a frame of garbage that the host ignores precedes the answer to step S (garbage:S)"},
    {"hang-up", FaultKind::kHangUp, 0,
     "at step S the line is closed instead of answered (hang-up:S)"},
    {"flood", FaultKind::kFlood, 0,
     "the answer to step S is followed by 64 KiB of 0xFF in the same write (flood:S)"},
    {"stall-after", FaultKind::kStallAfter, 0,
     "the answer to step S comes, then the line takes no more bytes, so the host's next write "
     "stalls (stall-after:S; pseudo-terminal only)"},
};

}  // namespace

std::optional<Fault> ParseFault(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::string_view kind = text.substr(0, colon);
  const std::optional<int> arg = ParseNumber(text.substr(colon + 1));
  if (!arg) return std::nullopt;
  for (const Entry& e : kEntries) {
    if (e.name == kind) {
      if (*arg < e.min_arg) return std::nullopt;
      return Fault{e.kind, *arg, std::string(text)};
    }
  }
  return std::nullopt;
}

std::vector<NameInfo> ListFaults() {
  std::vector<NameInfo> out;
  for (const Entry& e : kEntries)
    out.push_back(NameInfo{std::string(e.name), std::string(e.description)});
  return out;
}

}  // namespace qz::ctsim
