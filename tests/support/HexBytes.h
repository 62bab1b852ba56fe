#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Stream payloads travel as lower-case hexadecimal text through the messaging client; the Skype
// tests write and compare them in that form.
std::string hexOf(const std::uint8_t* data, std::size_t length);
// Pairs of hexadecimal digits; a trailing odd digit is dropped.
std::vector<std::uint8_t> bytesOf(std::string_view hex);
