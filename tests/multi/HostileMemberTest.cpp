#include "support/MultiNode.h"
#include "support/RecordingProxy.h"
#include "support/ScriptedPeer.h"
#include "support/TempDir.h"

#include "catalog/SealStore.h"
#include "platform/Bytes.h"
#include "platform/EventLoop.h"
#include "platform/NodeKey.h"
#include "wire/CatalogRecord.h"
#include "wire/MessageHeader.h"
#include "wire/RecordSeal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <filesystem>

using namespace std::chrono_literals;
using namespace multi;
using namespace catalog;
namespace fs = std::filesystem;

namespace {

const char* const kScale = "0.05";
const char* const kParty = "hostile";

std::optional<CatalogRecord> entryOf(const std::string& dir, const std::string& name)
{
    for (const CatalogRecord& r : catalogRecords(dir))
        if (r.fileNameUtf8() == name)
            return r;
    return std::nullopt;
}

// The seal a node keeps for a record, read from its seals file.
std::optional<RecordSeal> sealIn(const std::string& dir, const CatalogRecord& record)
{
    SealStore store(dir + "/CATALOG/seals.dat");
    return store.find(record);
}

bool pinned(const std::string& dir, const std::string& node)
{
    return readFile(dir + "/CATALOG/nodekeys.dat").find(node) != std::string::npos;
}

// A catalog batch of records with a seal block after them, as a Pavo node sends it.
std::vector<std::uint8_t> sealedBatch(const std::vector<CatalogRecord>& records,
                                      const std::vector<std::optional<RecordSeal>>& seals)
{
    std::vector<std::uint8_t> batch = ScriptedPeer::catalogBatch(records);
    const std::vector<std::uint8_t> block = writeSealBlock(seals);
    batch.insert(batch.end(), block.begin(), block.end());
    plat::putU16(batch.data() + 2, std::uint16_t(batch.size() - 48));
    return batch;
}

plat::SystemTime inSeconds(std::time_t seconds)
{
    return *plat::localFromUnix(std::time(nullptr) + seconds);
}

class HostileMember : public ::testing::Test
{
protected:
    TempDir root;
    MultiNode a{"A", root.file("A"), freePort()};
    MultiNode b{"B", root.file("B"), freePort()};
    MultiNode c{"C", root.file("C"), freePort()};
    const int deadPort = freePort();

    void TearDown() override
    {
        for (MultiNode* n : {&a, &b, &c})
            n->stopIfRunning();
    }
};

} // namespace

