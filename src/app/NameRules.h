#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// What the settings dialogs require of the names they accept, so that a name taken there is never
// refused or cut later: node and party names travel in fixed CP932 record fields, and node names
// also name files and folders (pending files, receive folders).
namespace names {

// The length of the name in CP932 bytes, as the record fields count it; none when CP932 cannot
// write the name.
std::optional<std::size_t> cp932Length(std::string_view utf8);

// The length the dialogs' "at most N characters" limits compare: CP932 bytes, or the number of
// characters when CP932 cannot write the name (that is refused by its own check).
std::size_t limitLength(std::string_view utf8);

bool hasSpace(std::string_view text);

// The name with every character CP932 cannot write replaced by its closest form that it can
// (the letter without its accents: "é" → "e") or else by "_"; characters it can write are kept
// exactly as they are.
std::string cp932Substitute(std::string_view utf8);

// "é、ü": the characters CP932 cannot write, for a message.
std::string unwritableList(std::string_view utf8);

// CP932 can write it and it is usable as one path component.
bool isUsableNodeName(std::string_view utf8);

} // namespace names
