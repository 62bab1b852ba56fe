#pragma once

#include <cstddef>

// The way a TLS session reaches its peer directly: the caller's non-blocking socket. Records go
// out from the session's own buffer and arrive straight into it, with no copy in between.
namespace plat {

class TlsLink
{
public:
    // As recv on a non-blocking socket: > 0 bytes, 0 at the end, -1 with *error (EAGAIN when
    // nothing has arrived yet).
    virtual long receiveCiphertext(void* buffer, std::size_t length, int* error) = 0;
    // As send: > 0 bytes taken, -1 with *error. more: further bytes follow at once, so the
    // socket may hold these back and send them together.
    virtual long sendCiphertext(const void* data, std::size_t length, bool more, int* error) = 0;

protected:
    ~TlsLink() = default;
};

} // namespace plat
