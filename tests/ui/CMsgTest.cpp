#include "ui/CMsg.h"

#include <gtest/gtest.h>

TEST(CMsg, ANewNoticeReplacesTheOldAndStaysTenTicks)
{
    CMsg msg;
    for (int i = 0; i < 3; ++i)
        msg.tick(); // nothing shown: ticks change nothing
    EXPECT_TRUE(msg.text().isEmpty());
    EXPECT_FALSE(msg.showing());

    msg.showMessage(QStringLiteral("first"));
    for (int i = 0; i < 4; ++i)
        msg.tick();
    msg.showMessage(QStringLiteral("second"));
    for (int i = 0; i < 9; ++i) {
        msg.tick();
        EXPECT_EQ(msg.text(), QStringLiteral("second")) << i;
    }
    msg.tick();
    EXPECT_TRUE(msg.text().isEmpty());
    EXPECT_FALSE(msg.showing());
}

TEST(CMsg, QueuedNoticesEachGetTheirTenTicks)
{
    CMsg msg;
    msg.queueMessage(QStringLiteral("a"));
    msg.queueMessage(QStringLiteral("b"));
    msg.queueMessage(QStringLiteral("c"));
    for (const char* expected : {"a", "b", "c"}) {
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(msg.text(), QString::fromUtf8(expected)) << i;
            msg.tick();
        }
    }
    EXPECT_TRUE(msg.text().isEmpty());
    EXPECT_FALSE(msg.showing());
}
