// The card files the simulated terminal hands out on READ BINARY: two built-in cards, or a file
// the user names. Every card holder here is fictitious.
#pragma once

#include <optional>
#include <string>

#include "link/t1_block.h"

namespace qz::ctsim {

// The built-in card of a scenario: the fixed-width card for "fixed", the tagged one otherwise.
// The same bytes as the test cards in tests/data, so that the installed ctsim needs no files.
t1::Bytes DefaultCard(bool fixed_layout);

// The whole file, or nullopt when it cannot be read.
std::optional<t1::Bytes> LoadCardFile(const std::string& path);

}  // namespace qz::ctsim
