#include "catalog/CCatalogCash.h"

#include "support/RecordFiles.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <sys/resource.h>
#include <vector>

using namespace recordfiles;

namespace {

CatalogRecord rec(const char* origin, const char* name, std::uint8_t mark = 0)
{
    return markedRecord(origin, name, mark, [](CatalogRecord& r) {
        r.setRecordLength(CatalogRecord::Size);
        r.setKind(catalog::RecordKind::New);
    });
}

// Lets a test make every file write beyond a size fail, the way a full disk does.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit l = m_saved;
        l.rlim_cur = limit;
        ::setrlimit(RLIMIT_FSIZE, &l);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_saved{};
    void (*m_oldHandler)(int) = nullptr;
};

} // namespace

TEST(CCatalogCash, TornTailLoadsWholeRecordsAndNextWriteCleansTheFile)
{
    TempDir dir;
    const std::string path = dir.file("catalog.dat");
    std::vector<std::uint8_t> bytes = recordsBytes({rec("a", "1"), rec("b", "2"), rec("c", "3")});
    bytes.resize(2050);
    writeFile(path, bytes);

    CCatalogCash cash;
    cash.setupList(path, true);
    ASSERT_EQ(cash.count(), 2);
    EXPECT_EQ(cash.getRec(1), rec("b", "2"));
    EXPECT_EQ(cash.getRec(-1), CatalogRecord{});
    EXPECT_EQ(cash.getRec(2), CatalogRecord{});

    cash.addRec(rec("d", "4"));
    const auto after = readFile(path);
    ASSERT_EQ(after.size(), 3u * 820u);
    EXPECT_EQ(recordInFile(after, 0), rec("a", "1"));
    EXPECT_EQ(recordInFile(after, 2), rec("d", "4"));
}

TEST(CCatalogCash, ShutdownRewriteCutsTornTail)
{
    TempDir dir;
    const std::string path = dir.file("catalog.dat");
    std::vector<std::uint8_t> bytes = recordsBytes({rec("a", "1"), rec("b", "2"), rec("c", "3")});
    bytes.resize(2050);
    writeFile(path, bytes);

    CCatalogCash cash;
    cash.setupList(path, false);
    cash.wreteList();
    EXPECT_EQ(readFile(path).size(), 1640u);
}

TEST(CCatalogCash, ReplacingOneEntryWritesOnlyItsBytes)
{
    TempDir dir;
    const std::string path = dir.file("catalog.dat");
    std::vector<CatalogRecord> recs;
    for (char c = 'a'; c < 'f'; ++c)
        recs.push_back(rec(std::string(1, c).c_str(), "f"));
    writeFile(path, recordsBytes(recs));

    CCatalogCash cash;
    cash.setupList(path, true);
    // A change made behind the cache's back shows which bytes the cache rewrote.
    auto file = readFile(path);
    file[2459] ^= 0xFF;
    file[3280] ^= 0xFF;
    writeFile(path, file);

    cash.setRec(3, rec("x", "y"));
    const auto after = readFile(path);
    ASSERT_EQ(after.size(), 5u * 820u);
    EXPECT_EQ(after[2459], file[2459]);
    EXPECT_EQ(after[3280], file[3280]);
    EXPECT_EQ(recordInFile(after, 3), rec("x", "y"));
}

TEST(CCatalogCash, CacheModeWritesOnlyOnRewrite)
{
    TempDir dir;
    const std::string path = dir.file("catalog.dat");
    writeFile(path, recordsBytes({rec("a", "1")}));

    CCatalogCash cash;
    cash.setupList(path, false);
    cash.addRec(rec("b", "2"));
    cash.setRec(0, rec("a", "1", 9));
    cash.assignList({rec("a", "1", 9), rec("b", "2"), rec("c", "3")});
    EXPECT_EQ(readFile(path), recordsBytes({rec("a", "1")}));

    cash.wreteList();
    EXPECT_EQ(readFile(path), recordsBytes({rec("a", "1", 9), rec("b", "2"), rec("c", "3")}));
}

TEST(CCatalogCash, FindRecTakesLowestIndexAndFollowsChanges)
{
    TempDir dir;
    CCatalogCash cash;
    cash.setupList(dir.file("catalog.dat"), true);
    cash.addRec(rec("n", "other"));
    cash.addRec(rec("n", "same", 1));
    cash.addRec(rec("m", "same"));
    cash.addRec(rec("n", "same", 2));

    CatalogRecord found;
    EXPECT_EQ(cash.findRec("n", "same", &found), 1);
    EXPECT_EQ(found, rec("n", "same", 1));
    EXPECT_EQ(cash.indicesOf("n", "same"), (std::vector<int>{1, 3}));
    EXPECT_EQ(cash.findRec("n", "missing"), -1);

    cash.setRec(1, rec("n", "renamed"));
    EXPECT_EQ(cash.findRec("n", "same"), 3);
    EXPECT_EQ(cash.findRec("n", "renamed"), 1);

    cash.assignList({rec("m", "same"), rec("n", "same", 2)});
    EXPECT_EQ(cash.findRec("n", "same"), 1);
    EXPECT_EQ(cash.findRec("n", "renamed"), -1);
}

TEST(CCatalogCash, FailedWritesNeverDamageRecordsOnDisk)
{
    TempDir dir;
    const std::string path = dir.file("catalog.dat");
    const std::vector<CatalogRecord> original = {rec("a", "1"), rec("b", "2"), rec("c", "3")};
    writeFile(path, recordsBytes(original));

    CCatalogCash cash;
    cash.setupList(path, true);
    {
        FileSizeLimit full(3 * 820 + 100);
        cash.addRec(rec("d", "4"));       // cut short: leaves a torn tail
        cash.setRec(1, rec("b", "2", 7)); // the whole rewrite fails in its temporary file
        cash.assignList({rec("a", "1"), rec("b", "2", 7), rec("c", "3"), rec("d", "4")});
        const auto onDisk = readFile(path);
        ASSERT_GE(onDisk.size(), 3u * 820u);
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_EQ(recordInFile(onDisk, i), original[i]) << "record " << i;
    }
    cash.setRec(3, rec("d", "4", 1));
    EXPECT_EQ(readFile(path),
              recordsBytes({rec("a", "1"), rec("b", "2", 7), rec("c", "3"), rec("d", "4", 1)}));
}
