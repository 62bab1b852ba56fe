#include "platform/LocalTime.h"

#include "platform/Bytes.h"

#include <limits>

namespace plat {
namespace {

// The range a SYSTEMTIME can hold on the platform the records come from.
constexpr int kMinYear = 1601;
constexpr int kMaxYear = 30827;

// Seconds between 1601-01-01 and 1970-01-01, both UTC.
constexpr std::int64_t kEpochDifference = 11644473600LL;
constexpr std::int64_t kTicksPerSecond = 10'000'000;

bool isLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month)
{
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

} // namespace

void encodeSystemTime(const SystemTime& t, std::uint8_t* out)
{
    putU16(out + 0, t.year);
    putU16(out + 2, t.month);
    putU16(out + 4, t.dayOfWeek);
    putU16(out + 6, t.day);
    putU16(out + 8, t.hour);
    putU16(out + 10, t.minute);
    putU16(out + 12, t.second);
    putU16(out + 14, t.milliseconds);
}

SystemTime decodeSystemTime(const std::uint8_t* in)
{
    SystemTime t;
    t.year = getU16(in + 0);
    t.month = getU16(in + 2);
    t.dayOfWeek = getU16(in + 4);
    t.day = getU16(in + 6);
    t.hour = getU16(in + 8);
    t.minute = getU16(in + 10);
    t.second = getU16(in + 12);
    t.milliseconds = getU16(in + 14);
    return t;
}

SystemTime localNow()
{
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    if (auto t = localFromUnix(ts.tv_sec, static_cast<int>(ts.tv_nsec / 1'000'000)))
        return *t;
    return {};
}

std::optional<SystemTime> localFromUnix(std::time_t seconds, int milliseconds)
{
    if (milliseconds < 0 || milliseconds > 999)
        return std::nullopt;
    std::tm tm{};
    if (!::localtime_r(&seconds, &tm))
        return std::nullopt;
    const long long year = static_cast<long long>(tm.tm_year) + 1900;
    if (year < kMinYear || year > kMaxYear)
        return std::nullopt;
    SystemTime t;
    t.year = static_cast<std::uint16_t>(year);
    t.month = static_cast<std::uint16_t>(tm.tm_mon + 1);
    t.dayOfWeek = static_cast<std::uint16_t>(tm.tm_wday);
    t.day = static_cast<std::uint16_t>(tm.tm_mday);
    t.hour = static_cast<std::uint16_t>(tm.tm_hour);
    t.minute = static_cast<std::uint16_t>(tm.tm_min);
    // A leap second (60) has no place in the layout.
    t.second = static_cast<std::uint16_t>(tm.tm_sec > 59 ? 59 : tm.tm_sec);
    t.milliseconds = static_cast<std::uint16_t>(milliseconds);
    return t;
}

bool isValidSystemTime(const SystemTime& t)
{
    // The day of week is not checked: readers never compare it, and writers on other nodes
    // may have left it zero.
    if (t.year < kMinYear || t.year > kMaxYear || t.month < 1 || t.month > 12)
        return false;
    if (t.day < 1 || t.day > daysInMonth(t.year, t.month))
        return false;
    return t.hour <= 23 && t.minute <= 59 && t.second <= 59 && t.milliseconds <= 999;
}

std::optional<std::time_t> unixFromLocal(const SystemTime& t)
{
    // The calendar is checked here rather than by comparing mktime's normalised fields with the
    // input: that comparison would also refuse a real record written in a time zone whose clock
    // skipped the hour (a daylight-saving gap here), which mktime maps to the shifted hour.
    if (!isValidSystemTime(t))
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = -1; // let the zone's rules decide, not the caller
    tm.tm_wday = -1;
    const std::time_t result = ::mktime(&tm);
    // -1 is also a real time (one second before 1970); mktime sets tm_wday only on success.
    if (result == static_cast<std::time_t>(-1) && tm.tm_wday == -1)
        return std::nullopt;
    return result;
}

std::uint64_t fileTimeFromUnixNs(std::int64_t unixNs)
{
    // Floor division, so that times before 1970 land on the tick that contains them.
    std::int64_t seconds = unixNs / 1'000'000'000;
    std::int64_t rest = unixNs % 1'000'000'000;
    if (rest < 0) {
        rest += 1'000'000'000;
        --seconds;
    }
    const std::int64_t ticks = (seconds + kEpochDifference) * kTicksPerSecond + rest / 100;
    return ticks < 0 ? 0 : static_cast<std::uint64_t>(ticks);
}

std::int64_t unixNsFromFileTime(std::uint64_t fileTime)
{
    constexpr auto kMaxNs = std::numeric_limits<std::int64_t>::max();
    constexpr auto kMinNs = std::numeric_limits<std::int64_t>::min();
    const std::uint64_t seconds = fileTime / kTicksPerSecond;
    const std::int64_t rest = static_cast<std::int64_t>(fileTime % kTicksPerSecond) * 100;
    const std::int64_t unixSeconds = static_cast<std::int64_t>(seconds) - kEpochDifference;
    // A nanosecond count in int64 spans only the years 1677 to 2262.
    if (unixSeconds > (kMaxNs - rest) / 1'000'000'000)
        return kMaxNs;
    if (unixSeconds < kMinNs / 1'000'000'000 + 1)
        return kMinNs;
    return unixSeconds * 1'000'000'000 + rest;
}

} // namespace plat
