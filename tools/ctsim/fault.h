// Faults the simulated terminal can inject into an otherwise normal dialogue, chosen on its
// command line as KIND:ARG. Steps count the commands of a dialogue: 0 is the RESYNCH request,
// 1 RESET CT, 2 the first REQUEST ICC, 3 SELECT FILE, 4 READ BINARY, 5 EJECT ICC.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "listing.h"

namespace qz::ctsim {

enum class FaultKind {
  kNone,
  kNoise,          // ARG = byte position in the dialogue's answers: three 0xFF bytes go in there
  kCut,            // the answer to step ARG stops half way, then nothing more comes
  kLongLength,     // the answer to step ARG claims LEN 255 but brings only its own bytes
  kDuplicate,      // every block of the answer to step ARG is sent a second time
  kWrongSeqOnce,   // the answer to step ARG carries the wrong N(S); its repeat is right
  kWrongSeqTwice,  // the answer to step ARG and its repeat both carry the wrong N(S)
  kGarbage,        // a garbage frame, taken for an R-block, precedes the answer to step ARG
  kHangUp,         // at step ARG the terminal closes the line instead of answering
  kFlood,          // the answer to step ARG is followed in the same write by 64 KiB of 0xFF
  kStallAfter,     // the line takes no more bytes from the host once step ARG is answered
};

struct Fault {
  FaultKind kind = FaultKind::kNone;
  int arg = 0;
  std::string name;  // as given, for the log
};

// Size of the flood that follows an answer.
inline constexpr std::size_t kFloodBytes = 64 * 1024;

// "noise:37", "hang-up:2", ...; nullopt for an unknown kind or a bad argument.
std::optional<Fault> ParseFault(std::string_view text);

std::vector<NameInfo> ListFaults();

}  // namespace qz::ctsim
