// The card's character set: a German variant of 7-bit ASCII whose brace, bar and tilde codes
// stand for ä ö ü ß. Anything above 0x7F is read as Windows-1252, the ANSI code page of the
// hosts, so that the COM build hands the same characters to a host as its own conversion would.
#include <array>
#include <string>

#include "kvk/kvk_data.h"

namespace qz {
namespace {

// Windows-1252 at 0x80..0x9F; 0xA0..0xFF equal their Unicode code points. The five codes the
// code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of the same
// value, as MultiByteToWideChar does.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80..0x87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88..0x8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90..0x97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98..0x9F
};

char32_t CardCharToUnicode(unsigned char c) {
  switch (c) {
    case 0x7B:
      return U'\u00E4';  // ä
    case 0x7C:
      return U'\u00F6';  // ö
    case 0x7D:
      return U'\u00FC';  // ü
    case 0x7E:
      return U'\u00DF';  // ß
    default:
      break;
  }
  if (c >= 0x80 && c < 0xA0) return kCp1252High[c - 0x80];
  return c;
}

// Every code point here is below U+10000, so at most three bytes.
void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string clsKVKData::ConvertUmlauts(const std::string& t) {
  // Only the space is padding on the card; 0x00 and other controls are data and stay.
  const auto first = t.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const auto last = t.find_last_not_of(' ');

  std::string out;
  out.reserve(last - first + 1);
  for (std::size_t i = first; i <= last; ++i) {
    AppendUtf8(out, CardCharToUnicode(static_cast<unsigned char>(t[i])));
  }
  return out;
}

}  // namespace qz
