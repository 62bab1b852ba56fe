#include "app/CPostError.h"
#include "app/WindowMessages.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

class CPostErrorTest : public testing::Test
{
protected:
    void TearDown() override { CPostError::destroyInstance(); }

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
    CPostError::instance()->setWindow(window->handle());
    CPostError::instance()->post(CPostError::kFrameError);
    CPostError::instance()->postDetail("nodeAノードとTCP接続が確立しました");
    EXPECT_TRUE(received.empty()); // posted, not sent

    ASSERT_TRUE(plat::runUntil([&] { return received.size() == 2; }, 5000));
    EXPECT_TRUE(same(received[0], WM_POSTERROR, 3, 0));
    EXPECT_TRUE(same(received[1], WM_POSTERROR, 1, 1));
    EXPECT_EQ(CPostError::instance()->detailText(), "nodeAノードとTCP接続が確立しました");
}

TEST_F(CPostErrorTest, NoticesWithoutAWindowAreLost)
{
    CPostError::instance()->post(CPostError::kPartyMismatch);
    CPostError::instance()->postDetail("x");
    EXPECT_EQ(CPostError::instance()->detailText(), "x");

    // A window that has gone away counts as none.
    CPostError::instance()->setWindow(window->handle());
    window.reset();
    CPostError::instance()->post(CPostError::kPartyMismatch);
    plat::runFor(50);
    EXPECT_TRUE(received.empty());

    // A fresh instance after destruction knows no window either.
    CPostError::destroyInstance();
    EXPECT_FALSE(CPostError::instance()->window());
    EXPECT_TRUE(CPostError::instance()->detailText().empty());
}
