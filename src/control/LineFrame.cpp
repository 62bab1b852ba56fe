#include "control/LineFrame.h"

namespace LineFrame {

Result next(std::string_view buffer, std::size_t maxLine)
{
    const std::size_t end = buffer.find('\n');
    if (end == std::string_view::npos)
        return {buffer.size() > maxLine ? Status::TooLong : Status::NeedMore, 0};
    if (end > maxLine)
        return {Status::TooLong, 0};
    return {Status::Complete, end};
}

} // namespace LineFrame
