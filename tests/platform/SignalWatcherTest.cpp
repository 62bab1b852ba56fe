#include "platform/SignalWatcher.h"
#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <csignal>
#include <vector>

using namespace plat;

namespace {

constexpr int WaitMs = 5000;

// The hang-up and interrupt signals end a node the orderly way: they must reach the handler on
// the event loop, after the signal handler has returned, and in the order they came.
TEST(SignalWatcher, SignalsReachTheHandlerOnTheEventLoopInOrder)
{
    std::vector<int> seen;
    SignalWatcher watcher({SIGHUP, SIGINT}, [&](int signo) { seen.push_back(signo); });
    ASSERT_EQ(::raise(SIGHUP), 0);
    ASSERT_EQ(::raise(SIGINT), 0);
    EXPECT_TRUE(seen.empty()) << "handled inside the signal handler";
    ASSERT_TRUE(runUntil([&] { return seen.size() == 2; }, WaitMs));
    EXPECT_EQ(seen, (std::vector<int>{SIGHUP, SIGINT}));
}

// Start-up holds the stopping signals back until the main window watches them: one that came
// in between must not be lost, nor end the process by its default action.
TEST(SignalWatcher, SignalHeldBackUntilWatchedIsHandledOnce)
{
    SignalWatcher::block({SIGHUP});
    ASSERT_EQ(::raise(SIGHUP), 0);
    std::vector<int> seen;
    SignalWatcher watcher({SIGHUP}, [&](int signo) { seen.push_back(signo); });
    SignalWatcher::unblock({SIGHUP});
    ASSERT_TRUE(runUntil([&] { return !seen.empty(); }, WaitMs));
    runFor(50);
    EXPECT_EQ(seen, (std::vector<int>{SIGHUP}));
}

TEST(SignalWatcher, IgnoredSignalIsDroppedWhileAnotherIsStillWatched)
{
    // Debug mode ignores the interrupt key; the terminate signal is still watched.
    SignalWatcher::ignore({SIGINT});
    std::vector<int> seen;
    {
        SignalWatcher watcher({SIGTERM}, [&](int signo) { seen.push_back(signo); });
        ASSERT_EQ(::raise(SIGINT), 0);
        ASSERT_EQ(::raise(SIGTERM), 0);
        ASSERT_TRUE(runUntil([&] { return !seen.empty(); }, WaitMs));
        runFor(50);
    }
    std::signal(SIGINT, SIG_DFL);
    EXPECT_EQ(seen, (std::vector<int>{SIGTERM}));
}

} // namespace
