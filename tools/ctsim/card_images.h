// The card files the simulated terminal hands out on READ BINARY: from a file, or built in.
// Every card holder here is fictitious.
#pragma once

#include <optional>
#include <string>

#include "link/t1_block.h"

namespace qz::ctsim {

// A small card in the tagged layout (first byte 0x60).
t1::Bytes BuiltInTaggedCard();
// A card in the fixed-width layout: 219 bytes.
t1::Bytes BuiltInFixedCard();

// The whole file, or nullopt when it cannot be read.
std::optional<t1::Bytes> LoadCardFile(const std::string& path);

// The card a scenario hands out when none is given: card_fixed.bin for "fixed", otherwise
// card_tagged.bin, from `data_dir`; the built-in card of that layout when the file is missing.
t1::Bytes DefaultCardFor(bool fixed_layout, const std::string& data_dir);

}  // namespace qz::ctsim
