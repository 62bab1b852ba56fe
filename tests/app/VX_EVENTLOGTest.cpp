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

TEST(VX_EVENTLOG, DeliversToEveryRegistrationUntilDestroyed)
{
    Recorder a, b;
    VX_EVENTLOG::instance()->addListener(&a);
    VX_EVENTLOG::instance()->addListener(&a);
    VX_EVENTLOG::instance()->addListener(&b);
    VX_EVENTLOG::instance()->notify(4, 5);
    EXPECT_EQ(a.events, (std::vector<std::pair<int, int>>{{4, 5}, {4, 5}}));
    EXPECT_EQ(b.events, (std::vector<std::pair<int, int>>{{4, 5}}));

    VX_EVENTLOG::destroyInstance();
    VX_EVENTLOG::instance()->notify(1, 2);
    EXPECT_EQ(b.events.size(), 1u);
    VX_EVENTLOG::destroyInstance();
}
