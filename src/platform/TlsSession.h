#pragma once

#include "platform/TlsContext.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

typedef struct ssl_st SSL;
typedef struct bio_st BIO;

// One TLS connection run entirely in memory: the bytes that arrive from the peer are put in,
// the bytes for the peer are taken out, and plaintext goes in and out in between. It never
// touches a socket, so the caller keeps its own non-blocking I/O and event loop.
namespace plat {

class TlsSession
{
public:
    enum class Role
    {
        Client, // the side that dialled
        Server, // the side that accepted
    };

    enum class Result
    {
        Ok,       // bytes were produced
        WantMore, // nothing yet: more bytes from the peer are needed
        Closed,   // the peer ended the TLS stream in order
        Failed,   // the handshake or a record failed; failure() says why
    };

    TlsSession(std::shared_ptr<const TlsContext> context, Role role);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Bytes received from the peer.
    void putIncoming(const std::uint8_t* data, std::size_t length);
    // Received bytes not yet decrypted (a record not complete yet, or not asked for yet).
    std::size_t incomingPending() const;

    // Advances the handshake with what has arrived. Ok once it is complete.
    Result handshake();
    bool established() const { return established_; }

    // Decrypted bytes into buffer; *count holds how many when Ok.
    Result read(std::uint8_t* buffer, std::size_t length, std::size_t* count);
    // True while decrypted bytes wait to be read (a record larger than the last read).
    bool readable() const;
    // Encrypts the bytes into records for the peer. False when the session has failed.
    bool write(const std::uint8_t* data, std::size_t length);

    // Bytes for the peer: how many wait, and up to length of them moved into buffer.
    std::size_t outgoingPending() const;
    std::size_t takeOutgoing(std::uint8_t* buffer, std::size_t length);

    const std::string& failure() const { return failure_; }

private:
    Result fail();

    std::shared_ptr<const TlsContext> context_;
    SSL* ssl_ = nullptr;
    BIO* in_ = nullptr;  // owned by ssl_
    BIO* out_ = nullptr; // owned by ssl_
    bool established_ = false;
    bool failed_ = false;
    std::string failure_;
};

} // namespace plat
