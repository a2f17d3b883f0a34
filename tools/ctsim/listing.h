// What ctsim's --help lists, and the numbers its scenario and fault names carry.
#pragma once

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

namespace qz::ctsim {

struct NameInfo {
  std::string name;
  std::string description;
};

// The whole of `digits` as a number ("37"); nullopt for empty text or anything else in it.
inline std::optional<int> ParseNumber(std::string_view digits) {
  int n = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size())
    return std::nullopt;
  return n;
}

}  // namespace qz::ctsim
