#include "exchange/CExchange.h"

#include "app/NodeSettings.h"
#include "catalog/CCatalog.h"
#include "exchange/NodeContext.h"
#include "platform/Bytes.h"
#include "platform/Files.h"
#include "support/ScriptedPeer.h"
#include "support/TempDir.h"
#include "wire/HelloBody.h"
#include "wire/MessageBuilder.h"

#include <gtest/gtest.h>

#include <ctime>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

using namespace catalog;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A message exactly as long as it is, so reading past it trips the address sanitizer.
Bytes build(const std::function<std::size_t(std::uint8_t*)>& builder)
{
    Bytes buf(MsgLayout::MaxMessage);
    buf.resize(builder(buf.data()));
    return buf;
}

Bytes batchOf(const std::vector<CatalogRecord>& records)
{
    return build([&](std::uint8_t* b) { return buildCatalogBatch(b, records); });
}

Bytes helloFrom(const std::string& node, const std::string& party, std::uint32_t mode = 0,
                const plat::SystemTime& since = {})
{
    return build([&](std::uint8_t* b) { return buildHello(b, node, party, mode, since); });
}

Bytes pattern(std::size_t size)
{
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xff);
    return b;
}

void writeFile(const std::string& path, const Bytes& content)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()),
               static_cast<std::streamsize>(content.size()));
}

Bytes readFile(const std::string& path)
{
    Bytes out;
    plat::readWholeFile(path, out);
    return out;
}

plat::SystemTime dateOf(int year, int month, int day)
{
    plat::SystemTime t;
    t.year = static_cast<std::uint16_t>(year);
    t.month = static_cast<std::uint16_t>(month);
    t.day = static_cast<std::uint16_t>(day);
    t.hour = 12;
    return t;
}

class CExchangeTest : public ::testing::Test
{
protected:
    CExchangeTest() : settings(dir.path())
    {
        settings.setPartyName("PARTY");
        settings.setNodeName("HOME");
        settings.connections().append({"REMOTE", "TCP", "127.0.0.1", {}});
        settings.connections().append({"OTHER", "TCP", "127.0.0.2", {}});
        m_catalog = std::make_unique<CCatalog>(node, true);
        // The request window reads request-to-answer times: a clock that stands still keeps
        // the tests that are not about time from depending on the machine's speed.
        CExchange::setClock([this] { return clockNow; });
    }
    ~CExchangeTest() override { CExchange::setClock({}); }

    CCatalog& catalog() { return *m_catalog; }

    CatalogRecord remoteRecord(const std::string& name, std::uint32_t size,
                               const std::string& origin = "REMOTE")
    {
        return makeTestRecord(origin, settings.getPartyName(), name, size);
    }

    // Every message the exchange queued, oldest first; the queue is empty afterwards.
    static std::vector<Bytes> drain(CExchange& exchange)
    {
        std::vector<Bytes> out;
        Bytes slot(VX_QUE::kSlotSize);
        while (exchange.sendQueue().deqEntry(slot.data()))
            out.emplace_back(slot.begin(), slot.begin() + static_cast<std::ptrdiff_t>(
                                                              messageLength(slot.data())));
        return out;
    }

    static std::optional<Bytes> single(CExchange& exchange)
    {
        auto all = drain(exchange);
        if (all.size() != 1)
            return std::nullopt;
        return all.front();
    }

    static bool is(const Bytes& m, std::uint16_t cls, std::uint16_t type)
    {
        const ConstMessageHeader h(m.data());
        return h.messageClass() == cls && h.messageType() == type;
    }

    // The records of the batch the exchange answers to a catalog request for peer (on a
    // connection that stays, so nothing is owed again when it ends).
    std::vector<CatalogRecord> batchFor(const std::string& peer)
    {
        const Bytes request = build(buildCatalogRequest);
        server.onCatalogRequest(request.data(), request.size(), peer);
        const auto answer = single(server);
        if (!answer || !is(*answer, MsgClass::Catalog, MsgType::CatalogBatch))
            return {};
        std::vector<CatalogRecord> records;
        for (std::uint32_t i = 0; i < ConstMessageHeader(answer->data()).recordCount(); ++i)
            records.push_back(recordAt(answer->data(), i));
        return records;
    }

    CExchange::Clock::time_point clockNow = CExchange::Clock::now();
    TempDir dir;
    NodeSettings settings;
    NodeContext node{settings};
    std::unique_ptr<CCatalog> m_catalog;
    CExchange exchange{node, "REMOTE"};
    CExchange server{node};
};

TEST_F(CExchangeTest, HelloCarriesNamesAndSyncRequest)
{
    exchange.sendHello(SyncMode::Since, dateOf(2026, 4, 1));
    exchange.sendCatalogRequest();
    const auto sent = drain(exchange);
    ASSERT_EQ(sent.size(), 2u);
    ASSERT_EQ(sent[0].size(), HelloLayout::MessageSize);
    ASSERT_TRUE(is(sent[0], MsgClass::Hello, MsgType::Hello));
    const HelloBody hello = HelloBody::read(sent[0].data());
    EXPECT_EQ(hello.nodeNameCp932, "HOME");
    EXPECT_EQ(hello.partyNameCp932, "PARTY");
    EXPECT_EQ(hello.syncMode, SyncMode::Since);
    EXPECT_EQ(hello.since.day, 1);
    EXPECT_EQ(sent[1].size(), MsgLayout::HeaderSize);
    EXPECT_TRUE(is(sent[1], MsgClass::Catalog, MsgType::CatalogRequest));
}

