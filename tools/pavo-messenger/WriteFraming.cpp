#include "WriteFraming.h"

#include "platform/Hex.h"

#include <cstring>

namespace WriteFraming {

namespace {

// Only lower-case hexadecimal comes back from the bytes exactly as it was written.
bool isLowerHex(std::string_view text)
{
    return !text.empty() && text.size() % 2 == 0 &&
           text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

void putHeader(std::string& out, Form form, std::size_t length)
{
    WriteFrameHeader h{};
    h.form = form;
    for (int i = 0; i < 4; ++i)
        h.length[i] = std::uint8_t(length >> (8 * i));
    out.append(reinterpret_cast<const char*>(&h), sizeof h);
}

} // namespace

std::string encode(std::string_view text)
{
    std::string out;
    if (isLowerHex(text)) {
        out.reserve(sizeof(WriteFrameHeader) + text.size() / 2);
        putHeader(out, Hex, text.size() / 2);
        const std::size_t at = out.size();
        out.resize(at + text.size() / 2);
        plat::hexToBytes(text, reinterpret_cast<std::uint8_t*>(out.data() + at), text.size() / 2);
    } else {
        out.reserve(sizeof(WriteFrameHeader) + text.size());
        putHeader(out, Text, text.size());
        out.append(text);
    }
    return out;
}

bool Decoder::feed(std::span<const std::uint8_t> bytes, std::vector<std::string>& texts)
{
    buffer_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::size_t at = 0;
    while (buffer_.size() - at >= sizeof(WriteFrameHeader)) {
        WriteFrameHeader h;
        std::memcpy(&h, buffer_.data() + at, sizeof h);
        std::size_t length = 0;
        for (int i = 0; i < 4; ++i)
            length |= std::size_t(h.length[i]) << (8 * i);
        if ((h.form != Text && h.form != Hex) || length > (h.form == Hex ? MaxText / 2 : MaxText))
            return false;
        if (buffer_.size() - at - sizeof h < length)
            break;
        const std::string_view payload(buffer_.data() + at + sizeof h, length);
        if (h.form == Hex) {
            texts.push_back(
                plat::toHex(reinterpret_cast<const std::uint8_t*>(payload.data()), length));
        } else {
            if (payload.find('\0') != std::string_view::npos)
                return false;
            texts.emplace_back(payload);
        }
        at += sizeof h + length;
    }
    buffer_.erase(0, at);
    return true;
}

} // namespace WriteFraming
