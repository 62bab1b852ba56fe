#include "platform/AtomicFile.h"

#include "support/TempDir.h"
#include "support/TextFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using plat::AtomicFile;

namespace {

std::vector<std::string> entries(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* d = ::opendir(folder.c_str());
    while (const dirent* e = d ? ::readdir(d) : nullptr)
        if (std::string_view(e->d_name) != "." && std::string_view(e->d_name) != "..")
            names.emplace_back(e->d_name);
    if (d)
        ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

mode_t modeOf(const std::string& path)
{
    struct stat st = {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode;
}

// What a descriptor refers to, for telling the temporary file's sync from the folder's.
std::string pathOf(int fd)
{
    char buf[PATH_MAX] = {};
    const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

bool save(const std::string& path, const std::string& text, const AtomicFile::Ops& ops)
{
    AtomicFile file(path, ops);
    return file.open() && file.write(text.data(), text.size()) && file.commit();
}

} // namespace

TEST(AtomicFile, ReplacesTheWholeFileAndKeepsItsMode)
{
    TempDir dir;
    const std::string path = dir.file("Pavo.ini");
    ASSERT_TRUE(AtomicFile::save(path, "first version", 13, 0600));
    EXPECT_EQ(modeOf(path) & 07777, 0600u);
    ASSERT_TRUE(AtomicFile::save(path, "2nd", 3));
    EXPECT_EQ(readText(path), "2nd");
    EXPECT_EQ(modeOf(path) & 07777, 0600u); // an owner-only file stays owner-only
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"Pavo.ini"});

    const mode_t mask = ::umask(022);
    ASSERT_TRUE(AtomicFile::save(dir.file("new"), nullptr, 0));
    ::umask(mask);
    EXPECT_EQ(modeOf(dir.file("new")) & 07777, 0644u);
    EXPECT_EQ(readText(dir.file("new")), "");
}

TEST(AtomicFile, ALinkAtThePathIsReplacedNotFollowed)
{
    TempDir dir;
    const std::string outside = dir.file("outside");
    writeText(outside, "keep me");
    ASSERT_EQ(::chmod(outside.c_str(), 0600), 0);
    const std::string path = dir.file("catalog.dat");
    ASSERT_EQ(::symlink(outside.c_str(), path.c_str()), 0);

    ASSERT_TRUE(AtomicFile::save(path, "new", 3));
    EXPECT_TRUE(S_ISREG(modeOf(path)));
    EXPECT_NE(modeOf(path) & 07777, 0600u); // the mode of the file behind the link is not taken
    EXPECT_EQ(readText(path), "new");
    EXPECT_EQ(readText(outside), "keep me");

    // And the other way round: a link replaces a file, which the link may point at.
    ASSERT_TRUE(AtomicFile::saveLink(path, outside));
    EXPECT_TRUE(S_ISLNK(modeOf(path)));
    EXPECT_EQ(readText(path), "keep me");
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"catalog.dat", "outside"}));
}

TEST(AtomicFile, TheTemporaryIsNeverOpenToOthersNotEvenAtItsCreation)
{
    // Whoever opens the temporary while it is wider keeps reading it after the mode narrows:
    // a settings file that holds a key must be owner-only from its first moment.
    TempDir dir;
    const std::string path = dir.file("Pavo.ini");
    AtomicFile::Ops ops = AtomicFile::systemOps();
    std::vector<mode_t> created;
    ops.create = [&](int d, const char* name, int flags, mode_t mode) {
        created.push_back(mode);
        return ::openat(d, name, flags, mode);
    };
    writeText(path, "[PARTYKEY]\nKEY=00\n");
    ::chmod(path.c_str(), 0600);
    ASSERT_TRUE(save(path, "[PARTYKEY]\nKEY=11\n", ops));
    AtomicFile explicitMode(dir.file("other"), ops);
    ASSERT_TRUE(explicitMode.open(0600) && explicitMode.commit());
    ASSERT_EQ(created.size(), 2u);
    for (mode_t m : created)
        EXPECT_EQ(m & 077, 0u) << std::oct << m;
    EXPECT_EQ(modeOf(path) & 07777, 0600u);
}

