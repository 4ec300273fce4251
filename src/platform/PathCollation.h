#pragma once

#include <string_view>

namespace morvex::platform {

// The two text orders of the store, used both by the database collations
// ("UTF16" and "UTF16CI") and by every merge that walks a sorted listing
// against a sorted query, so that both sides agree by construction.
//
// CompareExact orders by Unicode code point, which for UTF-8 text is the
// order of its bytes. CompareFolded compares code points after simple case
// folding; a byte that is not part of valid UTF-8 sorts by its value after
// every valid character. Both return <0, 0 or >0.
int CompareExact(std::string_view a, std::string_view b) noexcept;
int CompareFolded(std::string_view a, std::string_view b) noexcept;

// Decodes the code point at `pos` and advances past it; an invalid byte is
// returned as 0x110000 + byte and consumes one byte.
char32_t NextCodePoint(std::string_view text, size_t& pos) noexcept;

// Simple case folding of one code point.
char32_t FoldCase(char32_t c) noexcept;

}  // namespace morvex::platform
