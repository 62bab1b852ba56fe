#pragma once

#include <cstdint>

typedef struct ossl_lib_ctx_st OSSL_LIB_CTX;

// AES-128-GCM, the cipher of every keyed connection's records, computed by Intel's multi-buffer
// crypto library (its AVX-512 and VAES code decrypts about five times as fast as OpenSSL 3.0 here)
// and offered to OpenSSL as a provider in a library context of its own. Everything else in that
// context (hashes, key exchange, key schedule, the record layer) stays OpenSSL's default provider;
// a TLS context built in it with preference() takes this provider's AES-128-GCM.
namespace plat {

class GcmProvider
{
public:
    // The property query that prefers this provider's algorithms and falls back to the default's.
    static const char* preference();
    // The library context with this provider and the default one; null where the processor has no
    // AVX-512 (the library would be no faster than OpenSSL there) or the set-up failed.
    static OSSL_LIB_CTX* library();
    // Bytes this provider has encrypted or decrypted in this process.
    static std::uint64_t bytesProcessed();
};

} // namespace plat
