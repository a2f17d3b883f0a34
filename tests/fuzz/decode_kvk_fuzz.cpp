// DecodeKVK on arbitrary terminal answers: it must never crash or read out of bounds, and every
// field must come out as valid UTF-8 without a space at either end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "kvk/kvk_data.h"

namespace {

// Well-formed UTF-8: no stray or missing continuation bytes, no overlong forms, no surrogates,
// nothing beyond U+10FFFF.
bool IsValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80 ? 0 : c >> 5 == 6 ? 1 : c >> 4 == 14 ? 2 : c >> 3 == 30 ? 3 : 9;
    if (n == 9 || i + n >= s.size()) return false;  // not a lead byte, or cut off
    char32_t cp = n == 0 ? c : c & (0x3F >> n);
    for (std::size_t k = 1; k <= n; ++k) {
      const auto cc = static_cast<unsigned char>(s[i + k]);
      if (cc >> 6 != 2) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return false;
    i += n + 1;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qz::clsKVKData record;
  record.DecodeKVK(std::string(reinterpret_cast<const char*>(data), size));
  for (std::size_t i = 0; i < qz::kKVKFieldCount; ++i) {
    const std::string& v = record.Get(static_cast<qz::KVKField>(i));
    if (!IsValidUtf8(v) || (!v.empty() && (v.front() == ' ' || v.back() == ' '))) std::abort();
  }
  return 0;
}
