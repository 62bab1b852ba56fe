#include "platform/IniFile.h"

#include "support/TempDir.h"
#include "support/TextFiles.h"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::size_t entriesIn(const std::string& folder)
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder))
        ++n;
    return n;
}

// A file as a user's editor might leave it: a byte-order mark, CR LF line ends, comments,
// blanks everywhere, mixed case, a key before any section, a repeated section and a header
// whose closing bracket is missing.
const std::string kMessy = "\xEF\xBB\xBF"
                           "orphan=before any section\r\n"
                           "; comment=not a key\r\n"
                           "[System]\r\n"
                           "  Party =  Alpha Beta  \r\n"
                           "name=\r\n"
                           "LIMITDAY=\t5\r\n"
                           "no equals sign here\r\n"
                           "\r\n"
                           "[ rec1 ]\r\n"
                           "NAME=first\r\n"
                           "[SYSTEM]\r\n"
                           "party=shadowed\r\n"
                           "extra=from the second header\r\n"
                           "[broken\r\n"
                           "key=in broken\r\n";

TEST(IniFile, ReadsNamesWithoutCaseAndValuesTrimmed)
{
    TempDir dir;
    writeText(dir.file("Pavo.ini"), kMessy);
    const plat::IniFile ini(dir.file("Pavo.ini"));
    struct Row
    {
        const char* section;
        const char* key;
        const char* expected;
    };
    const Row rows[] = {
        {"SYSTEM", "PARTY", "Alpha Beta"},
        {"system", "party", "Alpha Beta"}, // the first of two matching lines wins
        {" SYSTEM ", " PARTY ", "Alpha Beta"},
        {"SYSTEM", "NAME", ""}, // present but empty is not the default
        {"SYSTEM", "LIMITDAY", "5"},
        {"SYSTEM", "EXTRA", "from the second header"},
        {"REC1", "name", "first"},
        {"broken", "key", "in broken"},
        {"SYSTEM", "orphan", "<def>"}, // keys before any section belong to none
        {"SYSTEM", "; comment", "<def>"},
        {"SYSTEM", "no equals sign here", "<def>"},
        {"REC1", "PARTY", "<def>"},
        {"MISSING", "PARTY", "<def>"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ini.getString(row.section, row.key, "<def>"), row.expected)
            << row.section << "/" << row.key;
}

TEST(IniFile, MissingOrUnreadableFileGivesDefaults)
{
    TempDir dir;
    const plat::IniFile missing(dir.file("nothing.ini"));
    EXPECT_EQ(missing.getString("SYSTEM", "PARTY", "def"), "def");
    EXPECT_EQ(missing.getInt("SYSTEM", "LISTENPORT", 42000), 42000);
    const plat::IniFile folder(dir.path());
    EXPECT_EQ(folder.getString("SYSTEM", "PARTY", "def"), "def");
    writeText(dir.file("empty.ini"), "");
    EXPECT_EQ(plat::IniFile(dir.file("empty.ini")).getInt("SYSTEM", "WINDOW", 7), 7);
}

TEST(IniFile, GetIntTakesLeadingDigitsAndSaturates)
{
    TempDir dir;
    struct Row
    {
        const char* value;
        int expected;
    };
    const Row rows[] = {
        {"12", 12},
        {"-3", -3},
        {"+4", 4},
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {" 7x", 7},
        {"08", 8},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"99999999999", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-99999999999999999999999", INT_MIN},
        {"1 2", 1},
    };
    for (const Row& row : rows) {
        writeText(dir.file("n.ini"), std::string("[S]\nK=") + row.value + "\n");
        EXPECT_EQ(plat::IniFile(dir.file("n.ini")).getInt("S", "K", -99), row.expected)
            << '"' << row.value << '"';
    }
    EXPECT_EQ(plat::IniFile(dir.file("n.ini")).getInt("S", "OTHER", -99), -99);
}

TEST(IniFile, GetStringCutsAtLimitButNeverInsideACharacter)
{
    TempDir dir;
    // "あいう" is three 3-byte characters.
    writeText(dir.file("u.ini"), "[S]\nK=\xE3\x81\x82\xE3\x81\x84\xE3\x81\x86\n");
    const plat::IniFile ini(dir.file("u.ini"));
    EXPECT_EQ(ini.getString("S", "K", "", 9).size(), 9u);
    EXPECT_EQ(ini.getString("S", "K", "", 8), "\xE3\x81\x82\xE3\x81\x84");
    EXPECT_EQ(ini.getString("S", "K", "", 4), "\xE3\x81\x82");
    EXPECT_EQ(ini.getString("S", "K", "", 2), "");
    EXPECT_EQ(ini.getString("S", "missing", "a default longer than the limit", 3),
              "a default longer than the limit");
}

TEST(IniFile, WritesInPlaceAppendToSectionOrAddSection)
{
    TempDir dir;
    const std::string path = dir.file("Pavo.ini");
    writeText(path, "; settings\n"
                    "[SYSTEM]\n"
                    "PARTY=old\n"
                    "NAME=node\n"
                    "\n"
                    "; about the connections\n"
                    "[REC1]\n"
                    "NAME=peer");
    plat::IniFile ini(path);
    ASSERT_TRUE(ini.writeString("system", "party", "new"));
    ASSERT_TRUE(ini.writeInt("SYSTEM", "LIMITDAY", 9));
    ASSERT_TRUE(ini.writeString("REC1", "TRS", "TCP"));
    ASSERT_TRUE(ini.writeString("REC2", "NAME", "second"));
    EXPECT_EQ(readText(path), "; settings\n"
                              "[SYSTEM]\n"
                              "party=new\n"
                              "NAME=node\n"
                              "LIMITDAY=9\n"
                              "\n"
                              "; about the connections\n"
                              "[REC1]\n"
                              "NAME=peer\n"
                              "TRS=TCP\n"
                              "[REC2]\n"
                              "NAME=second\n");
    EXPECT_EQ(ini.getInt("SYSTEM", "LIMITDAY", 3), 9);
    EXPECT_EQ(ini.getString("rec2", "name", ""), "second");
}

TEST(IniFile, WriteCreatesAMissingFile)
{
    TempDir dir;
    plat::IniFile ini(dir.file("Pavo.ini"));
    ASSERT_TRUE(ini.writeInt("SYSTEM", "CONNECTNUM", 0));
    EXPECT_EQ(readText(ini.path()), "[SYSTEM]\nCONNECTNUM=0\n");
}

TEST(IniFile, WriteKeepsCrLfAndEveryOtherByte)
{
    TempDir dir;
    const std::string path = dir.file("Pavo.ini");
    writeText(path, kMessy);
    plat::IniFile ini(path);
    ASSERT_TRUE(ini.writeString("SYSTEM", "NAME", "node1"));
    ASSERT_TRUE(ini.writeString("broken", "added", "x"));
    ASSERT_TRUE(ini.writeString("NEW", "K", "v"));
    std::string expected = kMessy;
    expected.replace(expected.find("name=\r\n"), 7, "NAME=node1\r\n");
    expected += "added=x\r\n[NEW]\r\nK=v\r\n";
    EXPECT_EQ(readText(path), expected);
}

TEST(IniFile, BinaryGarbageIsReadAroundAndKeptOnWrite)
{
    using namespace std::string_literals;
    TempDir dir;
    const std::string path = dir.file("Pavo.ini");
    const std::string longLine(1 << 20, 'x');
    const std::string content = "\x00\xFF\xFE[\x80\x00=\xC3\n"s + "[SYSTEM]\nPARTY=p\xFF\x00q\n"s +
                                longLine + "\nNAME=n\n" + "\x00\x01\x02"s;
    writeText(path, content);
    plat::IniFile ini(path);
    EXPECT_EQ(ini.getString("SYSTEM", "PARTY", ""), "p\xFF\x00q"s);
    EXPECT_EQ(ini.getString("SYSTEM", "NAME", ""), "n");
    ASSERT_TRUE(ini.writeString("SYSTEM", "NAME", "m"));
    ASSERT_TRUE(ini.writeString("OTHER", "K", "v"));
    std::string expected = content;
    expected.replace(expected.find("NAME=n"), 6, "NAME=m");
    expected += "\n[OTHER]\nK=v\n";
    // Compared as a whole but not printed: the long line would bury the report.
    EXPECT_TRUE(readText(path) == expected);
    EXPECT_EQ(ini.getString("OTHER", "K", ""), "v");
}

TEST(IniFile, ValuesAndNamesCannotInjectLines)
{
    TempDir dir;
    plat::IniFile ini(dir.file("Pavo.ini"));
    ASSERT_TRUE(ini.writeString("SYSTEM", "COMMENT", "one\r\n[SYSTEM]\nPARTY=evil"));
    EXPECT_EQ(ini.getString("SYSTEM", "PARTY", "none"), "none");
    EXPECT_EQ(ini.getString("SYSTEM", "COMMENT", ""), "one  [SYSTEM] PARTY=evil");
    const char* badKeys[] = {"", "  ", "a=b", "[x", ";x", "#x", "a\nb"};
    for (const char* key : badKeys)
        EXPECT_FALSE(ini.writeString("SYSTEM", key, "v")) << '"' << key << '"';
    EXPECT_FALSE(ini.writeString("a]b", "K", "v"));
    EXPECT_FALSE(ini.writeString("a\nb", "K", "v"));
    EXPECT_EQ(readText(ini.path()), "[SYSTEM]\nCOMMENT=one  [SYSTEM] PARTY=evil\n");
}

TEST(IniFile, FailedWriteLeavesTheOldFile)
{
    TempDir dir;
    plat::IniFile noFolder(dir.file("no/such/folder/Pavo.ini"));
    EXPECT_FALSE(noFolder.writeString("SYSTEM", "PARTY", "p"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("no")));

    plat::IniFile isFolder(dir.path());
    EXPECT_FALSE(isFolder.writeString("SYSTEM", "PARTY", "p"));

    // A disk that fills up half-way through the rewrite: the old file must survive whole and
    // the temporary file must not be left behind.
    const std::string path = dir.file("Pavo.ini");
    const std::string old = "[SYSTEM]\nPARTY=old\n";
    writeText(path, old);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = plat::IniFile(path).writeString("SYSTEM", "NAME", std::string(200, 'n'));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(readText(path), old);
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(IniFile, RewriteKeepsModeAndFollowsALink)
{
    TempDir dir;
    const std::string real = dir.file("real.ini");
    writeText(real, "[S]\nK=1\n");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    ASSERT_EQ(::symlink("real.ini", dir.file("Pavo.ini").c_str()), 0);
    plat::IniFile ini(dir.file("Pavo.ini"));
    ASSERT_TRUE(ini.writeInt("S", "K", 2));
    struct stat st = {};
    ASSERT_EQ(::lstat(dir.file("Pavo.ini").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(readText(real), "[S]\nK=2\n");
    EXPECT_EQ(entriesIn(dir.path()), 2u);
}

} // namespace