// A member of the party (played by a node built to the original design, "M") tries to withdraw
// or replace the files of a node whose key B has pinned, and a relaying node's disk and the wire
// to C damage file data. Every attempt is refused; the honest copies stay intact everywhere, and
// the design-built member still exchanges files with B.
TEST_F(HostileMember, ForgedWithdrawalsReplacementsAndDamagedDataAreRefused)
{
    const std::string doc = pattern(300 * 1024 + 5, 1);
    const std::string gone = pattern(70 * 1024, 2);
    const std::string fresh = pattern(180 * 1024, 3);
    a.configure(kParty, {&b});
    // B dials nobody but A: C and M come to it.
    b.configureWith(kParty, {IniPeer::tcp("A", a.port), IniPeer::tcp("C", deadPort),
                             IniPeer::tcp("M", deadPort)});
    writeFile(a.file("SEND/doc.bin"), doc);
    writeFile(a.file("SEND/gone.bin"), gone);
    ASSERT_NO_FATAL_FAILURE(a.start(kScale));
    ASSERT_NO_FATAL_FAILURE(b.start(kScale));
    ASSERT_TRUE(waitFor(
        [&] {
            return readFile(b.file("RECV/A/doc.bin")) == doc &&
                   readFile(b.file("RECV/A/gone.bin")) == gone && pinned(b.dir, "A");
        },
        90s))
        << b.process->output();
    const CatalogRecord docEntry = *entryOf(b.dir, "doc.bin");

    // A withdraws gone.bin; its sealed registration is kept for a replay.
    const CatalogRecord goneEntry = *entryOf(b.dir, "gone.bin");
    const auto goneSeal = sealIn(b.dir, goneEntry);
    ASSERT_TRUE(goneSeal);
    fs::remove(a.file("SEND/gone.bin"));
    ASSERT_TRUE(waitFor([&] { return !hasEntry(b.dir, "gone.bin"); }, 60s));

    ScriptedPeer m("M", kParty);
    ASSERT_TRUE(m.dial(b.port));
    m.sendHello();
    const plat::NodeKey mKey = *plat::NodeKey::generate();
    const auto signedByM = [&](const CatalogRecord& r) {
        RecordSeal seal;
        signSeal(mKey, r, seal);
        return std::optional<RecordSeal>(seal);
    };
    CatalogRecord deletion = docEntry;
    deletion.setKind(RecordKind::Deleted);
    deletion.setRegistrationTime(plat::localNow());
    stampChecksum(deletion);
    CatalogRecord future = docEntry;
    future.setKind(RecordKind::Changed);
    future.setRegistrationTime(inSeconds(2 * 86400));
    stampChecksum(future);
    CatalogRecord soon = docEntry;
    soon.setKind(RecordKind::Changed);
    soon.setRegistrationTime(inSeconds(60));
    stampChecksum(soon);
    RecordSeal badSignature = *sealIn(b.dir, docEntry);
    badSignature.signature[3] ^= 0x10;
    CatalogRecord docAsDeletion = docEntry;
    docAsDeletion.setKind(RecordKind::Deleted);
    stampChecksum(docAsDeletion);

    struct Row
    {
        const char* what;
        CatalogRecord record;
        std::optional<RecordSeal> seal;
    };
    const Row rows[] = {
        {"forged deletion", deletion, std::nullopt},
        {"deletion signed by the member", deletion, signedByM(deletion)},
        {"replacement dated two days ahead", future, std::nullopt},
        {"replacement with a bad signature", soon, badSignature},
        {"signed registration replayed as a deletion", docAsDeletion, sealIn(b.dir, docEntry)},
        {"withdrawn registration replayed", goneEntry, goneSeal},
    };
    for (const Row& row : rows) {
        m.send(sealedBatch({row.record}, {row.seal}));
        // B asks for more after merging a batch: the row has been dealt with.
        ASSERT_TRUE(m.nextOf(3, 0, 10000)) << row.what;
        m.send(ScriptedPeer::catalogBatch(std::vector<CatalogRecord>{}));
    }
    // Time for anything that slipped through to reach the purge and A.
    plat::runFor(3000);
    for (MultiNode* n : {&a, &b}) {
        const auto entry = entryOf(n->dir, "doc.bin");
        ASSERT_TRUE(entry) << n->name;
        EXPECT_EQ(entry->kind(), RecordKind::New) << n->name;
        EXPECT_EQ(entry->registrationTime(), docEntry.registrationTime()) << n->name;
        EXPECT_FALSE(hasEntry(n->dir, "gone.bin")) << n->name;
    }
    EXPECT_EQ(readFile(b.file("RECV/A/doc.bin")), doc);
    EXPECT_EQ(readFile(a.file("SEND/doc.bin")), doc);

    // The design-built member still exchanges files: B takes M's file, and serves A's to M,
    // without a seal block M could not read.
    const std::string mine = pattern(20000, 4);
    const CatalogRecord mRecord = makeTestRecord("M", kParty, "m.bin", std::uint32_t(mine.size()));
    m.sendHello();
    m.send(ScriptedPeer::catalogBatch(std::vector<CatalogRecord>{mRecord}));
    ASSERT_TRUE(m.nextOf(3, 0, 10000));
    m.send(ScriptedPeer::catalogBatch(std::vector<CatalogRecord>{}));
    const auto asked = m.nextOf(4, 4, 20000);
    ASSERT_TRUE(asked);
    m.send(ScriptedPeer::fileData(
        mRecord, 0, std::span(reinterpret_cast<const std::uint8_t*>(mine.data()), mine.size())));
    EXPECT_TRUE(waitFor([&] { return readFile(b.file("RECV/M/m.bin")) == mine; }, 30s));
    CatalogRecord wanted = docEntry;
    wanted.setBytesReceived(0);
    m.send(ScriptedPeer::fileRequest(wanted));
    const auto served = m.nextOf(4, 6, 20000);
    ASSERT_TRUE(served);
    ASSERT_EQ(served->chunk().size(), 51200u);
    EXPECT_EQ(std::string(served->chunk().begin(), served->chunk().end()), doc.substr(0, 51200));
    m.send(ScriptedPeer::catalogRequest());
    for (auto batch = m.nextOf(3, 2, 10000); batch; batch = m.nextOf(3, 2, 3000)) {
        EXPECT_EQ(batch->bytes.size(), 48 + batch->records().size() * CatalogRecord::Size);
        if (batch->records().empty())
            break;
        m.send(ScriptedPeer::catalogRequest());
    }

    // B's copy of doc.bin changes on its disk; the wire to C flips a bit in the first file data
    // messages. C must never complete a damaged copy: doc.bin is not served by B any more, and
    // fresh.bin arrives intact once a clean copy has passed.
    {
        std::string damaged = doc;
        damaged[1000] ^= 1;
        writeFile(b.file("RECV/A/doc.bin"), damaged);
    }
    std::atomic<int> flips{0};
    RecordingProxy wire(b.port);
    wire.setFrameFilter([&](std::string& frame) {
        const auto u16 = [&](std::size_t at) {
            return unsigned(std::uint8_t(frame[at])) | unsigned(std::uint8_t(frame[at + 1])) << 8;
        };
        if (u16(8) == 4 && u16(10) == 6 && frame.size() > 48 + 820 + 100 && flips < 3) {
            frame[48 + 820 + 100] ^= 0x04;
            ++flips;
        }
    });
    c.configureWith(kParty, {IniPeer::tcp("B", wire.port())});
    writeFile(a.file("SEND/fresh.bin"), fresh);
    ASSERT_NO_FATAL_FAILURE(c.start(kScale));
    bool damagedCompleted = false;
    const auto settled = [&] {
        for (const char* name : {"doc.bin", "fresh.bin"}) {
            const auto entry = entryOf(c.dir, name);
            if (entry && entry->completeFlag() == 1 &&
                readFile(c.file(std::string("RECV/A/") + name)) != (name[0] == 'd' ? doc : fresh))
                damagedCompleted = true;
        }
        return readFile(c.file("RECV/A/fresh.bin")) == fresh;
    };
    EXPECT_TRUE(waitFor(settled, 120s)) << c.process->output();
    plat::runFor(3000);
    settled();
    EXPECT_FALSE(damagedCompleted);
    EXPECT_GT(flips.load(), 0);
    const auto docAtC = entryOf(c.dir, "doc.bin");
    EXPECT_TRUE(!docAtC || docAtC->completeFlag() == 0);
    EXPECT_NE(c.process->output().find("does not match its origin's hash"), std::string::npos);
    EXPECT_NE(b.process->output().find("no longer holds what its origin registered"),
              std::string::npos);
}
