#include "catalog/CCatalog.h"

#include "app/CPostError.h"
#include "app/NodeSettings.h"
#include "app/VX_EVENTCATALOG.h"
#include "app/VX_EVENTCATALOGLISTENER.h"
#include "app/WindowMessages.h"
#include "exchange/NodeContext.h"
#include "platform/EventLoop.h"
#include "platform/Files.h"
#include "platform/Shortcut.h"
#include "support/RecordFiles.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using catalog::RecordKind::Changed;
using catalog::RecordKind::Deleted;
using catalog::RecordKind::New;
using namespace recordfiles;

namespace {

// Wednesday 15 May 2024, 15:12.
const plat::SystemTime kNow{2024, 5, 3, 15, 15, 12, 0, 0};
const plat::SystemTime kToday{2024, 5, 3, 15, 0, 0, 0, 0};
const plat::SystemTime kYesterday{2024, 5, 2, 14, 23, 59, 59, 0};
const plat::SystemTime kInThreeDays{2024, 5, 6, 18, 15, 12, 0, 0};

void writeRecords(const std::string& path, const std::vector<CatalogRecord>& recs)
{
    writeFile(path, recordsBytes(recs));
}

std::vector<std::uint8_t> pattern(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    return bytes;
}

CatalogRecord makeRecord(const std::string& origin, const std::string& name,
                         std::uint32_t size = 100, std::uint32_t kind = New)
{
    CatalogRecord r;
    r.setRecordLength(CatalogRecord::Size);
    r.setRecordTag(catalog::RecordLayout::TagValue);
    r.setPendingFlag(1);
    r.setKind(kind);
    r.setOriginNodeCp932(origin);
    r.setPartyNameCp932("party");
    r.setRegistrationTime(kNow);
    r.setExpiry(kInThreeDays);
    plat::FindRecord f;
    f.setNameCp932(name);
    f.setSize(size);
    r.setFileDescription(f);
    return r;
}

// An own entry as the folder watch registers it: the description of the file at path (for a
// shortcut, of its target) and a registration time of now.
CatalogRecord registered(const std::string& path, std::uint32_t link = 0)
{
    plat::FindRecord f;
    EXPECT_EQ(plat::statFindRecord(path, f), plat::FindResult::Ok) << path;
    CatalogRecord r = makeRecord("me", f.nameCp932(), static_cast<std::uint32_t>(f.size()));
    r.setFileDescription(f);
    r.setLinkFlag(link);
    r.setRegistrationTime(plat::localNow());
    return r;
}

class EventLog : public VX_EVENTCATALOGLISTENER
{
public:
    std::vector<std::string> events;
    void entryAdded(const CatalogRecord& r) override
    {
        events.push_back("add " + std::string(r.fileNameCp932()));
    }
    void entryChanged(int index, const CatalogRecord& r) override
    {
        events.push_back("change " + std::to_string(index) + " " + std::string(r.fileNameCp932()) +
                         " kind " + std::to_string(r.kind()));
    }
    void listReset() override { events.push_back("reset"); }
};

// The status line as the window has it: the node's notice poster, whose notices are counted.
struct StatusLine
{
    explicit StatusLine(NodeContext& node) : node(node)
    {
        poster.setWindow(window.handle());
        node.setNotices(&poster);
    }
    ~StatusLine() { node.setNotices(nullptr); }

    NodeContext& node;
    int notices = 0;
    plat::MessageWindow window{
        [this](const plat::WindowMessage& m) { notices += m.msg == WM_POSTERROR; }};
    CPostError poster;
};

class CatalogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        settings.setPartyName("party");
        settings.setNodeName("me");
        settings.connections().append({"peerA", "TCP", "hostA", {}});
        settings.connections().append({"peerB", "TCP", "hostB", {}});
        events.addListener(&log);
    }
    void TearDown() override { catalog.reset(); }

    void open(bool writeThrough = true)
    {
        catalog = std::make_unique<CCatalog>(node, writeThrough, [this] { return now; });
    }
    std::string path(const std::string& rel) const { return dir.file(rel); }
    std::vector<CatalogRecord> pendingOf(const std::string& peer) const
    {
        return recordsOf(path("CATALOG/" + peer + ".dat"));
    }
    std::vector<CatalogRecord> cacheFile() const { return recordsOf(path("CATALOG/catalog.dat")); }
    std::vector<CatalogRecord> entries() const
    {
        std::vector<CatalogRecord> out;
        for (int i = 0; i < catalog->count(); ++i)
            out.push_back(catalog->getRecord(i));
        return out;
    }
    void clearLog() { log.events.clear(); }
    // A purge runs in slices on the event loop; this one until its last.
    void purgeAll()
    {
        catalog->purge();
        ASSERT_TRUE(plat::runUntil([this] { return !catalog->purging(); }, 10000));
    }

    TempDir dir;
    NodeSettings settings{dir.path()};
    EventLog log;
    VX_EVENTCATALOG events;
    NodeContext node{settings, &events};
    plat::SystemTime now = kNow;
    std::unique_ptr<CCatalog> catalog;
};

} // namespace

TEST_F(CatalogTest, LoadTurnsDamagedEntriesIntoDeletionsAndFillsPartyNames)
{
    CatalogRecord good = makeRecord("other", "good.txt");
    CatalogRecord damaged = makeRecord("other", "damaged.txt");
    CatalogRecord noParty = makeRecord("other", "noparty.txt");
    catalog::stampChecksum(good);
    catalog::stampChecksum(damaged);
    damaged.bytes[500] ^= 1;
    noParty.setPartyNameCp932("");
    writeRecords(path("CATALOG/catalog.dat"), {good, damaged, noParty});
    plat::makeFolders(path("RECV/other"));
    writeFile(path("RECV/other/damaged.txt"), {1, 2, 3});

    open();
    EXPECT_EQ(log.events,
              (std::vector<std::string>{"add good.txt", "add damaged.txt", "add noparty.txt"}));
    const auto list = entries();
    EXPECT_EQ(list[0], good);
    EXPECT_EQ(list[1].kind(), Deleted);
    EXPECT_TRUE(catalog::verifyChecksum(list[1]));
    EXPECT_EQ(list[2].partyNameCp932(), "party");
    EXPECT_TRUE(catalog::verifyChecksum(list[2]));
    EXPECT_EQ(cacheFile(), list);

    purgeAll();
    EXPECT_FALSE(plat::fileExists(path("RECV/other/damaged.txt")));
    EXPECT_EQ(catalog->count(), 2);
}

