#include "watch/CFolderWatch.h"

#include "app/NodeSettings.h"
#include "app/VX_EVENTCATALOG.h"
#include "catalog/CCatalog.h"
#include "exchange/NodeContext.h"
#include "platform/AtomicFile.h"
#include "platform/Files.h"
#include "support/HoldingChild.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using catalog::RecordKind::Changed;
using catalog::RecordKind::Deleted;
using catalog::RecordKind::New;

namespace {

// Every listed file gets this last write time unless a test moves it.
constexpr std::time_t kBaseTime = 1'700'000'000;

using Calls = std::vector<std::string>;

class RecordingCatalog : public CFolderWatch::Catalog
{
public:
    Calls calls;
    std::vector<CatalogRecord> records;

    void addLocal(const CatalogRecord& r) override { log("add", r); }
    void deleteEverywhere(const CatalogRecord& r) override { log("delete", r); }
    void updateLocal(const CatalogRecord& r) override { log("update", r); }

private:
    void log(const char* op, const CatalogRecord& r)
    {
        calls.push_back(std::string(op) + " " + r.fileNameUtf8() + (r.linkFlag() ? " (link)" : ""));
        records.push_back(r);
    }
};

class FolderWatchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        settings.setPartyName("party");
        settings.setNodeName("me");
        plat::makeFolders(send);
        plat::makeFolders(elsewhere);
        start();
    }

    // A watch as the main window starts it: folder set, list loaded.
    void start()
    {
        watch = std::make_unique<CFolderWatch>(catalog, settings, [] {
            return catalog::WallClock{kBaseTime + 3600, 0};
        });
        watch->setFolder(send);
        watch->load();
    }

    Calls pass()
    {
        catalog.calls.clear();
        catalog.records.clear();
        watch->scan();
        return catalog.calls;
    }

    static void write(const std::string& path, const std::string& content,
                      std::time_t mtime = kBaseTime)
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
        setTime(path, mtime);
    }
    static void setTime(const std::string& path, std::time_t mtime)
    {
        const timespec times[2] = {{mtime, 0}, {mtime, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
    }
    std::string inSend(const std::string& name) const { return plat::joinPath(send, name); }
    std::string outside(const std::string& name) const { return plat::joinPath(elsewhere, name); }
    void link(const std::string& name, const std::string& target) const
    {
        ASSERT_EQ(::symlink(target.c_str(), inSend(name).c_str()), 0) << name;
    }
    static bool present(const std::string& path)
    {
        struct stat st
        {
        };
        return ::lstat(path.c_str(), &st) == 0;
    }
    std::vector<std::string> knownNames() const
    {
        std::vector<std::string> names;
        for (const auto& k : watch->knownEntries())
            names.push_back(k.find.nameUtf8());
        return names;
    }
    std::vector<std::uint8_t> dirList() const
    {
        std::vector<std::uint8_t> bytes;
        EXPECT_TRUE(plat::readWholeFile(watch->dirListPath(), bytes));
        return bytes;
    }

    TempDir dir;
    NodeSettings settings{dir.path()};
    RecordingCatalog catalog;
    std::string send = dir.file("SEND");
    std::string elsewhere = dir.file("elsewhere");
    std::unique_ptr<CFolderWatch> watch;
};

TEST_F(FolderWatchTest, RegistersNewFilesOnceAndRemembersEmptyOnes)
{
    EXPECT_TRUE(dirList().empty()); // created by load
    write(inSend("b.txt"), "bbb");
    write(inSend("a.txt"), "aa");
    write(inSend("empty.txt"), "");

    EXPECT_EQ(pass(), (Calls{"add a.txt", "add b.txt"}));
    EXPECT_EQ(catalog.records[0].kind(), New);
    EXPECT_EQ(catalog.records[0].fileSize(), 2u);
    EXPECT_EQ(catalog.records[0].linkFlag(), 0u);
    EXPECT_EQ(catalog.records[0].originNodeUtf8(), "me");
    EXPECT_EQ(knownNames(), (std::vector<std::string>{"a.txt", "b.txt", "empty.txt"}));
    EXPECT_EQ(watch::decodeDirList(dirList()), watch->knownEntries());
    EXPECT_EQ(dirList().size(), 3 * watch::DirListLayout::Size);

    EXPECT_EQ(pass(), Calls{});

    // The empty file was never registered: once it has content it is new ("new empty document"
    // in a file manager, then edited). A registered file emptied loses its registration and
    // comes back as new with its next content.
    write(inSend("empty.txt"), "now", kBaseTime + 10);
    write(inSend("a.txt"), "", kBaseTime + 10);
    EXPECT_EQ(pass(), (Calls{"add empty.txt", "delete a.txt"}));
    EXPECT_EQ(catalog.records[0].kind(), New);
    EXPECT_EQ(catalog.records[0].fileSize(), 3u);
    EXPECT_EQ(catalog.records[1].fileSize(), 2u) << "the registration that goes";
    EXPECT_EQ(pass(), Calls{});
    write(inSend("a.txt"), "again", kBaseTime + 20);
    EXPECT_EQ(pass(), Calls{"add a.txt"});
}

TEST_F(FolderWatchTest, ReportsNewThenGoneThenChanged)
{
    for (const char* name : {"a.txt", "b.txt", "c.txt", "e.txt"})
        write(inSend(name), "1234");
    pass();
    const std::vector<std::uint8_t> before = dirList();

    write(inSend("b.txt"), "123456", kBaseTime + 10); // later: changed
    ASSERT_TRUE(plat::removeFile(inSend("c.txt")));   // gone
    write(inSend("d.txt"), "x");                      // new
    write(inSend("e.txt"), "12", kBaseTime - 10);     // rewritten, but not later
    write(inSend("a.txt"), "12345");                  // rewritten, same time

    EXPECT_EQ(pass(), (Calls{"add d.txt", "delete c.txt", "update b.txt"}));
    EXPECT_EQ(catalog.records[1].kind(), Deleted);
    EXPECT_EQ(catalog.records[1].fileSize(), 4u);
    EXPECT_EQ(catalog.records[2].kind(), Changed);
    EXPECT_EQ(catalog.records[2].fileSize(), 6u);
    EXPECT_EQ(knownNames(), (std::vector<std::string>{"a.txt", "b.txt", "d.txt", "e.txt"}));
    EXPECT_NE(dirList(), before);
    EXPECT_EQ(watch::decodeDirList(dirList()), watch->knownEntries());
}

TEST_F(FolderWatchTest, ChangesMadeWhileNotRunningAreSeenOnTheFirstPass)
{
    write(inSend("stays.txt"), "s");
    write(inSend("leaves.txt"), "l");
    pass();
    watch.reset();

    ASSERT_TRUE(plat::removeFile(inSend("leaves.txt")));
    write(inSend("arrives.txt"), "a");
    write(inSend("stays.txt"), "ss", kBaseTime + 5);
    start();
    EXPECT_EQ(pass(), (Calls{"add arrives.txt", "delete leaves.txt", "update stays.txt"}));
}

TEST_F(FolderWatchTest, FileHeldOpenForWritingWaitsUntilItIsClosed)
{
    write(inSend("copying.bin"), "part");
    {
        HoldingChild copier(inSend("copying.bin"), O_WRONLY); // as a copier does
        EXPECT_EQ(pass(), Calls{});
        EXPECT_TRUE(knownNames().empty());
        EXPECT_EQ(pass(), Calls{});
        copier.release();
        EXPECT_EQ(pass(), Calls{"add copying.bin"});
    }

    // A registered file rewritten in place: the pass during the write must not swallow the new
    // write time, or the change would never be reported.
    HoldingChild writer(inSend("copying.bin"), O_WRONLY);
    write(inSend("copying.bin"), "rewritten", kBaseTime + 20);
    EXPECT_EQ(pass(), Calls{});
    writer.release();
    EXPECT_EQ(pass(), Calls{"update copying.bin"});
    EXPECT_EQ(catalog.records[0].fileSize(), 9u);
}

TEST_F(FolderWatchTest, ShortcutsRegisterTheirTargetsAndDuplicatesAreTidied)
{
    write(outside("report.pdf"), "12345");
    write(outside("notes.txt"), "n");
    plat::makeFolders(dir.file("other"));
    write(dir.file("other/notes.txt"), "other notes");
    write(inSend("local.txt"), "here");

    link("copy.lnk", outside("report.pdf"));
    link("report.pdfへのショートカット.lnk", outside("report.pdf")); // second to one target
    link("inside.lnk", inSend("local.txt"));                         // target is in the folder
    link("n1.lnk", outside("notes.txt"));
    link("n2.lnk", dir.file("other/notes.txt")); // another file of an already registered name
    link("dangling.lnk", dir.file("nowhere"));

    EXPECT_EQ(pass(), (Calls{"add report.pdf (link)", "add local.txt", "add notes.txt (link)"}));
    EXPECT_EQ(catalog.records[0].fileSize(), 5u);
    EXPECT_EQ(catalog.records[0].linkFlag(), 1u);

    EXPECT_TRUE(present(inSend("copy.lnk")));
    EXPECT_FALSE(present(inSend("report.pdfへのショートカット.lnk")));
    EXPECT_FALSE(present(inSend("inside.lnk")));
    EXPECT_TRUE(present(inSend("local.txt")));
    EXPECT_TRUE(present(outside("report.pdf")));
    EXPECT_TRUE(present(inSend("n2.lnk")));       // a different file: left for the user
    EXPECT_TRUE(present(inSend("dangling.lnk"))); // may resolve later
    EXPECT_EQ(knownNames(), (std::vector<std::string>{"report.pdf", "local.txt", "notes.txt"}));

    // The target is changed, then deleted: the shortcut's entry follows it, and the deletion is
    // reported once.
    write(outside("report.pdf"), "123456789", kBaseTime + 30);
    EXPECT_EQ(pass(), Calls{"update report.pdf (link)"});
    EXPECT_EQ(catalog.records[0].fileSize(), 9u);
    ASSERT_TRUE(plat::removeFile(outside("report.pdf")));
    EXPECT_EQ(pass(), Calls{"delete report.pdf (link)"});
    EXPECT_EQ(catalog.records[0].linkFlag(), 1u);
    EXPECT_EQ(pass(), Calls{});
    EXPECT_TRUE(present(inSend("copy.lnk")));
}

TEST_F(FolderWatchTest, OnlyOrdinaryFilesAndShortcutsAreRegistered)
{
    write(outside("x.txt"), "x");
    write(inSend("A.LNK"), "a Windows shortcut file is an ordinary file here");
    write(inSend("plain.lnk"), "not a link either");
    link("B.LNK", outside("x.txt"));           // a link, but not named "*.lnk"
    link("linked.txt", outside("x.txt"));      // a link, but not named "*.lnk"
    link("folder.lnk", dir.file("elsewhere")); // a shortcut to a folder
    write(inSend(".hidden"), "h");
    plat::makeFolders(inSend("dir"));
    ASSERT_EQ(::mkfifo(inSend("pipe").c_str(), 0600), 0);
    write(inSend("bad\x01name.txt"), "control character");
    write(inSend("\xF0\x9F\x98\x80.txt"), "outside CP932");
    write(inSend("huge.bin"), "");
    ASSERT_EQ(::truncate(inSend("huge.bin").c_str(), 1ll << 32), 0); // sparse, 4 GiB

    EXPECT_EQ(pass(), (Calls{"add A.LNK", "add plain.lnk"}));
    EXPECT_EQ(knownNames(), (std::vector<std::string>{"A.LNK", "plain.lnk"}));
    for (const char* name : {"B.LNK", "linked.txt", "folder.lnk", "pipe"})
        EXPECT_TRUE(present(inSend(name))) << name;

    // Refused, not remembered: once it can be described it registers as new.
    ASSERT_EQ(::truncate(inSend("huge.bin").c_str(), 10), 0);
    EXPECT_EQ(pass(), Calls{"add huge.bin"});
}

TEST_F(FolderWatchTest, ANameCp932CannotWriteIsSaidOncePerFileWhileItStays)
{
    std::vector<std::string> notices;
    watch->setNotice([&](const std::string& text) { notices.push_back(text); });
    write(inSend("résumé café.txt"), "r");
    write(inSend("한국어.txt"), "k");
    write(inSend("fine.txt"), "f");
    EXPECT_EQ(pass(), Calls{"add fine.txt"});
    std::sort(notices.begin(), notices.end());
    EXPECT_EQ(
        notices,
        (std::vector<std::string>{
            "SENDフォルダの「résumé café.txt」は送信できない文字（é）を含むため登録できません。",
            "SENDフォルダの「한국어."
            "txt」は送信できない文字（한、국、어）を含むため登録できません。"}));
    EXPECT_EQ(pass(), Calls{});
    EXPECT_EQ(notices.size(), 2u); // not again while the files stay

    // Taken away and put back: a new placement, said again.
    ASSERT_EQ(::rename(inSend("한국어.txt").c_str(), outside("k.txt").c_str()), 0);
    pass();
    ASSERT_EQ(::rename(outside("k.txt").c_str(), inSend("한국어.txt").c_str()), 0);
    pass();
    EXPECT_EQ(notices.size(), 3u);
}

TEST_F(FolderWatchTest, DirListWithATornTailKeepsItsWholeRecordsAndIsWrittenCleanAgain)
{
    write(inSend("a.txt"), "a");
    write(inSend("b.txt"), "b");
    pass();
    const std::vector<std::uint8_t> clean = dirList();
    ASSERT_EQ(clean.size(), 2 * watch::DirListLayout::Size);
    std::vector<std::uint8_t> torn = clean;
    torn.insert(torn.end(), 100, 0xAB);
    ASSERT_TRUE(plat::AtomicFile::save(watch->dirListPath(), torn.data(), torn.size()));

    start();
    EXPECT_EQ(knownNames(), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(pass(), Calls{});
    EXPECT_EQ(dirList(), clean);
}

TEST_F(FolderWatchTest, FolderThatCannotBeListedWithdrawsNothing)
{
    write(inSend("a.txt"), "a");
    pass();
    ASSERT_EQ(::rename(send.c_str(), (send + ".away").c_str()), 0);
    EXPECT_EQ(pass(), Calls{});
    EXPECT_EQ(knownNames(), std::vector<std::string>{"a.txt"});
    ASSERT_EQ(::rename((send + ".away").c_str(), send.c_str()), 0);
    EXPECT_EQ(pass(), Calls{});
}

TEST(FolderWatchCatalogTest, EntersFilesAndShortcutsIntoTheNodesCatalog)
{
    TempDir dir;
    NodeSettings settings(dir.path());
    settings.setPartyName("party");
    settings.setNodeName("me");
    settings.connections().append({"peerA", "TCP", "hostA", {}});
    NodeContext node(settings);
    CCatalog catalog(node, true);
    plat::makeFolders(dir.file("elsewhere"));
    std::ofstream(dir.file("SEND/a.txt")) << "abc";
    std::ofstream(dir.file("elsewhere/t.txt")) << "target";
    ASSERT_EQ(::symlink(dir.file("elsewhere/t.txt").c_str(), dir.file("SEND/t.lnk").c_str()), 0);

    {
        CFolderWatch::NodeCatalog registrations(catalog);
        CFolderWatch watch(registrations, settings);
        watch.setFolder(settings.getSendFolder());
        watch.load();
        watch.scan();
        CCatalog* c = &catalog;
        ASSERT_EQ(c->count(), 2);
        const CatalogRecord a = c->getRecord(0);
        const CatalogRecord t = c->getRecord(1);
        EXPECT_EQ(a.fileNameUtf8(), "a.txt");
        EXPECT_EQ(a.linkFlag(), 0u);
        EXPECT_EQ(a.completeFlag(), 1u);
        EXPECT_EQ(a.bytesReceived(), 3u);
        EXPECT_EQ(t.fileNameUtf8(), "t.txt");
        EXPECT_EQ(t.linkFlag(), 1u);
        EXPECT_TRUE(catalog::verifyChecksum(t));
        std::vector<std::uint8_t> pending;
        ASSERT_TRUE(plat::readWholeFile(dir.file("CATALOG/peerA.dat"), pending));
        EXPECT_EQ(pending.size(), 2 * CatalogRecord::Size);

        ASSERT_TRUE(plat::removeFile(dir.file("SEND/a.txt")));
        watch.scan();
        EXPECT_EQ(c->getRecord(0).kind(), Deleted);
        EXPECT_EQ(c->getRecord(1).kind(), New);
    }
}

} // namespace
