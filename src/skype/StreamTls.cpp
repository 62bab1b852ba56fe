#include "skype/StreamTls.h"

#include "wire/MessageHeader.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

// Room for one whole message and one read behind it.
constexpr std::size_t kPlainBuffer = 2 * StreamTls::kMaxMessage;

std::string lowered(const std::string& text)
{
    std::string out = text;
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

} // namespace

static_assert(StreamTls::kMaxMessage == catalog::MsgLayout::MaxMessage);

StreamTls::StreamTls(std::shared_ptr<const plat::TlsContext> context, bool client)
    : m_session(std::move(context),
                client ? plat::TlsSession::Role::Client : plat::TlsSession::Role::Server),
      m_client(client), m_plain(std::make_unique<std::uint8_t[]>(kPlainBuffer))
{
}

bool StreamTls::startsHandshake(const std::string& ownId, const std::string& peerId)
{
    return !ownId.empty() && lowered(ownId) < lowered(peerId);
}

StreamTls::Step StreamTls::start()
{
    if (!m_client)
        return Step::Ok;
    const plat::TlsSession::Result r = m_session.handshake();
    if (r == plat::TlsSession::Result::Failed || r == plat::TlsSession::Result::Closed)
        return fail(m_session.failure());
    return Step::Ok;
}

StreamTls::Step StreamTls::fail(std::string why)
{
    if (!m_failed) {
        m_failed = true;
        m_failure = why.empty() ? std::string("TLS failure") : std::move(why);
    }
    return Step::Failed;
}

StreamTls::Step StreamTls::putIncoming(const std::uint8_t* data, std::size_t length)
{
    if (m_failed)
        return Step::Failed;
    m_session.putIncoming(data, length);
    if (!m_session.established()) {
        const plat::TlsSession::Result r = m_session.handshake();
        if (r == plat::TlsSession::Result::WantMore)
            return Step::Ok;
        if (r != plat::TlsSession::Result::Ok)
            return fail(r == plat::TlsSession::Result::Closed ? "closed during the handshake"
                                                              : m_session.failure());
    }
    return drain();
}

StreamTls::Step StreamTls::drain()
{
    for (;;) {
        if (m_plainCount == kPlainBuffer)
            return fail("a message longer than any message");
        std::size_t count = 0;
        const plat::TlsSession::Result r =
            m_session.read(m_plain.get() + m_plainCount, kPlainBuffer - m_plainCount, &count);
        if (r == plat::TlsSession::Result::Ok) {
            m_plainCount += count;
            // A message header that names an impossible length fails the stream at once.
            if (m_plainCount >= catalog::MsgLayout::HeaderSize) {
                const std::size_t n = catalog::messageLength(m_plain.get());
                if (n < catalog::MsgLayout::HeaderSize || n > kMaxMessage)
                    return fail("a message of " + std::to_string(n) + " bytes");
            }
            continue;
        }
        if (r == plat::TlsSession::Result::WantMore)
            return Step::Ok;
        return fail(r == plat::TlsSession::Result::Closed ? "the peer ended the TLS stream"
                                                          : m_session.failure());
    }
}

bool StreamTls::nextMessage(std::uint8_t* out, std::size_t* length)
{
    if (m_failed || m_plainCount < catalog::MsgLayout::HeaderSize)
        return false;
    const std::size_t n = catalog::messageLength(m_plain.get());
    if (n < catalog::MsgLayout::HeaderSize || n > kMaxMessage) {
        fail("a message of " + std::to_string(n) + " bytes");
        return false;
    }
    if (m_plainCount < n)
        return false;
    std::memcpy(out, m_plain.get(), n);
    std::memmove(m_plain.get(), m_plain.get() + n, m_plainCount - n);
    m_plainCount -= n;
    *length = n;
    // The next message's header is checked as soon as it is there.
    if (m_plainCount >= catalog::MsgLayout::HeaderSize) {
        const std::size_t next = catalog::messageLength(m_plain.get());
        if (next < catalog::MsgLayout::HeaderSize || next > kMaxMessage)
            fail("a message of " + std::to_string(next) + " bytes");
    }
    return true;
}

bool StreamTls::seal(const std::uint8_t* message, std::size_t length)
{
    if (m_failed || !m_session.write(message, length)) {
        fail(m_session.failure());
        return false;
    }
    return true;
}
