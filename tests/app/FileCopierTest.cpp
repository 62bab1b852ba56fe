#include "app/CopyProgress.h"
#include "app/ShellUtil.h"
#include "support/TempDir.h"
#include "support/TextFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> namesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct Recorder : CopyProgress
{
    void start(std::uint64_t total) override { this->total = total, ++starts; }
    bool advance(std::uint64_t bytes) override
    {
        done += bytes;
        return cancelAfter < 0 || ++advances <= cancelAfter;
    }
    bool confirmReplace(const std::string& path) override
    {
        asked.push_back(path);
        return replace;
    }
    void finish() override { ++finishes; }

    std::uint64_t total = 0, done = 0;
    int starts = 0, finishes = 0, advances = 0;
    int cancelAfter = -1; // advances allowed before the user cancels; -1 never
    bool replace = true;
    std::vector<std::string> asked;
};

class FileCopierTest : public testing::Test
{
protected:
    TempDir dir;
    std::string src(const std::string& n) const { return dir.file("src/" + n); }
    std::string dst(const std::string& n) const { return dir.file("dst/" + n); }
    void SetUp() override { fs::create_directories(dir.file("src")); }
};

} // namespace

TEST_F(FileCopierTest, CopiesAFileIntoNewFoldersKeepingItsTime)
{
    writeText(src("a.txt"), "contents");
    const auto when = fs::last_write_time(src("a.txt")) - std::chrono::hours(48);
    fs::last_write_time(src("a.txt"), when);
    Recorder progress;
    ASSERT_EQ(copyFiles({dst("deep/er/a copy.txt")}, {src("a.txt")}, &progress), 1);
    EXPECT_EQ(readText(dst("deep/er/a copy.txt")), "contents");
    EXPECT_EQ(fs::last_write_time(dst("deep/er/a copy.txt")), when);
    EXPECT_EQ(namesIn(dst("deep/er")), std::vector<std::string>{"a copy.txt"});
    EXPECT_EQ(progress.total, 8u);
    EXPECT_EQ(progress.done, 8u);
    EXPECT_EQ(progress.starts, 1);
    EXPECT_EQ(progress.finishes, 1);
}

TEST_F(FileCopierTest, CopiesAFolderWithShortcutsAsLinks)
{
    fs::create_directories(src("tree/sub"));
    writeText(src("tree/one"), "1");
    writeText(src("tree/sub/two"), "22");
    fs::create_symlink(src("tree/one"), src("tree/sub/one.lnk"));
    fs::create_symlink("/nowhere/at/all", src("tree/dangling.lnk"));
    Recorder progress;
    ASSERT_EQ(copyFiles({dst("tree")}, {src("tree")}, &progress), 1);
    EXPECT_EQ(readText(dst("tree/one")), "1");
    EXPECT_EQ(readText(dst("tree/sub/two")), "22");
    EXPECT_TRUE(fs::is_symlink(dst("tree/sub/one.lnk")));
    EXPECT_EQ(fs::read_symlink(dst("tree/sub/one.lnk")), src("tree/one"));
    EXPECT_EQ(fs::read_symlink(dst("tree/dangling.lnk")), "/nowhere/at/all");
    EXPECT_EQ(progress.total, 3u);
}

TEST_F(FileCopierTest, ShortcutIsCopiedAsTheLinkItselfButOtherLinksAreFollowed)
{
    writeText(src("target"), "data");
    fs::create_symlink(src("target"), src("doc.lnk"));
    fs::create_symlink(src("target"), src("plain-link"));
    ASSERT_EQ(
        copyFiles({dst("doc.lnk"), dst("plain")}, {src("doc.lnk"), src("plain-link")}, nullptr), 1);
    EXPECT_TRUE(fs::is_symlink(dst("doc.lnk")));
    EXPECT_EQ(fs::read_symlink(dst("doc.lnk")), src("target"));
    EXPECT_FALSE(fs::is_symlink(dst("plain")));
    EXPECT_EQ(readText(dst("plain")), "data");
}

TEST_F(FileCopierTest, CancelRemovesThePartlyWrittenFile)
{
    writeText(src("small"), "s");
    writeText(src("big"), std::string(300 * 1024, 'x'));
    fs::create_directories(dst(""));
    writeText(dst("big"), "previous");
    Recorder progress;
    progress.cancelAfter = 2; // the small file, then one chunk of the big one
    EXPECT_EQ(copyFiles({dst("small"), dst("big")}, {src("small"), src("big")}, &progress), 0);
    EXPECT_EQ(readText(dst("small")), "s");
    EXPECT_EQ(readText(dst("big")), "previous"); // the old file is untouched
    EXPECT_EQ(namesIn(dst("")), (std::vector<std::string>{"big", "small"}));
    EXPECT_EQ(progress.finishes, 1);
}

TEST_F(FileCopierTest, ReplacingAsksWhenThereIsSomeoneToAsk)
{
    writeText(src("f"), "new");
    fs::create_directories(dst(""));
    writeText(dst("f"), "old");

    Recorder keep;
    keep.replace = false;
    EXPECT_EQ(copyFiles({dst("f")}, {src("f")}, &keep), 1);
    EXPECT_EQ(keep.asked, std::vector<std::string>{dst("f")});
    EXPECT_EQ(readText(dst("f")), "old");

    Recorder replace;
    EXPECT_EQ(copyFiles({dst("f")}, {src("f")}, &replace), 1);
    EXPECT_EQ(readText(dst("f")), "new");

    writeText(src("f"), "newer");
    EXPECT_EQ(copyFiles({dst("f")}, {src("f")}, nullptr), 1);
    EXPECT_EQ(readText(dst("f")), "newer");
}

TEST_F(FileCopierTest, RefusedCopies)
{
    fs::create_directories(src("tree"));
    writeText(src("tree/x"), "x");
    writeText(src("f"), "f");
    fs::create_directories(dst("folder"));
    // A folder into itself would never end.
    EXPECT_EQ(copyFiles({src("tree/inner")}, {src("tree")}, nullptr), 0);
    EXPECT_FALSE(fs::exists(src("tree/inner")));
    // A missing source, a file over a folder, lists of different lengths.
    EXPECT_EQ(copyFiles({dst("m")}, {src("missing")}, nullptr), 0);
    EXPECT_EQ(copyFiles({dst("folder")}, {src("f")}, nullptr), 0);
    EXPECT_TRUE(fs::is_directory(dst("folder")));
    EXPECT_EQ(copyFiles({dst("a"), dst("b")}, {src("f")}, nullptr), 0);
    EXPECT_FALSE(fs::exists(dst("a")));
}
