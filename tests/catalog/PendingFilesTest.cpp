#include "catalog/PendingFiles.h"

#include "support/RecordFiles.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

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

// A peer that never takes its records: past the cap the file is cut to the newest pending
// records; records already sent go first. Later appends still land after the kept ones.
TEST(PendingFiles, AFilePastItsCapKeepsOnlyTheNewestPendingRecords)
{
    TempDir dir;
    PendingFiles files(dir.path());
    std::vector<CatalogRecord> batch;
    for (std::size_t i = 0; i < PendingFiles::kMaxRecords; ++i)
        batch.push_back(pendingRecord("r" + std::to_string(i)));
    ASSERT_TRUE(files.putAll("peer", batch));
    EXPECT_EQ(readFile(dir.file("peer.dat")).size(), PendingFiles::kMaxRecords * 820u);
    // Twelve are sent (they stay in the file, marked), then one more record passes the cap.
    ASSERT_EQ(files.take("peer", 12).size(), 12u);
    ASSERT_TRUE(files.append("peer", pendingRecord("newest")));

    const auto kept = recordsOf(dir.file("peer.dat"));
    ASSERT_EQ(kept.size(), PendingFiles::kKeepRecords);
    const std::size_t firstKept = PendingFiles::kMaxRecords + 1 - PendingFiles::kKeepRecords;
    EXPECT_EQ(kept.front().fileNameCp932(), "r" + std::to_string(firstKept));
    EXPECT_EQ(kept.back().fileNameCp932(), "newest");
    ASSERT_TRUE(files.append("peer", pendingRecord("after")));
    EXPECT_EQ(recordsOf(dir.file("peer.dat")).back().fileNameCp932(), "after");
    EXPECT_EQ(names(files.take("peer", 1)),
              std::vector<std::string>{"r" + std::to_string(firstKept)});
}
