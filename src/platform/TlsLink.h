#pragma once

#include <cstddef>

// The way a TLS session reaches its peer directly: the caller's non-blocking socket. The session
// reads ciphertext from it in large blocks and writes each batch of records in one call.
namespace plat {

class TlsLink
{
public:
    // As recv on a non-blocking socket: > 0 bytes, 0 at the end, -1 with *error (EAGAIN when
    // nothing has arrived yet).
    virtual long receiveCiphertext(void* buffer, std::size_t length, int* error) = 0;
    // As send: > 0 bytes taken, -1 with *error.
    virtual long sendCiphertext(const void* data, std::size_t length, int* error) = 0;

protected:
    ~TlsLink() = default;
};

} // namespace plat
