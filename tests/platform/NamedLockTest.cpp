#include "platform/NamedLock.h"

#include "support/HoldingChild.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <optional>
#include <set>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Each test gets its own runtime folder, so it neither sees nor leaves lock files elsewhere.
class NamedLockTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (const char* old = std::getenv("XDG_RUNTIME_DIR"))
            saved_ = old;
        ::setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
    }
    void TearDown() override
    {
        if (saved_)
            ::setenv("XDG_RUNTIME_DIR", saved_->c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
    }

    TempDir dir_;
    std::optional<std::string> saved_;
};

// Another process tries the lock: 1 when it got it, 0 when it was refused; a child that did
// not end through its own exit reports the negated signal, so it never reads as either answer.
int otherProcessAcquires(const std::string& name)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        plat::NamedLock lock;
        ::_exit(lock.acquire(name) ? 1 : 0);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status))
        return -WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
}

// The descriptors a running process has open, as the paths they lead to.
std::set<std::string> openFiles(pid_t pid)
{
    std::set<std::string> out;
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return out;
    while (const dirent* entry = ::readdir(dir)) {
        char target[4096];
        const std::string link = folder + "/" + entry->d_name;
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0)
            out.insert(std::string(target, static_cast<std::size_t>(n)));
    }
    ::closedir(dir);
    return out;
}

// A child that holds the lock until released.
HoldingChild lockHolder(const std::string& name)
{
    return HoldingChild([&](const HoldingChild::Hold& hold) {
        plat::NamedLock lock;
        hold(lock.acquire(name));
    });
}

TEST_F(NamedLockTest, RefusedWhileAnotherProcessHoldsIt)
{
    HoldingChild holder = lockHolder("Party A");
    plat::NamedLock lock;
    EXPECT_FALSE(lock.acquire("Party A"));
    EXPECT_FALSE(lock.held());
    EXPECT_TRUE(lock.acquire("Party B"));
    holder.release();
    // The kernel dropped the child's lock when it ended.
    EXPECT_TRUE(lock.acquire("Party A"));
    EXPECT_TRUE(lock.held());
}

TEST_F(NamedLockTest, ReleasedByReleaseByAnotherNameAndByDestruction)
{
    {
        plat::NamedLock lock;
        ASSERT_TRUE(lock.acquire("one"));
        EXPECT_EQ(otherProcessAcquires("one"), 0);
        lock.release();
        EXPECT_FALSE(lock.held());
        EXPECT_EQ(otherProcessAcquires("one"), 1);

        ASSERT_TRUE(lock.acquire("one"));
        ASSERT_TRUE(lock.acquire("two"));
        EXPECT_EQ(otherProcessAcquires("one"), 1);
        EXPECT_EQ(otherProcessAcquires("two"), 0);
    }
    EXPECT_EQ(otherProcessAcquires("two"), 1);
}

