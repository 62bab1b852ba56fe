#include "platform/NodeKey.h"

#include "platform/Hex.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

namespace plat {

void NodeKey::Free::operator()(EVP_PKEY* key) const
{
    EVP_PKEY_free(key);
}

NodeKey::NodeKey(std::unique_ptr<EVP_PKEY, Free> key, const Seed& seed, const PublicKey& pub)
    : m_key(std::move(key)), m_seed(seed), m_public(pub)
{
}

NodeKey::NodeKey(NodeKey&&) noexcept = default;
NodeKey& NodeKey::operator=(NodeKey&&) noexcept = default;
NodeKey::~NodeKey()
{
    OPENSSL_cleanse(m_seed.data(), m_seed.size());
}

std::optional<NodeKey> NodeKey::generate()
{
    Seed seed{};
    if (RAND_priv_bytes(seed.data(), int(seed.size())) != 1)
        return std::nullopt;
    auto key = fromSeed(seed);
    OPENSSL_cleanse(seed.data(), seed.size());
    return key;
}

std::optional<NodeKey> NodeKey::fromSeed(const Seed& seed)
{
    std::unique_ptr<EVP_PKEY, Free> key(
        EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size()));
    if (!key)
        return std::nullopt;
    PublicKey pub{};
    std::size_t length = pub.size();
    if (EVP_PKEY_get_raw_public_key(key.get(), pub.data(), &length) != 1 || length != pub.size())
        return std::nullopt;
    return NodeKey(std::move(key), seed, pub);
}

NodeKey::Signature NodeKey::sign(std::span<const std::uint8_t> message) const
{
    Signature out{};
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    std::size_t length = out.size();
    const bool ok = ctx && EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, m_key.get()) == 1 &&
                    EVP_DigestSign(ctx, out.data(), &length, message.data(), message.size()) == 1;
    EVP_MD_CTX_free(ctx);
    // An all-zero signature verifies for nothing: a failure can only lead to a refusal.
    if (!ok || length != out.size())
        out.fill(0);
    return out;
}

bool NodeKey::verify(const PublicKey& publicKey, std::span<const std::uint8_t> message,
                     const Signature& signature)
{
    std::unique_ptr<EVP_PKEY, Free> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey.data(), publicKey.size()));
    if (!key)
        return false;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const bool ok = ctx && EVP_DigestVerifyInit(ctx, nullptr, nullptr, nullptr, key.get()) == 1 &&
                    EVP_DigestVerify(ctx, signature.data(), signature.size(), message.data(),
                                     message.size()) == 1;
    EVP_MD_CTX_free(ctx);
    return ok;
}

std::string NodeKey::fingerprint(const PublicKey& publicKey)
{
    std::uint8_t digest[SHA256_DIGEST_LENGTH];
    SHA256(publicKey.data(), publicKey.size(), digest);
    std::string out;
    for (int i = 0; i < 8; i += 2) {
        if (i > 0)
            out += '-';
        appendHex(out, digest + i, 2);
    }
    return out;
}

} // namespace plat
