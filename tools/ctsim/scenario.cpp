#include "scenario.h"

namespace qz::ctsim {
namespace {

struct Entry {
  std::string_view name;
  ScenarioKind kind;
  std::string_view description;
  std::string_view answer{};  // kAnswer: COMMAND=SW
};

constexpr Entry kEntries[] = {
    {"tagged", ScenarioKind::kTagged, "a card in the tagged layout is read and ejected (default)"},
    {"fixed", ScenarioKind::kFixed, "a card in the fixed-width layout is read and ejected"},
    {"no-card", ScenarioKind::kAnswer, "REQUEST ICC is always answered 62 00 (no card)",
     "request-icc=6200"},
    {"card-after-N", ScenarioKind::kCardAfter,
     "the first N card requests of a dialogue find no card, then one is there"},
    {"wrong-card", ScenarioKind::kAnswer, "REQUEST ICC is answered 64 00 (card reset failed)",
     "request-icc=6400"},
    {"no-application", ScenarioKind::kAnswer,
     "SELECT FILE is answered 6A 82 (application not found)", "select-file=6A82"},
    {"card-removed", ScenarioKind::kAnswer,
     "READ BINARY is answered 65 01 (card pulled out while read)", "read-binary=6501"},
    {"eject-error", ScenarioKind::kAnswer, "EJECT ICC is answered 6F 00 after a good read",
     "eject-icc=6F00"},
    {"COMMAND=SW", ScenarioKind::kAnswer,
     "COMMAND (reset-ct, request-icc, select-file, read-binary, eject-icc) is always answered "
     "with the status word SW in hex, e.g. select-file=6A83; two digits give an answer cut "
     "short; READ BINARY's data comes with 90xx, 62xx and 63xx"},
    {"silent", ScenarioKind::kSilent, "nothing is ever answered, not even RESYNCH"},
    {"split", ScenarioKind::kSplit, "every block is written in pieces of 1 to 3 bytes"},
    {"chained", ScenarioKind::kChained,
     "answers are chains of I-blocks of at most 32 data bytes (more-data bit)"},
    {"wtx", ScenarioKind::kWtx, "an S(WTX request) precedes the answer to READ BINARY"},
};

struct Command {
  std::string_view name;
  std::uint8_t ins;
};
constexpr Command kCommands[] = {{"reset-ct", 0x11},
                                 {"request-icc", 0x12},
                                 {"select-file", 0xA4},
                                 {"read-binary", 0xB0},
                                 {"eject-icc", 0x15}};

constexpr std::string_view kCardAfterPrefix = "card-after-";

std::optional<int> HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return std::nullopt;
}

// "select-file=6A83": the command and one or two bytes of answer.
std::optional<Scenario> ParseAnswer(std::string_view text, std::string_view name) {
  const std::size_t eq = text.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  const std::string_view hex = text.substr(eq + 1);
  if (hex.size() != 2 && hex.size() != 4) return std::nullopt;
  Scenario s{ScenarioKind::kAnswer, 0, std::string(name), 0, {}};
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const auto hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
    if (!hi || !lo) return std::nullopt;
    s.reply.push_back(static_cast<std::uint8_t>(*hi * 16 + *lo));
  }
  for (const Command& c : kCommands) {
    if (c.name == text.substr(0, eq)) {
      s.ins = c.ins;
      return s;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<Scenario> ParseScenario(std::string_view name) {
  if (name.starts_with(kCardAfterPrefix)) {
    const std::optional<int> n = ParseNumber(name.substr(kCardAfterPrefix.size()));
    if (!n || *n < 0) return std::nullopt;
    return Scenario{ScenarioKind::kCardAfter, *n, std::string(name), 0, {}};
  }
  if (name.find('=') != std::string_view::npos) return ParseAnswer(name, name);
  for (const Entry& e : kEntries) {
    if (e.name != name || e.kind == ScenarioKind::kCardAfter) continue;
    if (e.kind == ScenarioKind::kAnswer) return ParseAnswer(e.answer, name);
    return Scenario{e.kind, 0, std::string(name), 0, {}};
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
