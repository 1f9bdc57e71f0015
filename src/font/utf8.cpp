// UTF-8 decoding with the replacement of ill-formed subsequences one by one.
#include "font/utf8.h"

namespace gamelib {

char32_t DecodeUtf8(const unsigned char* text, std::size_t length, std::size_t* position) {
  std::size_t at = *position;
  const unsigned lead = text[at++];
  if (lead < 0x80) {
    *position = at;
    return lead;
  }
  int trail;
  char32_t value;
  // Bounds of the first trailing byte: they rule out overlong forms, surrogates and
  // values past U+10FFFF.
  unsigned low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trail = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trail = 2;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trail = 3;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    *position = at;
    return kReplacementCharacter;
  }
  for (int i = 0; i < trail; ++i) {
    if (at >= length || text[at] < low || text[at] > high) {
      *position = at;
      return kReplacementCharacter;
    }
    value = (value << 6) | (text[at++] & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  *position = at;
  return value;
}

}  // namespace gamelib
