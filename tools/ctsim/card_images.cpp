#include "card_images.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string_view>

namespace qz::ctsim {
namespace {

void AddElement(t1::Bytes& out, std::uint8_t tag, std::string_view value) {
  out.push_back(tag);
  out.push_back(static_cast<std::uint8_t>(value.size()));
  out.insert(out.end(), value.begin(), value.end());
}

void AddField(t1::Bytes& out, std::string_view value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i)
    out.push_back(static_cast<std::uint8_t>(i < value.size() ? value[i] : ' '));
}

}  // namespace

// Umlauts are written as the card writes them: { | } ~ for ä ö ü ß.
t1::Bytes BuiltInTaggedCard() {
  t1::Bytes body;
  AddElement(body, 0x80, "AOK Beispielkasse");
  AddElement(body, 0x81, "1234567");
  AddElement(body, 0x8F, "99999");
  AddElement(body, 0x82, "123456789012");
  AddElement(body, 0x83, "1000");
  AddElement(body, 0x90, "1");
  AddElement(body, 0x84, "Dr.");
  AddElement(body, 0x85, "J}rgen");
  AddElement(body, 0x86, "von");
  AddElement(body, 0x87, "Beispielmann");
  AddElement(body, 0x88, "01021970");
  AddElement(body, 0x89, "Hauptstra~e 1");
  AddElement(body, 0x8A, "D");
  AddElement(body, 0x8B, "12345");
  AddElement(body, 0x8C, "K{lberstadt");
  AddElement(body, 0x8D, "1229");
  AddElement(body, 0x8E, "X");
  // Header and body built in one go: GCC 12's -O2 array-bounds check misfires on inserting
  // into a two-byte vector.
  t1::Bytes card(body.size() + 2);
  card[0] = 0x60;
  card[1] = static_cast<std::uint8_t>(body.size());
  std::copy(body.begin(), body.end(), card.begin() + 2);
  return card;
}

t1::Bytes BuiltInFixedCard() {
  t1::Bytes card;
  AddField(card, "BKK Musterbetrieb", 28);
  AddField(card, "7654321", 7);
  AddField(card, "210987654321", 12);
  AddField(card, "88888", 5);
  AddField(card, "3000", 4);
  AddField(card, "4", 3);
  AddField(card, "", 15);
  AddField(card, "Erika", 28);
  AddField(card, "", 15);
  AddField(card, "M}ller", 28);
  AddField(card, "24121985", 8);
  AddField(card, "Gartenweg 7", 28);
  AddField(card, "D", 3);
  AddField(card, "54321", 7);
  AddField(card, "Sch|nau", 23);
  AddField(card, "0630", 4);
  AddField(card, "Z", 1);
  return card;
}

std::optional<t1::Bytes> LoadCardFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  t1::Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return data;
}

t1::Bytes DefaultCardFor(bool fixed_layout, const std::string& data_dir) {
  const std::string path = data_dir + (fixed_layout ? "/card_fixed.bin" : "/card_tagged.bin");
  if (auto data = LoadCardFile(path)) return *data;
  return fixed_layout ? BuiltInFixedCard() : BuiltInTaggedCard();
}

}  // namespace qz::ctsim