TEST_F(CatalogTest, AddLocalStoresCompleteEntryAndQueuesItForEveryPeer)
{
    settings.connections().append(
        {"catalog", "TCP", "hostC", {}}); // would share the cache file's name
    open();
    catalog->addLocal(makeRecord("me", "doc.txt", 1234));

    const CatalogRecord stored = catalog->getRecord(0);
    EXPECT_EQ(stored.completeFlag(), 1u);
    EXPECT_EQ(stored.bytesReceived(), 1234u);
    EXPECT_EQ(stored.checksumFlag(), 1u);
    EXPECT_TRUE(catalog::verifyChecksum(stored));
    EXPECT_EQ(log.events, std::vector<std::string>{"add doc.txt"});
    EXPECT_EQ(cacheFile(), std::vector<CatalogRecord>{stored});
    EXPECT_EQ(pendingOf("peerA"), std::vector<CatalogRecord>{stored});
    EXPECT_EQ(pendingOf("peerB"), std::vector<CatalogRecord>{stored});

    CatalogRecord found;
    EXPECT_TRUE(catalog->hasEntry("me", "doc.txt", &found));
    EXPECT_EQ(found, stored);
    EXPECT_FALSE(catalog->hasEntry("other", "doc.txt", nullptr));
    EXPECT_EQ(catalog->getRecord(1), CatalogRecord{});
}

TEST_F(CatalogTest, MergeRecordAcceptsOnlyValidUnexpiredRecordsOfTheParty)
{
    struct Case
    {
        const char* name;
        void (*change)(CatalogRecord&);
        bool added;
    };
    const Case cases[] = {
        {"expires-today", [](CatalogRecord& r) { r.setExpiry(kToday); }, true},
        {"expired-yesterday", [](CatalogRecord& r) { r.setExpiry(kYesterday); }, false},
        {"no-expiry", [](CatalogRecord& r) { r.setExpiry({}); }, false},
        {"other-party", [](CatalogRecord& r) { r.setPartyNameCp932("partx"); }, false},
        {"origin-dotdot", [](CatalogRecord& r) { r.setOriginNodeCp932(".."); }, false},
        {"eleven-hops", [](CatalogRecord& r) { r.setHopCount(11); }, false},
    };
    open();
    for (const Case& c : cases) {
        CatalogRecord r = makeRecord("other", c.name);
        r.setCompleteFlag(1);
        r.setBytesReceived(100);
        c.change(r);
        catalog->mergeRecord(r);
        CatalogRecord stored;
        const bool found = catalog->hasEntry(std::string(r.originNodeCp932()), c.name, &stored);
        EXPECT_EQ(found, c.added) << c.name;
        if (found) {
            EXPECT_EQ(stored.completeFlag(), 0u) << c.name;
            EXPECT_EQ(stored.bytesReceived(), 0u) << c.name;
        }
    }
    EXPECT_EQ(log.events, std::vector<std::string>{"add expires-today"});
}

TEST_F(CatalogTest, MergeRecordReplacesOnlyOnStrictlyLaterRegistration)
{
    struct Case
    {
        const char* what;
        plat::SystemTime registered;
        bool replaced;
    };
    const Case cases[] = {
        {"same time", kNow, false},
        {"1 ms later", {2024, 5, 3, 15, 15, 12, 0, 1}, true},
        {"1 ms earlier", {2024, 5, 3, 15, 15, 11, 59, 999}, false},
        {"other day of week only", {2024, 5, 6, 15, 15, 12, 0, 0}, false},
        {"next year, earlier month", {2025, 1, 3, 1, 0, 0, 0, 0}, true},
    };
    open();
    for (const Case& c : cases) {
        catalog->mergeRecord(makeRecord("other", c.what));
        const int index = catalog->count() - 1;
        clearLog();
        CatalogRecord newer = makeRecord("other", c.what, 555, Changed);
        newer.setRegistrationTime(c.registered);
        catalog->mergeRecord(newer);
        EXPECT_EQ(catalog->getRecord(index).kind() == Changed, c.replaced) << c.what;
        EXPECT_EQ(log.events.size(), c.replaced ? 1u : 0u) << c.what;
        EXPECT_EQ(catalog->count(), index + 1) << c.what;
    }
}

TEST_F(CatalogTest, TakePendingHandsOutTwelveAtATimeThenDeletesTheFile)
{
    open();
    for (int i = 0; i < 20; ++i)
        catalog->addLocal(makeRecord("me", "file" + std::to_string(i)));

    const auto first = catalog->takePending("peerA");
    ASSERT_EQ(first.size(), 12u);
    EXPECT_EQ(first[0].fileNameCp932(), "file0");
    EXPECT_EQ(first[11].fileNameCp932(), "file11");
    EXPECT_EQ(first[0].pendingFlag(), 1u) << "records go out as they were queued";
    const auto onDisk = pendingOf("peerA");
    ASSERT_EQ(onDisk.size(), 20u);
    EXPECT_EQ(onDisk[11].pendingFlag(), 0u);
    EXPECT_TRUE(catalog::verifyChecksum(onDisk[11]));
    EXPECT_EQ(onDisk[12].pendingFlag(), 1u);

    const auto second = catalog->takePending("peerA");
    ASSERT_EQ(second.size(), 8u);
    EXPECT_EQ(second[7].fileNameCp932(), "file19");
    EXPECT_TRUE(plat::fileExists(path("CATALOG/peerA.dat")));

    EXPECT_TRUE(catalog->takePending("peerA").empty());
    EXPECT_FALSE(plat::fileExists(path("CATALOG/peerA.dat")));
    EXPECT_EQ(pendingOf("peerB").size(), 20u);

    // A record queued again after the batches went out is found again.
    catalog->updateLocal(makeRecord("me", "file3", 999, Changed));
    const auto again = catalog->takePending("peerB");
    ASSERT_EQ(again.size(), 12u);
    EXPECT_EQ(again[3].fileSize(), 999u);
}

