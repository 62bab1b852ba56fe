#include "platform/LocalTime.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace plat;

namespace {

// Runs a test in a fixed time zone and puts the process's own back afterwards.
class ZoneScope
{
public:
    explicit ZoneScope(const char* tz)
    {
        if (const char* old = std::getenv("TZ")) {
            m_had = true;
            m_old = old;
        }
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~ZoneScope()
    {
        if (m_had)
            ::setenv("TZ", m_old.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool m_had = false;
    std::string m_old;
};

SystemTime at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    SystemTime t;
    t.year = static_cast<std::uint16_t>(y);
    t.month = static_cast<std::uint16_t>(mo);
    t.day = static_cast<std::uint16_t>(d);
    t.hour = static_cast<std::uint16_t>(h);
    t.minute = static_cast<std::uint16_t>(mi);
    t.second = static_cast<std::uint16_t>(s);
    t.milliseconds = static_cast<std::uint16_t>(ms);
    return t;
}

} // namespace

TEST(LocalTime, EncodesEightLittleEndianFieldsInOrder)
{
    SystemTime t = at(2024, 2, 29, 23, 59, 58, 999);
    t.dayOfWeek = 4;
    std::uint8_t raw[kSystemTimeSize];
    encodeSystemTime(t, raw);
    const std::uint8_t expected[kSystemTimeSize] = {0xE8, 0x07, 2,  0, 4,  0, 29,   0,
                                                    23,   0,    59, 0, 58, 0, 0xE7, 0x03};
    EXPECT_EQ(0, std::memcmp(raw, expected, kSystemTimeSize));
    EXPECT_EQ(decodeSystemTime(raw), t);
}

TEST(LocalTime, FileTimeHasTheWindowsEpoch)
{
    EXPECT_EQ(fileTimeFromUnixNs(0), 116444736000000000ULL);
    EXPECT_EQ(unixNsFromFileTime(116444736000000000ULL), 0);
    // 2020-01-01 00:00:00.5 UTC
    const std::int64_t ns = 1577836800'500000000LL;
    EXPECT_EQ(fileTimeFromUnixNs(ns), 132223104005000000ULL);
    EXPECT_EQ(unixNsFromFileTime(fileTimeFromUnixNs(ns + 123)), ns + 100); // 100 ns units
    // Before 1970 the tick containing the instant is taken, not the one after it.
    EXPECT_EQ(fileTimeFromUnixNs(-1), 116444736000000000ULL - 1);
    // 1601 lies outside what int64 nanoseconds since 1970 can count: clamped, not wrapped.
    EXPECT_EQ(unixNsFromFileTime(0), INT64_MIN);
}

TEST(LocalTime, ValidityFollowsTheCalendar)
{
    struct Case
    {
        SystemTime t;
        bool valid;
    };
    const std::vector<Case> cases = {
        {at(2024, 2, 29, 23, 59, 59, 999), true},
        {at(2023, 2, 29), false},
        {at(2000, 2, 29), true},
        {at(1900 + 200, 2, 29), false},
        {at(2024, 4, 31), false},
        {at(2024, 13, 1), false},
        {at(2024, 0, 1), false},
        {at(2024, 1, 0), false},
        {at(2024, 1, 1, 24), false},
        {at(2024, 1, 1, 0, 60), false},
        {at(2024, 1, 1, 0, 0, 60), false},
        {at(2024, 1, 1, 0, 0, 0, 1000), false},
        {at(0, 0, 0), false},
        {at(1600, 12, 31), false},
    };
    ZoneScope zone("JST-9");
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.t.year << "-" << c.t.month << "-" << c.t.day << " " << c.t.hour << ":"
                     << c.t.minute << ":" << c.t.second << "." << c.t.milliseconds);
        EXPECT_EQ(isValidSystemTime(c.t), c.valid);
        EXPECT_EQ(unixFromLocal(c.t).has_value(), c.valid);
    }
}

TEST(LocalTime, ConvertsInTheProcessZone)
{
    ZoneScope zone("JST-9");
    EXPECT_EQ(unixFromLocal(at(2024, 1, 1, 9)), std::optional<std::time_t>(1704067200));

    // An expiry three days after 23:30 on the 31st lands on the 3rd of the next month.
    const auto start = unixFromLocal(at(2024, 1, 31, 23, 30));
    ASSERT_TRUE(start);
    SystemTime expected = at(2024, 2, 3, 23, 30);
    expected.dayOfWeek = 6; // Saturday
    EXPECT_EQ(localFromUnix(*start + 3 * 86400), expected);
    EXPECT_EQ(localFromUnix(*start, 250)->milliseconds, 250);
    EXPECT_FALSE(localFromUnix(*start, 1000));
}

TEST(LocalTime, DaylightSavingGapAndOverlapStillConvert)
{
    // Central Europe: 2024-03-31 02:00-03:00 does not exist, 2024-10-27 02:00-03:00 happens twice.
    ZoneScope zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const auto gap = unixFromLocal(at(2024, 3, 31, 2, 30));
    ASSERT_TRUE(gap);
    EXPECT_EQ(localFromUnix(*gap)->hour, 3);
    const auto overlap = unixFromLocal(at(2024, 10, 27, 2, 30));
    ASSERT_TRUE(overlap);
    EXPECT_EQ(localFromUnix(*overlap)->hour, 2);
    // The round trip of an ordinary summer time keeps every field.
    SystemTime summer = at(2024, 7, 14, 12, 0, 1);
    summer.dayOfWeek = 0;
    EXPECT_EQ(localFromUnix(*unixFromLocal(summer)), summer);
}

TEST(LocalTime, NowIsAValidTime)
{
    EXPECT_TRUE(isValidSystemTime(localNow()));
}