// A sync request is honoured only in a hello of this party, and only for the configured peer of
// this connection (the exchange serves REMOTE; OTHER is configured too).
TEST_F(CExchangeTest, HelloPartyCheckGatesSyncRequest)
{
    catalog().mergeRecord(remoteRecord("third.txt", 10, "THIRD"));
    ASSERT_EQ(catalog().count(), 1);
    struct Row
    {
        const char* party;
        const char* node;
        bool matches;
        std::size_t queued;
    };
    const Row rows[] = {
        {"PARTX", "REMOTE", false, 0}, {"PART", "REMOTE", false, 0}, {"PARTY", "STRANGER", true, 0},
        {"PARTY", "OTHER", true, 0},   {"PARTY", "REMOTE", true, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.party) + "/" + row.node);
        const Bytes hello = helloFrom(row.node, row.party, SyncMode::All);
        const auto result = exchange.onHello(hello.data(), hello.size(), true, "127.0.0.1");
        EXPECT_EQ(result.partyMatches, row.matches);
        EXPECT_FALSE(result.peerRenamed);
        EXPECT_EQ(batchFor(row.node).size(), row.queued);
        EXPECT_FALSE(plat::fileExists(plat::joinPath(catalog().catalogFolder(), "STRANGER.dat")));
    }
    const Bytes shortHello = build([](std::uint8_t* b) { return buildCatalogRequest(b); });
    EXPECT_FALSE(exchange.onHello(shortHello.data(), shortHello.size(), true, "x").partyMatches);
}

TEST_F(CExchangeTest, SyncSinceDateQueuesEntriesFromThatDay)
{
    const int year = plat::localNow().year;
    struct Entry
    {
        const char* name;
        const char* origin;
        int month, day;
        bool queued;
    };
    const Entry entries[] = {
        {"march.txt", "THIRD", 3, 31, false},
        {"april1.txt", "THIRD", 4, 1, true},
        {"april2.txt", "THIRD", 4, 2, true},
        {"theirs.txt", "REMOTE", 4, 2, false}, // the requester originated it
    };
    for (const Entry& e : entries) {
        CatalogRecord r = remoteRecord(e.name, 10, e.origin);
        r.setRegistrationTime(dateOf(year, e.month, e.day));
        stampChecksum(r);
        catalog().mergeRecord(r);
    }
    ASSERT_EQ(catalog().count(), 4);

    const Bytes hello = helloFrom("REMOTE", "PARTY", SyncMode::Since, dateOf(year, 4, 1));
    ASSERT_TRUE(exchange.onHello(hello.data(), hello.size(), true, "127.0.0.1").partyMatches);
    std::vector<std::string> got;
    for (const CatalogRecord& r : batchFor("REMOTE"))
        got.emplace_back(r.fileNameCp932());
    EXPECT_EQ(got, (std::vector<std::string>{"april1.txt", "april2.txt"}));
}

TEST_F(CExchangeTest, SkypeHelloBindsConfiguredNameAndPendingFile)
{
    settings.connections().append({"OLDNAME", "SKYPE", "alice", {}});
    catalog().queueForPeer(remoteRecord("for-alice.txt", 10, "THIRD"), "OLDNAME");
    const std::string folder = catalog().catalogFolder();
    ASSERT_TRUE(plat::fileExists(plat::joinPath(folder, "OLDNAME.dat")));

    CExchange skype(node, "OLDNAME");
    const Bytes hello = helloFrom("NEWNAME", "PARTY");
    const auto result = skype.onHello(hello.data(), hello.size(), false, "alice");
    EXPECT_TRUE(result.partyMatches);
    EXPECT_TRUE(result.peerRenamed);
    EXPECT_EQ(skype.peerNodeName(), "NEWNAME");
    EXPECT_EQ(settings.connections().records().back().nodeName, "NEWNAME");
    EXPECT_FALSE(plat::fileExists(plat::joinPath(folder, "OLDNAME.dat")));
    const auto batch = batchFor(skype.peerNodeName());
    ASSERT_EQ(batch.size(), 1u);
    EXPECT_EQ(batch[0].fileNameCp932(), "for-alice.txt");
}