TEST_F(CatalogTest, QueueForPeerFollowsTheHopRules)
{
    struct Case
    {
        const char* what;
        std::string peer;
        int hops;
        bool queued;
    };
    const Case cases[] = {
        {"fresh record", "peerA", 0, true},
        {"peer is the origin", "origin", 0, false},
        {"peer already in the hop list", "hop1", 3, false},
        {"nine hops", "peerA", 9, true},
        {"ten hops", "peerA", 10, false},
        {"no peer name", "", 0, false},
        {"peer name unusable as file name", "../x", 0, false},
    };
    open();
    for (const Case& c : cases) {
        CatalogRecord r = makeRecord("origin", c.what);
        r.setHopCount(c.hops);
        for (int i = 0; i < c.hops; ++i)
            r.setHopCp932(static_cast<std::size_t>(i), "hop" + std::to_string(i));
        catalog->queueForPeer(r, c.peer);
        std::vector<CatalogRecord> queued;
        for (const CatalogRecord& p :
             c.peer.empty() ? std::vector<CatalogRecord>{} : pendingOf(c.peer))
            if (p.fileNameCp932() == c.what)
                queued.push_back(p);
        ASSERT_EQ(queued.size(), c.queued ? 1u : 0u) << c.what;
        if (c.queued) {
            EXPECT_EQ(queued[0].hopCount(), c.hops + 1) << c.what;
            EXPECT_EQ(queued[0].hopCp932(static_cast<std::size_t>(c.hops)), "me") << c.what;
            EXPECT_TRUE(catalog::verifyChecksum(queued[0])) << c.what;
        }
    }
    EXPECT_FALSE(plat::fileExists(dir.file("x.dat")));
}

TEST_F(CatalogTest, QueueingTheSameRecordAgainOverwritesItsPendingCopy)
{
    open();
    catalog->queueForPeer(makeRecord("origin", "a.txt"), "peerA");
    catalog->queueForPeer(makeRecord("origin", "b.txt"), "peerA");
    ASSERT_EQ(catalog->takePending("peerA").size(), 2u);
    catalog->queueForPeer(makeRecord("origin", "a.txt", 42), "peerA");

    const auto onDisk = pendingOf("peerA");
    ASSERT_EQ(onDisk.size(), 2u);
    EXPECT_EQ(onDisk[0].fileSize(), 42u);
    const auto batch = catalog->takePending("peerA");
    ASSERT_EQ(batch.size(), 1u);
    EXPECT_EQ(batch[0].fileNameCp932(), "a.txt");
}

TEST_F(CatalogTest, QueueSinceSelectsByRegistrationDate)
{
    open();
    const std::pair<const char*, plat::SystemTime> regs[] = {
        {"march31", {2024, 3, 0, 31, 23, 59, 59, 999}},
        {"april1", {2024, 4, 1, 1, 0, 0, 0, 0}},
        {"april2", {2024, 4, 2, 2, 8, 0, 0, 0}},
    };
    for (const auto& [name, reg] : regs) {
        CatalogRecord r = makeRecord("other", name);
        r.setRegistrationTime(reg);
        r.setExpiry(kInThreeDays);
        catalog->mergeRecord(r);
    }
    catalog->mergeRecord(makeRecord("peerA", "own-of-peer"));
    const plat::SystemTime since{2024, 4, 1, 1, 12, 0, 0, 0};

    const auto names = [&](std::uint32_t mode) {
        catalog->queueSince("peerA", mode, since);
        std::vector<std::string> out;
        for (const CatalogRecord& r : catalog->takePending("peerA"))
            out.emplace_back(r.fileNameCp932());
        return out;
    };
    EXPECT_EQ(names(2), (std::vector<std::string>{"april1", "april2"}));
    // Records already in the pending file are queued again in place, new ones appended.
    EXPECT_EQ(names(1), (std::vector<std::string>{"april1", "april2", "march31"}));
    EXPECT_TRUE(names(0).empty());
    EXPECT_TRUE(names(3).empty());
}

TEST_F(CatalogTest, ARepeatedSyncRequestIsNotQueuedAgain)
{
    open();
    catalog->mergeRecord(makeRecord("other", "a.txt"));
    catalog->queueSince("peerA", 1, {});
    ASSERT_EQ(catalog->takePending("peerA").size(), 1u);

    catalog->queueSince("peerA", 1, {});
    EXPECT_TRUE(catalog->takePending("peerA").empty()) << "a stream of hellos costs nothing";
    catalog->queueSince("peerA", 2, {2024, 4, 1, 1, 0, 0, 0, 0});
    EXPECT_EQ(catalog->takePending("peerA").size(), 1u) << "another range is answered";
}

TEST_F(CatalogTest, MergeDeletionMarksQuietlyAndAlwaysForwards)
{
    open();
    catalog->mergeRecord(makeRecord("other", "known.txt"));
    clearLog();
    catalog->mergeDeletion(makeRecord("other", "known.txt", 100, Deleted));
    catalog->mergeDeletion(makeRecord("peerB", "unknown.txt", 100, Deleted));

    EXPECT_EQ(catalog->getRecord(0).kind(), Deleted);
    EXPECT_TRUE(log.events.empty());
    EXPECT_EQ(catalog->count(), 1);
    const auto toA = pendingOf("peerA");
    ASSERT_EQ(toA.size(), 2u);
    EXPECT_EQ(toA[0].kind(), Deleted);
    EXPECT_EQ(toA[0].hopCp932(0), "me");
    EXPECT_EQ(toA[0].completeFlag(), 0u);
    const auto toB = pendingOf("peerB");
    ASSERT_EQ(toB.size(), 1u) << "never back to the origin";
    EXPECT_EQ(toB[0].fileNameCp932(), "known.txt");
}

TEST_F(CatalogTest, ADeletionOlderThanTheRegistrationLeavesItButStillTravels)
{
    open();
    CatalogRecord registered = makeRecord("other", "again.txt");
    registered.setRegistrationTime({2024, 5, 3, 15, 12, 0, 0, 500});
    catalog->mergeRecord(registered);
    CatalogRecord older = makeRecord("other", "again.txt", 100, Deleted);
    older.setRegistrationTime({2024, 5, 3, 15, 12, 0, 0, 499});
    catalog->mergeDeletion(older);
    EXPECT_EQ(catalog->getRecord(0).kind(), New) << "the file was registered again since";
    EXPECT_EQ(pendingOf("peerA").size(), 1u);

    CatalogRecord same = older;
    same.setRegistrationTime(registered.registrationTime());
    catalog->mergeDeletion(same);
    EXPECT_EQ(catalog->getRecord(0).kind(), Deleted);
}

