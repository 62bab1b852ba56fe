#pragma once

#include "platform/TlsContext.h"
#include "platform/TlsSession.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The party key's TLS session of one application stream: the same TLS 1.3 session as a TCP
// connection with the key, run over the bytes the stream's writes carry instead of a socket.
// The node-to-node messages go in whole and come out whole: what the peer's writes bring is
// decrypted into a buffer from which one complete message at a time is taken, bounded before
// anything in it is read, as a TCP frame is.
//
// Both ends of a stream must agree on who starts: the end whose user ID sorts first (without
// regard to case, as the server compares IDs) is the client.
class StreamTls
{
public:
    enum class Step
    {
        Ok,     // nothing wrong (the handshake may still be under way)
        Failed, // the handshake or a record failed, or a message is malformed; failure() says why
    };

    // The largest message that comes out; a header naming more fails the stream.
    static constexpr std::size_t kMaxMessage = 65792;

    StreamTls(std::shared_ptr<const plat::TlsContext> context, bool client);
    StreamTls(const StreamTls&) = delete;
    StreamTls& operator=(const StreamTls&) = delete;

    // True for the end that starts the handshake; false also when the IDs are equal or empty.
    static bool startsHandshake(const std::string& ownId, const std::string& peerId);

    // The client's first flight; nothing for the server.
    Step start();
    bool established() const { return m_session.established(); }
    const std::string& failure() const { return m_failure; }

    // Ciphertext from one of the peer's writes: advances the handshake and decrypts what it can.
    Step putIncoming(const std::uint8_t* data, std::size_t length);
    // The next complete message into out (kMaxMessage bytes), *length its size; false when no
    // whole message waits (or the stream has failed: see failed()).
    bool nextMessage(std::uint8_t* out, std::size_t* length);
    bool failed() const { return m_failed; }

    // Encrypts one message; false when the session has failed.
    bool seal(const std::uint8_t* message, std::size_t length);
    std::size_t outgoingPending() const { return m_session.outgoingPending(); }
    std::size_t takeOutgoing(std::uint8_t* buffer, std::size_t length)
    {
        return m_session.takeOutgoing(buffer, length);
    }

private:
    Step fail(std::string why);
    Step drain();

    plat::TlsSession m_session;
    bool m_client;
    bool m_failed = false;
    std::string m_failure;
    // Decrypted bytes not yet taken as messages: at most one message and one read behind it.
    std::unique_ptr<std::uint8_t[]> m_plain;
    std::size_t m_plainCount = 0;
};
