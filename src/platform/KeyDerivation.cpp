#include "platform/KeyDerivation.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

#include <string>

namespace plat {

namespace {

// Keeps keys of this program apart from anything else derived from the same passphrase.
constexpr std::string_view kSaltPrefix{"pavo party key 1\0", 17};

} // namespace

std::optional<TlsContext::Key> derivePartyKey(std::string_view passphrase, std::string_view party)
{
    return derivePartyKey(passphrase, party, kPartyKeyCost);
}

std::optional<TlsContext::Key> derivePartyKey(std::string_view passphrase, std::string_view party,
                                              const ScryptCost& cost)
{
    std::string salt(kSaltPrefix);
    salt.append(party);
    EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "SCRYPT", nullptr);
    EVP_KDF_CTX* ctx = kdf ? EVP_KDF_CTX_new(kdf) : nullptr;
    EVP_KDF_free(kdf);
    if (!ctx)
        return std::nullopt;
    std::uint64_t n = cost.n;
    std::uint32_t r = cost.r;
    std::uint32_t p = cost.p;
    // 128 × n × r bytes for the work area, with room to spare.
    std::uint64_t maxMemory = 256 * n * r + (1u << 20);
    std::string pass(passphrase);
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD, pass.data(), pass.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, salt.data(), salt.size()),
        OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_SCRYPT_N, &n),
        OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_R, &r),
        OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_P, &p),
        OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_SCRYPT_MAXMEM, &maxMemory),
        OSSL_PARAM_construct_end(),
    };
    TlsContext::Key key{};
    const bool ok = EVP_KDF_derive(ctx, key.data(), key.size(), params) == 1;
    EVP_KDF_CTX_free(ctx);
    OPENSSL_cleanse(pass.data(), pass.size());
    ERR_clear_error();
    if (!ok)
        return std::nullopt;
    return key;
}

} // namespace plat
