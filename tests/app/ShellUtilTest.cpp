#include "app/ShellUtil.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

TEST(ShellUtil, VersionText)
{
    EXPECT_EQ(getVersionText(), std::string("Ver.:") + PAVO_VERSION);
}

struct TokenCase
{
    const char* text;
    const char* delimiters;
    const char* token;
    std::optional<std::string> rest;
};

TEST(ShellUtil, NextToken)
{
    const TokenCase cases[] = {
        {"  a,b", ",", "a", "b"},
        {"b", ",", "b", std::nullopt},
        {"name:5", nullptr, "name", "5"},
        {"USER alice ONLINESTATUS", nullptr, "USER", "alice ONLINESTATUS"},
        {"x,y z", "", "x,y", "z"},
        {"x,y", "", "x,y", std::nullopt},
        {"\t a;b", ";,", "a", "b"},
        {"a,,b", ",", "a", ",b"},
        {"日本語:1", nullptr, "日本語", "1"},
        {"   ", ",", "", std::nullopt},
        {"", nullptr, "", std::nullopt},
    };
    for (const auto& c : cases) {
        std::string token = "junk";
        const auto rest = nextToken(c.text, token, c.delimiters);
        EXPECT_EQ(token, c.token) << c.text;
        EXPECT_EQ(rest ? std::optional<std::string>(*rest) : std::nullopt, c.rest) << c.text;
    }
}

TEST(ShellUtil, NextTokenWalksAReply)
{
    std::string token;
    std::vector<std::string> tokens;
    std::optional<std::string_view> rest = "alice, bob,carol";
    while (rest) {
        rest = nextToken(*rest, token, ",");
        tokens.push_back(token);
    }
    EXPECT_EQ(tokens, (std::vector<std::string>{"alice", "bob", "carol"}));
}

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

TEST(ShellUtil, ShortcutsResolveUnlessDangling)
{
    TempDir dir;
    writeFile(dir.file("doc.txt"), "hello");
    ASSERT_EQ(createShortcut(dir.path(), dir.file("doc.txt.lnk"), "doc.txt"), 1);

    plat::FindRecord record;
    std::string target;
    testing::internal::CaptureStdout();
    EXPECT_EQ(GetTargetFile(dir.file("doc.txt.lnk"), record, target), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "GetTargetFile() start \nGetTargetFile() end \n");
    EXPECT_EQ(target, dir.file("doc.txt"));
    EXPECT_EQ(record.nameUtf8(), "doc.txt");
    EXPECT_EQ(record.size(), 5u);

    fs::remove(dir.file("doc.txt"));
    testing::internal::CaptureStdout();
    EXPECT_EQ(GetTargetFile(dir.file("doc.txt.lnk"), record, target), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "GetTargetFile() start \nGetTargetFile() end \n");
}

TEST(ShellUtil, SelectFolderGoesThroughTheHook)
{
    TempDir dir;
    EXPECT_EQ(selectFolder(dir.path()), std::nullopt); // no chooser installed

    std::string seenInitial, seenTitle;
    std::optional<std::string> answer;
    setFolderChooser([&](const std::string& initial, const std::string& title) {
        seenInitial = initial;
        seenTitle = title;
        return answer;
    });
    answer = dir.path();
    EXPECT_EQ(selectFolder("/start"), dir.path());
    EXPECT_EQ(seenInitial, "/start");
    EXPECT_EQ(seenTitle, "フォルダの選択");
    answer = std::nullopt;
    EXPECT_EQ(selectFolder("/start"), std::nullopt);
    answer = dir.file("missing");
    EXPECT_EQ(selectFolder("/start"), std::nullopt);
    setFolderChooser(nullptr);
}

} // namespace
