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

struct HexCase
{
    const char* text;
    std::vector<std::uint8_t> bytes;
    const char* printed;
};

TEST(ShellUtil, VersionText)
{
    EXPECT_EQ(getVersionText(), std::string("Ver.:") + PAVO_VERSION);
}

TEST(ShellUtil, HexToBytes)
{
    const HexCase cases[] = {
        {"0aFF", {10, 255}, ""},
        {"0g", {0}, ""},
        {"zz7f", {0, 0x7F}, ""},
        {"", {}, ""},
        {"abc", {}, "受信データの文字数が奇数です\n"},
    };
    for (const auto& c : cases) {
        std::uint8_t out[8] = {};
        testing::internal::CaptureStdout();
        const std::size_t n = hexToBytes(c.text, out, sizeof out);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << c.text;
        EXPECT_EQ(std::vector<std::uint8_t>(out, out + n), c.bytes) << c.text;
    }
}

TEST(ShellUtil, HexToBytesNeverWritesPastTheBuffer)
{
    std::uint8_t out[3] = {7, 7, 7};
    testing::internal::CaptureStdout();
    EXPECT_EQ(hexToBytes("01020304", out, 2), 0u);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(out[2], 7);
    EXPECT_EQ(out[0], 7);
    EXPECT_EQ(hexToBytes("0102", out, 2), 2u);
    EXPECT_EQ(out[2], 7);
}

TEST(ShellUtil, AppendHexIsTheInverseOfHexToBytes)
{
    std::vector<std::uint8_t> bytes(256);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i);
    std::string text = "WRITE ";
    appendHex(text, bytes.data(), bytes.size());
    EXPECT_EQ(text.substr(0, 12), "WRITE 000102");
    EXPECT_EQ(text.substr(text.size() - 4), "feff");
    std::vector<std::uint8_t> back(bytes.size());
    ASSERT_EQ(hexToBytes(std::string_view(text).substr(6), back.data(), back.size()), bytes.size());
    EXPECT_EQ(back, bytes);
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
