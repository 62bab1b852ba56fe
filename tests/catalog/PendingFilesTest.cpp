#include "catalog/PendingFiles.h"

#include "support/RecordFiles.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>

using namespace recordfiles;

namespace {

CatalogRecord pendingRecord(const std::string& name, std::uint8_t mark = 0)
{
    return markedRecord("origin", name, mark, [](CatalogRecord& r) { r.setPendingFlag(1); });
}

std::vector<std::string> names(const std::vector<CatalogRecord>& recs)
{
    std::vector<std::string> out;
    for (const CatalogRecord& r : recs)
        out.emplace_back(r.fileNameCp932());
    return out;
}

} // namespace

TEST(PendingFiles, TornTailIsOverwrittenByTheNextAppend)
{
    TempDir dir;
    PendingFiles files(dir.path());
    ASSERT_TRUE(files.append("peer", pendingRecord("a")));
    {
        std::ofstream torn(dir.file("peer.dat"), std::ios::binary | std::ios::app);
        torn << "half a record";
    }
    ASSERT_TRUE(files.append("peer", pendingRecord("b")));
    EXPECT_EQ(readFile(dir.file("peer.dat")).size(), 2u * 820u);
    EXPECT_EQ(names(files.take("peer", 12)), (std::vector<std::string>{"a", "b"}));
}

TEST(PendingFiles, FileChangedBehindTheIndexIsReadAgain)
{
    TempDir dir;
    PendingFiles files(dir.path());
    ASSERT_TRUE(files.append("peer", pendingRecord("a")));
    ASSERT_TRUE(files.append("peer", pendingRecord("b")));

    // Replaced by another file with the records the other way round.
    {
        const CatalogRecord b = pendingRecord("b"), a = pendingRecord("a");
        std::ofstream out(dir.file("peer.dat.new"), std::ios::binary);
        out.write(reinterpret_cast<const char*>(b.bytes.data()), 820);
        out.write(reinterpret_cast<const char*>(a.bytes.data()), 820);
    }
    std::rename(dir.file("peer.dat.new").c_str(), dir.file("peer.dat").c_str());

    ASSERT_TRUE(files.put("peer", pendingRecord("a", 5)));
    const auto bytes = readFile(dir.file("peer.dat"));
    ASSERT_EQ(bytes.size(), 2u * 820u);
    EXPECT_EQ(bytes[820 + catalog::RecordLayout::Reserved2], 5) << "a is now the second record";
}

TEST(PendingFiles, NamesThatCannotNameAPendingFile)
{
    TempDir dir;
    PendingFiles files(dir.path());
    for (const char* bad : {"", ".", "..", "a/b", "catalog", "tab\there"}) {
        EXPECT_EQ(files.pathOf(bad), "") << bad;
        EXPECT_FALSE(files.append(bad, pendingRecord("x"))) << bad;
    }
    EXPECT_EQ(files.pathOf("ノード"), dir.file("ノード.dat"));
    EXPECT_FALSE(files.rename("missing", "other"));
}

// Past the cap the file keeps only its pending records (those already sent go). Records still
// owed are dropped only for a peer that has taken nothing for a long time: a peer that takes,
// however slowly, loses none; a long-absent one keeps the newest. Later appends still land after
// the kept ones.
TEST(PendingFiles, AFilePastItsCapDropsRecordsOnlyForALongAbsentPeer)
{
    struct Row
    {
        const char* peer;
        std::chrono::hours awayAfterTaking;
        std::size_t kept; // records in the file after the cap
    };
    const std::size_t owed = PendingFiles::kMaxRecords + 1 - 12;
    const Row rows[] = {
        {"connected and slow", std::chrono::hours(1), owed},
        {"away for two days", std::chrono::hours(48), PendingFiles::kKeepRecords},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.peer);
        TempDir dir;
        PendingFiles files(dir.path());
        auto clock = PendingFiles::Clock::now();
        files.setClock([&] { return clock; });
        std::vector<CatalogRecord> batch;
        for (std::size_t i = 0; i < PendingFiles::kMaxRecords; ++i)
            batch.push_back(pendingRecord("r" + std::to_string(i)));
        ASSERT_TRUE(files.putAll("peer", batch));
        EXPECT_EQ(readFile(dir.file("peer.dat")).size(), PendingFiles::kMaxRecords * 820u);
        // Twelve are sent (they stay in the file, marked), then one more record passes the cap.
        ASSERT_EQ(files.take("peer", 12).size(), 12u);
        clock += row.awayAfterTaking;
        ASSERT_TRUE(files.append("peer", pendingRecord("newest")));

        const auto kept = recordsOf(dir.file("peer.dat"));
        ASSERT_EQ(kept.size(), row.kept);
        const std::size_t firstKept = PendingFiles::kMaxRecords + 1 - row.kept;
        EXPECT_EQ(kept.front().fileNameCp932(), "r" + std::to_string(firstKept));
        EXPECT_EQ(kept.back().fileNameCp932(), "newest");
        ASSERT_TRUE(files.append("peer", pendingRecord("after")));
        EXPECT_EQ(recordsOf(dir.file("peer.dat")).back().fileNameCp932(), "after");
        EXPECT_EQ(names(files.take("peer", 1)),
                  std::vector<std::string>{"r" + std::to_string(firstKept)});
    }
}

// Records taken for a batch whose connection then ended are owed again, unless the file has
// moved on: a record queued or sent since for the same file is left as it is.
TEST(PendingFiles, RestoredRecordsAreOwedAgainUnlessSomethingNewerWasQueued)
{
    TempDir dir;
    PendingFiles files(dir.path());
    ASSERT_TRUE(files.putAll("peer", {pendingRecord("a"), pendingRecord("b"), pendingRecord("c")}));
    const auto taken = files.take("peer", 12);
    ASSERT_EQ(taken.size(), 3u);
    // b changes meanwhile: queued anew, not yet sent.
    ASSERT_TRUE(files.put("peer", pendingRecord("b", 1)));
    ASSERT_TRUE(files.restore("peer", taken));
    const auto again = files.take("peer", 12);
    EXPECT_EQ(names(again), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(again[1], pendingRecord("b", 1)) << "the newer b stays";

    // After a take that found nothing owed the file is gone; restoring appends.
    EXPECT_TRUE(files.take("peer", 12).empty());
    ASSERT_TRUE(files.restore("peer", {taken[0]}));
    EXPECT_EQ(names(files.take("peer", 12)), std::vector<std::string>{"a"});
}
