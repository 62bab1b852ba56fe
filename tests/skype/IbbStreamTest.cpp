#include "IbbStream.h"
#include "WriteFraming.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// How a program's writes cross an in-band bytestream: framed, cut into blocks, acknowledged.
namespace {

std::span<const std::uint8_t> bytes(const std::string& s)
{
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(IbbStreamTest, WritesCrossWholeAndAcknowledgementsFinishThemInOrder)
{
    IbbStream out(1, "app", "bob@x/r", "s", 7, true);
    IbbStream in(1, "app", "alice@x/r", "s", 7, true);
    // A node's hex text travels as its bytes; other text as it is; both come back the same.
    const std::vector<std::string> writes = {"00ff10ab", "hello world", "0", "ABCD", "a"};
    for (const auto& w : writes)
        out.write(w);

    std::vector<std::string> received;
    std::vector<std::uint16_t> inFlight;
    int finished = 0;
    while (!out.idle()) {
        while (out.blockReady()) {
            std::uint16_t seq = 0;
            const std::string block = out.takeBlock(seq);
            ASSERT_LE(block.size(), 7u);
            ASSERT_EQ(in.receive(seq, bytes(block), received), IbbStream::Received::Ok);
            inFlight.push_back(seq);
        }
        ASSERT_LE(inFlight.size(), IbbStream::Window);
        // Acknowledged last to first: nothing is finished before the oldest block is.
        for (std::size_t i = inFlight.size(); i-- > 1;)
            EXPECT_EQ(out.acknowledged(inFlight[i]), 0);
        const int done = out.acknowledged(inFlight[0]);
        ASSERT_GE(done, 0);
        finished += done;
        EXPECT_EQ(out.acknowledged(inFlight[0]), -1); // twice is no acknowledgement
        inFlight.clear();
    }
    EXPECT_EQ(received, writes);
    EXPECT_EQ(finished, int(writes.size()));
    EXPECT_EQ(WriteFraming::encode("00ff10ab").size(), sizeof(WriteFrameHeader) + 4);
}

TEST(IbbStreamTest, BlocksThatCannotBeTrustedAreRefused)
{
    const std::string good = WriteFraming::encode("hi");
    struct Case
    {
        const char* what;
        std::uint16_t seq;
        std::string block;
        IbbStream::Received expected;
    };
    const std::vector<Case> cases = {
        {"sequence skipped", 1, good, IbbStream::Received::OutOfSequence},
        {"longer than the block size", 0, std::string(17, 'a'), IbbStream::Received::TooLong},
        {"unknown form", 0, std::string("\x07\x01\0\0\0x", 6), IbbStream::Received::BadFrame},
        {"text with a zero byte", 0, std::string("\x00\x02\0\0\0a\0", 7),
         IbbStream::Received::BadFrame},
        {"length beyond a write", 0, std::string("\x00\x01\x00\x10\x00", 5),
         IbbStream::Received::BadFrame},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        IbbStream in(1, "app", "p", "s", 16, true);
        std::vector<std::string> texts;
        EXPECT_EQ(in.receive(c.seq, bytes(c.block), texts), c.expected);
        EXPECT_TRUE(texts.empty());
    }
}

} // namespace
