#pragma once

#include "platform/TlsContext.h"
#include "platform/TlsLink.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

typedef struct ssl_st SSL;
typedef struct bio_st BIO;

// One TLS connection whose ciphertext the caller carries: without a link, the bytes that arrive
// from the peer are put in and the bytes for the peer are taken out; with a link (the caller's
// non-blocking socket), records are read from it as plaintext is asked for and written to it as
// plaintext is given, and only what the socket does not take at once is held here until
// flushOutgoing(). Either way the session never waits, so the caller keeps its own event loop.
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

    // The largest plaintext of one record.
    static constexpr std::size_t kMaxRecord = 16384;

    TlsSession(std::shared_ptr<const TlsContext> context, Role role, TlsLink* link = nullptr);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Bytes received from the peer (they are read before the link's).
    void putIncoming(const std::uint8_t* data, std::size_t length);
    // Received bytes wait here: a record not complete or not decrypted yet, or plaintext not
    // read yet.
    bool hasIncoming() const;

    // Advances the handshake with what has arrived. Ok once it is complete.
    Result handshake();
    bool established() const { return established_; }

    // Decrypted bytes into buffer; *count holds how many when Ok. With a link, WantMore means
    // the link said EAGAIN, ended (linkEnded()) or failed (linkError()).
    Result read(std::uint8_t* buffer, std::size_t length, std::size_t* count);
    // True while decrypted bytes wait to be read (a record larger than the last read).
    bool readable() const;
    // Encrypts the bytes into records for the peer. False when the session has failed. A send
    // error of the link does not fail the write: it shows in sendError().
    bool write(const std::uint8_t* data, std::size_t length);

    // Bytes for the peer that wait here: how many, and up to length of them moved into buffer.
    std::size_t outgoingPending() const;
    std::size_t takeOutgoing(std::uint8_t* buffer, std::size_t length);
    // Sends what waits through the link as far as it takes it; false (with *error) when the link
    // failed.
    bool flushOutgoing(int* error);

    // What the link said: the peer closed, a receive error, a send error (0: none); and how
    // many receives the session has asked of it.
    bool linkEnded() const { return linkEnded_; }
    int linkError() const { return linkError_; }
    int sendError() const { return sendError_; }
    std::uint64_t linkReads() const { return linkReads_; }

    const std::string& failure() const { return failure_; }

private:
    struct Bio;

    Result fail();
    // The BIO's read and write: from the bytes put in or the link, to the link or the bytes held.
    bool bioRead(char* buffer, std::size_t length, std::size_t* count);
    void bioWrite(const char* data, std::size_t length);

    std::shared_ptr<const TlsContext> context_;
    TlsLink* link_;
    SSL* ssl_ = nullptr;
    std::vector<std::uint8_t> incoming_;
    std::size_t incomingOffset_ = 0;
    std::vector<std::uint8_t> outgoing_;
    std::size_t outgoingOffset_ = 0;
    bool more_ = false; // the record being written is followed by another at once
    bool linkEnded_ = false;
    int linkError_ = 0;
    int sendError_ = 0;
    std::uint64_t linkReads_ = 0;
    bool established_ = false;
    bool failed_ = false;
    std::string failure_;
};

} // namespace plat