// Hellos that must not rebind: the peer's name, the settings and every pending file stay.
TEST_F(CExchangeTest, SkypeHelloRefusesUnsafeOrForeignBindings)
{
    settings.connections().append({"OLDNAME", "SKYPE", "alice", {}});
    catalog().queueForPeer(remoteRecord("for-remote.txt", 10, "THIRD"), "REMOTE");
    struct Row
    {
        const char* why;
        std::string node;
        bool tcp;
        std::uint32_t bindingSwitch;
        const char* skypeId;
    };
    const Row rows[] = {
        {"over TCP", "NEWNAME", true, 0, "alice"},
        {"switch set", "NEWNAME", false, 1, "alice"},
        {"unknown Skype ID", "NEWNAME", false, 0, "mallory"},
        {"another connection's name", "REMOTE", false, 0, "alice"},
        {"this node's name", "HOME", false, 0, "alice"},
        {"path in name", "../x", false, 0, "alice"},
        {"cut double-byte name", "AB\x82", false, 0, "alice"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        CExchange skype(node, "OLDNAME");
        Bytes hello = helloFrom(row.node, "PARTY");
        plat::putU32(hello.data() + HelloLayout::NameBinding, row.bindingSwitch);
        const auto result = skype.onHello(hello.data(), hello.size(), row.tcp, row.skypeId);
        EXPECT_TRUE(result.partyMatches);
        EXPECT_FALSE(result.peerRenamed);
        EXPECT_EQ(skype.peerNodeName(), "OLDNAME");
        EXPECT_EQ(settings.connections().records().back().nodeName, "OLDNAME");
        EXPECT_EQ(settings.connections().records().front().nodeName, "REMOTE");
    }
    EXPECT_EQ(batchFor("REMOTE").size(), 1u);
}

TEST_F(CExchangeTest, BatchWithBadChecksumMergesTheRestAndAsksAgain)
{
    std::vector<CatalogRecord> records;
    for (int i = 0; i < 12; ++i)
        records.push_back(remoteRecord("file" + std::to_string(i) + ".txt", 100));
    records[2].bytes[RecordLayout::Reserved2] ^= 1;
    const Bytes batch = batchOf(records);
    ASSERT_EQ(batch.size(), MsgLayout::HeaderSize + 12 * CatalogRecord::Size);

    exchange.onCatalogBatch(batch.data(), batch.size());
    EXPECT_EQ(catalog().count(), 11);
    EXPECT_FALSE(catalog().hasEntry("REMOTE", "file2.txt", nullptr));
    const auto sent = single(exchange);
    ASSERT_TRUE(sent);
    EXPECT_TRUE(is(*sent, MsgClass::Catalog, MsgType::CatalogRequest));
}

// The record count is the peer's word: the body that really arrived and the batch limit bound it.
TEST_F(CExchangeTest, BatchCountIsBoundedByBodyAndBatchLimit)
{
    struct Row
    {
        std::size_t inBody;
        std::uint32_t count;
        std::size_t frameRecords; // records the frame really holds
        int merged;
    };
    const Row rows[] = {
        {2, 12, 2, 2},    // count larger than the body
        {20, 20, 20, 12}, // more than a batch may carry
        {12, 12, 3, 3},   // body length claims more than the frame
    };
    int base = 0;
    int label = 0;
    for (const Row& row : rows) {
        ++label;
        SCOPED_TRACE(row.count);
        Bytes msg(MsgLayout::HeaderSize + row.inBody * CatalogRecord::Size);
        MessageHeader h(msg.data());
        h.init(MsgClass::Catalog, MsgType::CatalogBatch);
        h.setRecordCount(row.count);
        h.setBodyLength(static_cast<std::uint16_t>(row.inBody * CatalogRecord::Size));
        for (std::size_t i = 0; i < row.inBody; ++i)
            putRecordAt(msg.data(), i,
                        remoteRecord("row" + std::to_string(label) + "-" + std::to_string(i), 1));
        msg.resize(MsgLayout::HeaderSize + row.frameRecords * CatalogRecord::Size);
        exchange.onCatalogBatch(msg.data(), msg.size());
        EXPECT_EQ(catalog().count(), base + row.merged);
        base = catalog().count();
        const auto sent = single(exchange);
        ASSERT_TRUE(sent);
        EXPECT_TRUE(is(*sent, MsgClass::Catalog, MsgType::CatalogRequest));
    }
}

TEST_F(CExchangeTest, RecordsWithUnsafeNamesAreDropped)
{
    const std::string bad[] = {"",    ".", "..", "a/b", "../../etc", std::string("a\x01") + "b",
                               "\x82"};
    std::vector<CatalogRecord> records;
    for (const std::string& name : bad) {
        CatalogRecord asFile = remoteRecord("x", 1);
        plat::FindRecord f = asFile.fileDescription();
        f.setNameCp932(name);
        asFile.setFileDescription(f);
        stampChecksum(asFile);
        records.push_back(asFile);
        CatalogRecord asOrigin = remoteRecord("y" + std::to_string(records.size()), 1);
        asOrigin.setOriginNodeCp932(name);
        stampChecksum(asOrigin);
        records.push_back(asOrigin);
    }
    records.push_back(remoteRecord("good.txt", 1));
    for (std::size_t at = 0; at < records.size(); at += MaxBatchRecords) {
        const std::size_t end = std::min(records.size(), at + MaxBatchRecords);
        const Bytes batch = batchOf({records.begin() + static_cast<std::ptrdiff_t>(at),
                                     records.begin() + static_cast<std::ptrdiff_t>(end)});
        exchange.onCatalogBatch(batch.data(), batch.size());
    }
    ASSERT_EQ(catalog().count(), 1);
    EXPECT_EQ(catalog().getRecord(0).fileNameCp932(), "good.txt");
}

TEST_F(CExchangeTest, EmptyBatchRequestsFirstIncompleteFile)
{
    const CatalogRecord wanted = remoteRecord("wanted.bin", 5000);
    const Bytes batch = batchOf({wanted});
    exchange.onCatalogBatch(batch.data(), batch.size());
    drain(exchange);

    const Bytes empty = batchOf({});
    ASSERT_EQ(empty.size(), MsgLayout::HeaderSize);
    exchange.onCatalogBatch(empty.data(), empty.size());
    const auto sent = single(exchange);
    ASSERT_TRUE(sent);
    ASSERT_TRUE(is(*sent, MsgClass::File, MsgType::FileRequest));
    const ConstMessageHeader h(sent->data());
    EXPECT_EQ(h.fileOffset(), 0u);
    EXPECT_EQ(h.fileSize(), 5000u);
    EXPECT_EQ(h.recordCount(), 1u);
    EXPECT_EQ(recordAt(sent->data(), 0).fileNameCp932(), "wanted.bin");
}

TEST_F(CExchangeTest, CatalogRequestIsAnsweredEvenWhenNothingIsPending)
{
    EXPECT_TRUE(batchFor("REMOTE").empty());
    CExchange server{node};
    const Bytes request = build(buildCatalogRequest);
    server.onCatalogRequest(request.data(), request.size(), "REMOTE");
    const auto answer = single(server);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->size(), MsgLayout::HeaderSize);
    EXPECT_EQ(ConstMessageHeader(answer->data()).recordCount(), 0u);
}

