// The behaviours the simulated card terminal can play, chosen by name on its command line.
// A scenario describes the card and the terminal; faults on the line are faults (fault.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "listing.h"

namespace qz::ctsim {

enum class ScenarioKind {
  kTagged,     // a card in the tagged layout is read and ejected
  kFixed,      // a card in the fixed-width layout
  kAnswer,     // one command is always answered with a chosen status word
  kCardAfter,  // no card for the first N requests of a dialogue, then a card
  kSilent,     // nothing is ever answered
  kSplit,      // every block is written in small pieces
  kChained,    // answers come as chains of I-blocks with the more-data bit
  kWtx,        // a WTX request precedes the card data
};

struct Scenario {
  ScenarioKind kind = ScenarioKind::kTagged;
  int card_after = 0;  // N of card-after-N
  std::string name = "tagged";
  std::uint8_t ins = 0;             // kAnswer: the command's INS byte
  std::vector<std::uint8_t> reply;  // kAnswer: SW1 SW2 (one byte: an answer cut short)
};

// "tagged", "card-after-3", "select-file=6A83", ...; nullopt for an unknown name.
std::optional<Scenario> ParseScenario(std::string_view name);

std::vector<NameInfo> ListScenarios();

}  // namespace qz::ctsim
