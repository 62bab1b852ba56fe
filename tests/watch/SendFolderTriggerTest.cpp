#include "watch/SendFolderTrigger.h"

#include "platform/EventLoop.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

void touch(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "x", 1), 1);
    ::close(fd);
}

// A burst of changes costs one pass after the quiet period; a file being written is looked at
// again when its writer closes it.
TEST(SendFolderTriggerTest, OnePassPerBurstAndAnotherWhenAWriterCloses)
{
    TempDir dir;
    int passes = 0;
    SendFolderTrigger trigger(dir.path(), [&] { ++passes; });
    ASSERT_TRUE(trigger.watching());

    for (int i = 0; i < 5; ++i)
        touch(dir.path() + "/f" + std::to_string(i));
    ASSERT_TRUE(plat::runUntil([&] { return passes > 0; }, 5000));
    plat::runFor(plat::scaledMs(SendFolderTrigger::kQuietMs) * 3);
    EXPECT_EQ(passes, 1);

    const int fd =
        ::open((dir.path() + "/copying.bin").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(plat::runUntil([&] { return passes == 2; }, 5000));
    ASSERT_EQ(::write(fd, "data", 4), 4);
    plat::runFor(plat::scaledMs(SendFolderTrigger::kQuietMs) * 3);
    EXPECT_EQ(passes, 2); // writing alone is not a change of the folder
    ::close(fd);
    EXPECT_TRUE(plat::runUntil([&] { return passes == 3; }, 5000));
}

// A folder that does not exist cannot be watched; nothing breaks.
TEST(SendFolderTriggerTest, AMissingFolderIsNotWatched)
{
    TempDir dir;
    SendFolderTrigger trigger(dir.path() + "/missing", [] {});
    EXPECT_FALSE(trigger.watching());
}

} // namespace
