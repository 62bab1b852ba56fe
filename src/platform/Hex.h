#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The program's one hexadecimal codec: lower-case digits out, either case in.
namespace plat {

// Appends the bytes to text as lower-case hexadecimal, two digits per byte (the inverse of
// hexToBytes).
void appendHex(std::string& text, const std::uint8_t* bytes, std::size_t length);
std::string toHex(const std::uint8_t* bytes, std::size_t length);

// Decodes hexadecimal text into out: one byte per pair of characters, "0"-"9", "A"-"F" and
// "a"-"f" as their values, any other character as 0. Returns the number of bytes written; 0 for
// a text of odd length (with a diagnostic line) or one whose bytes would not fit in outCapacity
// (nothing is written then).
std::size_t hexToBytes(std::string_view text, std::uint8_t* out, std::size_t outCapacity);

// True when every character of text is a hexadecimal digit of either case (an empty text too).
bool isHexDigits(std::string_view text);

} // namespace plat