TEST_F(CatalogTest, DeleteEverywhereQueuesTheDeletionDeleteHereDoesNot)
{
    open();
    catalog->addLocal(makeRecord("me", "a.txt"));
    catalog->addLocal(makeRecord("me", "b.txt"));
    catalog->takePending("peerA");
    catalog->takePending("peerA");
    clearLog();

    catalog->deleteHere(makeRecord("me", "a.txt", 100, Deleted));
    EXPECT_FALSE(plat::fileExists(path("CATALOG/peerA.dat")));
    catalog->deleteEverywhere(makeRecord("me", "b.txt", 100, Deleted));
    catalog->deleteEverywhere(makeRecord("me", "missing.txt", 100, Deleted));

    EXPECT_EQ(log.events,
              (std::vector<std::string>{"change 0 a.txt kind 2", "change 1 b.txt kind 2"}));
    const auto queued = pendingOf("peerA");
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0].kind(), Deleted);
    EXPECT_EQ(queued[0].fileNameCp932(), "b.txt");
    EXPECT_TRUE(catalog::verifyChecksum(queued[0]));
}

// The user deletes the registration a row shows; with two entries of one origin and name (a
// file registered again before the purge removed the old entry), that one and no other.
TEST_F(CatalogTest, TheUsersDeletionsFindTheRegistrationTheyWereGiven)
{
    open();
    CatalogRecord older = makeRecord("me", "doc.txt");
    CatalogRecord newer = older;
    newer.setRegistrationTime({2024, 5, 3, 15, 16, 0, 0, 0});
    catalog->addLocal(older);
    catalog->addLocal(newer);
    ASSERT_TRUE(catalog->findRegistration(newer));
    EXPECT_EQ(catalog->findRegistration(newer)->registrationTime(), newer.registrationTime());
    CatalogRecord elsewhen = older;
    elsewhen.setRegistrationTime(kYesterday);
    EXPECT_FALSE(catalog->findRegistration(elsewhen));

    newer.setKind(Deleted);
    catalog->deleteHere(newer);
    EXPECT_EQ(catalog->getRecord(0).kind(), New);
    EXPECT_EQ(catalog->getRecord(1).kind(), Deleted);
    // A deletion of no listed registration (the folder watch's) takes the first of the name.
    catalog->deleteEverywhere(makeRecord("me", "doc.txt", 100, Deleted));
    EXPECT_EQ(catalog->getRecord(0).kind(), Deleted);
}

TEST_F(CatalogTest, PurgeDropsDeletedEntriesWithTheirFilesButNeverAShortcutsTarget)
{
    plat::makeFolders(path("RECV/other"));
    plat::makeFolders(path("elsewhere"));
    writeFile(path("RECV/other/recv.txt"), {1});
    writeFile(path("SEND/copy.txt"), {2});
    writeFile(path("elsewhere/target.txt"), {3});
    ASSERT_TRUE(plat::makeShortcut(path("SEND/target.txt.lnk"), path("elsewhere/target.txt")));
    open();
    catalog->mergeRecord(makeRecord("other", "recv.txt"));
    catalog->addLocal(registered(path("SEND/copy.txt")));
    catalog->addLocal(registered(path("elsewhere/target.txt"), 1));
    catalog->addLocal(makeRecord("me", "kept.txt"));
    for (const char* name : {"recv.txt", "copy.txt", "target.txt"}) {
        const std::string origin = std::string(name) == "recv.txt" ? "other" : "me";
        catalog->deleteHere(makeRecord(origin, name, 100, Deleted));
    }
    clearLog();

    purgeAll();
    EXPECT_FALSE(plat::fileExists(path("RECV/other/recv.txt")));
    EXPECT_FALSE(plat::fileExists(path("SEND/copy.txt")));
    EXPECT_FALSE(plat::fileExists(path("SEND/target.txt.lnk")));
    EXPECT_TRUE(plat::fileExists(path("elsewhere/target.txt")));
    EXPECT_EQ(log.events, (std::vector<std::string>{"reset", "add kept.txt"}));
    ASSERT_EQ(catalog->count(), 1);
    EXPECT_EQ(cacheFile(), entries());

    clearLog();
    purgeAll();
    EXPECT_TRUE(log.events.empty()) << "nothing to purge, nothing announced";
}

// The purge runs up to 5 s after a deletion; a file the user put back under the same name by
// then is not the one the deleted entry describes and must survive it.
TEST_F(CatalogTest, PurgeRemovesAnOwnFileOnlyWhileItIsStillTheRegisteredOne)
{
    // Moves a file's (or a link's own) last write time seconds ahead.
    const auto later = [](const std::string& file, int seconds) {
        struct stat st;
        ASSERT_EQ(::lstat(file.c_str(), &st), 0);
        timespec times[2] = {st.st_atim, st.st_mtim};
        times[1].tv_sec += seconds;
        ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    };
    struct Case
    {
        const char* what;
        bool shortcut;
        std::function<void(const std::string& file, const std::string& link)> meanwhile;
        bool removed;
    };
    const Case cases[] = {
        {"unchanged copy", false, {}, true},
        {"copy saved again", false,
         [&](const std::string& file, const std::string&) {
             writeFile(file, {4, 5, 6, 7});
             later(file, 10);
         },
         false},
        {"same size written since", false,
         [&](const std::string& file, const std::string&) { later(file, 10); }, false},
        {"unchanged shortcut", true, {}, true},
        {"shortcut made again", true,
         [&](const std::string& file, const std::string& link) {
             plat::removeFile(link);
             ASSERT_TRUE(plat::makeShortcut(link, file));
             later(link, 60);
         },
         false},
        {"shortcut's target rewritten", true,
         [&](const std::string& file, const std::string&) {
             writeFile(file, {4, 5, 6, 7});
             later(file, 10);
         },
         false},
    };
    plat::makeFolders(path("docs"));
    open();
    int n = 0;
    for (const Case& c : cases) {
        const std::string name = "doc" + std::to_string(n++) + ".txt";
        const std::string file = path((c.shortcut ? "docs/" : "SEND/") + name);
        const std::string link = path("SEND/" + name + "へのショートカット.lnk");
        writeFile(file, {1, 2, 3});
        if (c.shortcut) {
            ASSERT_TRUE(plat::makeShortcut(link, file));
        }
        const CatalogRecord entry = registered(file, c.shortcut ? 1 : 0);
        catalog->addLocal(entry);
        CatalogRecord gone = entry;
        gone.setKind(Deleted);
        catalog->deleteEverywhere(gone);
        if (c.meanwhile)
            c.meanwhile(file, link);

        purgeAll();
        EXPECT_EQ(catalog->count(), 0) << c.what;
        EXPECT_EQ(plat::fileExists(c.shortcut ? link : file), !c.removed) << c.what;
        EXPECT_TRUE(plat::fileExists(file) || !c.shortcut)
            << c.what << ": a target is never removed";
    }
}

