#include "platform/Files.h"

#include "platform/AtomicFile.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace plat;

namespace {

std::vector<std::uint8_t> bytesOf(std::string_view s)
{
    return {s.begin(), s.end()};
}

} // namespace

TEST(Files, JoinPathAddsExactlyOneSeparator)
{
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"a", "b", "a/b"},  {"a/", "b", "a/b"},
        {"a", "/b", "a/b"}, {"a/", "/b", "a/b"},
        {"", "b", "b"},     {"a", "", "a"},
        {"/", "x", "/x"},   {"RECV/node", "f.txt", "RECV/node/f.txt"},
    };
    for (const auto& [a, b, expected] : cases)
        EXPECT_EQ(joinPath(a, b), expected) << a << " + " << b;
}

TEST(Files, SafeComponentRefusesWhatCouldLeaveTheFolder)
{
    const std::pair<std::string, bool> cases[] = {
        {"report.pdf", true},
        {"..x", true},
        {"へのショートカット.lnk", true},
        {"a\\b", true},
        {"", false},
        {".", false},
        {"..", false},
        {"../etc", false},
        {"a/b", false},
        {"a\nb", false},
        {std::string("a\0b", 3), false},
        {"a\x7f", false},
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(isSafeComponent(name), expected) << testing::PrintToString(name);
}

TEST(Files, ReadWholeFileHonoursItsLimit)
{
    TempDir dir;
    const std::string path = dir.file("data");
    std::string big(200000, 'z');
    ASSERT_TRUE(AtomicFile::save(path, big.data(), big.size()));

    std::vector<std::uint8_t> data = bytesOf("old");
    EXPECT_FALSE(readWholeFile(path, data, big.size() - 1));
    EXPECT_EQ(data, bytesOf("old")); // untouched on failure
    ASSERT_TRUE(readWholeFile(path, data, big.size()));
    EXPECT_EQ(data.size(), big.size());

    EXPECT_FALSE(readWholeFile(dir.file("missing"), data));
    EXPECT_FALSE(readWholeFile(dir.path(), data));
}

TEST(Files, FoldersExistenceAndRemoval)
{
    TempDir dir;
    const std::string deep = dir.file("RECV/node/sub");
    EXPECT_TRUE(makeFolders(deep));
    EXPECT_TRUE(makeFolders(deep)); // already there
    EXPECT_FALSE(fileExists(deep));

    const std::string file = dir.file("RECV/node/f.txt");
    std::ofstream(file) << "x";
    EXPECT_FALSE(makeFolders(file));
    EXPECT_TRUE(fileExists(file));

    const std::string link = dir.file("f.lnk");
    ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
    EXPECT_TRUE(fileExists(link));
    EXPECT_TRUE(removeFile(link)); // the link goes, its target stays
    EXPECT_TRUE(fileExists(file));
    EXPECT_FALSE(removeFile(link));

    ASSERT_EQ(::symlink(dir.file("gone").c_str(), link.c_str()), 0);
    EXPECT_FALSE(fileExists(link));
    EXPECT_TRUE(removeFile(link));
}

TEST(Files, CurrentFolderIsAbsolute)
{
    const std::string cwd = currentFolder();
    ASSERT_FALSE(cwd.empty());
    EXPECT_EQ(cwd.front(), '/');
}
