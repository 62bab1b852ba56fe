#include "app/VX_EVENTLOG.h"
#include "app/VX_EVENTLOGLISTENER.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {
struct Recorder : VX_EVENTLOGLISTENER
{
    std::vector<std::pair<int, int>> events;
    void onEventLog(int a, int b) override { events.emplace_back(a, b); }
};
} // namespace

TEST(VX_EVENTLOG, DeliversToEveryRegistrationWhileItLives)
{
    Recorder a, b;
    {
        VX_EVENTLOG channel;
        EXPECT_EQ(VX_EVENTLOG::instance(), &channel);
        channel.addListener(&a);
        channel.addListener(&a);
        channel.addListener(&b);
        channel.notify(4, 5);
    }
    EXPECT_EQ(a.events, (std::vector<std::pair<int, int>>{{4, 5}, {4, 5}}));
    EXPECT_EQ(b.events, (std::vector<std::pair<int, int>>{{4, 5}}));
    // Nothing is built on demand once the channel has ended.
    EXPECT_EQ(VX_EVENTLOG::instance(), nullptr);
}