TEST_F(CatalogTest, UnknownKindGoesToTheErrorFileAndLeavesAtTheNextPurge)
{
    CatalogRecord odd = makeRecord("other", "odd.txt", 100, 7);
    catalog::stampChecksum(odd);
    writeRecords(path("CATALOG/catalog.dat"), {odd, makeRecord("other", "fine.txt")});
    open();
    purgeAll();
    EXPECT_EQ(recordsOf(path("CATALOG/catalogErroRec.err")), std::vector<CatalogRecord>{odd});
    ASSERT_EQ(catalog->count(), 1);
    EXPECT_EQ(catalog->getRecord(0).fileNameCp932(), "fine.txt");
}

TEST_F(CatalogTest, RecordsWithUnsafeNamesNeverReachFilesOutsideTheFolders)
{
    writeFile(path("victim.txt"), {9});
    plat::makeFolders(path("RECV/other"));
    CatalogRecord escaping = makeRecord("..", "victim.txt");
    catalog::stampChecksum(escaping);
    writeRecords(path("CATALOG/catalog.dat"), {escaping});
    open();

    EXPECT_EQ(catalog->contentPath(escaping), "");
    catalog->maintainHourly();
    EXPECT_EQ(catalog->getRecord(0).kind(), Deleted);
    EXPECT_EQ(recordsOf(path("CATALOG/catalogErroRec.err"))[0].originNodeCp932(), "..");
    purgeAll();
    EXPECT_EQ(catalog->count(), 0);
    EXPECT_TRUE(plat::fileExists(path("victim.txt")));

    CatalogRecord sneaky = makeRecord("other", "../../victim.txt");
    catalog->mergeRecord(sneaky);
    EXPECT_EQ(catalog->count(), 0);
    const auto data = pattern(100);
    EXPECT_EQ(catalog->storeChunk(0, 100, sneaky, data.data()), 0);
    catalog->queueForPeer(sneaky, "peerA");
    EXPECT_FALSE(plat::fileExists(path("CATALOG/peerA.dat")));
    EXPECT_EQ(readFile(path("victim.txt")), std::vector<std::uint8_t>{9});
}

// What a window keeps of the catalog's announcements: its rows, in catalog order.
class RowModel : public VX_EVENTCATALOGLISTENER
{
public:
    std::vector<CatalogRecord> rows;
    int resets = 0, refills = 0, unknownRows = 0;
    void entryAdded(const CatalogRecord& r) override { rows.push_back(r); }
    void entryChanged(int index, const CatalogRecord& r) override
    {
        if (index >= 0 && static_cast<std::size_t>(index) < rows.size())
            rows[static_cast<std::size_t>(index)] = r;
        else
            ++unknownRows;
    }
    void listReset() override
    {
        rows.clear();
        ++resets;
    }
    void listRefilled() override { ++refills; }
};

// A purge of many entries goes a slice per turn of the event loop, and the catalog is in use
// between the slices: downloads store chunks, peers' records are merged, the user registers and
// deletes files. Everything done meanwhile ends up in the list, in catalog.dat and in the
// listeners' rows; and at every turn catalog.dat holds every entry as it is then, plus only
// deletions not purged yet, so a crash at any point loses nothing.
TEST_F(CatalogTest, APurgeInSlicesKeepsWhatHappensBetweenTheSlices)
{
    constexpr int kEntries = 200;
    std::vector<CatalogRecord> stored;
    plat::makeFolders(path("RECV/other"));
    for (int i = 0; i < kEntries; ++i) {
        const std::string name = "f" + std::to_string(i) + ".txt";
        CatalogRecord r = makeRecord("other", name, 100, i % 2 ? Deleted : New);
        r.setCompleteFlag(1);
        r.setBytesReceived(100);
        catalog::stampChecksum(r);
        stored.push_back(r);
        writeFile(path("RECV/other/" + name), pattern(100));
    }
    // A kept entry still downloading, near the end of the list.
    stored[kEntries - 10] = makeRecord("other", "download.bin", 100);
    catalog::stampChecksum(stored[kEntries - 10]);
    writeRecords(path("CATALOG/catalog.dat"), stored);
    open();
    RowModel window;
    events.addListener(&window);
    catalog->announceAll();
    catalog->setPurgeSliceLimit(3);

    const auto digest = [](const CatalogRecord& r) {
        return std::hash<std::string_view>{}(
            std::string_view(reinterpret_cast<const char*>(r.bytes.data()), r.bytes.size()));
    };
    const auto fileHoldsTheCatalog = [&] {
        std::multiset<std::size_t> left;
        for (const CatalogRecord& r : cacheFile())
            if (r.kind() != Deleted)
                left.insert(digest(r));
        for (int i = 0; i < catalog->count(); ++i) {
            const CatalogRecord r = catalog->getRecord(i);
            const auto it = left.find(digest(r));
            if (it != left.end())
                left.erase(it);
            else if (r.kind() != Deleted)
                return false;
        }
        return left.empty();
    };

    const auto data = pattern(100);
    CatalogRecord download = stored[kEntries - 10];
    std::uint32_t offset = 0;
    int turns = 0;
    catalog->purge();
    while (catalog->purging() && turns < 3000) {
        ASSERT_TRUE(fileHoldsTheCatalog()) << "turn " << turns;
        ++turns;
        // A peer's record every second turn; a chunk of the download every fifth; a newer
        // version of a kept entry every turn; the user's registration and deletion once.
        if (turns % 2 == 0)
            catalog->mergeRecord(makeRecord("peer", "m" + std::to_string(turns) + ".txt"));
        if (turns % 5 == 0 && offset < 100) {
            catalog->storeChunk(offset, 20, download, data.data() + offset);
            offset += 20;
        }
        CatalogRecord newer =
            makeRecord("other", "f" + std::to_string(4 + turns * 2 % 180) + ".txt");
        newer.setRegistrationTime({2024, 5, 3, 15, 16, static_cast<std::uint16_t>(turns / 60),
                                   static_cast<std::uint16_t>(turns % 60), 0});
        catalog->mergeRecord(newer);
        if (turns == 30)
            catalog->addLocal(makeRecord("me", "mine.txt"));
        if (turns == 40)
            catalog->deleteHere(makeRecord("other", "f2.txt", 100, Deleted));
        QCoreApplication::processEvents();
    }
    EXPECT_GT(turns, 50) << "the purge went in slices";
    ASSERT_FALSE(catalog->purging());

    EXPECT_EQ(cacheFile(), entries());
    EXPECT_EQ(window.rows, entries());
    EXPECT_EQ(window.unknownRows, 0);
    EXPECT_EQ(window.resets, 1);
    EXPECT_EQ(window.refills, 1);
    EXPECT_EQ(catalog->count(), kEntries / 2 + turns / 2 + 1);
    for (int i = 0; i < kEntries; i += 2)
        if (i != kEntries - 10) {
            EXPECT_TRUE(catalog->hasEntry("other", "f" + std::to_string(i) + ".txt", nullptr)) << i;
        }
    for (int i = 1; i < kEntries; i += 2) {
        EXPECT_FALSE(catalog->hasEntry("other", "f" + std::to_string(i) + ".txt", nullptr)) << i;
        EXPECT_FALSE(plat::fileExists(path("RECV/other/f" + std::to_string(i) + ".txt"))) << i;
    }
    CatalogRecord done;
    ASSERT_TRUE(catalog->hasEntry("other", "download.bin", &done));
    EXPECT_EQ(done.completeFlag(), 1u);
    EXPECT_EQ(readFile(path("RECV/other/download.bin")), data);
    CatalogRecord deleted;
    ASSERT_TRUE(catalog->hasEntry("other", "f2.txt", &deleted));
    EXPECT_EQ(deleted.kind(), Deleted) << "marked during the purge, dropped by the next one";
    EXPECT_TRUE(plat::fileExists(path("RECV/other/f2.txt")));
    CatalogRecord newer;
    ASSERT_TRUE(catalog->hasEntry("other", "f18.txt", &newer));
    EXPECT_EQ(newer.registrationTime().hour, 16);
    EXPECT_TRUE(catalog->hasEntry("me", "mine.txt", nullptr));
    const auto queued = pendingOf("peerA");
    EXPECT_TRUE(std::any_of(queued.begin(), queued.end(), [](const CatalogRecord& r) {
        return r.fileNameCp932() == "download.bin";
    })) << "forwarded when done";

    // The next purge starts from a file in the list's own layout.
    catalog->setPurgeSliceLimit(0);
    catalog->purge();
    ASSERT_TRUE(plat::runUntil([&] { return !catalog->purging(); }, 10000));
    EXPECT_FALSE(catalog->hasEntry("other", "f2.txt", nullptr));
    EXPECT_EQ(cacheFile(), entries());
    EXPECT_EQ(window.rows, entries());
}

