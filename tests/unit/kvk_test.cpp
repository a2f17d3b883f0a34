// The card record and the decoding of the card file: its fields, the two test cards, the card's
// character set, and tagged answers that are cut short or hold misleading bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kvk/kvk_data.h"

namespace qz {
namespace {

KVKField FieldAt(std::size_t i) {
  return static_cast<KVKField>(i);
}

// A record with every field set, to see that a decode overwrites each of them.
clsKVKData Prefilled() {
  clsKVKData record;
  for (std::size_t i = 0; i < kKVKFieldCount; ++i) record.Let(FieldAt(i), "old");
  return record;
}

std::string Text(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

TEST(KvkRecord, FieldsStartEmptyAndEachHoldsItsOwnTextExactly) {
  const std::string value("  Größe\0x ", 12);
  for (std::size_t i = 0; i < kKVKFieldCount; ++i) {
    clsKVKData record;
    EXPECT_EQ(record.Get(FieldAt(i)), "") << kKVKFieldNames[i];
    record.Let(FieldAt(i), value);
    for (std::size_t j = 0; j < kKVKFieldCount; ++j) {
      EXPECT_EQ(record.Get(FieldAt(j)), i == j ? value : "") << i << " " << j;
    }
  }
}

// ---- The test cards in tests/data ---------------------------------------------------------

// The record's fields in order, with their names and the values of card_tagged.bin and
// card_fixed.bin as tests/data/cards.md lists them.
constexpr std::array<std::array<std::string_view, 3>, kKVKFieldCount> kFields = {{
    {"KrankenKassenName", "BKK Mühlental", "IKK Rhöntal"},
    {"KrankenKassenNummer", "1234567", "7654321"},
    {"VKNR", "12345", "54321"},
    {"VersichertenNummer", "123456789012", "987654321098"},
    {"VersichertenStatus", "1000", "3000"},
    {"StatusErgaenzung", "1", "4"},
    {"Titel", "Dr.", ""},  // all spaces on the fixed card
    {"Vorname", "Jürgen", "Jörg Friedrich"},
    {"NamensZusatz", "von", "zur"},
    {"FamilienName", "Weißmüller", "Krämer-Weiß"},
    {"Geburtsdatum", "12031956", "30111972"},
    {"StrassenName", "Hauptstraße 7", "Am Mühlbach 12a"},
    {"LaenderCode", "D", "D"},
    {"PostLeitzahl", "54321", "98765"},
    {"OrtsName", "Groß Schöndorf", "Weißenbach (Rhön)"},
    {"Gueltigkeit", "1228", "0627"},
    {"Checksum", "u", "-"},
}};

TEST(KvkDecode, BothTestCardsWithEitherSuccessStatus) {
  for (std::size_t i = 0; i < kKVKFieldCount; ++i) EXPECT_EQ(kKVKFieldNames[i], kFields[i][0]);
  const char* const files[] = {"card_tagged.bin", "card_fixed.bin"};
  for (std::size_t card = 0; card < 2; ++card) {
    std::ifstream in(std::string(QZ_TEST_DATA_DIR) + "/" + files[card], std::ios::binary);
    const std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_EQ(file.size(), card == 0 ? 146u : 219u) << files[card];
    for (const char* status : {"\x90\x00", "\x62\x82"}) {
      clsKVKData record = Prefilled();
      EXPECT_TRUE(record.DecodeKVK(file + std::string(status, 2)));
      for (std::size_t i = 0; i < kKVKFieldCount; ++i) {
        EXPECT_EQ(record.Get(FieldAt(i)), kFields[i][card + 1])
            << files[card] << " " << kFields[i][0];
      }
    }
  }
}

// ---- The card's characters ----------------------------------------------------------------

TEST(KvkDecode, ConvertUmlautsReadsTheCardsCharacterSetAndTrimsOnlySpaces) {
  const std::pair<std::string, std::string> kCases[] = {
      {"{|}~ M}ller", "äöüß Müller"},
      {"[\\]@", "[\\]@"},  // no capital umlauts: the brackets keep their meaning
      {"  Bad  Neustadt   ", "Bad  Neustadt"},
      {"    ", ""},
      {std::string("\tA\0", 3), std::string("\tA\0", 3)},  // controls are data, not padding
      {"A\xA0 ", "A\xC2\xA0"},                             // so is the no-break space
      // Above 0x7F: Windows-1252, both ends of its special range and the Latin-1 part.
      {"\x80\x82\x8A\x9F", "€‚ŠŸ"},
      {"Caf\xE9 \xC4\xD6\xDC\xFF", "Café ÄÖÜÿ"},
      // The code page's five gaps: the C1 control of the same value.
      {"\x81\x8D\x8F\x90\x9D", "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},
  };
  for (const auto& [card, text] : kCases) EXPECT_EQ(clsKVKData::ConvertUmlauts(card), text);
}

// ---- Tagged answers -----------------------------------------------------------------------

struct TaggedCase {
  const char* what;
  std::string answer;                                    // SW1 SW2 last
  std::vector<std::pair<KVKField, std::string>> fields;  // every other field empty
};

TEST(KvkDecode, TaggedAnswersCutShortOrWithMisleadingBytes) {
  const TaggedCase kCases[] = {
      {"a stray tag first: the second occurrence is taken; 0x80 is also the stray's length",
       Text({0x60, 0x12, 0x85, 0x80, 0x03, 'A', 'B', 'C', 0x82, 0x02,
             '1',  '2',  0x85, 0x04, 'H',  'a', 'n', 's', 0x62, 0x82}),
       {{KVKField::KrankenKassenName, "ABC"},
        {KVKField::VersichertenNummer, "12"},
        {KVKField::Vorname, "Hans"}}},
      {"the third occurrence is never taken",
       Text({0x60, 0x09, 0x85, 0x01, 'A', 0x85, 0x01, 'B', 0x85, 0x01, 'C', 0x90, 0x00}),
       {{KVKField::Vorname, "B"}}},
      {"status 90 00 does not hide StatusErgaenzung; 0x81 is read",
       Text({0x60, 0x0D, 0x90, 0x01, 'E', 0x81, 0x07, '1', '0', '9', '8', '7', '6', '5', 0x8E, 0x01,
             '?', 0x90, 0x00}),
       {{KVKField::StatusErgaenzung, "E"},
        {KVKField::KrankenKassenNummer, "1098765"},
        {KVKField::Checksum, "?"}}},
      {"a checksum equal to a tag, standing last, leaves that tag's element alone",
       Text({0x60, 0x08, 0x85, 0x03, 'E', 'v', 'a', 0x8E, 0x01, 0x85, 0x90, 0x00}),
       {{KVKField::Vorname, "Eva"}, {KVKField::Checksum, "…"}}},
      {"the template length byte is not searched",
       Text({0x60, 0x86, 0x80, 0x02, 'X', 'Y', 0x90, 0x00}),
       {{KVKField::KrankenKassenName, "XY"}}},
      {"a tag as the last byte before the status has no value",
       Text({0x60, 0x05, 0x80, 0x02, 'X', 'Y', 0x87, 0x90, 0x00}),
       {{KVKField::KrankenKassenName, "XY"}}},
      {"a length past the end runs into the status bytes",
       Text({0x60, 0x08, 0x87, 0x10, 'M', '}', 'l', 'l', 'e', 'r', 0x90, 0x00}),
       {{KVKField::FamilienName, std::string("Müller\xC2\x90\0", 10)}}},
      {"a lone template tag", Text({0x60}), {}},
      {"template tag and status only", Text({0x60, 0x05, 0x90, 0x00}), {}},
      {"template tag and one status byte", Text({0x60, 0x05, 0x90}), {}},
  };
  for (const TaggedCase& c : kCases) {
    SCOPED_TRACE(c.what);
    clsKVKData record = Prefilled();
    EXPECT_TRUE(record.DecodeKVK(c.answer));
    for (std::size_t i = 0; i < kKVKFieldCount; ++i) {
      const auto it = std::find_if(c.fields.begin(), c.fields.end(),
                                   [&](const auto& f) { return f.first == FieldAt(i); });
      EXPECT_EQ(record.Get(FieldAt(i)), it == c.fields.end() ? "" : it->second)
          << kKVKFieldNames[i];
    }
  }
  // The length byte is unsigned: 128 of the 130 bytes that follow.
  EXPECT_EQ(clsKVKData::GetTagValue("\x82\x80" + std::string(130, 'A'), 0x82),
            std::string(128, 'A'));
}

// ---- The fixed-width layout ---------------------------------------------------------------

TEST(KvkDecode, FixedRecordFieldsAtTheirPlacesAlsoWhenCutShort) {
  constexpr std::size_t kWidths[] = {28, 7, 12, 5, 4, 3, 15, 28, 15, 28, 8, 28, 3, 7, 23, 4, 1};
  // The fields in the record's order, which has VersichertenNummer before VKNR.
  constexpr std::size_t kOrder[] = {0, 1, 3, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  // Each field filled with its own letter, to catch a boundary off by one.
  std::string record;
  for (std::size_t i = 0; i < kKVKFieldCount; ++i)
    record.append(kWidths[i], static_cast<char>('A' + i));
  ASSERT_EQ(record.size(), 219u);
  // Whole with status bytes, cut inside Geburtsdatum, and empty.
  for (std::size_t size : {221, 150, 0}) {
    SCOPED_TRACE(size);
    clsKVKData d = Prefilled();
    d.DecodeKVK((record + std::string("\x90\x00", 2)).substr(0, size));
    std::size_t start = 0;
    for (std::size_t i = 0; i < kKVKFieldCount; start += kWidths[i++]) {
      const std::string want =
          start < size ? record.substr(start, std::min(kWidths[i], size - start)) : "";
      EXPECT_EQ(d.Get(FieldAt(kOrder[i])), want) << kKVKFieldNames[kOrder[i]];
    }
  }
}

}  // namespace
}  // namespace qz