TEST_F(NamedLockTest, NotPassedToProgramsItStarts)
{
    plat::NamedLock lock;
    ASSERT_TRUE(lock.acquire("spawner"));
    int in[2];
    int out[2];
    ASSERT_EQ(::pipe(in), 0);
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char sh[] = "/bin/sh";
    char opt[] = "-c";
    char cmd[] = "echo started; read line";
    char* argv[] = {sh, opt, cmd, nullptr};
    pid_t pid = -1;
    ASSERT_EQ(::posix_spawn(&pid, "/bin/sh", &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    // posix_spawn returns once the kernel has begun the new program, which can be a moment
    // before it closes the close-on-exec descriptors; the shell's first line proves that the
    // program itself is running.
    char line[16] = {};
    ASSERT_GT(::read(out[0], line, sizeof line - 1), 0);
    EXPECT_STREQ(line, "started\n");
    EXPECT_EQ(
        openFiles(pid).count(std::filesystem::canonical(plat::NamedLock::lockPath("spawner"))), 0u);
    lock.release();
    // Had the descriptor leaked into the shell, the shell would still hold the lock.
    EXPECT_EQ(otherProcessAcquires("spawner"), 1);
    ::close(in[1]);
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

TEST_F(NamedLockTest, AnyNameGivesADistinctFileInTheRuntimeFolder)
{
    const std::string names[] = {
        "party",
        "Party",
        "",
        "two words",
        "a/b",
        "a%2Fb",
        "..",
        "../../etc/passwd",
        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", // 日本語
        std::string(300, 'x'),
        std::string(300, 'x') + "y",
        std::string(100, '/'),
        std::string(100, '/') + ".",
    };
    std::set<std::string> paths;
    for (const std::string& name : names) {
        const std::string path = plat::NamedLock::lockPath(name);
        SCOPED_TRACE(path);
        ASSERT_EQ(path.rfind(dir_.path() + "/", 0), 0u);
        const std::string file = path.substr(dir_.path().size() + 1);
        EXPECT_EQ(file.find('/'), std::string::npos);
        EXPECT_LE(file.size(), 255u);
        EXPECT_TRUE(paths.insert(path).second);
        plat::NamedLock lock;
        EXPECT_TRUE(lock.acquire(name));
    }
}

// Where the lock file may live: only a folder of this user's alone (owned, mode 0700). A folder
// under $TMPDIR that another user made, or whose mode was loosened, is passed over for one under
// $XDG_CACHE_HOME; when none can be had, the lock says why instead of reading as "running".
TEST_F(NamedLockTest, LockFolderMustBeThisUsersAloneWithFallbacks)
{
    const bool root = ::getuid() == 0;
    const std::string tmp = dir_.file("tmp");
    const std::string cache = dir_.file("cache");
    ASSERT_EQ(::mkdir(tmp.c_str(), 0755), 0);
    ::setenv("TMPDIR", tmp.c_str(), 1);
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    const std::string underTmp = tmp + "/pavo-" + std::to_string(::getuid());
    const std::string underCache = cache + "/pavo";
    const auto modeOf = [](const std::string& path) {
        struct stat st = {};
        return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0u;
    };

    for (const char* xdg : {"", "relative/dir", "/no/such/folder"}) {
        ::setenv("XDG_RUNTIME_DIR", xdg, 1);
        EXPECT_EQ(plat::NamedLock::runtimeFolder(), underTmp) << xdg;
    }
    EXPECT_EQ(modeOf(underTmp), 0700u);

    ASSERT_EQ(::chmod(underTmp.c_str(), 0777), 0);
    std::string why;
    EXPECT_EQ(plat::NamedLock::runtimeFolder(&why), underCache);
    EXPECT_NE(why.find(underTmp + ": mode 777"), std::string::npos) << why;
    EXPECT_EQ(modeOf(underCache), 0700u);

    if (root) {
        // Another user's folders: the runtime folder is not used, nor the one under $TMPDIR.
        ::setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
        ASSERT_EQ(::chown(dir_.path().c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chmod(underTmp.c_str(), 0700), 0);
        ASSERT_EQ(::chown(underTmp.c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chown(underCache.c_str(), 65534, 65534), 0);
        why.clear();
        EXPECT_EQ(plat::NamedLock::runtimeFolder(&why), "");
        EXPECT_NE(why.find(underTmp + ": owned by user 65534"), std::string::npos) << why;
        EXPECT_NE(why.find(underCache + ": owned by user 65534"), std::string::npos) << why;
        plat::NamedLock lock;
        EXPECT_FALSE(lock.acquire("party"));
        EXPECT_NE(lock.failure().find("owned by user 65534"), std::string::npos);
        ASSERT_EQ(::chown(dir_.path().c_str(), 0, 0), 0);
    }
    ::unsetenv("TMPDIR");
    ::unsetenv("XDG_CACHE_HOME");
}

// Held by another process: refused with no failure text, so the caller says "already running".
TEST_F(NamedLockTest, HeldElsewhereIsNotAFailureToMakeTheLock)
{
    plat::NamedLock first;
    ASSERT_TRUE(first.acquire("party"));
    plat::NamedLock second;
    EXPECT_FALSE(second.acquire("party"));
    EXPECT_EQ(second.failure(), "");
}

} // namespace