TEST_F(CatalogTest, HourlyWorkExpiresEntriesAndThePurgeDeletesTheirFiles)
{
    writeFile(path("SEND/old.txt"), {1});
    writeFile(path("SEND/today.txt"), {2});
    open();
    CatalogRecord old = registered(path("SEND/old.txt"));
    old.setExpiry(kYesterday);
    catalog->addLocal(old);
    CatalogRecord today = registered(path("SEND/today.txt"));
    today.setExpiry(kToday);
    catalog->addLocal(today);
    clearLog();

    catalog->maintainHourly();
    EXPECT_TRUE(log.events.empty());
    EXPECT_EQ(catalog->getRecord(0).kind(), Deleted);
    EXPECT_EQ(catalog->getRecord(1).kind(), New);
    EXPECT_EQ(cacheFile(), entries());
    EXPECT_FALSE(plat::fileExists(path("CATALOG/catalogErroRec.err")));

    purgeAll();
    EXPECT_FALSE(plat::fileExists(path("SEND/old.txt")));
    EXPECT_TRUE(plat::fileExists(path("SEND/today.txt")));
}

TEST_F(CatalogTest, RenamePendingFileKeepsWhatWasPendingUnderBothNames)
{
    open();
    catalog->queueForPeer(makeRecord("origin", "a.txt"), "configured");
    catalog->renamePendingFile("configured", "announced");
    EXPECT_FALSE(plat::fileExists(path("CATALOG/configured.dat")));
    EXPECT_EQ(pendingOf("announced").size(), 1u);

    catalog->queueForPeer(makeRecord("origin", "b.txt"), "configured");
    catalog->renamePendingFile("configured", "announced");
    EXPECT_FALSE(plat::fileExists(path("CATALOG/configured.dat")));
    std::vector<std::string> names;
    for (const CatalogRecord& r : catalog->takePending("announced"))
        names.emplace_back(r.fileNameCp932());
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST_F(CatalogTest, FetchOrderSkipsOwnAndCompleteEntriesWithoutWrapping)
{
    open();
    catalog->addLocal(makeRecord("me", "own.txt"));
    catalog->mergeRecord(makeRecord("other", "first.txt"));
    catalog->mergeRecord(makeRecord("other", "second.txt"));
    catalog->mergeRecord(makeRecord("third", "third.txt"));

    auto next = catalog->firstToFetch();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->fileNameCp932(), "first.txt");
    next = catalog->nextToFetch(*next);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->fileNameCp932(), "second.txt");
    next = catalog->nextToFetch(*next);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->fileNameCp932(), "third.txt");
    EXPECT_FALSE(catalog->nextToFetch(*next));
    EXPECT_FALSE(catalog->nextToFetch(makeRecord("nobody", "x")));
}

