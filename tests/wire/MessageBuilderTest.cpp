#include "wire/MessageBuilder.h"

#include "platform/Bytes.h"

#include <gtest/gtest.h>

#include <vector>

using namespace catalog;

namespace {

struct Buffer
{
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(MsgLayout::MaxMessage, 0xAA);
    std::uint8_t* data() { return bytes.data(); }
};

CatalogRecord numbered(std::uint8_t n)
{
    CatalogRecord r;
    r.setRecordLength(CatalogRecord::Size);
    r.setOriginNodeCp932("node");
    r.bytes[RecordLayout::Reserved2] = n;
    return r;
}

} // namespace

TEST(MessageBuilder, CommonHeaderFields)
{
    Buffer b;
    ASSERT_EQ(buildCatalogRequest(b.data()), 48u);
    EXPECT_EQ(plat::getU32(b.data() + 4), 0x00020002u);
    const ConstMessageHeader h(b.data());
    EXPECT_EQ(h.headerLength(), 48);
    EXPECT_EQ(h.messageClass(), 3);
    EXPECT_EQ(h.messageType(), 0);
    EXPECT_EQ(h.recordCount(), 0u);
    EXPECT_EQ(h.sequence(), 0u);
    for (std::size_t i = 12; i < 48; ++i)
        EXPECT_EQ(b.bytes[i], 0) << "byte " << i;
    EXPECT_EQ(messageLength(b.data()), 48u);
}

TEST(MessageBuilder, CatalogBatchSizes)
{
    std::vector<CatalogRecord> recs;
    for (std::uint8_t i = 0; i < 13; ++i)
        recs.push_back(numbered(i));

    Buffer b;
    ASSERT_EQ(buildCatalogBatch(b.data(), std::span(recs).first(12)), 48u + 9840u);
    const ConstMessageHeader h(b.data());
    EXPECT_EQ(h.bodyLength(), 9840);
    EXPECT_EQ(h.recordCount(), 12u);
    EXPECT_EQ(recordAt(b.data(), 11), recs[11]);

    ASSERT_EQ(buildCatalogBatch(b.data(), {}), 48u);
    EXPECT_EQ(ConstMessageHeader(b.data()).bodyLength(), 0);
    EXPECT_EQ(ConstMessageHeader(b.data()).recordCount(), 0u);

    EXPECT_EQ(buildCatalogBatch(b.data(), recs), 0u);
}

TEST(MessageBuilder, HelloLayout)
{
    Buffer b;
    const plat::SystemTime since{2024, 4, 1, 1, 0, 0, 0, 0};
    ASSERT_EQ(buildHello(b.data(), "nodeA", "party1", SyncMode::Since, since), 1080u);
    EXPECT_EQ(ConstMessageHeader(b.data()).bodyLength(), 1032);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b.data() + 112)), "party1");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b.data() + 60)), "nodeA");
    EXPECT_EQ(plat::getU32(b.data() + 92), 2u);
    EXPECT_EQ(plat::getU16(b.data() + 96), 2024);
    EXPECT_EQ(b.bytes[1080], 0xAA) << "nothing written past the message";

    const HelloBody h = HelloBody::read(b.data());
    EXPECT_EQ(h.nodeNameCp932, "nodeA");
    EXPECT_EQ(h.partyNameCp932, "party1");
    EXPECT_EQ(h.syncMode, SyncMode::Since);
    EXPECT_EQ(h.since, since);
    EXPECT_EQ(h.nameBinding, 0u);
    for (std::size_t i = 136; i < 1080; ++i)
        ASSERT_EQ(b.bytes[i], 0) << "byte " << i;
}

