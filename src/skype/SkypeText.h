#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Small readers for the texts of the messaging client. Everything here treats its input as
// hostile: lengths and counts are bounded before anything is kept.
namespace skype {

// Application names and peer Skype IDs are kept in 100-byte fields with their zero.
inline constexpr std::size_t kMaxIdBytes = 99;
// A stream list longer than this is not believed.
inline constexpr std::size_t kMaxListItems = 1024;

bool startsWith(std::string_view text, std::string_view prefix);

// A Skype ID that can stand in a command and in a stream item: 1 to kMaxIdBytes bytes, no white
// space, no control character, no ':' or ',' (which would split a stream item).
bool validSkypeId(std::string_view id);

// One item of a "STREAMS" list (id ":" number) or of a "RECEIVED" list (id ":" number "="
// byte count). False for anything else, an invalid ID, or a number that is not 1 to 9 decimal
// digits.
struct StreamItem
{
    std::string id;
    int number = 0;
};
bool parseStreamItem(std::string_view item, bool withCount, StreamItem& out);

// Splits a list at blanks (and, with commas, at ","), skipping empty pieces. False when there
// are more than maxItems pieces.
bool splitList(std::string_view text, bool commas, std::vector<std::string_view>& out,
               std::size_t maxItems = kMaxListItems);

} // namespace skype
