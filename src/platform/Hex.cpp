#include "platform/Hex.h"

#include "platform/Diag.h"

namespace plat {
namespace {

std::uint8_t hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<std::uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F')
        return static_cast<std::uint8_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f')
        return static_cast<std::uint8_t>(c - 'a' + 10);
    return 0;
}

} // namespace

void appendHex(std::string& text, const std::uint8_t* bytes, std::size_t length)
{
    static const char digits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < length; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0f]);
    }
}

std::string toHex(const std::uint8_t* bytes, std::size_t length)
{
    std::string text;
    text.reserve(2 * length);
    appendHex(text, bytes, length);
    return text;
}

std::size_t hexToBytes(std::string_view text, std::uint8_t* out, std::size_t outCapacity)
{
    if (text.size() % 2 != 0) {
        diag("受信データの文字数が奇数です\n");
        return 0;
    }
    const std::size_t n = text.size() / 2;
    if (n > outCapacity) {
        diag("hexToBytes: %zu bytes do not fit in %zu\n", n, outCapacity);
        return 0;
    }
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(hexValue(text[2 * i]) << 4 | hexValue(text[2 * i + 1]));
    return n;
}

bool isHexDigits(std::string_view text)
{
    return text.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
}

} // namespace plat