TEST(MessageBuilder, FileRequestAndData)
{
    CatalogRecord r = numbered(1);
    plat::FindRecord f;
    f.setSize((std::uint64_t(1) << 32) + 128000);
    r.setFileDescription(f);
    r.setBytesReceived(51200);

    Buffer b;
    ASSERT_EQ(buildFileDataRequest(b.data(), r), 868u);
    ConstMessageHeader h(b.data());
    EXPECT_EQ(h.messageClass(), 4);
    EXPECT_EQ(h.messageType(), 4);
    EXPECT_EQ(h.recordCount(), 1u);
    EXPECT_EQ(h.fileOffset(), 51200u);
    EXPECT_EQ(h.chunkLength(), 0u);
    EXPECT_EQ(h.fileSize(), 128000u);
    EXPECT_EQ(recordAt(b.data(), 0), r);

    const std::vector<std::uint8_t> chunk(51200, 7);
    ASSERT_EQ(buildFileData(b.data(), r, 51200, chunk), 48u + 820u + 51200u);
    EXPECT_EQ(h.messageType(), 6);
    EXPECT_EQ(h.chunkLength(), 51200u);
    EXPECT_EQ(h.bodyLength(), 820 + 51200);
    EXPECT_EQ(b.bytes[868], 7);
    EXPECT_EQ(checkMessage(b.data(), 868 + 51200), MessageCheck::Ok);

    const std::vector<std::uint8_t> tooBig(MaxChunkRoom + 1, 1);
    EXPECT_EQ(buildFileData(b.data(), r, 0, tooBig), 0u);
}

TEST(MessageBuilder, KeepAliveIsHeaderOnly)
{
    Buffer b;
    ASSERT_EQ(buildKeepAlive(b.data()), 48u);
    EXPECT_EQ(ConstMessageHeader(b.data()).messageClass(), 0);
    EXPECT_EQ(ConstMessageHeader(b.data()).messageType(), 0);
}

// Received headers are bounded before any count or offset in them is used.
TEST(MessageBuilder, CheckMessageBoundsPeerInput)
{
    struct Case
    {
        const char* what;
        std::uint16_t headerLength, bodyLength, cls, type;
        std::uint32_t count, chunk;
        std::size_t available;
        MessageCheck expected;
    };
    const Case cases[] = {
        {"short header", 48, 0, 3, 0, 0, 0, 47, MessageCheck::Incomplete},
        {"body not all there", 48, 820, 3, 2, 1, 0, 48 + 819, MessageCheck::Incomplete},
        {"header length not 48", 40, 0, 3, 0, 0, 0, 48, MessageCheck::Bad},
        {"largest body", 48, 65535, 9, 0, 0, 0, 48 + 65535, MessageCheck::Ok},
        // An over-stated record count is bounded by the body where it is read, not refused.
        {"count beyond body", 48, 820, 3, 2, 2, 0, 48 + 820, MessageCheck::Ok},
        {"huge count", 48, 820, 3, 2, 0xFFFFFFFF, 0, 48 + 820, MessageCheck::Ok},
        {"batch of one", 48, 820, 3, 2, 1, 0, 48 + 820, MessageCheck::Ok},
        {"short hello", 48, 100, 2, 8, 0, 0, 148, MessageCheck::Bad},
        {"file data without record", 48, 100, 4, 6, 1, 0, 148, MessageCheck::Bad},
        {"chunk length lies", 48, 820 + 10, 4, 6, 1, 5000, 48 + 830, MessageCheck::Bad},
        {"file data", 48, 820 + 10, 4, 6, 1, 10, 48 + 830, MessageCheck::Ok},
        {"unknown class", 48, 0, 7, 1, 0, 0, 48, MessageCheck::Ok},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> msg(std::max<std::size_t>(c.available, 48), 0);
        plat::putU16(&msg[0], c.headerLength);
        plat::putU16(&msg[2], c.bodyLength);
        plat::putU16(&msg[8], c.cls);
        plat::putU16(&msg[10], c.type);
        plat::putU32(&msg[12], c.count);
        plat::putU32(&msg[20], c.chunk);
        EXPECT_EQ(checkMessage(msg.data(), c.available), c.expected) << c.what;
    }
}
