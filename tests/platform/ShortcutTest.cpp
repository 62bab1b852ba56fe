#include "platform/Shortcut.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace plat;

namespace {

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

std::string linkText(const std::string& path)
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
    return n < 0 ? std::string() : std::string(buf, static_cast<std::size_t>(n));
}

std::string canonical(const std::string& path)
{
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? buf : "";
}

} // namespace

TEST(Shortcut, OnlyALowerCaseLnkSuffixMakesAShortcut)
{
    const std::pair<const char*, bool> cases[] = {
        {"a.lnk", true},      {"報告書へのショートカット.lnk", true},
        {"A.LNK", false},     {"a.Lnk", false},
        {"a.lnk.txt", false}, {"lnk", false},
        {"alnk", false},
    };
    for (const auto& [name, expected] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(isShortcutName(name), expected);
    }
}

TEST(Shortcut, ResolvesToTheTargetsPathAndDescription)
{
    TempDir dir;
    ::mkdir(dir.file("docs").c_str(), 0755);
    ::mkdir(dir.file("SEND").c_str(), 0755);
    writeFile(dir.file("docs/報告書.pdf"), "pdf data");
    const std::string link = dir.file("SEND/報告書.pdfへのショートカット.lnk");
    ASSERT_TRUE(makeShortcut(link, dir.file("docs/報告書.pdf")));

    std::string target;
    FindRecord record;
    ASSERT_TRUE(resolveShortcut(link, target, record));
    EXPECT_EQ(target, canonical(dir.file("docs/報告書.pdf")));
    EXPECT_EQ(record.nameUtf8(), "報告書.pdf");
    EXPECT_EQ(record.size(), 8u);
    EXPECT_EQ(record.attributes(), FindAttr::Archive);

    // A relative link and a chain of links both end at the same absolute path.
    ::symlink("../docs/報告書.pdf", dir.file("SEND/rel.lnk").c_str());
    ::symlink(link.c_str(), dir.file("SEND/chain.lnk").c_str());
    for (const char* name : {"SEND/rel.lnk", "SEND/chain.lnk"}) {
        SCOPED_TRACE(name);
        std::string t;
        FindRecord r;
        ASSERT_TRUE(resolveShortcut(dir.file(name), t, r));
        EXPECT_EQ(t, target);
        EXPECT_EQ(r, record);
    }
}

TEST(Shortcut, DoesNotResolveWhatIsNotAWorkingShortcut)
{
    TempDir dir;
    writeFile(dir.file("target.txt"), "x");
    ::symlink(dir.file("target.txt").c_str(), dir.file("A.LNK").c_str());
    ::symlink(dir.file("gone.txt").c_str(), dir.file("dangling.lnk").c_str());
    writeFile(dir.file("plain.lnk"), "a regular file with the suffix");
    ::symlink(dir.file("\xE2\x99\xA5.txt").c_str(), dir.file("badname.lnk").c_str());
    writeFile(dir.file("\xE2\x99\xA5.txt"), "target name CP932 cannot hold");

    for (const char* name : {"A.LNK", "dangling.lnk", "plain.lnk", "badname.lnk", "none.lnk"}) {
        SCOPED_TRACE(name);
        std::string target = "unchanged";
        FindRecord record;
        EXPECT_FALSE(resolveShortcut(dir.file(name), target, record));
        EXPECT_EQ(target, "unchanged");
    }
}

TEST(Shortcut, MakeReplacesAnExistingLinkAndLeavesNoTemporaryName)
{
    TempDir dir;
    writeFile(dir.file("one"), "1");
    writeFile(dir.file("two"), "2");
    const std::string link = dir.file("x.lnk");
    ASSERT_TRUE(makeShortcut(link, dir.file("one")));
    ASSERT_TRUE(makeShortcut(link, dir.file("two")));
    EXPECT_EQ(linkText(link), dir.file("two"));

    // A relative target is stored absolute, so the link survives being resolved from elsewhere.
    const std::string cwd = canonical(".");
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    const bool made = makeShortcut(dir.file("rel.lnk"), "one");
    ASSERT_EQ(::chdir(cwd.c_str()), 0);
    ASSERT_TRUE(made);
    EXPECT_EQ(linkText(dir.file("rel.lnk")), canonical(dir.path()) + "/one");

    EXPECT_FALSE(makeShortcut(dir.file("no/such/folder/x.lnk"), dir.file("one")));

    bool ok = false;
    EXPECT_EQ(listFolder(dir.path(), &ok).size(), 4u); // one, two, x.lnk, rel.lnk
}
