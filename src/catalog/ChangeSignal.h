#pragma once

#include <cstdint>

// Process-wide news for the node's peers: raised whenever the catalog queues something for them
// (a local registration, change or deletion, a completed download, a merged deletion). Each
// connection remembers the generation it last acted on and starts a conversation at its next
// poll when the generation has moved, instead of waiting for its periodic one.
class ChangeSignal
{
public:
    static void raise() { ++s_generation; }
    static std::uint64_t generation() { return s_generation; }

private:
    static inline std::uint64_t s_generation = 0;
};
