#include "WriteFraming.h"

#include <cstring>

namespace WriteFraming {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool isLowerHex(std::string_view text)
{
    if (text.empty() || text.size() % 2 != 0)
        return false;
    for (char c : text) {
        if (hexValue(c) < 0)
            return false;
    }
    return true;
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
        for (std::size_t i = 0; i < text.size(); i += 2)
            out.push_back(char(hexValue(text[i]) << 4 | hexValue(text[i + 1])));
    } else {
        out.reserve(sizeof(WriteFrameHeader) + text.size());
        putHeader(out, Text, text.size());
        out.append(text);
    }
    return out;
}

bool Decoder::feed(std::span<const std::uint8_t> bytes, std::vector<std::string>& texts)
{
    static constexpr char Digits[] = "0123456789abcdef";
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
            std::string text(length * 2, '\0');
            for (std::size_t i = 0; i < length; ++i) {
                const auto b = static_cast<unsigned char>(payload[i]);
                text[2 * i] = Digits[b >> 4];
                text[2 * i + 1] = Digits[b & 15];
            }
            texts.push_back(std::move(text));
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
