#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

typedef struct evp_pkey_st EVP_PKEY;

namespace plat {

// A node's identity: an Ed25519 key pair (OpenSSL). The private half signs what this node
// originates; the public half is published so that other nodes can check those signatures.
class NodeKey
{
public:
    static constexpr std::size_t kSeedSize = 32;
    static constexpr std::size_t kPublicSize = 32;
    static constexpr std::size_t kSignatureSize = 64;
    using Seed = std::array<std::uint8_t, kSeedSize>;
    using PublicKey = std::array<std::uint8_t, kPublicSize>;
    using Signature = std::array<std::uint8_t, kSignatureSize>;

    // A fresh key pair from OpenSSL's random source; nullopt when OpenSSL cannot make one.
    static std::optional<NodeKey> generate();
    // The key pair of a stored private key; nullopt when the bytes are not one.
    static std::optional<NodeKey> fromSeed(const Seed& seed);

    NodeKey(NodeKey&&) noexcept;
    NodeKey& operator=(NodeKey&&) noexcept;
    ~NodeKey();

    const Seed& seed() const { return m_seed; }
    const PublicKey& publicKey() const { return m_public; }
    Signature sign(std::span<const std::uint8_t> message) const;

    // True when signature is publicKey's signature of message.
    static bool verify(const PublicKey& publicKey, std::span<const std::uint8_t> message,
                       const Signature& signature);

    // The short fingerprint users compare: the first 8 bytes of the public key's SHA-256 as four
    // groups of four hexadecimal digits ("1a2b-3c4d-5e6f-7081").
    static std::string fingerprint(const PublicKey& publicKey);

private:
    struct Free
    {
        void operator()(EVP_PKEY* key) const;
    };
    NodeKey(std::unique_ptr<EVP_PKEY, Free> key, const Seed& seed, const PublicKey& pub);

    std::unique_ptr<EVP_PKEY, Free> m_key;
    Seed m_seed{};
    PublicKey m_public{};
};

} // namespace plat
