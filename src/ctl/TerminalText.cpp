#include "ctl/TerminalText.h"

#include <cstdint>
#include <cstdio>

namespace morvex::ctl {
namespace {

// The length of the well-formed UTF-8 sequence at `text[at]` and its code
// point, or 0 when the bytes there are not one (a stray continuation byte,
// a truncated or overlong sequence, a surrogate, beyond U+10FFFF).
size_t DecodeUtf8(std::string_view text, size_t at, uint32_t& point) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length;
  uint32_t minimum;
  if (lead < 0x80) {
    point = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2;
    minimum = 0x80;
    point = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    minimum = 0x800;
    point = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    minimum = 0x10000;
    point = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    point = (point << 6) | (byte(at + i) & 0x3F);
  }
  if (point < minimum || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return 0;
  return length;
}

// Characters a terminal acts on instead of showing: C1 controls (U+0080 to
// U+009F, which some terminals take as CSI and the like) and the
// bidirectional embeddings, overrides and isolates, which reorder the
// line around them.
bool Invisible(uint32_t point) {
  return (point >= 0x80 && point <= 0x9F) || (point >= 0x202A && point <= 0x202E) ||
         (point >= 0x2066 && point <= 0x2069);
}

// "\xNN" for a byte or an ASCII control, "\uNNNN" for a code point.
void AppendEscape(std::string& out, bool codePoint, uint32_t value) {
  char escape[8];
  if (codePoint) {
    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(value));
  } else {
    std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(value));
  }
  out += escape;
}

}  // namespace

std::string TerminalText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    uint32_t point = 0;
    const size_t length = DecodeUtf8(text, at, point);
    if (length == 0) {
      AppendEscape(out, false, static_cast<unsigned char>(text[at]));
      ++at;
      continue;
    }
    switch (point) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (point < 0x20 || point == 0x7F) {
          AppendEscape(out, false, point);
        } else if (Invisible(point)) {
          AppendEscape(out, true, point);
        } else {
          out.append(text.substr(at, length));
        }
    }
    at += length;
  }
  return out;
}

}  // namespace morvex::ctl