// Serving an own file: never more than the chunk size, the room in a message, or the file.
TEST_F(CExchangeTest, FileRequestAnswerIsBoundedByChunkRoomAndFile)
{
    const std::uint32_t size = 128000;
    const Bytes content = pattern(size);
    writeFile(plat::joinPath(settings.getSendFolder(), "big.bin"), content);
    catalog().addLocal(makeTestRecord("HOME", "PARTY", "big.bin", size));
    const CatalogRecord own = catalog().getRecord(0);

    struct Row
    {
        std::size_t chunkSize;
        std::uint32_t offset;
        std::size_t expected;
    };
    const Row rows[] = {
        {51200, 0, 51200},      {10240, 0, 10240}, {20480, 122880, 5120},
        {51200, 102400, 25600}, {51200, size, 0},  {100000, 0, MaxChunkRoom},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.chunkSize) + "@" + std::to_string(row.offset));
        CatalogRecord asked = own;
        asked.setBytesReceived(row.offset);
        const Bytes request =
            build([&](std::uint8_t* b) { return buildFileDataRequest(b, asked); });
        exchange.onFileRequest(request.data(), request.size(), row.chunkSize);
        const auto answer = single(exchange);
        ASSERT_TRUE(answer);
        ASSERT_TRUE(is(*answer, MsgClass::File, MsgType::FileData));
        const ConstMessageHeader h(answer->data());
        EXPECT_EQ(h.chunkLength(), row.expected);
        EXPECT_EQ(h.bodyLength(), CatalogRecord::Size + row.expected);
        EXPECT_EQ(h.fileOffset(), row.offset);
        ASSERT_EQ(answer->size(), MsgLayout::HeaderSize + CatalogRecord::Size + row.expected);
        EXPECT_TRUE(std::equal(answer->begin() + MsgLayout::HeaderSize + CatalogRecord::Size,
                               answer->end(), content.begin() + row.offset));
    }

    // Another version of the file (a later registration) is not served, but still answered.
    CatalogRecord other = own;
    plat::SystemTime later = other.registrationTime();
    later.year = static_cast<std::uint16_t>(later.year + 1);
    other.setRegistrationTime(later);
    const Bytes request = build([&](std::uint8_t* b) { return buildFileDataRequest(b, other); });
    exchange.onFileRequest(request.data(), request.size(), 51200);
    const auto answer = single(exchange);
    ASSERT_TRUE(answer);
    EXPECT_EQ(ConstMessageHeader(answer->data()).chunkLength(), 0u);
}

class CExchangeDownloadTest : public CExchangeTest,
                              public ::testing::WithParamInterface<std::size_t>
{
protected:
    // Merges the records as a batch from REMOTE and drops the follow-up catalog request.
    void receive(const std::vector<CatalogRecord>& records)
    {
        const Bytes batch = batchOf(records);
        exchange.onCatalogBatch(batch.data(), batch.size());
        drain(exchange);
    }

    // The peer's answer to a request: the given bytes of content from the asked offset.
    static Bytes answer(const Bytes& request, const Bytes& content, std::size_t chunkSize)
    {
        const std::uint32_t offset = ConstMessageHeader(request.data()).fileOffset();
        const std::size_t n = std::min<std::size_t>(chunkSize, content.size() - offset);
        return build([&](std::uint8_t* b) {
            return buildFileData(b, recordAt(request.data(), 0), offset,
                                 std::span(content.data() + offset, n));
        });
    }

    std::optional<CatalogRecord> entry(const std::string& name)
    {
        CatalogRecord r;
        if (!catalog().hasEntry("REMOTE", name, &r))
            return std::nullopt;
        return r;
    }

    std::string received(const std::string& name)
    {
        return plat::joinPath(plat::joinPath(settings.getRecvFolder(), "REMOTE"), name);
    }
};

// Two and a half chunks arrive as two full chunks and a half one, each asked for only after the
// previous one was stored; the completed file is then announced to the node's other peers.
TEST_P(CExchangeDownloadTest, FileArrivesChunkByChunkAndIsPassedOn)
{
    const std::size_t chunk = GetParam();
    const Bytes content = pattern(chunk * 5 / 2);
    receive({remoteRecord("big.bin", static_cast<std::uint32_t>(content.size()))});
    exchange.requestFirstFile();

    std::vector<std::uint32_t> offsets;
    while (auto request = single(exchange)) {
        ASSERT_TRUE(is(*request, MsgClass::File, MsgType::FileRequest));
        ASSERT_LT(offsets.size(), 4u);
        offsets.push_back(ConstMessageHeader(request->data()).fileOffset());
        const Bytes data = answer(*request, content, chunk);
        exchange.onFileData(data.data(), data.size());
    }
    const auto c = static_cast<std::uint32_t>(chunk);
    EXPECT_EQ(offsets, (std::vector<std::uint32_t>{0, c, 2 * c}));
    ASSERT_TRUE(entry("big.bin"));
    EXPECT_EQ(entry("big.bin")->completeFlag(), 1u);
    EXPECT_EQ(readFile(received("big.bin")), content);

    const auto forwarded = batchFor("OTHER");
    ASSERT_EQ(forwarded.size(), 1u);
    EXPECT_EQ(forwarded[0].hopCount(), 1);
    EXPECT_EQ(forwarded[0].hopCp932(0), "HOME");
    EXPECT_TRUE(batchFor("REMOTE").empty());
}

INSTANTIATE_TEST_SUITE_P(ChunkSizes, CExchangeDownloadTest,
                         ::testing::Values(std::size_t(51200), std::size_t(10240),
                                           std::size_t(20480)));

using CExchangeWithoutCatalogTest = CExchangeDownloadTest;

