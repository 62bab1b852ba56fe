#include "platform/FindRecord.h"

#include "platform/Bytes.h"
#include "platform/LocalTime.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace plat;

namespace {

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

} // namespace

TEST(FindRecord, FieldsSitAtTheirOffsets)
{
    FindRecord r;
    r.setAttributes(0x21);
    r.setCreationTime(0x0102030405060708ULL);
    r.setLastAccessTime(0x1112131415161718ULL);
    r.setLastWriteTime(0x2122232425262728ULL);
    r.setSize(0x0000000500000007ULL);
    r.setNameCp932("\x83\x5C.txt");

    const std::uint8_t* b = r.bytes.data();
    EXPECT_EQ(getU32(b + 0), 0x21u);
    EXPECT_EQ(getU32(b + 4), 0x05060708u); // low word first
    EXPECT_EQ(getU32(b + 8), 0x01020304u);
    EXPECT_EQ(getU64(b + 12), 0x1112131415161718ULL);
    EXPECT_EQ(getU64(b + 20), 0x2122232425262728ULL);
    EXPECT_EQ(getU32(b + 28), 5u); // high word before low word
    EXPECT_EQ(getU32(b + 32), 7u);
    EXPECT_EQ(r.size(), 0x0000000500000007ULL);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b + 44), 6), "\x83\x5C.txt");
    EXPECT_EQ(r.nameUtf8(), "ソ.txt");
    EXPECT_TRUE(std::all_of(b + 304, b + 320, [](std::uint8_t c) { return c == 0; }));
}

TEST(FindRecord, AttributesFollowTheKindOfFile)
{
    TempDir dir;
    writeFile(dir.file("plain.txt"), "hello");
    writeFile(dir.file("locked.txt"), "x");
    ::chmod(dir.file("locked.txt").c_str(), 0444);
    writeFile(dir.file(".hidden"), "");
    ::mkdir(dir.file("folder").c_str(), 0755);
    ::mkdir(dir.file(".cfg").c_str(), 0755);
    ::mkfifo(dir.file("pipe").c_str(), 0644);
    ::symlink("plain.txt", dir.file("link").c_str());

    struct Case
    {
        const char* name;
        bool noFollow;
        std::uint32_t attributes;
        std::uint64_t size;
    };
    const Case cases[] = {
        {"plain.txt", false, FindAttr::Archive, 5},
        {"locked.txt", false, FindAttr::Archive | FindAttr::ReadOnly, 1},
        {".hidden", false, FindAttr::Archive | FindAttr::Hidden, 0},
        {"folder", false, FindAttr::Directory, 0},
        {".cfg", false, FindAttr::Directory | FindAttr::Hidden, 0},
        {"pipe", false, FindAttr::Device, 0},
        {"link", false, FindAttr::Archive, 5}, // followed: describes plain.txt under its own name
        {"link", true, FindAttr::ReparsePoint, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << (c.noFollow ? " (noFollow)" : ""));
        FindRecord r;
        ASSERT_EQ(statFindRecord(dir.file(c.name), r, c.noFollow), FindResult::Ok);
        EXPECT_EQ(r.attributes(), c.attributes);
        EXPECT_EQ(r.size(), c.size);
        EXPECT_EQ(r.nameUtf8(), c.name);
        EXPECT_NE(r.creationTime(), 0u);
    }
}

TEST(FindRecord, TimesAreFileTimes)
{
    TempDir dir;
    const std::string path = dir.file("dated");
    writeFile(path, "abc");
    // 2020-01-01 00:00:00.5 UTC written, 2021-01-01 UTC read.
    const timespec times[2] = {{1609459200, 0}, {1577836800, 500000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    FindRecord r;
    ASSERT_EQ(statFindRecord(path, r), FindResult::Ok);
    EXPECT_EQ(r.lastWriteTime(), 132223104005000000ULL);
    EXPECT_EQ(r.lastAccessTime(), fileTimeFromUnixNs(1609459200LL * 1'000'000'000));
}

TEST(FindRecord, ReportsMissingFilesAndNamesCp932CannotHold)
{
    TempDir dir;
    FindRecord r;
    EXPECT_EQ(statFindRecord(dir.file("missing"), r), FindResult::NotFound);
    EXPECT_EQ(statFindRecord(dir.file("missing/below"), r), FindResult::NotFound);
    ::symlink(dir.file("missing").c_str(), dir.file("dangling").c_str());
    EXPECT_EQ(statFindRecord(dir.file("dangling"), r), FindResult::NotFound);
    EXPECT_EQ(statFindRecord(dir.file("dangling"), r, true), FindResult::Ok);

    writeFile(dir.file("love\xE2\x99\xA5.txt"), "x");
    EXPECT_EQ(statFindRecord(dir.file("love\xE2\x99\xA5.txt"), r), FindResult::BadName);
    EXPECT_EQ(r.nameCp932(), "");

    writeFile(dir.file("へのショートカット"), "x");
    ASSERT_EQ(statFindRecord(dir.file("へのショートカット") + "/", r), FindResult::NotFound);
    ASSERT_EQ(statFindRecord(dir.file("へのショートカット"), r), FindResult::Ok);
    EXPECT_EQ(r.nameUtf8(), "へのショートカット");
}

TEST(FindRecord, ListFolderDescribesEntriesWithoutFollowingLinks)
{
    TempDir dir;
    writeFile(dir.file("a.txt"), "12");
    ::mkdir(dir.file("sub").c_str(), 0755);
    writeFile(dir.file("sub/inner"), "not listed");
    ::symlink(dir.file("a.txt").c_str(), dir.file("a.lnk").c_str());
    writeFile(dir.file("\xE2\x82\xAC"), ""); // €

    bool ok = false;
    auto entries = listFolder(dir.path(), &ok);
    ASSERT_TRUE(ok);
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& x, const FolderEntry& y) { return x.name < y.name; });
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].name, "a.lnk");
    EXPECT_EQ(entries[0].record.attributes(), FindAttr::ReparsePoint);
    EXPECT_EQ(entries[1].name, "a.txt");
    EXPECT_EQ(entries[1].result, FindResult::Ok);
    EXPECT_EQ(entries[1].record.size(), 2u);
    EXPECT_EQ(entries[2].name, "sub");
    EXPECT_EQ(entries[2].record.attributes(), FindAttr::Directory);
    EXPECT_EQ(entries[3].result, FindResult::BadName);

    EXPECT_TRUE(listFolder(dir.file("nowhere"), &ok).empty());
    EXPECT_FALSE(ok);
}
