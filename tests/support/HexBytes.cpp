#include "HexBytes.h"

#include "platform/Hex.h"

std::string hexOf(const std::uint8_t* data, std::size_t length)
{
    return plat::toHex(data, length);
}

std::vector<std::uint8_t> bytesOf(std::string_view hex)
{
    std::vector<std::uint8_t> out(hex.size() / 2);
    out.resize(plat::hexToBytes(hex.substr(0, 2 * out.size()), out.data(), out.size()));
    return out;
}