// The node builds its catalog after its transports and takes it down before them: a connection
// that is still talking then finds no catalog. A chunk of the download it was running is not
// stored and the download lets go of its entry; requests are answered as from an empty catalog;
// nothing a peer sends is merged. Once a catalog is back, the entry is as it was and free.
TEST_F(CExchangeWithoutCatalogTest, ConnectionsTalkingWhileTheNodeHasNoCatalogStoreNothing)
{
    const Bytes content = pattern(3000);
    const CatalogRecord remote = remoteRecord("late.bin", 3000);
    receive({remote});
    writeFile(plat::joinPath(settings.getSendFolder(), "own.bin"), pattern(100));
    catalog().addLocal(makeTestRecord("HOME", "PARTY", "own.bin", 100));
    const CatalogRecord own = catalog().getRecord(1);
    exchange.requestFirstFile();
    const auto request = single(exchange);
    ASSERT_TRUE(request);
    ASSERT_TRUE(exchange.downloading());

    m_catalog.reset();
    ASSERT_EQ(node.store(), nullptr);
    const Bytes chunk = answer(*request, content, 1000);
    exchange.onFileData(chunk.data(), chunk.size());
    EXPECT_FALSE(exchange.downloading());
    EXPECT_FALSE(plat::fileExists(received("late.bin")));

    const Bytes catalogRequest = build(buildCatalogRequest);
    exchange.onCatalogRequest(catalogRequest.data(), catalogRequest.size(), "REMOTE");
    const auto batch = single(exchange);
    ASSERT_TRUE(batch);
    EXPECT_EQ(ConstMessageHeader(batch->data()).recordCount(), 0u);

    const Bytes fileRequest = build([&](std::uint8_t* b) { return buildFileDataRequest(b, own); });
    exchange.onFileRequest(fileRequest.data(), fileRequest.size(), 51200);
    const auto served = single(exchange);
    ASSERT_TRUE(served);
    EXPECT_EQ(ConstMessageHeader(served->data()).chunkLength(), 0u);

    const Bytes hello = helloFrom("REMOTE", "PARTY", SyncMode::All);
    EXPECT_TRUE(exchange.onHello(hello.data(), hello.size(), true, "127.0.0.1").partyMatches);
    receive({remoteRecord("meanwhile.bin", 10)});
    exchange.requestFirstFile();
    EXPECT_FALSE(exchange.downloading());
    EXPECT_TRUE(drain(exchange).empty());

    m_catalog = std::make_unique<CCatalog>(node, true);
    ASSERT_TRUE(entry("late.bin"));
    EXPECT_EQ(entry("late.bin")->bytesReceived(), 0u);
    EXPECT_FALSE(entry("meanwhile.bin"));
    EXPECT_FALSE(node.claims().claimedByOther(remote, nullptr)) << "the download let go";
}

TEST_F(CExchangeDownloadTest, InterruptedDownloadResumesAtBytesReceived)
{
    const Bytes content = pattern(120000);
    receive({remoteRecord("big.bin", 120000)});
    {
        CExchange lost(node, "REMOTE");
        lost.requestFirstFile();
        const Bytes first = answer(*single(lost), content, 51200);
        lost.onFileData(first.data(), first.size());
    } // the connection was lost; a new one fetches again

    CExchange later(node, "REMOTE");
    later.requestFirstFile();
    const auto request = single(later);
    ASSERT_TRUE(request);
    EXPECT_EQ(ConstMessageHeader(request->data()).fileOffset(), 51200u);
}

// Two connections of one node do not fetch the same entry: the second takes the next one, and
// the first entry is free again once its connection has gone. An answer that another connection
// has already delivered (a peer answering the same chunk) is not stored, and its connection moves
// on.
TEST_F(CExchangeDownloadTest, ConnectionsOfOneNodeFetchDifferentEntries)
{
    const Bytes content = pattern(120000);
    receive({remoteRecord("a.bin", 120000), remoteRecord("b.bin", 300)});
    auto first = std::make_unique<CExchange>(node, "REMOTE");
    CExchange other(node, "OTHER");
    first->requestFirstFile();
    other.requestFirstFile();
    const auto toFirst = single(*first);
    const auto toOther = single(other);
    ASSERT_TRUE(toFirst && toOther);
    EXPECT_EQ(recordAt(toFirst->data(), 0).fileNameCp932(), "a.bin");
    EXPECT_EQ(recordAt(toOther->data(), 0).fileNameCp932(), "b.bin");

    const Bytes chunk0 = answer(*toFirst, content, 51200);
    first->onFileData(chunk0.data(), chunk0.size());
    EXPECT_EQ(entry("a.bin")->bytesReceived(), 51200u);

    // The same first chunk, answered to a third connection that did not ask: behind the bytes
    // received, so not stored; that connection moves on (b.bin is taken, so to nothing).
    CExchange third(node, "OTHER");
    third.onFileData(chunk0.data(), chunk0.size());
    EXPECT_TRUE(drain(third).empty());
    EXPECT_EQ(entry("a.bin")->bytesReceived(), 51200u);

    first.reset();
    third.requestFirstFile();
    const auto resumed = single(third);
    ASSERT_TRUE(resumed);
    EXPECT_EQ(recordAt(resumed->data(), 0).fileNameCp932(), "a.bin");
    EXPECT_EQ(ConstMessageHeader(resumed->data()).fileOffset(), 51200u);
}

