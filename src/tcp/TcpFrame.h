#pragma once

#include <cstddef>
#include <cstdint>

// Frames on the TCP byte stream: messages follow each other back to back, and a frame's length
// is its header's header-length field plus its body-length field. Apart from the socket so that
// it can be reasoned about (and fuzzed) on bytes alone.
namespace tcp {

// A frame shorter than a header cannot be a message, and one longer than a send-queue slot can
// never have been sent by a node; either means the stream is out of step or hostile.
constexpr std::size_t kMinFrame = 48;
constexpr std::size_t kMaxFrame = 65792;

enum class FrameStatus
{
    NeedMore, // fewer than a header's bytes, or fewer than the frame's length
    Complete, // a whole frame of length bytes starts at the data
    Bad,      // the length fields add up to less than kMinFrame or more than maxFrame
};

struct FrameScan
{
    FrameStatus status = FrameStatus::NeedMore;
    // The frame's length when Complete; otherwise 0.
    std::size_t length = 0;
};

// maxFrame: the longest frame taken (a connection not admitted yet takes only short ones).
FrameScan scanFrame(const std::uint8_t* data, std::size_t available,
                    std::size_t maxFrame = kMaxFrame);

} // namespace tcp
