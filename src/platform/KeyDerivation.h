#pragma once

#include "platform/TlsContext.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace plat {

// The party key from a passphrase and the party name, by scrypt: deliberately slow (about 0.4 s
// and 64 MiB on a current desktop core), so that guessing passphrases from recorded handshakes is
// expensive. The party name is the salt, so one passphrase gives each party another key; the same
// passphrase and party always give the same key, on every node. nullopt when OpenSSL cannot
// derive (not enough memory).
std::optional<TlsContext::Key> derivePartyKey(std::string_view passphrase, std::string_view party);

// The cost parameters, fixed: every node of a party must use the same.
struct ScryptCost
{
    std::uint64_t n;
    std::uint32_t r;
    std::uint32_t p;
};
// N = 2^16, r = 8: 128 × N × r = 64 MiB of work area; it runs only when a key is set.
inline constexpr ScryptCost kPartyKeyCost{65536, 8, 1};

// For measuring other costs (the benchmark); derivePartyKey uses kPartyKeyCost.
std::optional<TlsContext::Key> derivePartyKey(std::string_view passphrase, std::string_view party,
                                              const ScryptCost& cost);

} // namespace plat