// Answers that must not be stored: nothing is written; the connection moves on to the next file
// (the peer cannot serve this one), or, for a chunk ahead of the file while the asked one can
// still come, or a malformed frame, asks nothing at all.
TEST_F(CExchangeDownloadTest, RefusedChunksStoreNothing)
{
    receive({remoteRecord("a.bin", 1000), remoteRecord("b.bin", 300)});
    const CatalogRecord a = *entry("a.bin");
    struct Row
    {
        const char* why;
        std::uint32_t offset;
        std::size_t n;
        std::int64_t chunkFieldDelta; // added to the chunk length field after building
        const char* nextRequest;      // file asked for next, or nothing
    };
    const Row rows[] = {
        {"0-byte answer", 0, 0, 0, "b.bin"},
        {"past the file size", 0, 1000 + 1, 0, "b.bin"},
        {"ahead of bytes received", 500, 100, 0, nullptr},
        {"chunk longer than its body", 0, 100, 1, nullptr},
    };
    Bytes longContent = pattern(2000);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        CExchange link(node, "REMOTE");
        link.requestFirstFile();
        ASSERT_EQ(drain(link).size(), 1u);
        Bytes data = build([&](std::uint8_t* b) {
            return buildFileData(b, a, row.offset,
                                 std::span(longContent.data() + row.offset, row.n));
        });
        MessageHeader(data.data())
            .setChunkLength(static_cast<std::uint32_t>(std::int64_t(row.n) + row.chunkFieldDelta));
        link.onFileData(data.data(), data.size());
        const auto sent = drain(link);
        if (row.nextRequest) {
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_TRUE(is(sent[0], MsgClass::File, MsgType::FileRequest));
            EXPECT_EQ(recordAt(sent[0].data(), 0).fileNameCp932(), row.nextRequest);
            EXPECT_EQ(ConstMessageHeader(sent[0].data()).fileOffset(), 0u);
        } else {
            EXPECT_TRUE(sent.empty());
        }
        EXPECT_EQ(entry("a.bin")->bytesReceived(), 0u);
        EXPECT_FALSE(plat::fileExists(received("a.bin")));
    }
}

// A small file behind a large one in the catalog is fetched beside it, its requests first; many
// small files are asked for within one window instead of one round trip each. Every chunk is
// asked for once.
TEST_F(CExchangeDownloadTest, SmallFilesDoNotWaitBehindLargeOnes)
{
    const Bytes big = pattern(51200 * 30);
    const Bytes small = pattern(60000);
    std::vector<CatalogRecord> records{remoteRecord("big.bin", 51200 * 30)};
    for (int i = 0; i < 8; ++i)
        records.push_back(remoteRecord("s" + std::to_string(i) + ".bin", 60000));
    receive(records);
    CExchange link(node, "REMOTE");
    link.setWindowLimit(CExchange::kMaxWindow, 51200);
    Bytes hello = helloFrom("REMOTE", "PARTY");
    writeHelloFlow(hello.data(), 64, 0);
    link.onHello(hello.data(), hello.size(), true, "127.0.0.1");
    link.requestFirstFile();

    std::deque<Bytes> outstanding;
    std::map<std::string, int> asks;
    std::vector<std::string> order; // files in the order their first chunk was asked
    std::size_t mostFiles = 0;
    for (int guard = 0; guard < 1000; ++guard) {
        for (Bytes& m : drain(link)) {
            const std::string file(recordAt(m.data(), 0).fileNameCp932());
            const std::uint32_t offset = ConstMessageHeader(m.data()).fileOffset();
            ++asks[file + "@" + std::to_string(offset)];
            if (offset == 0)
                order.push_back(file);
            outstanding.push_back(std::move(m));
        }
        std::set<std::string> files;
        for (const Bytes& m : outstanding)
            files.emplace(recordAt(m.data(), 0).fileNameCp932());
        mostFiles = std::max(mostFiles, files.size());
        if (outstanding.empty())
            break;
        const Bytes& request = outstanding.front();
        const bool isBig = recordAt(request.data(), 0).fileNameCp932() == "big.bin";
        const Bytes data = answer(request, isBig ? big : small, 51200);
        outstanding.pop_front();
        link.onFileData(data.data(), data.size());
    }
    ASSERT_GE(order.size(), 2u);
    EXPECT_EQ(order[0], "s0.bin") << "the small file goes first";
    EXPECT_EQ(order[1], "big.bin");
    EXPECT_GT(mostFiles, 2u) << "one window spans several small files";
    for (const auto& [chunk, count] : asks)
        EXPECT_EQ(count, 1) << chunk;
    EXPECT_EQ(readFile(received("big.bin")), big);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(readFile(received("s" + std::to_string(i) + ".bin")), small);
}

// A connection that ends right after answering catalog requests may have left its batches
// unread: their records are owed to the peer again.
TEST_F(CExchangeTest, BatchesOfAConnectionThatEndedAreOwedAgain)
{
    writeFile(plat::joinPath(settings.getSendFolder(), "own.bin"), pattern(100));
    catalog().addLocal(makeTestRecord("HOME", "PARTY", "own.bin", 100));
    {
        CExchange gone(node, "REMOTE");
        const Bytes request = build(buildCatalogRequest);
        gone.onCatalogRequest(request.data(), request.size(), "REMOTE");
        const auto sent = single(gone);
        ASSERT_TRUE(sent);
        EXPECT_EQ(ConstMessageHeader(sent->data()).recordCount(), 1u);
    }
    const auto again = batchFor("REMOTE");
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].fileNameCp932(), "own.bin");
    EXPECT_TRUE(batchFor("REMOTE").empty());
}

