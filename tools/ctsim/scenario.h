// The behaviours the simulated card terminal can play, chosen by name on its command line.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "listing.h"

namespace qz::ctsim {

enum class ScenarioKind {
  kTagged,         // a card in the tagged layout is read and ejected
  kFixed,          // a card in the fixed-width layout
  kNoCard,         // REQUEST ICC: no card, every time
  kCardAfter,      // no card for the first N requests of a dialogue, then a card
  kWrongCard,      // the card's reset fails
  kNoApplication,  // SELECT FILE: application not found
  kCardRemoved,    // READ BINARY fails as when the card is pulled out
  kEjectError,     // EJECT ICC fails after a good read
  kSilent,         // nothing is ever answered
  kSplit,          // every block is written in small pieces
  kChained,        // answers come as chains of I-blocks with the more-data bit
  kWrongSeqOnce,   // the first answer of a dialogue carries the wrong N(S)
  kWtx,            // a WTX request precedes the card data
  kNoise,          // a burst of garbage precedes the card data
};

struct Scenario {
  ScenarioKind kind = ScenarioKind::kTagged;
  int card_after = 0;  // N of card-after-N
  std::string name = "tagged";
};

// "tagged", "card-after-3", ...; nullopt for an unknown name.
std::optional<Scenario> ParseScenario(std::string_view name);

std::vector<NameInfo> ListScenarios();

}  // namespace qz::ctsim
