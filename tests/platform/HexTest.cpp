#include "platform/Hex.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using plat::appendHex;
using plat::hexToBytes;

namespace {

struct HexCase
{
    const char* text;
    std::vector<std::uint8_t> bytes;
    const char* printed;
    bool digitsOnly;
};

} // namespace

TEST(Hex, HexToBytes)
{
    const HexCase cases[] = {
        {"0aFF", {10, 255}, "", true},
        {"0g", {0}, "", false},
        {"zz7f", {0, 0x7F}, "", false},
        {"", {}, "", true},
        {"abc", {}, "受信データの文字数が奇数です\n", true},
    };
    for (const auto& c : cases) {
        std::uint8_t out[8] = {};
        testing::internal::CaptureStdout();
        const std::size_t n = hexToBytes(c.text, out, sizeof out);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << c.text;
        EXPECT_EQ(std::vector<std::uint8_t>(out, out + n), c.bytes) << c.text;
        EXPECT_EQ(plat::isHexDigits(c.text), c.digitsOnly) << c.text;
    }
}

TEST(Hex, HexToBytesNeverWritesPastTheBuffer)
{
    std::uint8_t out[3] = {7, 7, 7};
    testing::internal::CaptureStdout();
    EXPECT_EQ(hexToBytes("01020304", out, 2), 0u);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(out[2], 7);
    EXPECT_EQ(out[0], 7);
    EXPECT_EQ(hexToBytes("0102", out, 2), 2u);
    EXPECT_EQ(out[2], 7);
}

TEST(Hex, AppendHexIsTheInverseOfHexToBytes)
{
    std::vector<std::uint8_t> bytes(256);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i);
    std::string text = "WRITE ";
    appendHex(text, bytes.data(), bytes.size());
    EXPECT_EQ(text.substr(0, 12), "WRITE 000102");
    EXPECT_EQ(text.substr(text.size() - 4), "feff");
    std::vector<std::uint8_t> back(bytes.size());
    ASSERT_EQ(hexToBytes(std::string_view(text).substr(6), back.data(), back.size()), bytes.size());
    EXPECT_EQ(back, bytes);
}
