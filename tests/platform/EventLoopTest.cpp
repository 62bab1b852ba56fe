#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

using namespace plat;

namespace {

// Generous real limit for loops that wait on scaled timers; the waits end as soon as the
// condition holds, so this only matters when something is broken.
constexpr int WaitMs = 5000;

struct ScaleCase
{
    const char* text;
    double expected;
};

TEST(TimeScale, ParsesPositiveFactorsAndFallsBackToOne)
{
    const std::vector<ScaleCase> cases = {
        {nullptr, 1.0}, {"", 1.0},       {"0.01", 0.01}, {"1", 1.0},    {"2.5", 2.5},
        {" 0.5 ", 0.5}, {"1e-3", 0.001}, {"0", 1.0},     {"-0.5", 1.0}, {"abc", 1.0},
        {"0.01x", 1.0}, {"0,01", 1.0},   {"inf", 1.0},   {"nan", 1.0},  {"   ", 1.0},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(parseTimeScale(c.text), c.expected) << (c.text ? c.text : "(null)");
}

TEST(TimeScale, ScaledPeriodIsAtLeastOneMillisecond)
{
    EXPECT_EQ(scaledMs(0), 1);
    EXPECT_EQ(scaledMs(-100), 1);
    EXPECT_GE(scaledMs(1), 1);
}

TEST(TimerSet, TimersFireByIdUntilKilled)
{
    std::vector<int> fired;
    TimerSet timers([&](int id) { fired.push_back(id); });
    timers.set(7, 1);
    timers.set(9, 1);
    EXPECT_TRUE(timers.active(7));
    EXPECT_FALSE(timers.active(8));
    auto count = [&](int id) { return std::count(fired.begin(), fired.end(), id); };
    ASSERT_TRUE(runUntil([&] { return count(7) >= 3 && count(9) >= 3; }, WaitMs));

    timers.kill(7);
    EXPECT_FALSE(timers.active(7));
    const auto sevens = count(7);
    const auto nines = count(9);
    ASSERT_TRUE(runUntil([&] { return count(9) >= nines + 3; }, WaitMs));
    EXPECT_EQ(count(7), sevens);
}

TEST(TimerSet, CallbackKillsAnotherTimerDueInTheSameRound)
{
    // Both timers come due together; whichever fires first kills the other, which must then
    // not fire even though it was already due.
    std::vector<int> fired;
    std::unique_ptr<TimerSet> timers;
    timers = std::make_unique<TimerSet>([&](int id) {
        fired.push_back(id);
        timers->kill(id == 1 ? 2 : 1);
    });
    timers->set(1, 1);
    timers->set(2, 1);
    ASSERT_TRUE(runUntil([&] { return fired.size() >= 4; }, WaitMs));
    for (int id : fired)
        EXPECT_EQ(id, fired.front());
}

TEST(TimerSet, CallbackMayResetItsOwnTimer)
{
    int fired = 0;
    std::unique_ptr<TimerSet> timers;
    timers = std::make_unique<TimerSet>([&](int id) {
        ++fired;
        timers->set(id, 1);
    });
    timers->set(3, 1);
    ASSERT_TRUE(runUntil([&] { return fired >= 3; }, WaitMs));
    EXPECT_TRUE(timers->active(3));
}

TEST(TimerSet, CallbackMayDestroyTheSet)
{
    int fired = 0;
    std::unique_ptr<TimerSet> timers;
    timers = std::make_unique<TimerSet>([&](int) {
        ++fired;
        timers.reset();
    });
    timers->set(1, 1);
    timers->set(2, 1);
    ASSERT_TRUE(runUntil([&] { return !timers; }, WaitMs));
    runFor(20);
    EXPECT_EQ(fired, 1);
}

TEST(TimerSet, DestroyingTheSetStopsItsTimers)
{
    int fired = 0;
    auto timers = std::make_unique<TimerSet>([&](int) { ++fired; });
    timers->set(1, 1);
    timers.reset();
    runFor(20);
    EXPECT_EQ(fired, 0);
}

TEST(Post, RunsAfterTheCurrentHandlerInPostingOrder)
{
    std::vector<int> order;
    MessageWindow window([&](const WindowMessage& m) { order.push_back(static_cast<int>(m.msg)); });
    window.post(1);
    post([&] { order.push_back(2); });
    window.handle().post(3, 0, 0);
    post([&] { order.push_back(4); });
    window.post(5);
    EXPECT_TRUE(order.empty());
    ASSERT_TRUE(runUntil([&] { return order.size() == 5; }, WaitMs));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST(MessageWindow, MessagesCarryTheirParameters)
{
    std::vector<WindowMessage> got;
    MessageWindow window([&](const WindowMessage& m) { got.push_back(m); });
    window.post(1224, 42, -7);
    ASSERT_TRUE(runUntil([&] { return got.size() == 1; }, WaitMs));
    EXPECT_EQ(got[0].msg, 1224u);
    EXPECT_EQ(got[0].wparam, 42u);
    EXPECT_EQ(got[0].lparam, -7);
}

TEST(MessageWindow, QueuedMessagesAreDroppedWithTheWindow)
{
    int handled = 0;
    auto window = std::make_unique<MessageWindow>([&](const WindowMessage&) { ++handled; });
    WindowHandle handle = window->handle();
    window->post(1);
    handle.post(2);
    EXPECT_TRUE(handle.valid());
    window.reset();
    EXPECT_FALSE(handle.valid());
    EXPECT_FALSE(handle.post(3));
    bool marker = false;
    post([&] { marker = true; });
    ASSERT_TRUE(runUntil([&] { return marker; }, WaitMs));
    EXPECT_EQ(handled, 0);
    EXPECT_FALSE(WindowHandle().post(1));
}

TEST(MessageWindow, HandlerMayDestroyItsWindow)
{
    std::vector<unsigned> handled;
    std::unique_ptr<MessageWindow> window;
    WindowHandle seenInside;
    window = std::make_unique<MessageWindow>([&](const WindowMessage& m) {
        handled.push_back(m.msg);
        WindowHandle h = window->handle();
        window.reset();
        // The window is gone at once, not when the handler returns.
        seenInside = h;
        EXPECT_FALSE(h.valid());
        EXPECT_FALSE(h.post(99));
    });
    window->post(1);
    window->post(2);
    window->post(3);
    bool marker = false;
    post([&] { marker = true; });
    ASSERT_TRUE(runUntil([&] { return marker; }, WaitMs));
    EXPECT_EQ(handled, (std::vector<unsigned>{1}));
    EXPECT_FALSE(seenInside.valid());
}

TEST(MessageWindow, MessagePostedByTheHandlerFollowsTheQueuedOnes)
{
    std::vector<unsigned> handled;
    std::unique_ptr<MessageWindow> window;
    window = std::make_unique<MessageWindow>([&](const WindowMessage& m) {
        handled.push_back(m.msg);
        if (m.msg == 1)
            window->post(3);
    });
    window->post(1);
    window->post(2);
    ASSERT_TRUE(runUntil([&] { return handled.size() == 3; }, WaitMs));
    EXPECT_EQ(handled, (std::vector<unsigned>{1, 2, 3}));
}

struct Tracked
{
    explicit Tracked(bool& gone) : gone_(gone) {}
    ~Tracked() { gone_ = true; }
    bool& gone_;
};

TEST(DeferDelete, DestroysOnTheNextTurn)
{
    bool gone = false;
    deferDelete(std::make_unique<Tracked>(gone));
    EXPECT_FALSE(gone);
    ASSERT_TRUE(runUntil([&] { return gone; }, WaitMs));
}

TEST(RunUntil, ReturnsFalseWhenTheTimeRunsOut)
{
    EXPECT_FALSE(runUntil([] { return false; }, 10));
    EXPECT_TRUE(runUntil([] { return true; }, 0));
}

} // namespace
