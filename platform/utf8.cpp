#include "platform/utf8.h"

bool DecodeUtf8Char(const unsigned char* text, size_t n, char32_t& cp, size_t& length) {
    const unsigned char c = text[0];
    length = 1;
    size_t extra;
    char32_t min;
    if (c < 0x80) {
        cp = c;
        return true;
    } else if ((c & 0xE0) == 0xC0) {
        extra = 1, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        extra = 3, cp = c & 0x07, min = 0x10000;
    } else {
        return false;
    }
    if (extra >= n) {
        return false;
    }
    for (size_t k = 1; k <= extra; ++k) {
        if ((text[k] & 0xC0) != 0x80) {
            return false;
        }
        cp = (cp << 6) | (text[k] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return false;
    }
    length = extra + 1;
    return true;
}

size_t Utf8CutLength(const char* text, size_t n, size_t max) {
    if (n <= max) {
        return n;
    }
    // Only the kept bytes are looked at (a cut buffer has nothing past them): a lead byte
    // among the last three whose character does not end within them goes, with its tail.
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    for (size_t back = 1; back <= 3 && back <= max; ++back) {
        const unsigned char c = s[max - back];
        if ((c & 0xC0) == 0x80) {
            continue;
        }
        const size_t need = (c & 0xE0) == 0xC0   ? 2
                            : (c & 0xF0) == 0xE0 ? 3
                            : (c & 0xF8) == 0xF0 ? 4
                                                 : 1;
        return need > back ? max - back : max;
    }
    return max;
}
