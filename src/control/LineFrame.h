#pragma once

#include <cstddef>
#include <string_view>

// The framing of the control protocol: one request, reply or event per line, ended by "\n".
// A pure function over the bytes received so far; the connection keeps the buffer.
namespace LineFrame {

enum class Status
{
    Complete, // a line of `length` bytes (without its "\n") starts the buffer
    NeedMore, // no "\n" yet, and the bytes so far stay within the bound
    TooLong,  // more than maxLine bytes without a "\n": the peer is not speaking the protocol
};

struct Result
{
    Status status;
    std::size_t length = 0;
};

Result next(std::string_view buffer, std::size_t maxLine);

} // namespace LineFrame
