// clsKVKData: the record of one insurance card, seventeen texts (UTF-8). It holds what it is
// given and never fails; DecodeKVK fills it from the card file a terminal returned.
// Records are shared: a host that keeps one keeps it after the application moves on.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace qz {

// The seventeen fields in the record's (and the type library's) order.
enum class KVKField : std::size_t {
  KrankenKassenName,
  KrankenKassenNummer,
  VKNR,
  VersichertenNummer,
  VersichertenStatus,
  StatusErgaenzung,
  Titel,
  Vorname,
  NamensZusatz,
  FamilienName,
  Geburtsdatum,
  StrassenName,
  LaenderCode,
  PostLeitzahl,
  OrtsName,
  Gueltigkeit,
  Checksum,
};
inline constexpr std::size_t kKVKFieldCount = 17;

// Property names in field order, as hosts and kvkread's JSON see them.
inline constexpr std::array<std::string_view, kKVKFieldCount> kKVKFieldNames = {
    "KrankenKassenName",
    "KrankenKassenNummer",
    "VKNR",
    "VersichertenNummer",
    "VersichertenStatus",
    "StatusErgaenzung",
    "Titel",
    "Vorname",
    "NamensZusatz",
    "FamilienName",
    "Geburtsdatum",
    "StrassenName",
    "LaenderCode",
    "PostLeitzahl",
    "OrtsName",
    "Gueltigkeit",
    "Checksum"};

class clsKVKData {
 public:
  const std::string& Get(KVKField f) const { return fields_[static_cast<std::size_t>(f)]; }
  void Let(KVKField f, std::string value) {
    fields_[static_cast<std::size_t>(f)] = std::move(value);
  }

  // Decodes a READ BINARY answer (card data followed by SW1 SW2, one char per byte) in the
  // tagged (first byte 0x60) or the fixed-width layout. Always returns true.
  bool DecodeKVK(const std::string& data);

  // The decoding steps, public for tests. Input: raw card bytes; output: UTF-8.
  bool DecodeTemplate(const std::string& d);
  bool DecodeFixedRecord(const std::string& d);
  // Looks the tag up in the first search_end characters of d (all of d by default); the value
  // may run on past search_end to the end of d, as far as its length byte says.
  static std::string GetTagValue(const std::string& d, int tag,
                                 std::size_t search_end = std::string::npos);
  static std::string ConvertUmlauts(const std::string& t);

 private:
  std::array<std::string, kKVKFieldCount> fields_;
};

}  // namespace qz
