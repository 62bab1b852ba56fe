#include "tcp/TcpFrame.h"

#include "platform/Bytes.h"

#include <gtest/gtest.h>

#include <vector>

using tcp::FrameStatus;

namespace {

struct FrameCase
{
    const char* name;
    std::uint16_t headerLength;
    std::uint16_t bodyLength;
    std::size_t available;
    FrameStatus status;
    std::size_t length;
};

class TcpFrameTest : public ::testing::TestWithParam<FrameCase>
{
};

TEST_P(TcpFrameTest, ScansOneFrame)
{
    const FrameCase& c = GetParam();
    std::vector<std::uint8_t> bytes(c.available + 1, 0);
    if (bytes.size() >= 4) {
        plat::putU16(bytes.data(), c.headerLength);
        plat::putU16(bytes.data() + 2, c.bodyLength);
    }
    const tcp::FrameScan scan = tcp::scanFrame(bytes.data(), c.available);
    EXPECT_EQ(scan.status, c.status);
    EXPECT_EQ(scan.length, c.length);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, TcpFrameTest,
    ::testing::Values(
        FrameCase{"FewerThanAHeader", 48, 0, 47, FrameStatus::NeedMore, 0},
        FrameCase{"HeaderAlone", 48, 0, 48, FrameStatus::Complete, 48},
        FrameCase{"BodyMissingItsLastByte", 48, 1032, 1079, FrameStatus::NeedMore, 0},
        FrameCase{"HelloWithTheNextFrameBehind", 48, 1032, 2000, FrameStatus::Complete, 1080},
        FrameCase{"LargestMessage", 257, 65535, 65792, FrameStatus::Complete, 65792},
        FrameCase{"OneByteOverTheLargest", 258, 65535, 65793, FrameStatus::Bad, 0},
        FrameCase{"BothFieldsAtTheirMaximum", 65535, 65535, 70000, FrameStatus::Bad, 0},
        FrameCase{"LengthsZero", 0, 0, 48, FrameStatus::Bad, 0},
        FrameCase{"LengthsBelowAHeader", 10, 37, 48, FrameStatus::Bad, 0},
        // Only the sum counts here; the message checks reject a header length other than 48.
        FrameCase{"OddSplitOfAValidSum", 0, 48, 48, FrameStatus::Complete, 48}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
