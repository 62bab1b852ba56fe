#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The text fields of stored and sent records hold Shift-JIS (code page 932) bytes;
// the program itself works in UTF-8. These functions are the one boundary between the two.
namespace plat {

// UTF-8 → CP932. Empty optional when the text holds a character that CP932 cannot
// represent (or is not valid UTF-8); callers must refuse such a text, never store it mangled.
std::optional<std::string> toCp932(std::string_view utf8);

// The characters of a UTF-8 text that toCp932 refuses, each once, in the order they first
// appear (each one UTF-8 character); empty when the text can be written. Bytes that are not
// valid UTF-8 count as one character each, shown as U+FFFD.
std::vector<std::string> unwritableCharacters(std::string_view utf8);

// CP932 → UTF-8. Empty optional when the bytes are not valid CP932.
std::optional<std::string> fromCp932(std::string_view cp932);

// True when the bytes are a complete, valid CP932 text (no cut double-byte character).
bool isValidCp932(std::string_view cp932);

// The text of a fixed-size field: up to its first zero byte or its end. Not converted.
std::string_view fieldView(const char* field, std::size_t fieldSize);
std::string_view fieldView(const std::uint8_t* field, std::size_t fieldSize);

// The field's text converted to UTF-8. A double-byte character cut by the field's end is
// dropped; any other invalid byte is replaced by U+FFFD, so the result is always printable.
std::string fieldToUtf8(const std::uint8_t* field, std::size_t fieldSize);

// Bounded copy of CP932 bytes into a field: at most fieldSize bytes, the rest zero-filled.
// A text that does not fit is cut at the last whole character, so no double-byte character is
// ever split; a text of exactly fieldSize bytes has no terminating zero (as the layouts allow).
void copyCp932Field(std::uint8_t* field, std::size_t fieldSize, std::string_view cp932);

// UTF-8 → CP932 → field. False (field left untouched) when CP932 cannot hold the text.
[[nodiscard]] bool copyUtf8Field(std::uint8_t* field, std::size_t fieldSize, std::string_view utf8);

} // namespace plat
