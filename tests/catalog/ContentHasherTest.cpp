#include "support/TempDir.h"

#include "catalog/ContentHasher.h"
#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

std::string hex(const ContentHasher::Digest& d)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : d) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

} // namespace

TEST(ContentHasher, HashesFilesInOrderOnLaterTurnsAndHonoursCancel)
{
    TempDir dir;
    std::ofstream(dir.file("abc"), std::ios::binary) << "abc";
    {
        // Several blocks, so that the file takes more than one read.
        std::ofstream big(dir.file("big"), std::ios::binary);
        const std::string block(ContentHasher::kBlock, 'x');
        for (int i = 0; i < 3; ++i)
            big << block;
        big << "tail";
    }
    ContentHasher hasher;
    std::vector<std::string> order;
    std::optional<ContentHasher::Digest> abc, big, missing{ContentHasher::Digest{}};
    hasher.start(dir.file("abc"), [&](const auto& d) {
        order.push_back("abc");
        abc = d;
    });
    const auto dropped = hasher.start(dir.file("abc"), [&](const auto&) { order.push_back("x"); });
    hasher.start(dir.file("big"), [&](const auto& d) {
        order.push_back("big");
        big = d;
    });
    hasher.start(dir.file("none"), [&](const auto& d) {
        order.push_back("none");
        missing = d;
    });
    hasher.cancel(dropped);
    EXPECT_TRUE(order.empty());
    ASSERT_TRUE(plat::runUntil([&] { return !hasher.busy(); }, 20000));
    EXPECT_EQ(order, (std::vector<std::string>{"abc", "big", "none"}));
    ASSERT_TRUE(abc);
    EXPECT_EQ(hex(*abc), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(big, ContentHasher::hashFile(dir.file("big")));
    EXPECT_FALSE(missing);
    EXPECT_EQ(hasher.bytesHashed(), 3u + 3 * ContentHasher::kBlock + 4);
}