// A peer that answers strictly one request at a time, the oldest first. Without the flow block
// in its hello (a node built to the original design) it never has more than the safe window of
// requests outstanding; a Pavo peer's hello lets the window grow past it, up to what it offers.
TEST_F(CExchangeDownloadTest, TheWindowStaysSafeUnlessThePeerOffersMore)
{
    struct Row
    {
        const char* peer;
        std::optional<std::uint16_t> offered; // the hello's flow window; none: no flow block
        int expectedMax;                      // 0: more than the safe window, within the offer
    };
    const Row rows[] = {
        {"design peer", std::nullopt, CExchange::kSafeWindow},
        {"Pavo peer offering 12", 12, 12},
        {"Pavo peer offering 64", 64, 0},
    };
    const Bytes content = pattern(51200 * 40 + 123);
    int fileNo = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.peer);
        const std::string name = "f" + std::to_string(fileNo++) + ".bin";
        receive({remoteRecord(name, static_cast<std::uint32_t>(content.size()))});
        CExchange link(node, "REMOTE");
        link.setWindowLimit(CExchange::kMaxWindow, 51200);
        Bytes hello = helloFrom("REMOTE", "PARTY");
        if (row.offered)
            writeHelloFlow(hello.data(), *row.offered, 0);
        link.onHello(hello.data(), hello.size(), true, "127.0.0.1");
        link.requestFirstFile();

        std::deque<Bytes> outstanding;
        std::vector<std::uint32_t> asked;
        int most = 0;
        for (int guard = 0; guard < 1000; ++guard) {
            for (Bytes& m : drain(link)) {
                ASSERT_TRUE(is(m, MsgClass::File, MsgType::FileRequest));
                asked.push_back(ConstMessageHeader(m.data()).fileOffset());
                outstanding.push_back(std::move(m));
            }
            most = std::max(most, static_cast<int>(outstanding.size()));
            if (outstanding.empty())
                break;
            const Bytes data = answer(outstanding.front(), content, 51200);
            outstanding.pop_front();
            link.onFileData(data.data(), data.size());
        }
        if (row.expectedMax > 0) {
            EXPECT_EQ(most, row.expectedMax);
        } else {
            EXPECT_GT(most, CExchange::kSafeWindow);
            EXPECT_LE(most, static_cast<int>(*row.offered));
        }
        EXPECT_EQ(entry(name)->completeFlag(), 1u);
        EXPECT_EQ(readFile(received(name)), content);
        // Every chunk asked for once, in order.
        for (std::size_t i = 0; i < asked.size(); ++i)
            ASSERT_EQ(asked[i], i * 51200u);
        EXPECT_EQ(asked.size(), 41u);
    }
}

// Answers coming back out of order: a chunk that does not continue the file is never stored; the
// window starts again from the bytes received, and the file still completes intact.
TEST_F(CExchangeDownloadTest, AChunkOutOfOrderIsNeverStored)
{
    const Bytes content = pattern(51200 * 6);
    receive({remoteRecord("o.bin", static_cast<std::uint32_t>(content.size()))});
    CExchange link(node, "REMOTE");
    link.setWindowLimit(CExchange::kMaxWindow, 51200);
    link.requestFirstFile();
    // Grow the window to two requests by answering the first.
    auto first = single(link);
    ASSERT_TRUE(first);
    const Bytes a0 = answer(*first, content, 51200);
    link.onFileData(a0.data(), a0.size());
    auto two = drain(link);
    ASSERT_EQ(two.size(), 2u);
    // The second request's answer arrives first (as a peer that reorders would send it).
    const Bytes late = answer(two[1], content, 51200);
    link.onFileData(late.data(), late.size());
    EXPECT_EQ(entry("o.bin")->bytesReceived(), 51200u);
    Bytes onDisk = readFile(received("o.bin"));
    EXPECT_EQ(onDisk.size(), 51200u);

    // The rest is answered in order until nothing more is asked.
    std::deque<Bytes> outstanding(two.begin(), two.begin() + 1);
    for (Bytes& m : drain(link))
        outstanding.push_back(std::move(m));
    for (int guard = 0; guard < 100 && !outstanding.empty(); ++guard) {
        const Bytes data = answer(outstanding.front(), content, 51200);
        outstanding.pop_front();
        link.onFileData(data.data(), data.size());
        for (Bytes& m : drain(link))
            outstanding.push_back(std::move(m));
    }
    EXPECT_EQ(entry("o.bin")->completeFlag(), 1u);
    EXPECT_EQ(readFile(received("o.bin")), content);
}

// A peer answering the connection's file data requests by a script, against a clock the test
// drives, while the connection's conversations come every 100 ms and its transport ticks every
// 50 ms. The peer answers in the order of the requests, each no sooner than latency after it was
// asked and at most one per spacing; it may answer each twice, hold back the first request until
// it is asked again (then answer it late, before the second asking), or lose one request.
struct ServerScript
{
    const char* name;
    std::uint32_t chunks;
    std::chrono::milliseconds latency;
    std::chrono::milliseconds spacing;
    int copies = 1;
    bool holdFirst = false;
    int lose = -1; // index of a request never answered
};

struct ScriptRun
{
    bool complete = false;
    std::map<std::uint32_t, int> asks; // offset → how often asked
    int mostInFlight = 0;
};

class CExchangeScriptTest : public CExchangeDownloadTest
{
protected:
    using Clock = CExchange::Clock;

    ScriptRun run(const ServerScript& script, const Bytes& content)
    {
        const std::string name = std::string(script.name) + ".bin";
        receive({remoteRecord(name, static_cast<std::uint32_t>(content.size()))});
        Clock::time_point& t = clockNow;
        CExchange link(node, "REMOTE");
        link.setWindowLimit(CExchange::kMaxWindow, 51200);
        Bytes hello = helloFrom("REMOTE", "PARTY");
        writeHelloFlow(hello.data(), 64, 0);
        link.onHello(hello.data(), hello.size(), true, "127.0.0.1");
        link.requestFirstFile();

        struct Asked
        {
            Bytes request;
            Clock::time_point at;
        };
        std::deque<Asked> queue;
        std::optional<Asked> held;
        ScriptRun out;
        int requests = 0;
        Clock::time_point nextAnswer = t;
        const Bytes empty = batchOf({});
        for (int step = 0; step < 60000 && !out.complete; ++step) {
            t += std::chrono::milliseconds(10);
            for (Bytes& m : drain(link)) {
                if (!is(m, MsgClass::File, MsgType::FileRequest))
                    continue;
                const std::uint32_t offset = ConstMessageHeader(m.data()).fileOffset();
                ++out.asks[offset];
                const int index = requests++;
                if (index == script.lose)
                    continue;
                if (script.holdFirst && index == 0) {
                    held = Asked{std::move(m), t};
                    continue;
                }
                if (held && offset == 0) {
                    queue.push_front(Asked{std::move(m), t});
                    queue.push_front(std::move(*held));
                    held.reset();
                    continue;
                }
                queue.push_back(Asked{std::move(m), t});
            }
            out.mostInFlight = std::max(out.mostInFlight, link.inFlight());
            while (!held && !queue.empty() && t >= queue.front().at + script.latency &&
                   t >= nextAnswer) {
                const Bytes data = answer(queue.front().request, content, 51200);
                queue.pop_front();
                for (int c = 0; c < script.copies; ++c)
                    link.onFileData(data.data(), data.size());
                nextAnswer = t + script.spacing;
            }
            if (step % 5 == 0)
                link.tick();
            if (step % 10 == 0)
                link.onCatalogBatch(empty.data(), empty.size());
            out.complete = entry(name)->completeFlag() == 1;
        }
        EXPECT_EQ(readFile(received(name)), content);
        return out;
    }
};

