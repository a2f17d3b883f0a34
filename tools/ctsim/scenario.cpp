#include "scenario.h"

namespace qz::ctsim {
namespace {

struct Entry {
  std::string_view name;
  ScenarioKind kind;
  std::string_view description;
};

constexpr Entry kEntries[] = {
    {"tagged", ScenarioKind::kTagged, "a card in the tagged layout is read and ejected (default)"},
    {"fixed", ScenarioKind::kFixed, "a card in the fixed-width layout is read and ejected"},
    {"no-card", ScenarioKind::kNoCard, "REQUEST ICC is always answered 62 00 (no card)"},
    {"card-after-N", ScenarioKind::kCardAfter,
     "the first N card requests of a dialogue find no card, then one is there"},
    {"wrong-card", ScenarioKind::kWrongCard, "REQUEST ICC is answered 64 00 (card reset failed)"},
    {"no-application", ScenarioKind::kNoApplication,
     "SELECT FILE is answered 6A 82 (application not found)"},
    {"card-removed", ScenarioKind::kCardRemoved,
     "READ BINARY is answered 65 01 (card pulled out while read)"},
    {"eject-error", ScenarioKind::kEjectError, "EJECT ICC is answered 6F 00 after a good read"},
    {"silent", ScenarioKind::kSilent, "nothing is ever answered, not even RESYNCH"},
    {"split", ScenarioKind::kSplit, "every block is written in pieces of 1 to 3 bytes"},
    {"chained", ScenarioKind::kChained,
     "answers are chains of I-blocks of at most 32 data bytes (more-data bit)"},
    {"wrong-seq-once", ScenarioKind::kWrongSeqOnce,
     "the first answer of each dialogue carries the wrong N(S); the repeat is right"},
    {"wtx", ScenarioKind::kWtx, "an S(WTX request) precedes the answer to READ BINARY"},
    {"noise", ScenarioKind::kNoise, "a burst of garbage bytes precedes the answer to READ BINARY"},
};

constexpr std::string_view kCardAfterPrefix = "card-after-";

}  // namespace

std::optional<Scenario> ParseScenario(std::string_view name) {
  if (name.starts_with(kCardAfterPrefix)) {
    const std::optional<int> n = ParseNumber(name.substr(kCardAfterPrefix.size()));
    if (!n || *n < 0) return std::nullopt;
    return Scenario{ScenarioKind::kCardAfter, *n, std::string(name)};
  }
  for (const Entry& e : kEntries) {
    if (e.name == name && e.kind != ScenarioKind::kCardAfter)
      return Scenario{e.kind, 0, std::string(name)};
  }
  return std::nullopt;
}

std::vector<NameInfo> ListScenarios() {
  std::vector<NameInfo> out;
  for (const Entry& e : kEntries)
    out.push_back(NameInfo{std::string(e.name), std::string(e.description)});
  return out;
}

}  // namespace qz::ctsim
