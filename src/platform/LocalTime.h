#pragma once

#include <cstdint>
#include <ctime>
#include <optional>

// Wall-clock time in the layout the records use (Windows SYSTEMTIME) and the FILETIME
// count of 100 ns intervals since 1601-01-01 UTC that file descriptions carry.
namespace plat {

struct SystemTime
{
    std::uint16_t year = 0;
    std::uint16_t month = 0;     // 1-12
    std::uint16_t dayOfWeek = 0; // 0 = Sunday
    std::uint16_t day = 0;       // 1-31
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
    std::uint16_t milliseconds = 0;

    bool operator==(const SystemTime&) const = default;
};

constexpr std::size_t kSystemTimeSize = 16;

// 16 bytes: eight little-endian u16 in field order.
void encodeSystemTime(const SystemTime& t, std::uint8_t* out);
SystemTime decodeSystemTime(const std::uint8_t* in);

// The process's local time now, with milliseconds.
SystemTime localNow();

// Local wall-clock time of a Unix time (seconds) plus milliseconds; empty when out of range.
std::optional<SystemTime> localFromUnix(std::time_t seconds, int milliseconds = 0);

// Unix seconds of a local wall-clock time (milliseconds ignored); empty when the fields do not
// name a real date and time (month 13, day 0, hour 24, ...).
std::optional<std::time_t> unixFromLocal(const SystemTime& t);

// True when the fields name a real calendar date and time of day.
bool isValidSystemTime(const SystemTime& t);

// FILETIME <-> Unix time in nanoseconds.
std::uint64_t fileTimeFromUnixNs(std::int64_t unixNs);
std::int64_t unixNsFromFileTime(std::uint64_t fileTime);

} // namespace plat