// The table of peers: every chunk is asked once however slowly the peer answers or however fast
// the conversations come; a second answer is dropped without asking anything again; a request
// held back is asked again only once the connection has stalled, and its late answer is still
// used; a lost request is asked again as soon as a later one is answered. The window shrinks
// toward a slow peer (no seconds of requests waiting there) and fills a long fat path.
TEST_F(CExchangeScriptTest, EveryChunkIsAskedOnceUnlessItIsLost)
{
    using ms = std::chrono::milliseconds;
    struct Row
    {
        ServerScript script;
        int askedTwice;   // offsets asked twice (none more often); -1: at most a window's worth
        int inFlightLow;  // the connection had at least this many requests out at some time
        int inFlightHigh; // and never more than this many
    };
    const Row rows[] = {
        {{"slow", 24, ms(0), ms(300)}, 0, 1, 4},
        {{"twice", 24, ms(20), ms(5), 2}, 0, 1, 64},
        {{"late after asked again", 24, ms(20), ms(5), 1, true}, 1, 1, 64},
        {{"loses one", 24, ms(20), ms(5), 1, false, 2}, -1, 1, 64},
        {{"long fat path", 300, ms(100), ms(0)}, 0, 48, 64},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.script.name);
        const Bytes content = pattern(51200 * row.script.chunks - 99);
        const ScriptRun run = this->run(row.script, content);
        EXPECT_TRUE(run.complete);
        ASSERT_EQ(run.asks.size(), row.script.chunks);
        int twice = 0;
        for (const auto& [offset, count] : run.asks) {
            EXPECT_LE(count, 2) << "offset " << offset;
            twice += count == 2 ? 1 : 0;
        }
        if (row.askedTwice >= 0)
            EXPECT_EQ(twice, row.askedTwice);
        else
            EXPECT_LE(twice, 64);
        EXPECT_GE(run.mostInFlight, row.inFlightLow);
        EXPECT_LE(run.mostInFlight, row.inFlightHigh);
    }
}

// The serving side with its send queue full: requests are held, in order, and answered as room
// appears; none is lost. While the store of held requests is full the exchange takes no more.
TEST_F(CExchangeTest, RequestsWaitForSendRoomAndAreAnsweredInOrder)
{
    const Bytes content = pattern(4000);
    writeFile(plat::joinPath(settings.getSendFolder(), "own.bin"), content);
    catalog().addLocal(makeTestRecord("HOME", "PARTY", "own.bin", 4000));
    const CatalogRecord own = catalog().getRecord(0);
    const int total = VX_QUE::kSlots + CExchange::kHeldRequests;
    for (int i = 0; i < total; ++i) {
        ASSERT_TRUE(exchange.canTakeMessage());
        CatalogRecord asked = own;
        asked.setBytesReceived(static_cast<std::uint32_t>(i % 40) * 100);
        const Bytes request =
            build([&](std::uint8_t* b) { return buildFileDataRequest(b, asked); });
        exchange.onFileRequest(request.data(), request.size(), 100);
    }
    EXPECT_FALSE(exchange.canTakeMessage());
    EXPECT_EQ(exchange.sendQueue().count(), VX_QUE::kSlots);

    std::vector<std::uint32_t> offsets;
    for (int guard = 0; guard < 100 && static_cast<int>(offsets.size()) < total; ++guard) {
        for (const Bytes& m : drain(exchange)) {
            ASSERT_TRUE(is(m, MsgClass::File, MsgType::FileData));
            const ConstMessageHeader h(m.data());
            ASSERT_EQ(h.chunkLength(), 100u);
            ASSERT_TRUE(std::equal(m.end() - 100, m.end(), content.begin() + h.fileOffset()));
            offsets.push_back(h.fileOffset());
        }
        exchange.service();
    }
    ASSERT_EQ(static_cast<int>(offsets.size()), total);
    for (int i = 0; i < total; ++i)
        EXPECT_EQ(offsets[static_cast<std::size_t>(i)], static_cast<std::uint32_t>(i % 40) * 100);
    EXPECT_TRUE(exchange.canTakeMessage());
}

// An empty file has no chunk to carry; its empty answer completes it so it can be passed on.
TEST_F(CExchangeDownloadTest, EmptyFileCompletesWithEmptyAnswer)
{
    receive({remoteRecord("empty.txt", 0)});
    exchange.requestFirstFile();
    const auto request = single(exchange);
    ASSERT_TRUE(request);
    const Bytes data = answer(*request, Bytes{}, 51200);
    exchange.onFileData(data.data(), data.size());
    EXPECT_EQ(entry("empty.txt")->completeFlag(), 1u);
    EXPECT_TRUE(plat::fileExists(received("empty.txt")));
    EXPECT_EQ(batchFor("OTHER").size(), 1u);
}

} // namespace
