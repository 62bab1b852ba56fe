#include "app/CPostError.h"
#include "app/WindowMessages.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

class CPostErrorTest : public testing::Test
{
protected:
    CPostError poster;
    std::vector<plat::WindowMessage> received;
    std::unique_ptr<plat::MessageWindow> window = std::make_unique<plat::MessageWindow>(
        [this](const plat::WindowMessage& m) { received.push_back(m); });
};

bool same(const plat::WindowMessage& m, unsigned msg, std::uintptr_t w, std::intptr_t l)
{
    return m.msg == msg && m.wparam == w && m.lparam == l;
}

} // namespace

TEST_F(CPostErrorTest, NoticesReachTheWindowAfterTheCurrentHandler)
{
    poster.setWindow(window->handle());
    poster.post(CPostError::kFrameError);
    poster.postDetail("nodeAノードとTCP接続が確立しました");
    EXPECT_TRUE(received.empty()); // posted, not sent

    ASSERT_TRUE(plat::runUntil([&] { return received.size() == 2; }, 5000));
    EXPECT_TRUE(same(received[0], WM_POSTERROR, 3, 0));
    EXPECT_TRUE(same(received[1], WM_POSTERROR, 1, 1));
    EXPECT_EQ(poster.detailText(), "nodeAノードとTCP接続が確立しました");
}

TEST_F(CPostErrorTest, NoticesWithoutAWindowAreLost)
{
    poster.post(CPostError::kPartyMismatch);
    poster.postDetail("x");
    EXPECT_EQ(poster.detailText(), "x");

    // A window that has gone away counts as none.
    poster.setWindow(window->handle());
    window.reset();
    poster.post(CPostError::kPartyMismatch);
    plat::runFor(50);
    EXPECT_TRUE(received.empty());
}

// The poster is the instance only while it lives; afterwards no fresh poster appears.
TEST_F(CPostErrorTest, InstanceIsTheLivePosterOnly)
{
    poster.setWindow(window->handle());
    EXPECT_EQ(CPostError::instance(), &poster);
    CPostError::instance()->postDetail("live");
    {
        CPostError later;
        EXPECT_EQ(CPostError::instance(), &later);
    }
    EXPECT_EQ(CPostError::instance(), nullptr);
    plat::runFor(50);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_TRUE(same(received[0], WM_POSTERROR, 1, 1));
    EXPECT_EQ(poster.detailText(), "live");
}