TEST_F(CatalogTest, ChunksAssembleTheFileCompleteItAndForwardIt)
{
    const std::uint32_t size = 51200 * 2 + 25600;
    const auto data = pattern(size);
    open();
    CatalogRecord sent = makeRecord("origin", "big.bin", size);
    sent.setHopCount(1);
    sent.setHopCp932(0, "peerB");
    catalog->mergeRecord(sent);
    const CatalogRecord r = *catalog->firstToFetch();
    clearLog();

    EXPECT_EQ(catalog->storeChunk(0, 51200, r, data.data()), 1);
    EXPECT_EQ(catalog->storeChunk(0, 51200, r, data.data()), 0) << "already delivered";
    EXPECT_EQ(catalog->storeChunk(102400, 25600, r, data.data() + 102400), 0) << "leaves a hole";
    EXPECT_EQ(catalog->readChunk(r, 0, 51200, std::vector<std::uint8_t>(51200).data()), 0u)
        << "incomplete files are not served";
    EXPECT_EQ(catalog->storeChunk(51200, 51200, r, data.data() + 51200), 1);
    EXPECT_EQ(catalog->getRecord(0).bytesReceived(), 102400u);
    EXPECT_EQ(catalog->storeChunk(102400, 25600, r, data.data() + 102400), 0);

    const CatalogRecord done = catalog->getRecord(0);
    EXPECT_EQ(done.completeFlag(), 1u);
    EXPECT_EQ(done.bytesReceived(), size);
    EXPECT_EQ(readFile(path("RECV/origin/big.bin")), data);
    EXPECT_EQ(log.events.size(), 3u);
    EXPECT_EQ(cacheFile(), entries());

    const auto forwarded = pendingOf("peerA");
    ASSERT_EQ(forwarded.size(), 1u);
    EXPECT_EQ(forwarded[0].hopCount(), 2);
    EXPECT_EQ(forwarded[0].hopCp932(1), "me");
    EXPECT_FALSE(plat::fileExists(path("CATALOG/peerB.dat"))) << "peerB is in the hop list";

    std::vector<std::uint8_t> out(51200);
    EXPECT_EQ(catalog->readChunk(r, 102400, 51200, out.data()), 25600u);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 25600, data.begin() + 102400));
    EXPECT_EQ(catalog->readChunk(r, size, 51200, out.data()), 0u);
}

TEST_F(CatalogTest, WhatTheNodeKeepsIsReadableByItsUserAlone)
{
    open();
    CatalogRecord sent = makeRecord("origin", "private.txt", 3);
    sent.setHopCount(1);
    sent.setHopCp932(0, "peerB");
    catalog->mergeRecord(sent);
    catalog->storeChunk(0, 3, *catalog->firstToFetch(), pattern(3).data());
    ASSERT_EQ(catalog->getRecord(0).completeFlag(), 1u);
    catalog.reset();
    const auto modeOf = [](const std::string& p) {
        struct stat st = {};
        return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 0777 : 01000u;
    };
    for (const char* folder : {"RECV", "RECV/origin", "CATALOG"})
        EXPECT_EQ(modeOf(path(folder)), 0700u) << folder;
    for (const char* file : {"RECV/origin/private.txt", "CATALOG/catalog.dat", "CATALOG/peerA.dat"})
        EXPECT_EQ(modeOf(path(file)), 0600u) << file;
}

TEST_F(CatalogTest, NewerVersionRestartsTheDownloadAndRefusesOldChunks)
{
    const auto data = pattern(1000);
    open();
    catalog->mergeRecord(makeRecord("origin", "f.bin", 1000));
    const CatalogRecord oldVersion = catalog->getRecord(0);
    ASSERT_EQ(catalog->storeChunk(0, 500, oldVersion, data.data()), 1);

    CatalogRecord newer = makeRecord("origin", "f.bin", 800, Changed);
    newer.setRegistrationTime({2024, 5, 3, 15, 16, 0, 0, 0});
    catalog->mergeRecord(newer);
    EXPECT_EQ(catalog->storeChunk(500, 500, oldVersion, data.data() + 500), 0);

    const CatalogRecord current = *catalog->firstToFetch();
    EXPECT_EQ(current.bytesReceived(), 0u);
    EXPECT_EQ(catalog->storeChunk(0, 800, current, data.data() + 100), 0);
    EXPECT_EQ(readFile(path("RECV/origin/f.bin")),
              std::vector<std::uint8_t>(data.begin() + 100, data.begin() + 900));
}

TEST_F(CatalogTest, EmptyFileCompletesWithAnEmptyChunk)
{
    open();
    catalog->mergeRecord(makeRecord("origin", "empty", 0));
    const CatalogRecord r = catalog->getRecord(0);
    EXPECT_EQ(catalog->storeChunk(0, 0, r, nullptr), 0);
    EXPECT_EQ(catalog->getRecord(0).completeFlag(), 1u);
    EXPECT_TRUE(plat::fileExists(path("RECV/origin/empty")));
    EXPECT_FALSE(catalog->firstToFetch());
}

TEST_F(CatalogTest, OwnFilesAreServedFromTheSendFolderOrTheShortcutsTarget)
{
    const auto copy = pattern(300);
    const auto target = pattern(200);
    writeFile(path("SEND/copy.bin"), copy);
    plat::makeFolders(path("docs"));
    writeFile(path("docs/linked.bin"), target);
    ASSERT_TRUE(
        plat::makeShortcut(path("SEND/linked.binへのショートカット.lnk"), path("docs/linked.bin")));
    open();
    catalog->addLocal(makeRecord("me", "copy.bin", 300));
    CatalogRecord linked = makeRecord("me", "linked.bin", 200);
    linked.setLinkFlag(1);
    catalog->addLocal(linked);

    std::vector<std::uint8_t> out(51200);
    ASSERT_EQ(catalog->readChunk(catalog->getRecord(0), 100, 51200, out.data()), 200u);
    EXPECT_TRUE(std::equal(copy.begin() + 100, copy.end(), out.begin()));
    ASSERT_EQ(catalog->readChunk(catalog->getRecord(1), 0, 51200, out.data()), 200u);
    EXPECT_TRUE(std::equal(target.begin(), target.end(), out.begin()));
    EXPECT_EQ(catalog->readChunk(makeRecord("me", "copy.bin", 301), 0, 100, out.data()), 0u)
        << "another version is not served";

    ::rename(path("docs/linked.bin").c_str(), path("docs/moved.bin").c_str());
    purgeAll(); // forgets resolved shortcuts
    EXPECT_EQ(catalog->readChunk(catalog->getRecord(1), 0, 51200, out.data()), 0u);
}

TEST_F(CatalogTest, CacheModeWritesTheFileOnlyWhenTheCatalogEnds)
{
    open(false);
    catalog->addLocal(makeRecord("me", "a.txt"));
    EXPECT_TRUE(cacheFile().empty());
    EXPECT_EQ(pendingOf("peerA").size(), 1u) << "pending files are written at once";
    catalog.reset();
    ASSERT_EQ(cacheFile().size(), 1u);
    EXPECT_EQ(cacheFile()[0].fileNameCp932(), "a.txt");
}

