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

// One TLS connection run in memory, so the caller keeps its own non-blocking I/O and event loop:
// without a link, the bytes that arrive from the peer are put in and the bytes for the peer are
// taken out; with a link (the caller's socket), the session reads the socket itself in large
// blocks as plaintext is asked for, and sends the records it holds when flushOutgoing() is
// called. Reading in blocks of kLinkRead and sending a whole write's records at once keeps the
// system calls per byte as few as without TLS.
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

    // Why a handshake failed, as far as this end can tell.
    enum class Refusal
    {
        None,
        OtherKey,    // the peer offered a key, and it is another one
        NoKey,       // the peer offered no party key, or completed without using it
        Certificate, // the peer answered with a certificate instead of the party key
        NotTls,      // what arrived is not TLS (a node without a key, or another protocol)
        Closed,      // the peer closed during the handshake (it may have refused our key)
        Other,       // anything else; failure() has OpenSSL's words
    };

    // The most ciphertext one receive from the link asks for.
    static constexpr std::size_t kLinkRead = 262144;
    // A read of the BIO at least this large goes to the link directly.
    static constexpr std::size_t kDirectRead = 65536;

    TlsSession(std::shared_ptr<const TlsContext> context, Role role, TlsLink* link = nullptr);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Bytes received from the peer (they are read before the link's).
    void putIncoming(const std::uint8_t* data, std::size_t length);
    // The link may have received bytes since a receive from it last came back short (which
    // the session takes to mean that it has run dry for now).
    void expectIncoming() { linkDry_ = false; }
    // Received bytes wait here: a record not complete or not decrypted yet, or plaintext not
    // read yet.
    bool hasIncoming() const;

    // Advances the handshake with what has arrived. Ok once it is complete, which is only ever
    // a handshake authenticated by the party key: a client refuses any certificate, and either
    // side fails a handshake that completed without the key.
    Result handshake();
    bool established() const { return established_; }

    // Decrypted bytes into buffer; *count holds how many when Ok. With a link, WantMore means
    // the link has run dry, ended (linkEnded()) or failed (linkError()).
    Result read(std::uint8_t* buffer, std::size_t length, std::size_t* count);
    // True while decrypted bytes wait to be read (a record larger than the last read).
    bool readable() const;
    // Encrypts the bytes into records for the peer, held until taken or flushed. False when
    // the session has failed.
    bool write(const std::uint8_t* data, std::size_t length);

    // Bytes for the peer that wait here: how many, and up to length of them moved into buffer.
    std::size_t outgoingPending() const;
    std::size_t takeOutgoing(std::uint8_t* buffer, std::size_t length);
    // Sends what waits through the link as far as it takes it; false (with *error) when the link
    // failed, then and at every later call.
    bool flushOutgoing(int* error);

    // What the link said: the peer closed, a receive error, a send error (0: none); and how
    // many receives the session has made from it.
    bool linkEnded() const { return linkEnded_; }
    int linkError() const { return linkError_; }
    int sendError() const { return sendError_; }
    std::uint64_t linkReads() const { return linkReads_; }

    const std::string& failure() const { return failure_; }
    Refusal refusal() const { return refusal_; }
    // Notes that the peer closed (or the link failed) before the handshake was complete.
    void noteClosedInHandshake();

private:
    struct Bio;

    Result fail();
    Result refuse(Refusal refusal, std::string failure);
    // The BIO's read and write: from the bytes put in or the link, to the link or the bytes held.
    bool bioRead(char* buffer, std::size_t length, std::size_t* count);
    // One receive from the link into into; 0 when nothing came (dry, ended or failed, as noted).
    long receiveFromLink(std::uint8_t* into, std::size_t length);
    void bioWrite(const char* data, std::size_t length);

    std::shared_ptr<const TlsContext> context_;
    TlsLink* link_;
    SSL* ssl_ = nullptr;
    // Received bytes not read yet lie between incomingBegin_ and incomingEnd_; the buffer only
    // grows.
    std::vector<std::uint8_t> incoming_;
    std::size_t incomingBegin_ = 0;
    std::size_t incomingEnd_ = 0;
    std::vector<std::uint8_t> outgoing_;
    std::size_t outgoingOffset_ = 0;
    bool linkDry_ = false;
    bool linkEnded_ = false;
    int linkError_ = 0;
    int sendError_ = 0;
    std::uint64_t linkReads_ = 0;
    bool established_ = false;
    bool failed_ = false;
    std::string failure_;
    Refusal refusal_ = Refusal::None;
};

} // namespace plat
