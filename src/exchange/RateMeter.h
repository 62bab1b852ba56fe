#pragma once

#include <array>
#include <chrono>
#include <cstdint>

// Bytes moved per second over the last few seconds, counted in half-second slots: a connection's
// current rate, which falls to nothing a few seconds after its data stops.
class RateMeter
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kSlot{500};
    static constexpr std::size_t kSlots = 10;

    void add(std::uint64_t bytes, Clock::time_point t);
    // Bytes per second over the kSlots slots up to now (the current one included).
    double rate(Clock::time_point now) const;

private:
    static std::int64_t slotOf(Clock::time_point t);

    struct Slot
    {
        std::int64_t number = -1;
        std::uint64_t bytes = 0;
    };
    std::array<Slot, kSlots> m_slots{};
};
