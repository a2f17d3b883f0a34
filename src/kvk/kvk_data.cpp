// Decoding of the card file that READ BINARY returns: the tagged template (first byte 0x60) or
// the older fixed-width record of 219 characters.
#include "kvk/kvk_data.h"

#include <algorithm>
#include <string>

namespace qz {
namespace {

constexpr char kTemplateTag = '\x60';
constexpr std::size_t kStatusBytes = 2;

struct TagRow {
  int tag;
  KVKField field;
};

// Reading order of the tagged layout. 0x81 is read too: a tagged card carries the insurer's
// number, and a host should not get it from one layout and lose it with the other.
constexpr TagRow kTagRows[] = {
    {0x80, KVKField::KrankenKassenName},
    {0x81, KVKField::KrankenKassenNummer},
    {0x82, KVKField::VersichertenNummer},
    {0x8F, KVKField::VKNR},
    {0x83, KVKField::VersichertenStatus},
    {0x90, KVKField::StatusErgaenzung},
    {0x84, KVKField::Titel},
    {0x85, KVKField::Vorname},
    {0x86, KVKField::NamensZusatz},
    {0x87, KVKField::FamilienName},
    {0x88, KVKField::Geburtsdatum},
    {0x89, KVKField::StrassenName},
    {0x8A, KVKField::LaenderCode},
    {0x8B, KVKField::PostLeitzahl},
    {0x8C, KVKField::OrtsName},
    {0x8D, KVKField::Gueltigkeit},
    {0x8E, KVKField::Checksum},
};

struct FixedRow {
  std::size_t start;  // 0-based
  std::size_t length;
  KVKField field;
};

constexpr FixedRow kFixedRows[] = {
    {0, 28, KVKField::KrankenKassenName},
    {28, 7, KVKField::KrankenKassenNummer},
    {35, 12, KVKField::VersichertenNummer},
    {47, 5, KVKField::VKNR},
    {52, 4, KVKField::VersichertenStatus},
    {56, 3, KVKField::StatusErgaenzung},
    {59, 15, KVKField::Titel},
    {74, 28, KVKField::Vorname},
    {102, 15, KVKField::NamensZusatz},
    {117, 28, KVKField::FamilienName},
    {145, 8, KVKField::Geburtsdatum},
    {153, 28, KVKField::StrassenName},
    {181, 3, KVKField::LaenderCode},
    {184, 7, KVKField::PostLeitzahl},
    {191, 23, KVKField::OrtsName},
    {214, 4, KVKField::Gueltigkeit},
    {218, 1, KVKField::Checksum},
};

}  // namespace

bool clsKVKData::DecodeKVK(const std::string& data) {
  if (!data.empty() && data.front() == kTemplateTag) {
    // Tag and template length go; the length is not trusted, the tag search finds the elements.
    return DecodeTemplate(data.size() > 2 ? data.substr(2) : std::string());
  }
  return DecodeFixedRecord(data);
}

bool clsKVKData::DecodeTemplate(const std::string& d) {
  // The status bytes SW1 SW2 end the response and are not part of the card file: a 90 00 answer
  // must not pass its 0x90 off as the StatusErgaenzung tag. The last two characters always count
  // as status, so when two or fewer follow the template tag and length (a lone 0x60 included),
  // nothing is searched and every field comes out empty rather than read from status bytes.
  const std::size_t search_end = d.size() > kStatusBytes ? d.size() - kStatusBytes : 0;
  for (const auto& row : kTagRows) Let(row.field, GetTagValue(d, row.tag, search_end));
  return true;
}

bool clsKVKData::DecodeFixedRecord(const std::string& d) {
  for (const auto& row : kFixedRows) {
    Let(row.field,
        row.start < d.size() ? ConvertUmlauts(d.substr(row.start, row.length)) : std::string());
  }
  return true;
}

std::string clsKVKData::GetTagValue(const std::string& d, int tag, std::size_t search_end) {
  const std::size_t end = std::min(search_end, d.size());
  const auto* const begin = d.data();
  const char t = static_cast<char>(tag);

  // The second occurrence wins when there is one: on a card the first match may be a length or
  // value byte that happens to equal the tag; a third occurrence is never looked at.
  const auto* const first = std::find(begin, begin + end, t);
  if (first == begin + end) return {};
  const auto* p = first;
  if (const auto* second = std::find(first + 1, begin + end, t); second != begin + end) {
    p = second;
  }
  // A tag with no length byte behind it inside the searched part stands for nothing; fall back
  // to the first occurrence, and if that is the one at the end too, the value is empty.
  if (p == begin + end - 1) p = first;
  if (p == begin + end - 1) return {};

  const std::size_t pos = static_cast<std::size_t>(p - begin);
  const std::size_t length = static_cast<unsigned char>(d[pos + 1]);
  // The value may run past the searched part up to the end of d, as its length byte says.
  return ConvertUmlauts(pos + 2 < d.size() ? d.substr(pos + 2, length) : std::string());
}

}  // namespace qz
