// DecodeKVK and its steps on hand-made card answers: layout choice, the tag search with its
// second-occurrence rule, the status bytes kept out of the search, and fixed-width boundaries.
#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "kvk/kvk_data.h"

namespace qz {
namespace {

template <std::size_t N>
std::string Text(const std::array<unsigned char, N>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

using Expected = std::vector<std::pair<KVKField, std::string>>;

// Every field not listed must be empty.
void ExpectFields(const clsKVKData& record, const Expected& expected) {
  for (std::size_t i = 0; i < kKVKFieldCount; ++i) {
    const auto field = static_cast<KVKField>(i);
    std::string want;
    for (const auto& [f, v] : expected) {
      if (f == field) want = v;
    }
    EXPECT_EQ(record.Get(field), want) << kKVKFieldNames[i];
  }
}

// A record with every field set, to see which fields a decode overwrites.
clsKVKData Prefilled() {
  clsKVKData record;
  for (std::size_t i = 0; i < kKVKFieldCount; ++i) record.Let(static_cast<KVKField>(i), "old");
  return record;
}

// ---- tagged layout -----------------------------------------------------------------------

template <class... B>
constexpr std::array<unsigned char, sizeof...(B)> Bytes(B... b) {
  return {static_cast<unsigned char>(b)...};
}

// A short template answered with status 62 82 (end of file reached before Le).
constexpr auto kTaggedWith6282 = Bytes(  //
    0x60, 0x12,                          // template tag, template length (never read)
    0x85,                                // a stray Vorname tag first
    0x80, 0x03, 'A', 'B', 'C',           // KrankenKassenName "ABC" (0x80 is also 0x85's "length")
    0x82, 0x02, '1', '2',                // VersichertenNummer "12"
    0x85, 0x04, 'H', 'a', 'n', 's',      // Vorname: the second 0x85 is the one taken
    0x62, 0x82);                         // SW1 SW2: not searched, so 0x82 occurs once

// Status 90 00: the 0x90 must not hide the card's own StatusErgaenzung element.
constexpr auto kSupplementWith9000 = Bytes(         //
    0x60, 0x0D,                                     // template tag, length
    0x90, 0x01, 'E',                                // StatusErgaenzung "E"
    0x81, 0x07, '1', '0', '9', '8', '7', '6', '5',  // KrankenKassenNummer "1098765"
    0x8E, 0x01, '?',                                // Checksum "?"
    0x90, 0x00);                                    // SW1 SW2

TEST(KvkDecodeTagged, ShortTemplateWithStatus6282) {
  clsKVKData record = Prefilled();
  EXPECT_TRUE(record.DecodeKVK(Text(kTaggedWith6282)));
  ExpectFields(record, {{KVKField::KrankenKassenName, "ABC"},
                        {KVKField::VersichertenNummer, "12"},
                        {KVKField::Vorname, "Hans"}});
}

TEST(KvkDecodeTagged, Status9000KeepsStatusSupplementAndInsurerNumber) {
  clsKVKData record;
  record.DecodeKVK(Text(kSupplementWith9000));
  ExpectFields(record, {{KVKField::StatusErgaenzung, "E"},
                        {KVKField::KrankenKassenNummer, "1098765"},
                        {KVKField::Checksum, "?"}});
}

// Nothing after the template tag.
constexpr auto kLoneTemplateTag = Bytes(0x60);
// Too short to hold more than the status: nothing is searched.
constexpr auto kTagAndStatusOnly = Bytes(0x60, 0x05,   // template tag, length
                                         0x90, 0x00);  // SW1 SW2
constexpr auto kOneByteAfterPair = Bytes(0x60, 0x05,   // template tag, length
                                         0x90);        // a broken status
constexpr auto kLengthByteZero = Bytes(                //
    0x60, 0x07,                                        // template tag, length
    0x80, 0x00,                                        // KrankenKassenName, empty
    0x87, 0x03, 'A', 'b', 'c',                         // FamilienName "Abc"
    0x90, 0x00);                                       // SW1 SW2
// The value runs on into the status bytes: 0x90 becomes U+0090, NUL stays.
constexpr auto kLengthPastEnd = Bytes(          //
    0x60, 0x08,                                 // template tag, length
    0x87, 0x10, 'M', '}', 'l', 'l', 'e', 'r',   // FamilienName, 16 announced, 6 there
    0x90, 0x00);                                // SW1 SW2
constexpr auto kLengthPastEndInto6282 = Bytes(  //
    0x60, 0x08,                                 // template tag, length
    0x87, 0x10, 'M', '}', 'l', 'l', 'e', 'r',   // FamilienName, 16 announced, 6 there
    0x62, 0x82);                                // SW1 SW2: 'b' and U+201A
// A tag as the very last searched byte has no length: empty, not the status.
constexpr auto kTagAsLastSearchedByte = Bytes(  //
    0x60, 0x05,                                 // template tag, length
    0x80, 0x02, 'X', 'Y',                       // KrankenKassenName "XY"
    0x87,                                       // FamilienName tag, cut off
    0x90, 0x00);                                // SW1 SW2
// A checksum byte equal to another tag is that tag's second occurrence but stands last, so
// the tag's own element is still read.
constexpr auto kChecksumEqualsTag = Bytes(  //
    0x60, 0x08,                             // template tag, length
    0x85, 0x03, 'E', 'v', 'a',              // Vorname "Eva"
    0x8E, 0x01, 0x85,                       // Checksum 0x85 (U+2026 in Windows-1252)
    0x90, 0x00);                            // SW1 SW2
// The template length byte is dropped unread, even when it equals a tag.
constexpr auto kTemplateLengthIsATag = Bytes(  //
    0x60, 0x86,                                // template tag, length equal to NamensZusatz's tag
    0x80, 0x02, 'X', 'Y',                      // KrankenKassenName "XY"
    0x90, 0x00);                               // SW1 SW2
// The third occurrence of a tag is never considered.
constexpr auto kThreeOccurrences = Bytes(  //
    0x60, 0x09,                            // template tag, length
    0x85, 0x01, 'A',                       // Vorname "A"
    0x85, 0x01, 'B',                       // Vorname "B", the one taken
    0x85, 0x01, 'C',                       // Vorname "C"
    0x90, 0x00);                           // SW1 SW2
// Elements in any order, a wrong template length and bytes after the template do not matter.
constexpr auto kOrderAndTrailer = Bytes(  //
    0x60, 0x00,                           // template tag, a wrong length
    0x8D, 0x04, '1', '2', '2', '8',       // Gueltigkeit "1228"
    0x80, 0x05, ' ', 'A', 'O', 'K', ' ',  // KrankenKassenName " AOK "
    0x00, 0x00, 0x00,                     // padding after the template
    0x90, 0x00);                          // SW1 SW2
constexpr auto kUmlautsInValues = Bytes(  //
    0x60, 0x15,                           // tag, length
    0x89, 0x0E, ' ', ' ', 'S', 't', 'r', 'a', '~', 'e', ' ', '1', ' ', ' ', ' ', ' ',  // street
    0x8C, 0x03, 'K', '|', 'l',  // town "Köl"
    0x90, 0x00);                // SW1 SW2

struct TaggedCase {
  const char* name;
  std::string answer;  // whole READ BINARY answer, status bytes included
  Expected fields;     // all others empty
};

void PrintTo(const TaggedCase& c, std::ostream* os) {
  *os << c.name;
}

class KvkDecodeTaggedCases : public ::testing::TestWithParam<TaggedCase> {};

TEST_P(KvkDecodeTaggedCases, Decodes) {
  clsKVKData record = Prefilled();
  EXPECT_TRUE(record.DecodeKVK(GetParam().answer));
  ExpectFields(record, GetParam().fields);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, KvkDecodeTaggedCases,
    ::testing::Values(
        TaggedCase{"LoneTemplateTag", Text(kLoneTemplateTag), {}},
        TaggedCase{"TemplateTagAndStatusOnly", Text(kTagAndStatusOnly), {}},
        TaggedCase{"OneByteAfterDroppedPair", Text(kOneByteAfterPair), {}},
        TaggedCase{"LengthByteZero", Text(kLengthByteZero), {{KVKField::FamilienName, "Abc"}}},
        TaggedCase{"LengthBytePastEnd",
                   Text(kLengthPastEnd),
                   {{KVKField::FamilienName, std::string("Müller\xC2\x90\0", 10)}}},
        TaggedCase{"LengthBytePastEndInto6282",
                   Text(kLengthPastEndInto6282),
                   {{KVKField::FamilienName, "Müllerb\xE2\x80\x9A"}}},
        TaggedCase{"TagOnlyAsLastSearchedByte",
                   Text(kTagAsLastSearchedByte),
                   {{KVKField::KrankenKassenName, "XY"}}},
        TaggedCase{"ChecksumEqualToATag",
                   Text(kChecksumEqualsTag),
                   {{KVKField::Vorname, "Eva"}, {KVKField::Checksum, "\xE2\x80\xA6"}}},
        TaggedCase{"TemplateLengthNotSearched",
                   Text(kTemplateLengthIsATag),
                   {{KVKField::KrankenKassenName, "XY"}}},
        TaggedCase{"ThirdOccurrenceIgnored", Text(kThreeOccurrences), {{KVKField::Vorname, "B"}}},
        TaggedCase{"OrderAndTrailerIrrelevant",
                   Text(kOrderAndTrailer),
                   {{KVKField::Gueltigkeit, "1228"}, {KVKField::KrankenKassenName, "AOK"}}},
        TaggedCase{"UmlautsAndTrimmingInValues",
                   Text(kUmlautsInValues),
                   {{KVKField::StrassenName, "Straße 1"}, {KVKField::OrtsName, "Köl"}}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- GetTagValue on its own (no status bytes: the whole text is searched) -----------------

struct TagCase {
  const char* name;
  std::string d;
  int tag;
  std::string value;
};

void PrintTo(const TagCase& c, std::ostream* os) {
  *os << c.name;
}

class KvkGetTagValue : public ::testing::TestWithParam<TagCase> {};

TEST_P(KvkGetTagValue, Finds) {
  EXPECT_EQ(clsKVKData::GetTagValue(GetParam().d, GetParam().tag), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Search, KvkGetTagValue,
    ::testing::Values(
        TagCase{"Absent", Text(Bytes(0x80, 0x01, 'X')), 0x87, ""},
        TagCase{"EmptyText", "", 0x80, ""},
        TagCase{"Single", Text(Bytes(0x80, 0x02, 'X', 'Y')), 0x80, "XY"},
        // Second occurrence taken although the first is a real element.
        TagCase{"SecondWins", Text(Bytes(0x85, 0x01, 'A', 0x85, 0x01, 'B')), 0x85, "B"},
        // Second occurrence is the last character: back to the first.
        TagCase{"SecondIsLastFallsBack", Text(Bytes(0x82, 0x02, '1', '2', 0x82)), 0x82, "12"},
        TagCase{"OnlyOccurrenceIsLast", Text(Bytes('A', 'B', 0x82)), 0x82, ""},
        TagCase{"TagIsWholeText", Text(Bytes(0x82)), 0x82, ""},
        TagCase{"LengthByteIsLast", Text(Bytes(0x82, 0x05)), 0x82, ""},
        TagCase{"LengthByteZero", Text(Bytes(0x82, 0x00, '1', '2')), 0x82, ""},
        TagCase{"ShortValue", Text(Bytes(0x82, 0x09, '1', '2')), 0x82, "12"},
        // The length byte is read unsigned.
        TagCase{"LengthByteAbove127", Text(Bytes(0x82, 0x83, 'A', 'B', 'C', 'D')), 0x82, "ABCD"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KvkGetTagValue, SearchEndLimitsTheSearchNotTheValue) {
  constexpr auto kData = Bytes(0x80, 0x05, 'A', 'B',  // KrankenKassenName, 5 announced
                               0x87,                  // FamilienName tag, last searched byte
                               0x90, 0x00);           // SW1 SW2, outside the search
  const std::string d = Text(kData);
  EXPECT_EQ(clsKVKData::GetTagValue(d, 0x87, 5), "");
  EXPECT_EQ(clsKVKData::GetTagValue(d, 0x90, 5), "");
  // The value still runs to the end: 0x87 is U+2021 in Windows-1252, 0x90 stays U+0090.
  EXPECT_EQ(clsKVKData::GetTagValue(d, 0x80, 5), std::string("AB\xE2\x80\xA1\xC2\x90\0", 8));
}

// ---- fixed-width layout -------------------------------------------------------------------

// Field widths in record order; each field is filled with its own letter to catch off-by-ones.
constexpr std::array<std::size_t, kKVKFieldCount> kWidths = {28, 7, 12, 5, 4, 3,  15, 28, 15,
                                                             28, 8, 28, 3, 7, 23, 4,  1};
// The record's order of fields differs from KVKField's in fields 3 and 4.
constexpr std::array<KVKField, kKVKFieldCount> kRecordOrder = {KVKField::KrankenKassenName,
                                                               KVKField::KrankenKassenNummer,
                                                               KVKField::VersichertenNummer,
                                                               KVKField::VKNR,
                                                               KVKField::VersichertenStatus,
                                                               KVKField::StatusErgaenzung,
                                                               KVKField::Titel,
                                                               KVKField::Vorname,
                                                               KVKField::NamensZusatz,
                                                               KVKField::FamilienName,
                                                               KVKField::Geburtsdatum,
                                                               KVKField::StrassenName,
                                                               KVKField::LaenderCode,
                                                               KVKField::PostLeitzahl,
                                                               KVKField::OrtsName,
                                                               KVKField::Gueltigkeit,
                                                               KVKField::Checksum};

std::string LetterRecord() {
  std::string r;
  for (std::size_t i = 0; i < kKVKFieldCount; ++i) r.append(kWidths[i], static_cast<char>('A' + i));
  return r;
}

TEST(KvkDecodeFixed, EachFieldAtItsPlace) {
  const std::string record = LetterRecord();
  ASSERT_EQ(record.size(), 219u);
  clsKVKData d;
  EXPECT_TRUE(d.DecodeKVK(record));
  for (std::size_t i = 0; i < kKVKFieldCount; ++i) {
    EXPECT_EQ(d.Get(kRecordOrder[i]), std::string(kWidths[i], static_cast<char>('A' + i)))
        << kKVKFieldNames[static_cast<std::size_t>(kRecordOrder[i])];
  }
}

TEST(KvkDecodeFixed, StatusBytesAfterTheRecordAreIgnored) {
  const std::string record = LetterRecord();
  clsKVKData plain;
  clsKVKData with_status;
  plain.DecodeKVK(record);
  with_status.DecodeKVK(record + "\x90" + '\0');
  for (std::size_t i = 0; i < kKVKFieldCount; ++i) {
    EXPECT_EQ(with_status.Get(static_cast<KVKField>(i)), plain.Get(static_cast<KVKField>(i)))
        << kKVKFieldNames[i];
  }
}

TEST(KvkDecodeFixed, ShortRecordFillsWhatIsThere) {
  clsKVKData d = Prefilled();
  d.DecodeKVK(LetterRecord().substr(0, 150));
  Expected want;
  for (std::size_t i = 0; i < 10; ++i) {
    want.emplace_back(kRecordOrder[i], std::string(kWidths[i], static_cast<char>('A' + i)));
  }
  want.emplace_back(KVKField::Geburtsdatum, "KKKKK");  // 5 of its 8 characters
  ExpectFields(d, want);
}

TEST(KvkDecodeFixed, EmptyDataEmptiesAllFields) {
  clsKVKData d = Prefilled();
  EXPECT_TRUE(d.DecodeKVK(""));
  ExpectFields(d, {});
}

TEST(KvkDecodeFixed, PaddingTrimmedInnerSpacesKept) {
  std::string record(219, ' ');
  record.replace(117, 28, "  ABC                       ");  // FamilienName
  record.replace(191, 23, "Bad  Neustadt          ");       // OrtsName
  clsKVKData d;
  d.DecodeKVK(record);
  ExpectFields(d, {{KVKField::FamilienName, "ABC"}, {KVKField::OrtsName, "Bad  Neustadt"}});
}

TEST(KvkDecodeFixed, ChecksumByte) {
  const std::pair<char, std::string> cases[] = {{' ', ""},  {'{', "ä"}, {'|', "ö"},   {'}', "ü"},
                                                {'~', "ß"}, {'7', "7"}, {'\x80', "€"}};
  for (const auto& [byte, text] : cases) {
    std::string record = LetterRecord();
    record[218] = byte;
    clsKVKData d;
    d.DecodeKVK(record + std::string("\x90\x00", 2));
    EXPECT_EQ(d.Get(KVKField::Checksum), text) << "byte " << static_cast<int>(byte);
  }
}

}  // namespace
}  // namespace qz
