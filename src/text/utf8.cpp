#include "text/utf8.h"

namespace tamberly {

long nextCodePoint(std::string_view text, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    int length = 0;
    long code = 0;
    long minimum = 0;
    if (lead < 0x80) {
        ++i;
        return lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
        minimum = 0x10000;
    } else {
        ++i;
        return -1;
    }
    if (i + static_cast<std::size_t>(length) > text.size()) {
        ++i;
        return -1;
    }
    for (int k = 1; k < length; ++k) {
        const unsigned char next = byte(i + static_cast<std::size_t>(k));
        if ((next & 0xC0) != 0x80) {
            ++i;
            return -1;
        }
        code = (code << 6) | (next & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        ++i;
        return -1;
    }
    i += static_cast<std::size_t>(length);
    return code;
}

bool isValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();)
        if (nextCodePoint(text, i) < 0)
            return false;
    return true;
}

} // namespace tamberly
