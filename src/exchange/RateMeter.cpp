#include "exchange/RateMeter.h"

std::int64_t RateMeter::slotOf(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() /
           kSlot.count();
}

void RateMeter::add(std::uint64_t bytes, Clock::time_point t)
{
    const std::int64_t number = slotOf(t);
    Slot& slot = m_slots[static_cast<std::size_t>(number) % kSlots];
    if (slot.number != number)
        slot = Slot{number, 0};
    slot.bytes += bytes;
}

double RateMeter::rate(Clock::time_point now) const
{
    const std::int64_t current = slotOf(now);
    std::uint64_t bytes = 0;
    for (const Slot& slot : m_slots)
        if (slot.number >= 0 && slot.number <= current &&
            current - slot.number < static_cast<std::int64_t>(kSlots))
            bytes += slot.bytes;
    const double seconds = std::chrono::duration<double>(kSlot * kSlots).count();
    return static_cast<double>(bytes) / seconds;
}
