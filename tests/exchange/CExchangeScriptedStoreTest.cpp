// The conversation against a small scripted store: what it asks of the store, and what it does
// with answers no real catalog gives on demand (a write that fails, a full disk).
#include "exchange/CExchange.h"

#include "app/NodeSettings.h"
#include "exchange/CatalogStore.h"
#include "exchange/NodeContext.h"
#include "support/ScriptedPeer.h"
#include "support/TempDir.h"
#include "wire/MessageBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

using namespace catalog;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Entries to fetch in order, and scripted answers; it records what the conversation handed in.
class ScriptedStore : public CatalogStore
{
public:
    std::vector<CatalogRecord> toFetch;
    bool room = true;
    int storeAnswer = 1;
    std::vector<CatalogRecord> merged;
    std::vector<std::uint32_t> storedOffsets;

    void mergeRecord(CatalogRecord received) override { merged.push_back(received); }
    void mergeDeletion(CatalogRecord received) override { merged.push_back(received); }
    std::vector<CatalogRecord> takePending(const std::string&) override { return {}; }
    void restorePending(const std::string&, const std::vector<CatalogRecord>&) override {}
    void queueSince(const std::string&, std::uint32_t, const plat::SystemTime&) override {}
    void renamePendingFile(const std::string&, const std::string&) override {}
    std::optional<CatalogRecord> firstToFetch() const override
    {
        return toFetch.empty() ? std::nullopt : std::optional(toFetch.front());
    }
    std::optional<CatalogRecord> nextToFetch(const CatalogRecord& record) const override
    {
        auto at = std::find_if(toFetch.begin(), toFetch.end(),
                               [&](const CatalogRecord& r) { return sameVersion(r, record); });
        if (at == toFetch.end() || ++at == toFetch.end())
            return std::nullopt;
        return *at;
    }
    bool roomToFetch(const CatalogRecord&) override { return room; }
    std::optional<CatalogRecord> exactEntry(const CatalogRecord& record) const override
    {
        for (const CatalogRecord& r : toFetch)
            if (sameVersion(r, record))
                return r;
        return std::nullopt;
    }
    int storeChunk(std::uint32_t offset, std::uint32_t, const CatalogRecord&,
                   const std::uint8_t*) override
    {
        storedOffsets.push_back(offset);
        return storeAnswer;
    }
    std::size_t readChunk(const CatalogRecord&, std::uint32_t, std::size_t, std::uint8_t*) override
    {
        return 0;
    }
};

Bytes build(const std::function<std::size_t(std::uint8_t*)>& builder)
{
    Bytes buf(MsgLayout::MaxMessage);
    buf.resize(builder(buf.data()));
    return buf;
}

// The file data requests the exchange queued, as (file name, offset).
std::vector<std::pair<std::string, std::uint32_t>> requests(CExchange& exchange)
{
    std::vector<std::pair<std::string, std::uint32_t>> out;
    Bytes slot(VX_QUE::kSlotSize);
    while (exchange.sendQueue().deqEntry(slot.data())) {
        const ConstMessageHeader h(slot.data());
        if (h.messageClass() == MsgClass::File && h.messageType() == MsgType::FileRequest)
            out.emplace_back(recordAt(slot.data(), 0).fileNameUtf8(), h.fileOffset());
    }
    return out;
}

class CExchangeScriptedStoreTest : public ::testing::Test
{
protected:
    CExchangeScriptedStoreTest() : settings(dir.path())
    {
        settings.setPartyName("PARTY");
        settings.setNodeName("HOME");
        settings.connections().append({"REMOTE", "TCP", "127.0.0.1", {}});
        node.setStore(&store);
        exchange.setWindowLimit(1, 1000);
    }
    ~CExchangeScriptedStoreTest() override { node.setStore(nullptr); }

    CatalogRecord incomplete(const std::string& name, std::uint32_t size)
    {
        CatalogRecord r = makeTestRecord("REMOTE", "PARTY", name, size);
        r.setCompleteFlag(0);
        r.setBytesReceived(0);
        return r;
    }

    Bytes chunkFor(const CatalogRecord& record, std::uint32_t offset, std::size_t n)
    {
        const Bytes content(n, 0x5a);
        return build([&](std::uint8_t* b) { return buildFileData(b, record, offset, content); });
    }

    TempDir dir;
    NodeSettings settings;
    ScriptedStore store;
    NodeContext node{settings};
    CExchange exchange{node, "REMOTE"};
};

// A chunk the store cannot write (a failing disk) ends that download; the conversation goes on
// with the next entry instead of asking for the same bytes again.
TEST_F(CExchangeScriptedStoreTest, ChunkTheStoreCannotWriteMovesOnToTheNextFile)
{
    store.toFetch = {incomplete("a.bin", 50000), incomplete("b.bin", 50000)};
    exchange.requestFirstFile();
    ASSERT_EQ(requests(exchange),
              (std::vector<std::pair<std::string, std::uint32_t>>{{"a.bin", 0}}));

    store.storeAnswer = 0;
    const Bytes chunk = chunkFor(store.toFetch[0], 0, 1000);
    exchange.onFileData(chunk.data(), chunk.size());
    EXPECT_EQ(store.storedOffsets, std::vector<std::uint32_t>{0});
    EXPECT_EQ(requests(exchange),
              (std::vector<std::pair<std::string, std::uint32_t>>{{"b.bin", 0}}));
}

// Without room on the receiving disk nothing is asked for and no entry is claimed, so another
// connection of the node may fetch it once there is room.
TEST_F(CExchangeScriptedStoreTest, FullDiskAsksForNothing)
{
    store.toFetch = {incomplete("a.bin", 50000)};
    store.room = false;
    exchange.requestFirstFile();
    EXPECT_TRUE(requests(exchange).empty());
    EXPECT_FALSE(exchange.downloading());
    EXPECT_FALSE(node.claims().claimedByOther(store.toFetch[0], nullptr));
}

// Records of a batch reach the store only when whole: a record whose checksum fails or that is
// not valid is dropped before the store sees it.
TEST_F(CExchangeScriptedStoreTest, BatchHandsTheStoreOnlySoundRecords)
{
    CatalogRecord good = makeTestRecord("REMOTE", "PARTY", "good.txt", 10);
    CatalogRecord altered = makeTestRecord("REMOTE", "PARTY", "altered.txt", 10);
    altered.bytes[200] ^= 1;
    CatalogRecord unsafe = makeTestRecord("REMOTE", "PARTY", "x.txt", 10);
    unsafe.setOriginNodeCp932("..");
    stampChecksum(unsafe);
    const std::vector<CatalogRecord> records{altered, good, unsafe};
    const Bytes batch = build([&](std::uint8_t* b) { return buildCatalogBatch(b, records); });
    exchange.onCatalogBatch(batch.data(), batch.size());
    ASSERT_EQ(store.merged.size(), 1u);
    EXPECT_EQ(store.merged[0].fileNameUtf8(), "good.txt");
}

} // namespace
