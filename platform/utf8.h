// UTF-8 decoding shared by the log and the settings store. Thread: any; stateless.
#pragma once

#include <cstddef>

// Decodes the character at text[0..n), n > 0. True with its code point and length in bytes;
// false with length 1 for a malformed or overlong sequence, a surrogate or a value past
// U+10FFFF.
bool DecodeUtf8Char(const unsigned char* text, size_t n, char32_t& cp, size_t& length);

// The length of the longest start of text[0..n) of at most max bytes that does not end
// inside a multi-byte character, for cutting text without leaving half a character.
size_t Utf8CutLength(const char* text, size_t n, size_t max);
