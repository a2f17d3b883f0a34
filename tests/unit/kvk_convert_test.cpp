// ConvertUmlauts: card bytes to UTF-8 text. The card's four umlaut codes, Windows-1252 above
// 0x7F, everything else as it is; only spaces are trimmed, and only at the ends.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "kvk/kvk_data.h"

namespace qz {
namespace {

struct Case {
  const char* name;
  std::string card;  // raw card bytes
  std::string text;  // expected UTF-8
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class KvkConvert : public ::testing::TestWithParam<Case> {};

TEST_P(KvkConvert, Converts) {
  EXPECT_EQ(clsKVKData::ConvertUmlauts(GetParam().card), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Umlauts, KvkConvert,
    ::testing::Values(Case{"Mueller", "M}ller", "Müller"}, Case{"Strasse", "Stra~e", "Straße"},
                      Case{"AllFour", "{|}~", "äöüß"}, Case{"LoneBrace", "{", "ä"},
                      // No capital umlauts: the bracket codes keep their ASCII meaning.
                      Case{"BracketsAndAtStay", "[\\]@", "[\\]@"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Trimming, KvkConvert,
    ::testing::Values(Case{"Empty", "", ""}, Case{"OnlySpaces", "    ", ""},
                      Case{"PaddedField", "  ABC                       ", "ABC"},
                      Case{"InnerSpacesKept", " Bad  Neustadt ", "Bad  Neustadt"},
                      // Only 0x20 is padding: NUL, tab and no-break space are data.
                      Case{"NulNotTrimmed", std::string("\0A \0", 4), std::string("\0A \0", 4)},
                      Case{"TabNotTrimmed", "\tA\t", "\tA\t"},
                      Case{"NoBreakSpaceNotTrimmed", "A\xA0 ", "A\xC2\xA0"},
                      Case{"TrimAfterUmlaut", " ~ ", "ß"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Windows1252, KvkConvert,
    ::testing::Values(Case{"Euro", "\x80", "€"}, Case{"EAcute", "Caf\xE9", "Café"},
                      Case{"SCaron", "\x8A", "Š"}, Case{"YDiaeresis", "\x9F", "Ÿ"},
                      Case{"LowQuote", "\x82", "‚"}, Case{"YDiaeresisLower", "\xFF", "ÿ"},
                      Case{"CapitalUmlautsFromHighBytes", "\xC4\xD6\xDC", "ÄÖÜ"},
                      // Undefined in Windows-1252: the C1 control of the same value.
                      Case{"Undefined81", "\x81", "\xC2\x81"},
                      Case{"Undefined8D", "\x8D", "\xC2\x8D"},
                      Case{"Undefined8F", "\x8F", "\xC2\x8F"},
                      Case{"Undefined90", "\x90", "\xC2\x90"},
                      Case{"Undefined9D", "\x9D", "\xC2\x9D"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qz