TEST(AtomicFile, AFailureLeavesTheOldFileAndNoTemporary)
{
    const auto failing = [](auto op) {
        AtomicFile::Ops ops = AtomicFile::systemOps();
        op(ops);
        return ops;
    };
    const std::pair<const char*, AtomicFile::Ops> cases[] = {
        {"write", failing([](AtomicFile::Ops& o) {
             o.write = [](int, const void*, std::size_t) -> ssize_t {
                 errno = ENOSPC;
                 return -1;
             };
         })},
        {"short write", failing([](AtomicFile::Ops& o) {
             o.write = [](int fd, const void* p, std::size_t n) -> ssize_t {
                 return n > 4 ? ::write(fd, p, 4) : (errno = EDQUOT, -1);
             };
         })},
        {"fsync",
         failing([](AtomicFile::Ops& o) { o.fsync = [](int) { return errno = EIO, -1; }; })},
        {"rename", failing([](AtomicFile::Ops& o) {
             o.rename = [](int, const char*, const char*) { return errno = EXDEV, -1; };
         })},
    };
    for (const auto& [what, ops] : cases) {
        TempDir dir;
        const std::string path = dir.file("Pavo.ini");
        writeText(path, "old contents");
        EXPECT_FALSE(save(path, "new and longer contents", ops)) << what;
        EXPECT_EQ(readText(path), "old contents") << what;
        EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"Pavo.ini"}) << what;
    }
}

TEST(AtomicFile, AFullDiskLeavesTheOldFile)
{
    TempDir dir;
    const std::string path = dir.file("nodeInfomation");
    const std::string old(100, 'o');
    writeText(path, old);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string big(200, 'n');
    errno = 0;
    const bool written = AtomicFile::save(path, big.data(), big.size());
    const int error = errno;
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(error, EFBIG);
    EXPECT_EQ(readText(path), old);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"nodeInfomation"});
}

TEST(AtomicFile, SyncsTheFileBeforeTheRenameAndTheFolderAfterIt)
{
    TempDir dir;
    std::vector<std::string> calls;
    AtomicFile::Ops ops = AtomicFile::systemOps();
    ops.fsync = [&](int fd) {
        calls.push_back("fsync " + pathOf(fd));
        return ::fsync(fd);
    };
    ops.rename = [&](int d, const char* from, const char* to) {
        calls.push_back(std::string("rename ") + to);
        return ::renameat(d, from, d, to);
    };
    AtomicFile file(dir.file("dirList"), ops);
    ASSERT_TRUE(file.open());
    const std::string temp = pathOf(file.fd());
    EXPECT_EQ(temp.rfind(dir.path() + "/.dirList.", 0), 0u) << temp; // hidden, beside the file
    ASSERT_TRUE(file.write("x", 1));
    ASSERT_TRUE(file.commit());
    EXPECT_EQ(calls,
              (std::vector<std::string>{"fsync " + temp, "rename dirList", "fsync " + dir.path()}));
}

TEST(AtomicFile, UncommittedOrUnusableAttemptsLeaveNothingBehind)
{
    TempDir dir;
    const std::string path = dir.file("SEND/report.pdf.lnk");
    {
        AtomicFile file(dir.file("f"));
        ASSERT_TRUE(file.open());
        ASSERT_TRUE(file.write("abc", 3));
    }
    EXPECT_TRUE(entries(dir.path()).empty());

    EXPECT_FALSE(AtomicFile::save(path, "x", 1)); // the folder does not exist
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(AtomicFile::save(dir.path() + "/", "x", 1));
    EXPECT_FALSE(AtomicFile::save(dir.path(), "x", 1)); // a folder is not replaced
    EXPECT_TRUE(entries(dir.path()).empty());

    // The longest name a file can have still finds room for its temporary beside it.
    const std::string longest = dir.file(std::string(NAME_MAX, 'n'));
    ASSERT_TRUE(AtomicFile::save(longest, "x", 1));
    EXPECT_EQ(entries(dir.path()).size(), 1u);
}
