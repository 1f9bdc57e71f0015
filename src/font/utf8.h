// UTF-8 decoding for text drawing: every byte string decodes, whatever it holds.
#pragma once

#include <cstddef>

namespace gamelib {

constexpr char32_t kReplacementCharacter = 0xFFFD;

// Decodes the character at text[*position] (position < length) and moves *position past
// it. An ill-formed sequence gives U+FFFD and moves past its longest valid prefix (at
// least one byte), so decoding never reads at or beyond text[length].
char32_t DecodeUtf8(const unsigned char* text, std::size_t length, std::size_t* position);

}  // namespace gamelib
