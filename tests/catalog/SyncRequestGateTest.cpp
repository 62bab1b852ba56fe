#include "catalog/SyncRequestGate.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;

const plat::SystemTime kApril1{2024, 4, 1, 1, 12, 0, 0, 0};
const plat::SystemTime kApril1Later{2024, 4, 1, 1, 18, 30, 0, 0};
const plat::SystemTime kApril2{2024, 4, 2, 2, 12, 0, 0, 0};

struct Request
{
    const char* what;
    std::chrono::milliseconds after; // since the first request
    const char* peer;
    std::uint32_t mode;
    plat::SystemTime since;
    bool admitted;
};

// The first request is always peerA asking for everything at time 0.
const Request kCases[] = {
    {"the same request again at once", 10ms, "peerA", 1, {}, false},
    {"the same request just before the period ends", 59999ms, "peerA", 1, {}, false},
    {"the same request once the period has passed", 60000ms, "peerA", 1, {}, true},
    {"the same request from another peer", 10ms, "peerB", 1, {}, true},
    {"another mode from the same peer", 10ms, "peerA", 2, kApril1, true},
    {"all records with a stray date is still the same request", 10ms, "peerA", 1, kApril2, false},
};

TEST(SyncRequestGate, RepeatsWithinThePeriodAreRefusedOthersPass)
{
    for (const Request& c : kCases) {
        auto now = std::chrono::steady_clock::time_point{} + 1h;
        const auto start = now;
        SyncRequestGate gate([&] { return now; });
        ASSERT_TRUE(gate.admit("peerA", 1, {}));
        now = start + c.after;
        EXPECT_EQ(gate.admit(c.peer, c.mode, c.since), c.admitted) << c.what;
    }
}

TEST(SyncRequestGate, SinceRequestsDifferOnlyByTheirDate)
{
    auto now = std::chrono::steady_clock::time_point{} + 1h;
    SyncRequestGate gate([&] { return now; });
    EXPECT_TRUE(gate.admit("peerA", 2, kApril1));
    now += 1s;
    EXPECT_FALSE(gate.admit("peerA", 2, kApril1Later)) << "same day, same records";
    EXPECT_TRUE(gate.admit("peerA", 2, kApril2));
    EXPECT_TRUE(gate.admit("peerA", 2, kApril1)) << "the last request is what is remembered";
}

} // namespace
