#include "platform/OpenCheck.h"
#include "platform/ProcWriters.h"

#include "support/HoldingChild.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using plat::OpenState;

struct ModeRow
{
    const char* what;
    int flags;
    OpenState whileOpen;
};

const ModeRow kModes[] = {
    {"write only", O_WRONLY, OpenState::WriterActive},
    {"read and write", O_RDWR, OpenState::WriterActive},
    {"appending", O_WRONLY | O_APPEND, OpenState::WriterActive},
    {"read only", O_RDONLY, OpenState::Free},
};

class OpenCheckTest : public ::testing::Test
{
protected:
    void SetUp() override { std::ofstream(file_) << "content"; }

    TempDir dir_;
    std::string file_ = dir_.file("doc.txt");
};

TEST_F(OpenCheckTest, WriterInAnotherProcessUntilItEnds)
{
    for (const ModeRow& row : kModes) {
        SCOPED_TRACE(row.what);
        HoldingChild child(file_, row.flags);
        EXPECT_EQ(plat::probeOpenForWriting(file_), row.whileOpen);
        child.release();
        EXPECT_EQ(plat::probeOpenForWriting(file_), OpenState::Free);
    }
}

TEST_F(OpenCheckTest, WriterInThisProcessCountsToo)
{
    const int fd = ::open(file_.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(plat::probeOpenForWriting(file_), OpenState::WriterActive);
    ::close(fd);
    EXPECT_EQ(plat::probeOpenForWriting(file_), OpenState::Free);
}

TEST_F(OpenCheckTest, MissingOnlyWhenThereIsNoSuchFile)
{
    EXPECT_EQ(plat::probeOpenForWriting(dir_.file("gone.txt")), OpenState::Missing);
    EXPECT_EQ(plat::probeOpenForWriting(file_ + "/below-a-file"), OpenState::Missing);
    ASSERT_EQ(::symlink("gone.txt", dir_.file("dangling.lnk").c_str()), 0);
    EXPECT_EQ(plat::probeOpenForWriting(dir_.file("dangling.lnk")), OpenState::Missing);
}

TEST_F(OpenCheckTest, PipeInTheFolderDoesNotBlock)
{
    // Opening a FIFO for reading waits for a writer unless told not to: the one thread
    // would hang on a pipe somebody left in the send folder.
    const std::string fifo = dir_.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_NE(plat::probeOpenForWriting(fifo), OpenState::Missing);
}

// The stand-in used where no lease can be taken must see the same writers.
TEST_F(OpenCheckTest, ProcScanFindsWritersOfOtherProcesses)
{
    struct stat st = {};
    ASSERT_EQ(::stat(file_.c_str(), &st), 0);
    for (const ModeRow& row : kModes) {
        SCOPED_TRACE(row.what);
        HoldingChild child(file_, row.flags);
        EXPECT_EQ(plat::procHasWriter(st.st_dev, st.st_ino),
                  row.whileOpen == OpenState::WriterActive);
        child.release();
        EXPECT_FALSE(plat::procHasWriter(st.st_dev, st.st_ino));
    }
}

// A writer that opens the file while the probe holds its lease for a moment makes the kernel
// signal the lease holder; the probe must survive that signal.
TEST_F(OpenCheckTest, SurvivesAWriterArrivingDuringTheProbe)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (;;) {
            const int fd = ::open(file_.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
    }
    for (int i = 0; i < 20000; ++i)
        plat::probeOpenForWriting(file_);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

} // namespace
