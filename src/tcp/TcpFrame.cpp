#include "tcp/TcpFrame.h"

#include "wire/MessageHeader.h"

namespace tcp {

static_assert(kMinFrame == catalog::MsgLayout::HeaderSize);
static_assert(kMaxFrame == catalog::MsgLayout::MaxMessage);

FrameScan scanFrame(const std::uint8_t* data, std::size_t available, std::size_t maxFrame)
{
    if (available < kMinFrame)
        return {};
    const std::size_t length = catalog::messageLength(data);
    if (length < kMinFrame || length > kMaxFrame || length > maxFrame)
        return {FrameStatus::Bad, 0};
    if (available < length)
        return {};
    return {FrameStatus::Complete, length};
}

} // namespace tcp
