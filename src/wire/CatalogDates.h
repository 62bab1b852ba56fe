#pragma once

#include "platform/LocalTime.h"

// Orderings of the record date-times, as the catalog's rules use them.
namespace catalog {

// By year, month and day only: negative, 0 or positive as a is before, on or after b's date.
inline int compareDate(const plat::SystemTime& a, const plat::SystemTime& b)
{
    if (a.year != b.year)
        return a.year < b.year ? -1 : 1;
    if (a.month != b.month)
        return a.month < b.month ? -1 : 1;
    if (a.day != b.day)
        return a.day < b.day ? -1 : 1;
    return 0;
}

// Down to the millisecond; the day of week is not compared.
inline int compareTime(const plat::SystemTime& a, const plat::SystemTime& b)
{
    if (const int d = compareDate(a, b))
        return d;
    const unsigned short fa[] = {a.hour, a.minute, a.second, a.milliseconds};
    const unsigned short fb[] = {b.hour, b.minute, b.second, b.milliseconds};
    for (int i = 0; i < 4; ++i)
        if (fa[i] != fb[i])
            return fa[i] < fb[i] ? -1 : 1;
    return 0;
}

} // namespace catalog
