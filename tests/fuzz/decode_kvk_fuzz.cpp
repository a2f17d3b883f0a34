// DecodeKVK on arbitrary terminal answers: it must never crash or read out of bounds, and every
// field must come out as valid UTF-8 without a space at either end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "kvk/kvk_data.h"

namespace {

bool IsValidUtf8(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;
    char32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      n = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      n = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      n = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n >= s.size()) return false;  // sequence cut off
    for (std::size_t k = 1; k <= n; ++k) {
      const auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Reject overlong forms, surrogates and values beyond Unicode.
    constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return false;
    i += n + 1;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string answer(reinterpret_cast<const char*>(data), size);
  qz::clsKVKData record;
  if (!record.DecodeKVK(answer)) std::abort();
  for (std::size_t i = 0; i < qz::kKVKFieldCount; ++i) {
    const std::string& v = record.Get(static_cast<qz::KVKField>(i));
    if (!IsValidUtf8(v)) std::abort();
    if (!v.empty() && (v.front() == ' ' || v.back() == ' ')) std::abort();
  }
  return 0;
}
