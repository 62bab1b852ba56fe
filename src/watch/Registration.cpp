#include "watch/Registration.h"

#include "app/CPropatyHotLine.h"

#include <ctime>

namespace catalog {

WallClock wallClockNow()
{
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return {ts.tv_sec, static_cast<int>(ts.tv_nsec / 1'000'000)};
}

RegistrationContext registrationFrom(CPropatyHotLine& settings, const WallClockSource& clock)
{
    RegistrationContext c;
    c.nodeName = settings.getNodeName();
    c.partyName = settings.getPartyName();
    c.limitDay = settings.getLimitDay();
    c.now = clock ? clock() : wallClockNow();
    return c;
}

} // namespace catalog
