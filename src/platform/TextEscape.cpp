#include "platform/TextEscape.h"

#include <cstdint>
#include <cstdio>

namespace plat {

namespace {

// The length of the UTF-8 sequence at text[i] and its code point; 0 when it is not valid.
std::size_t decode(std::string_view text, std::size_t i, char32_t* cp)
{
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
    const std::uint8_t lead = byte(i);
    std::size_t length = lead < 0x80         ? 1
                         : (lead >> 5) == 6  ? 2
                         : (lead >> 4) == 14 ? 3
                         : (lead >> 3) == 30 ? 4
                                             : 0;
    if (length == 0 || i + length > text.size())
        return 0;
    char32_t value = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        value = value << 6 | (byte(i + k) & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kMin[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *cp = value;
    return length;
}

bool isControl(char32_t cp)
{
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069) || cp == 0x200E || cp == 0x200F || cp == 0x061C;
}

} // namespace

std::string escapeControls(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    char buffer[16];
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t length = decode(text, i, &cp);
        if (length == 0) {
            std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<std::uint8_t>(text[i]));
            out += buffer;
            ++i;
            continue;
        }
        if (isControl(cp)) {
            std::snprintf(buffer, sizeof buffer, cp < 0x80 ? "\\x%02x" : "\\u%04x",
                          static_cast<unsigned>(cp));
            out += buffer;
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
}

} // namespace plat