// Links found in the receive and catalog folders are refused, never followed: nothing outside
// is written, served or deleted through them.
TEST_F(CatalogTest, LinksInTheReceiveAndCatalogFoldersAreNeverFollowed)
{
    const std::string outside = path("outside");
    plat::makeFolders(outside);
    const std::vector<std::uint8_t> secret{'s', 'e', 'c', 'r', 'e', 't'};
    writeFile(outside + "/a.txt", secret);
    writeFile(outside + "/b.txt", secret);
    writeFile(outside + "/peerA.dat", secret);
    plat::makeFolders(path("RECV/other"));
    plat::makeFolders(path("CATALOG"));
    // RECV/linked is a link to the outside folder; RECV/other/b.txt a link to a file there.
    ASSERT_EQ(::symlink(outside.c_str(), path("RECV/linked").c_str()), 0);
    ASSERT_EQ(::symlink((outside + "/b.txt").c_str(), path("RECV/other/b.txt").c_str()), 0);
    ASSERT_EQ(::symlink((outside + "/peerA.dat").c_str(), path("CATALOG/peerA.dat").c_str()), 0);
    open();
    const auto data = pattern(100);

    // Writing through a linked origin folder: refused, also part-way through a download.
    CatalogRecord viaFolder = makeRecord("linked", "a.txt");
    catalog->mergeRecord(viaFolder);
    EXPECT_EQ(catalog->storeChunk(0, 100, viaFolder, data.data()), 0);
    EXPECT_EQ(readFile(outside + "/a.txt"), secret);

    // A link in place of a received file: a fresh download removes the link itself and writes
    // a plain file; the outside file is untouched.
    CatalogRecord viaFile = makeRecord("other", "b.txt");
    catalog->mergeRecord(viaFile);
    EXPECT_EQ(catalog->storeChunk(0, 100, viaFile, data.data()), 0);
    EXPECT_EQ(readFile(path("RECV/other/b.txt")), data);
    EXPECT_EQ(readFile(outside + "/b.txt"), secret);

    // Served: a complete entry whose file was swapped for a link gives no bytes.
    ASSERT_EQ(::unlink(path("RECV/other/b.txt").c_str()), 0);
    ASSERT_EQ(::symlink((outside + "/b.txt").c_str(), path("RECV/other/b.txt").c_str()), 0);
    std::vector<std::uint8_t> out(100);
    EXPECT_EQ(catalog->readChunk(viaFile, 0, 100, out.data()), 0u);
    EXPECT_EQ(catalog->contentPath(viaFile), "");

    // The purge of an entry under the linked folder deletes nothing outside.
    catalog->deleteHere(viaFolder);
    purgeAll();
    EXPECT_EQ(readFile(outside + "/a.txt"), secret);

    // A pending file that is a link is not written through.
    catalog->addLocal(makeRecord("me", "mine.txt"));
    EXPECT_EQ(readFile(outside + "/peerA.dat"), secret);
}

// Downloads keep min(1 GiB, 5 %) of the receiving disk free: a file is fetched only when its
// remaining bytes fit above that floor, and a refused chunk writes nothing.
TEST_F(CatalogTest, DownloadsStopAtTheDiskFloor)
{
    StatusLine status{node};
    open();
    DiskFloor::Space space;
    catalog->setSpaceProbe([&](const std::string&) { return space; });
    CatalogRecord r = makeRecord("other", "big.bin", 1000);
    catalog->mergeRecord(r);
    constexpr std::uint64_t GiB = std::uint64_t(1) << 30, MiB = std::uint64_t(1) << 20;
    struct Row
    {
        std::uint64_t available, total;
        bool fits;
    };
    const Row rows[] = {
        {GiB + 1000, 100 * GiB, true},     // exactly the 1 GiB floor left afterwards
        {GiB + 999, 100 * GiB, false},     // one byte into it
        {5 * MiB + 1000, 100 * MiB, true}, // a small disk keeps 5 %
        {5 * MiB + 999, 100 * MiB, false}, {500, 100 * GiB, false},
    };
    for (const Row& row : rows) {
        space = {row.available, row.total};
        EXPECT_EQ(catalog->roomToFetch(r), row.fits) << row.available << " of " << row.total;
    }
    const auto data = pattern(1000);
    space = {GiB, 100 * GiB};
    EXPECT_EQ(catalog->storeChunk(0, 1000, r, data.data()), 0);
    EXPECT_FALSE(plat::fileExists(path("RECV/other/big.bin")));
    // Said once on the status line for all those refusals.
    plat::runFor(10);
    EXPECT_EQ(status.notices, 1);
    EXPECT_EQ(status.poster.detailText(),
              "受信フォルダのディスクの空き容量が少ないため、ファイルの受信を止めています");
    space = {2 * GiB, 100 * GiB};
    EXPECT_EQ(catalog->storeChunk(0, 1000, r, data.data()), 0);
    EXPECT_EQ(readFile(path("RECV/other/big.bin")), data);
}

// A peer naming files without end fills the catalog only up to its limit: past it new entries
// are refused (said once), known entries are still updated and the user's own files still
// register; a purge that makes room lets new ones in again.
TEST_F(CatalogTest, PeersCannotGrowTheCatalogPastItsLimit)
{
    StatusLine status{node};
    open();
    catalog->setEntryLimit(3);
    for (const char* name : {"a", "b", "c", "d", "e"})
        catalog->mergeRecord(makeRecord("other", name));
    EXPECT_EQ(catalog->count(), 3);

    CatalogRecord newer = makeRecord("other", "a", 77, Changed);
    newer.setRegistrationTime({2024, 5, 4, 16, 9, 0, 0, 0});
    catalog->mergeRecord(newer);
    catalog->addLocal(makeRecord("me", "mine.txt"));
    ASSERT_EQ(catalog->count(), 4);
    EXPECT_EQ(catalog->getRecord(0).fileSize(), 77u);
    plat::runFor(10);
    EXPECT_EQ(status.notices, 1);
    EXPECT_EQ(
        status.poster.detailText(),
        "カタログの登録数が上限に達したため、他ノードからの新しいファイルを受け付けていません");

    catalog->deleteHere(catalog->getRecord(1));
    catalog->deleteHere(catalog->getRecord(2));
    purgeAll();
    plat::runFor(50);
    catalog->mergeRecord(makeRecord("other", "f"));
    EXPECT_EQ(catalog->count(), 3);
}
