// The two fictitious card files the simulated terminal serves (tests/data/card_*.bin, listed in
// tests/data/cards.md), decoded as a terminal answer with each success status appended.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>

#include "kvk/kvk_data.h"

namespace qz {
namespace {

using Values = std::array<const char*, kKVKFieldCount>;  // UTF-8, in KVKField order

constexpr Values kTaggedCard = {
    "BKK Mühlental",   // KrankenKassenName
    "1234567",         // KrankenKassenNummer
    "12345",           // VKNR
    "123456789012",    // VersichertenNummer
    "1000",            // VersichertenStatus
    "1",               // StatusErgaenzung
    "Dr.",             // Titel
    "Jürgen",          // Vorname
    "von",             // NamensZusatz
    "Weißmüller",      // FamilienName
    "12031956",        // Geburtsdatum
    "Hauptstraße 7",   // StrassenName
    "D",               // LaenderCode
    "54321",           // PostLeitzahl
    "Groß Schöndorf",  // OrtsName
    "1228",            // Gueltigkeit
    "u",               // Checksum: XOR of all bytes before it
};

constexpr Values kFixedCard = {
    "IKK Rhöntal",        // KrankenKassenName
    "7654321",            // KrankenKassenNummer
    "54321",              // VKNR
    "987654321098",       // VersichertenNummer
    "3000",               // VersichertenStatus
    "4",                  // StatusErgaenzung
    "",                   // Titel: all spaces
    "Jörg Friedrich",     // Vorname
    "zur",                // NamensZusatz
    "Krämer-Weiß",        // FamilienName
    "30111972",           // Geburtsdatum
    "Am Mühlbach 12a",    // StrassenName
    "D",                  // LaenderCode
    "98765",              // PostLeitzahl
    "Weißenbach (Rhön)",  // OrtsName
    "0627",               // Gueltigkeit
    "-",                  // Checksum: XOR of all bytes before it
};

std::string ReadFile(const std::string& name) {
  std::ifstream in(std::string(QZ_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct CardFile {
  const char* file;
  std::size_t size;
  const Values* values;
};

void PrintTo(const CardFile& c, std::ostream* os) {
  *os << c.file;
}

class KvkCardFiles : public ::testing::TestWithParam<CardFile> {};

TEST_P(KvkCardFiles, DecodeToTheListedValues) {
  const std::string card = ReadFile(GetParam().file);
  ASSERT_EQ(card.size(), GetParam().size) << GetParam().file;
  for (const char* status : {"\x90\x00", "\x62\x82"}) {
    clsKVKData record;
    record.DecodeKVK(card + std::string(status, 2));
    for (std::size_t i = 0; i < kKVKFieldCount; ++i) {
      EXPECT_EQ(record.Get(static_cast<KVKField>(i)), (*GetParam().values)[i])
          << GetParam().file << " " << kKVKFieldNames[i];
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Both, KvkCardFiles,
                         ::testing::Values(CardFile{"card_tagged.bin", 146, &kTaggedCard},
                                           CardFile{"card_fixed.bin", 219, &kFixedCard}),
                         [](const auto& info) {
                           return std::string(info.index == 0 ? "Tagged" : "Fixed");
                         });

}  // namespace
}  // namespace qz
