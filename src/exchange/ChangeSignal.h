#pragma once

#include <cstdint>

// News for one node's peers: raised whenever the catalog queues something for them (a local
// registration, change or deletion, a completed download, a merged deletion). Each connection
// remembers the generation it last acted on and starts a conversation at its next poll when the
// generation has moved, instead of waiting for its periodic one.
class ChangeSignal
{
public:
    void raise() { ++m_generation; }
    std::uint64_t generation() const { return m_generation; }

private:
    std::uint64_t m_generation = 0;
};
