// Small helpers the core's tests share.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "base/automation_error.h"
#include "kvk/kvk_data.h"

namespace qz::testing {

// What `call` raises, as "number source: description"; "" when it raises nothing.
template <class Call>
std::string Raised(Call call) {
  try {
    call();
  } catch (const AutomationError& e) {
    return std::to_string(e.Number()) + " " + e.Source() + ": " + e.Description();
  }
  return "";
}

// The record's non-empty fields as "Name=value;", in field order: "" for an empty record.
inline std::string Filled(const clsKVKData& record) {
  std::string out;
  for (std::size_t i = 0; i < kKVKFieldCount; ++i) {
    const std::string& v = record.Get(KVKField(i));
    if (!v.empty()) out += std::string(kKVKFieldNames[i]) + "=" + v + ";";
  }
  return out;
}

// Bytes from hex ("21 00 02 90 00 B3"), and back with a space before each byte.
inline std::vector<std::uint8_t> H(const std::string& hex) {
  std::vector<std::uint8_t> out;
  std::istringstream in(hex);
  for (unsigned b; in >> std::hex >> b;) out.push_back(static_cast<std::uint8_t>(b));
  return out;
}
template <class Chars>
std::string Hex(const Chars& s) {
  std::string out;
  char b[4];
  for (unsigned char c : s) out += (std::snprintf(b, sizeof b, " %02X", c), b);
  return out;
}

// A file of tests/data, such as a card file as READ BINARY returns it.
inline std::string DataFile(const std::string& name) {
  std::ifstream in(std::string(QZ_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace qz::testing
