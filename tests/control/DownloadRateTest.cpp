#include "control/DownloadRate.h"

#include "wire/CatalogRecord.h"

#include <gtest/gtest.h>

namespace {
CatalogRecord download(const char* file, std::uint32_t size, std::uint32_t received)
{
    CatalogRecord r;
    EXPECT_TRUE(r.setOriginNodeUtf8("A"));
    plat::FindRecord description;
    description.setNameCp932(file);
    description.setSize(size);
    r.setFileDescription(description);
    r.setBytesReceived(received);
    return r;
}

struct Fixture
{
    double now = 100;
    DownloadRate rates{[this] { return now; }};
};
} // namespace

TEST(DownloadRate, SteadyProgressGivesItsRateAndTheTimeLeft)
{
    Fixture f;
    for (std::uint32_t second = 0; second <= 10; ++second) {
        f.rates.observe(download("a.bin", 1000000, second * 10000));
        f.now += 1;
    }
    f.now -= 1;
    const auto e = f.rates.estimate(download("a.bin", 1000000, 100000));
    ASSERT_TRUE(e && e->secondsLeft);
    EXPECT_DOUBLE_EQ(e->bytesPerSecond, 10000);
    EXPECT_DOUBLE_EQ(*e->secondsLeft, 90);
    EXPECT_DOUBLE_EQ(f.rates.totalRate(), 10000);
    // Time passing since the last chunk counts down the estimate.
    f.now += 5;
    EXPECT_DOUBLE_EQ(*f.rates.estimate(download("a.bin", 1000000, 100000))->secondsLeft, 85);
}

TEST(DownloadRate, TellsNothingItCannotKnow)
{
    struct Case
    {
        const char* what;
        std::vector<std::pair<double, std::uint32_t>> samples; // seconds after start, bytes
        double askedAfter;
        bool hasRate;
    };
    const Case cases[] = {
        {"one chunk only", {{0, 51200}}, 1, false},
        {"two chunks within a moment", {{0, 51200}, {0.1, 102400}}, 0.2, false},
        {"stalled for longer than the limit", {{0, 0}, {1, 51200}, {2, 102400}}, 30, false},
        {"started over: only the new start counts", {{0, 0}, {1, 500000}, {2, 1000}}, 2.5, false},
        {"moving", {{0, 0}, {1, 51200}, {2, 102400}}, 2.5, true},
    };
    for (const Case& c : cases) {
        Fixture f;
        const double start = f.now;
        for (const auto& [at, bytes] : c.samples) {
            f.now = start + at;
            f.rates.observe(download("b.bin", 2000000, bytes));
        }
        f.now = start + c.askedAfter;
        const auto e = f.rates.estimate(download("b.bin", 2000000, 0));
        EXPECT_EQ(e && e->secondsLeft.has_value(), c.hasRate) << c.what;
    }
}

TEST(DownloadRate, ForgetsDownloadsThatEnded)
{
    Fixture f;
    f.rates.observe(download("c.bin", 100000, 10000));
    f.now += 1;
    f.rates.observe(download("c.bin", 100000, 50000));
    ASSERT_TRUE(f.rates.estimate(download("c.bin", 100000, 50000)));
    CatalogRecord done = download("c.bin", 100000, 100000);
    done.setCompleteFlag(1);
    f.rates.observe(done);
    EXPECT_FALSE(f.rates.estimate(download("c.bin", 100000, 50000)));
    EXPECT_DOUBLE_EQ(f.rates.totalRate(), 0);
}
