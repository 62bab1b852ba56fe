#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// A program's writes cross a bytestream as frames, so the reader gets each write back whole:
// a 5-byte header, then the payload. Writes that are even-length lower-case hexadecimal text
// (what a node writes) travel as the bytes they encode, half the size; anything else travels
// as its text.
struct WriteFrameHeader
{
    std::uint8_t form;      // WriteFraming::Form
    std::uint8_t length[4]; // payload bytes, little-endian
};
static_assert(sizeof(WriteFrameHeader) == 5);
static_assert(offsetof(WriteFrameHeader, length) == 1);

namespace WriteFraming {

enum Form : std::uint8_t
{
    Text = 0,
    Hex = 1,
};

// The longest write text a frame may carry (a read reply must still fit the endpoint's frame).
inline constexpr std::size_t MaxText = 1u << 20;

// The frame for one write text (at most MaxText bytes; the caller checks).
std::string encode(std::string_view text);

// Cuts a byte stream back into write texts, whatever the block boundaries.
class Decoder
{
public:
    // Appends every write completed by bytes to texts. False for a bad frame (unknown form, a
    // length beyond MaxText, a text with a zero byte): the stream cannot be trusted further.
    bool feed(std::span<const std::uint8_t> bytes, std::vector<std::string>& texts);
    std::size_t buffered() const { return buffer_.size(); }

private:
    std::string buffer_;
};

} // namespace WriteFraming
