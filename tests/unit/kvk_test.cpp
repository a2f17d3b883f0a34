// Decoding the card file: the two test cards, the card's character set, tagged answers that are
// cut short or hold misleading bytes, and the fixed-width layout's boundaries.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "kvk/kvk_data.h"
#include "tests/fakes/test_support.h"

namespace qz::testing {
namespace {

// The fields a decode leaves filled, starting from a record whose every field is "old".
std::string Decoded(const std::string& answer) {
  clsKVKData record;
  for (std::size_t i = 0; i < kKVKFieldCount; ++i) record.Let(KVKField(i), "old");
  record.DecodeKVK(answer);
  return Filled(record);
}
std::string Text(std::initializer_list<int> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TEST(KvkDecode, BothTestCardsWithEitherSuccessStatus) {
  // As tests/data/cards.md lists them.
  const std::pair<const char*, std::string> kCards[] = {
      {"card_tagged.bin",
       "KrankenKassenName=BKK Mühlental;KrankenKassenNummer=1234567;VKNR=12345;"
       "VersichertenNummer=123456789012;VersichertenStatus=1000;StatusErgaenzung=1;Titel=Dr.;"
       "Vorname=Jürgen;NamensZusatz=von;FamilienName=Weißmüller;Geburtsdatum=12031956;"
       "StrassenName=Hauptstraße 7;LaenderCode=D;PostLeitzahl=54321;OrtsName=Groß Schöndorf;"
       "Gueltigkeit=1228;Checksum=u;"},
      {"card_fixed.bin",
       "KrankenKassenName=IKK Rhöntal;KrankenKassenNummer=7654321;VKNR=54321;"
       "VersichertenNummer=987654321098;VersichertenStatus=3000;StatusErgaenzung=4;"
       "Vorname=Jörg Friedrich;NamensZusatz=zur;FamilienName=Krämer-Weiß;"
       "Geburtsdatum=30111972;StrassenName=Am Mühlbach 12a;LaenderCode=D;PostLeitzahl=98765;"
       "OrtsName=Weißenbach (Rhön);Gueltigkeit=0627;Checksum=-;"},
  };
  for (const auto& [file, fields] : kCards) {
    EXPECT_EQ(Decoded(DataFile(file) + std::string("\x90\x00", 2)), fields) << file;
    EXPECT_EQ(Decoded(DataFile(file) + "\x62\x82"), fields) << file;
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
  // clang-format off
  const std::pair<std::string, std::string> kCases[] = {
      // A stray tag first: the second occurrence is taken; 0x80 is also the stray's length.
      // The second 0x82 is the status byte SW2: the first one counts.
      {Text({0x60, 0x12, 0x85, 0x80, 0x03, 'A', 'B', 'C', 0x82, 0x02, '1', '2', 0x85, 0x04, 'H',
             'a', 'n', 's', 0x62, 0x82}),
       "KrankenKassenName=ABC;VersichertenNummer=12;Vorname=Hans;"},
      // The third occurrence is never taken.
      {Text({0x60, 0x09, 0x85, 0x01, 'A', 0x85, 0x01, 'B', 0x85, 0x01, 'C', 0x90, 0x00}), "Vorname=B;"},
      // Status 90 00 does not hide StatusErgaenzung; 0x81 is read.
      {Text({0x60, 0x0D, 0x90, 0x01, 'E', 0x81, 0x07, '1', '0', '9', '8', '7', '6', '5', 0x8E,
             0x01, '?', 0x90, 0x00}),
       "KrankenKassenNummer=1098765;StatusErgaenzung=E;Checksum=?;"},
      // A checksum equal to a tag, standing last, leaves that tag's element alone.
      {Text({0x60, 0x08, 0x85, 0x03, 'E', 'v', 'a', 0x8E, 0x01, 0x85, 0x90, 0x00}),
       "Vorname=Eva;Checksum=…;"},
      // The template length byte is not searched; a length byte 0 is the empty text.
      {Text({0x60, 0x86, 0x80, 0x00, 0x87, 0x02, 'X', 'Y', 0x90, 0x00}), "FamilienName=XY;"},
      // A tag as the last byte before the status has no value.
      {Text({0x60, 0x05, 0x80, 0x02, 'X', 'Y', 0x87, 0x90, 0x00}), "KrankenKassenName=XY;"},
      // A length past the end runs into the status bytes.
      {Text({0x60, 0x08, 0x87, 0x10, 'M', '}', 'l', 'l', 'e', 'r', 0x90, 0x00}),
       std::string("FamilienName=Müller\xC2\x90\0;", 24)},
      // Unsigned length: 128 of the 130 bytes that follow; the length byte 0x80 passes for
      // the tag of KrankenKassenName, with 65 ('A') bytes.
      {Text({0x60, 0x00, 0x82, 0x80}) + std::string(130, 'A'),
       "KrankenKassenName=" + std::string(65, 'A') + ";VersichertenNummer=" + std::string(128, 'A') + ";"},
      {Text({0x60}), ""},
      {Text({0x60, 0x05, 0x90, 0x00}), ""},
      {Text({0x60, 0x05, 0x90}), ""},
  };
  // clang-format on
  for (const auto& [answer, fields] : kCases) EXPECT_EQ(Decoded(answer), fields);
}

TEST(KvkDecode, FixedRecordFieldsAtTheirPlacesAlsoWhenCutShort) {
  constexpr std::size_t kWidths[] = {28, 7, 12, 5, 4, 3, 15, 28, 15, 28, 8, 28, 3, 7, 23, 4, 1};
  std::size_t starts[kKVKFieldCount] = {};
  std::string record;  // each field filled with its own letter, to catch a boundary off by one
  for (std::size_t i = 0; i < kKVKFieldCount; ++i) {
    starts[i] = record.size();
    record.append(kWidths[i], char('A' + i));
  }
  for (std::size_t size : {221, 150, 0}) {  // with status bytes, cut in Geburtsdatum, empty
    std::string want;
    for (std::size_t f = 0; f < kKVKFieldCount; ++f) {
      const std::size_t at = f == 2 ? 3 : f == 3 ? 2 : f;  // VersichertenNummer comes first
      if (starts[at] < size)
        want += std::string(kKVKFieldNames[f]) + "=" +
                record.substr(starts[at], std::min(kWidths[at], size - starts[at])) + ";";
    }
    EXPECT_EQ(Decoded((record + std::string("\x90\x00", 2)).substr(0, size)), want) << size;
  }
}

}  // namespace
}  // namespace qz::testing
