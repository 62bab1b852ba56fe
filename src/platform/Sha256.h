#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

typedef struct evp_md_ctx_st EVP_MD_CTX;

namespace plat {

// A SHA-256 computed piece by piece (OpenSSL).
class Sha256
{
public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // Starts again from nothing.
    void reset();
    void update(const void* data, std::size_t size);
    // The digest of everything given since the last reset; the object then starts again.
    Digest finish();
    // Bytes given since the last reset.
    std::uint64_t length() const { return m_length; }

private:
    EVP_MD_CTX* m_ctx;
    std::uint64_t m_length = 0;
};

} // namespace plat
