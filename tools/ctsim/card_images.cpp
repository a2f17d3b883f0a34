#include "card_images.h"

#include <fstream>
#include <iterator>
#include <string_view>

namespace qz::ctsim {
namespace {

// On the card the umlauts are { | } ~ for ä ö ü ß, as the decoder expects them.

// clang-format off
// Tagged layout: template 0x60 of 144 bytes, then one element (tag, length, text) per field in
// the card's usual order.
constexpr char kTaggedCard[] =
    "\x60\x90"
    "\x80\x0d" "BKK M}hlental"    // KrankenKassenName
    "\x81\x07" "1234567"          // KrankenKassenNummer
    "\x8f\x05" "12345"            // VKNR
    "\x82\x0c" "123456789012"     // VersichertenNummer
    "\x83\x04" "1000"             // VersichertenStatus
    "\x90\x01" "1"                // StatusErgaenzung
    "\x84\x03" "Dr."              // Titel
    "\x85\x06" "J}rgen"           // Vorname
    "\x86\x03" "von"              // NamensZusatz
    "\x87\x0a" "Wei~m}ller"       // FamilienName
    "\x88\x08" "12031956"         // Geburtsdatum
    "\x89\x0d" "Hauptstra~e 7"    // StrassenName
    "\x8a\x01" "D"                // LaenderCode
    "\x8b\x05" "54321"            // PostLeitzahl
    "\x8c\x0e" "Gro~ Sch|ndorf"   // OrtsName
    "\x8d\x04" "1228"             // Gueltigkeit
    "\x8e\x01" "u";               // Checksum: the XOR of all bytes before it

// Fixed-width layout: 219 bytes, each field padded with spaces to its width.
constexpr char kFixedCard[] =
    "IKK Rh|ntal                 "  // KrankenKassenName, 28
    "7654321"                       // KrankenKassenNummer, 7
    "987654321098"                  // VersichertenNummer, 12
    "54321"                         // VKNR, 5
    "3000"                          // VersichertenStatus, 4
    "4  "                           // StatusErgaenzung, 3
    "               "               // Titel, 15
    "J|rg Friedrich              "  // Vorname, 28
    "zur            "               // NamensZusatz, 15
    "Kr{mer-Wei~                 "  // FamilienName, 28
    "30111972"                      // Geburtsdatum, 8
    "Am M}hlbach 12a             "  // StrassenName, 28
    "D  "                           // LaenderCode, 3
    "98765  "                       // PostLeitzahl, 7
    "Wei~enbach (Rh|n)      "       // OrtsName, 23
    "0627"                          // Gueltigkeit, 4
    "-";                            // Checksum: the XOR of the 218 bytes before it
// clang-format on

static_assert(sizeof kTaggedCard - 1 == 146 && sizeof kFixedCard - 1 == 219);

t1::Bytes Bytes(std::string_view text) {
  return t1::Bytes(text.begin(), text.end());
}

}  // namespace

t1::Bytes DefaultCard(bool fixed_layout) {
  return fixed_layout ? Bytes({kFixedCard, sizeof kFixedCard - 1})
                      : Bytes({kTaggedCard, sizeof kTaggedCard - 1});
}

std::optional<t1::Bytes> LoadCardFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  t1::Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return data;
}

}  // namespace qz::ctsim
