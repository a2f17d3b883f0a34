// Decoding the card file: the two test cards, the card's character set, tagged answers that are
// cut short or hold misleading bytes, and the fixed-width layout's boundaries.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "kvk/kvk_data.h"

namespace qz {
namespace {

using Fields = std::vector<std::pair<KVKField, std::string>>;

// Every field of `record`: those in `want` as given, all others "".
void ExpectFields(const clsKVKData& record, const Fields& want) {
  for (std::size_t i = 0; i < kKVKFieldCount; ++i) {
    std::string expected;
    for (const auto& [f, v] : want) expected = f == KVKField(i) ? v : expected;
    EXPECT_EQ(record.Get(KVKField(i)), expected) << kKVKFieldNames[i];
  }
}
// A record with every field set, to see that a decode overwrites each of them.
clsKVKData Decoded(const std::string& answer) {
  clsKVKData record;
  for (std::size_t i = 0; i < kKVKFieldCount; ++i) record.Let(KVKField(i), "old");
  record.DecodeKVK(answer);
  return record;
}
std::string Text(std::initializer_list<int> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TEST(KvkDecode, BothTestCardsWithEitherSuccessStatus) {
  using enum KVKField;
  // The values of card_tagged.bin and card_fixed.bin as tests/data/cards.md lists them.
  const Fields cards[2] = {
      {{KrankenKassenName, "BKK Mühlental"},
       {KrankenKassenNummer, "1234567"},
       {VKNR, "12345"},
       {VersichertenNummer, "123456789012"},
       {VersichertenStatus, "1000"},
       {StatusErgaenzung, "1"},
       {Titel, "Dr."},
       {Vorname, "Jürgen"},
       {NamensZusatz, "von"},
       {FamilienName, "Weißmüller"},
       {Geburtsdatum, "12031956"},
       {StrassenName, "Hauptstraße 7"},
       {LaenderCode, "D"},
       {PostLeitzahl, "54321"},
       {OrtsName, "Groß Schöndorf"},
       {Gueltigkeit, "1228"},
       {Checksum, "u"}},
      {{KrankenKassenName, "IKK Rhöntal"},
       {KrankenKassenNummer, "7654321"},
       {VKNR, "54321"},
       {VersichertenNummer, "987654321098"},
       {VersichertenStatus, "3000"},
       {StatusErgaenzung, "4"},
       {Vorname, "Jörg Friedrich"},
       {NamensZusatz, "zur"},
       {FamilienName, "Krämer-Weiß"},
       {Geburtsdatum, "30111972"},
       {StrassenName, "Am Mühlbach 12a"},
       {LaenderCode, "D"},
       {PostLeitzahl, "98765"},
       {OrtsName, "Weißenbach (Rhön)"},
       {Gueltigkeit, "0627"},
       {Checksum, "-"}},
  };
  const char* const files[2] = {"card_tagged.bin", "card_fixed.bin"};
  for (int card = 0; card < 2; ++card) {
    std::ifstream in(std::string(QZ_TEST_DATA_DIR) + "/" + files[card], std::ios::binary);
    const std::string file{std::istreambuf_iterator<char>(in), {}};
    for (const char* status : {"\x90\x00", "\x62\x82"}) {
      SCOPED_TRACE(files[card]);
      ExpectFields(Decoded(file + std::string(status, 2)), cards[card]);
    }
  }
}

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

TEST(KvkDecode, TaggedAnswersCutShortOrWithMisleadingBytes) {
  using enum KVKField;
  const std::pair<std::string, Fields> kCases[] = {
      // A stray tag first: the second occurrence is taken; 0x80 is also the stray's length.
      // The second 0x82 is the status byte SW2: the first one counts.
      {Text({0x60, 0x12, 0x85, 0x80, 0x03, 'A', 'B', 'C', 0x82, 0x02,
             '1',  '2',  0x85, 0x04, 'H',  'a', 'n', 's', 0x62, 0x82}),
       {{KrankenKassenName, "ABC"}, {VersichertenNummer, "12"}, {Vorname, "Hans"}}},
      // The third occurrence is never taken.
      {Text({0x60, 0x09, 0x85, 0x01, 'A', 0x85, 0x01, 'B', 0x85, 0x01, 'C', 0x90, 0x00}),
       {{Vorname, "B"}}},
      // Status 90 00 does not hide StatusErgaenzung; 0x81 is read.
      {Text({0x60, 0x0D, 0x90, 0x01, 'E', 0x81, 0x07, '1', '0', '9', '8', '7', '6', '5', 0x8E, 0x01,
             '?', 0x90, 0x00}),
       {{StatusErgaenzung, "E"}, {KrankenKassenNummer, "1098765"}, {Checksum, "?"}}},
      // A checksum equal to a tag, standing last, leaves that tag's element alone.
      {Text({0x60, 0x08, 0x85, 0x03, 'E', 'v', 'a', 0x8E, 0x01, 0x85, 0x90, 0x00}),
       {{Vorname, "Eva"}, {Checksum, "…"}}},
      // The template length byte is not searched; a length byte 0 is the empty text.
      {Text({0x60, 0x86, 0x80, 0x00, 0x87, 0x02, 'X', 'Y', 0x90, 0x00}), {{FamilienName, "XY"}}},
      // A tag as the last byte before the status has no value.
      {Text({0x60, 0x05, 0x80, 0x02, 'X', 'Y', 0x87, 0x90, 0x00}), {{KrankenKassenName, "XY"}}},
      // A length past the end runs into the status bytes.
      {Text({0x60, 0x08, 0x87, 0x10, 'M', '}', 'l', 'l', 'e', 'r', 0x90, 0x00}),
       {{FamilienName, std::string("Müller\xC2\x90\0", 10)}}},
      // Unsigned length: 128 of the 130 bytes that follow; the length byte 0x80 passes for
      // the tag of KrankenKassenName, with 65 ('A') bytes.
      {Text({0x60, 0x00, 0x82, 0x80}) + std::string(130, 'A'),
       {{VersichertenNummer, std::string(128, 'A')}, {KrankenKassenName, std::string(65, 'A')}}},
      {Text({0x60}), {}},
      {Text({0x60, 0x05, 0x90, 0x00}), {}},
      {Text({0x60, 0x05, 0x90}), {}},
  };
  for (const auto& [answer, fields] : kCases) {
    SCOPED_TRACE(::testing::PrintToString(answer));
    ExpectFields(Decoded(answer), fields);
  }
}

TEST(KvkDecode, FixedRecordFieldsAtTheirPlacesAlsoWhenCutShort) {
  constexpr std::size_t kWidths[] = {28, 7, 12, 5, 4, 3, 15, 28, 15, 28, 8, 28, 3, 7, 23, 4, 1};
  // On the card VersichertenNummer comes before VKNR.
  constexpr std::size_t kOrder[] = {0, 1, 3, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  std::string record;  // each field filled with its own letter, to catch a boundary off by one
  for (std::size_t i = 0; i < kKVKFieldCount; ++i) record.append(kWidths[i], char('A' + i));
  for (std::size_t size : {221, 150, 0}) {  // with status bytes, cut in Geburtsdatum, empty
    SCOPED_TRACE(size);
    Fields want;
    for (std::size_t i = 0, start = 0; i < kKVKFieldCount; start += kWidths[i++]) {
      if (start < size && start < record.size())
        want.emplace_back(KVKField(kOrder[i]),
                          record.substr(start, std::min(kWidths[i], size - start)));
    }
    ExpectFields(Decoded((record + std::string("\x90\x00", 2)).substr(0, size)), want);
  }
}

}  // namespace
}  // namespace qz
