#include "platform/PathCollation.h"

#include <locale.h>
#include <wctype.h>

#include <cstring>

namespace morvex::platform {
namespace {

constexpr char32_t kInvalidBase = 0x110000;

// glibc's C.UTF-8 locale carries the Unicode case tables; it is created once
// and never freed (it is process-wide and read-only).
locale_t Utf8Locale() {
  static const locale_t locale = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  return locale;
}

}  // namespace

int CompareExact(std::string_view a, std::string_view b) noexcept {
  // UTF-8 preserves code point order byte by byte.
  const size_t common = a.size() < b.size() ? a.size() : b.size();
  if (common != 0) {
    if (int c = std::memcmp(a.data(), b.data(), common); c != 0) return c;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

char32_t NextCodePoint(std::string_view text, size_t& pos) noexcept {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  size_t length = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  }
  if (length == 0 || pos + length > text.size()) {
    ++pos;
    return kInvalidBase + lead;
  }
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = byte(pos + i);
    if ((next & 0xC0) != 0x80) {
      ++pos;
      return kInvalidBase + lead;
    }
    value = (value << 6) | (next & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    ++pos;
    return kInvalidBase + lead;
  }
  pos += length;
  return value;
}

char32_t FoldCase(char32_t c) noexcept {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
  if (c >= kInvalidBase) return c;
  const locale_t locale = Utf8Locale();
  if (locale == static_cast<locale_t>(nullptr)) return c;
  // Folding maps through upper case first so that characters with several
  // lower-case forms (final sigma, Kelvin sign) meet in one.
  return static_cast<char32_t>(
      ::towlower_l(::towupper_l(static_cast<wint_t>(c), locale), locale));
}

int CompareFolded(std::string_view a, std::string_view b) noexcept {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const char32_t x = FoldCase(NextCodePoint(a, i));
    const char32_t y = FoldCase(NextCodePoint(b, j));
    if (x != y) return x < y ? -1 : 1;
  }
  if (i == a.size() && j == b.size()) return 0;
  return i == a.size() ? -1 : 1;
}

}  // namespace morvex::platform
