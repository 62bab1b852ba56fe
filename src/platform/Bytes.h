#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Little-endian field access for the fixed byte layouts that are stored and sent.
// Every record codec reads and writes through these, never by copying a struct's memory.
namespace plat {

inline std::uint16_t getU16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t getU32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::int32_t getI32(const std::uint8_t* p)
{
    return static_cast<std::int32_t>(getU32(p));
}

inline std::uint64_t getU64(const std::uint8_t* p)
{
    return static_cast<std::uint64_t>(getU32(p)) |
           (static_cast<std::uint64_t>(getU32(p + 4)) << 32);
}

inline void putU16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void putU32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void putI32(std::uint8_t* p, std::int32_t v)
{
    putU32(p, static_cast<std::uint32_t>(v));
}

inline void putU64(std::uint8_t* p, std::uint64_t v)
{
    putU32(p, static_cast<std::uint32_t>(v));
    putU32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

} // namespace plat
