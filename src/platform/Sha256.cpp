#include "platform/Sha256.h"

#include <openssl/evp.h>

namespace plat {

Sha256::Sha256() : m_ctx(EVP_MD_CTX_new())
{
    reset();
}

Sha256::~Sha256()
{
    EVP_MD_CTX_free(m_ctx);
}

void Sha256::reset()
{
    EVP_DigestInit_ex(m_ctx, EVP_sha256(), nullptr);
    m_length = 0;
}

void Sha256::update(const void* data, std::size_t size)
{
    EVP_DigestUpdate(m_ctx, data, size);
    m_length += size;
}

Sha256::Digest Sha256::finish()
{
    Digest digest{};
    unsigned length = 0;
    EVP_DigestFinal_ex(m_ctx, digest.data(), &length);
    reset();
    return digest;
}

} // namespace plat
