#include "skype/VX_SKYPESTREAM.h"

#include "app/CPostError.h"
#include "app/ShellUtil.h"
#include "exchange/NodeContext.h"
#include "platform/Diag.h"
#include "skype/SkypeLink.h"
#include "skype/SkypeText.h"
#include "skype/StreamTls.h"
#include "tcp/HandshakeFailureLog.h"
#include "wire/MessageHeader.h"

#include <algorithm>
#include <cstring>

using catalog::ConstMessageHeader;
using catalog::MessageHeader;
namespace MsgClass = catalog::MsgClass;
namespace MsgType = catalog::MsgType;
namespace MsgLayout = catalog::MsgLayout;

static_assert(VX_SKYPESTREAM::kBufferSize == MsgLayout::MaxMessage);

namespace {

// The fixed words of a write command around its three variable parts, as the client's limit
// counts them.
constexpr std::size_t kWriteOverhead = 37;

} // namespace

VX_SKYPESTREAM::VX_SKYPESTREAM(SkypeLink& link, NodeContext& node, std::string peerSkypeId,
                               int number, std::string applicationName, std::string peerNodeName)
    : m_link(link), m_node(node), m_peerSkypeId(std::move(peerSkypeId)), m_number(number),
      m_applicationName(std::move(applicationName)), m_peerNodeName(std::move(peerNodeName)),
      m_decode(std::make_unique<std::uint8_t[]>(kBufferSize)),
      m_message(std::make_unique<std::uint8_t[]>(kBufferSize)), m_exchange(node, m_peerNodeName)
{
    // One message is in flight per stream anyway: one chunk at a time.
    m_exchange.setWindowLimit(1, static_cast<std::uint32_t>(kChunkSize));
    m_itemPrefix = m_peerSkypeId + ":" + std::to_string(m_number) + " ";
    m_command.reserve(kMaxCommandText + 1);
}

VX_SKYPESTREAM::~VX_SKYPESTREAM() = default;

void VX_SKYPESTREAM::setTls(std::shared_ptr<const plat::TlsContext> context, bool client,
                            tcp::HandshakeFailureLog* failures)
{
    m_tls = std::make_unique<StreamTls>(std::move(context), client);
    m_cipher = std::make_unique<std::uint8_t[]>(kBufferSize);
    m_failures = failures;
    if (m_tls->start() == StreamTls::Step::Failed)
        refuse(m_tls->failure(), false);
}

bool VX_SKYPESTREAM::secured() const
{
    return m_tls && m_tls->established();
}

void VX_SKYPESTREAM::refuse(const std::string& why, bool keyMismatch)
{
    if (m_refused)
        return;
    m_refused = true;
    plat::diag("VX_SKYPESTREAM: %s:%d refused: %s\n", m_peerSkypeId.c_str(), m_number, why.c_str());
    if (keyMismatch)
        reportKeyMismatch();
    disconnect();
}

void VX_SKYPESTREAM::reportKeyMismatch()
{
    if (!m_failures || m_failures->shouldReport(m_peerSkypeId))
        m_node.postDetail("SKYPE接続 " + m_peerNodeName + " (" + m_peerSkypeId +
                          ") のパーティ鍵が一致しません.切断します.");
}

void VX_SKYPESTREAM::onClosedByPeer()
{
    // A stream this node closed itself says nothing.
    if (!m_tls || m_tls->established() || m_refused || m_disconnecting)
        return;
    m_refused = true;
    plat::diag("VX_SKYPESTREAM: %s:%d closed by the peer during the TLS handshake\n",
               m_peerSkypeId.c_str(), m_number);
    reportKeyMismatch();
}

void VX_SKYPESTREAM::setPendingHello(int mode, const plat::SystemTime& date)
{
    m_helloPending = true;
    m_helloMode = mode;
    m_helloDate = date;
}

bool VX_SKYPESTREAM::sendMessage(std::uint8_t* message, std::size_t length)
{
    if (length < MsgLayout::HeaderSize || length > kBufferSize || m_refused)
        return false;
    if (m_tls) {
        if (!m_tls->established())
            return false;
        MessageHeader(message).setSequence(m_sendSequence++);
        if (!m_tls->seal(message, length)) {
            refuse(m_tls->failure(), false);
            return false;
        }
        writeCiphertext();
        return true;
    }
    // Checked before the sequence number is used, so a refused message leaves no gap that the
    // peer would take for a lost one.
    if (2 * length + m_applicationName.size() + m_peerSkypeId.size() + kWriteOverhead >
        kMaxCommandText) {
        plat::diag("VX_SKYPESTREAM: message of %zu bytes too long for %s:%d\n", length,
                   m_peerSkypeId.c_str(), m_number);
        return false;
    }
    MessageHeader(message).setSequence(m_sendSequence++);
    writeBytes(message, length);
    return true;
}

void VX_SKYPESTREAM::writeBytes(const std::uint8_t* bytes, std::size_t length)
{
    m_command.clear();
    m_command.append("ALTER APPLICATION ").append(m_applicationName).append(" WRITE ");
    m_command.append(m_peerSkypeId).append(":").append(std::to_string(m_number)).append(" ");
    appendHex(m_command, bytes, length);
    m_sendReady = false;
    m_link.sendCommand(m_command);
}

std::size_t VX_SKYPESTREAM::maxWriteBytes() const
{
    const std::size_t fixed = m_applicationName.size() + m_peerSkypeId.size() + kWriteOverhead;
    return fixed >= kMaxCommandText ? 0 : std::min((kMaxCommandText - fixed) / 2, kBufferSize);
}

void VX_SKYPESTREAM::writeCiphertext()
{
    if (!m_sendReady || m_refused)
        return;
    const std::size_t n = m_tls->takeOutgoing(m_cipher.get(), maxWriteBytes());
    if (n > 0)
        writeBytes(m_cipher.get(), n);
}

void VX_SKYPESTREAM::sendKeepAlive()
{
    std::memset(m_message.get(), 0, MsgLayout::HeaderSize);
    MessageHeader(m_message.get()).init(MsgClass::KeepAlive, MsgType::KeepAlive);
    sendMessage(m_message.get(), MsgLayout::HeaderSize);
}

void VX_SKYPESTREAM::tick()
{
    if (!m_sendReady || m_refused)
        return;
    if (m_tls) {
        // Records of a message not yet all written go first; nothing else while the handshake
        // is under way.
        if (!m_tls->established() && ++m_handshakeTicks > kHandshakeTicks) {
            refuse("no TLS handshake", true);
            return;
        }
        if (m_tls->outgoingPending() > 0 || !m_tls->established()) {
            writeCiphertext();
            return;
        }
    }
    m_exchange.tick();
    if (m_exchange.hasDeferred())
        m_exchange.service();
    if (m_exchange.sendQueue().deqEntry(m_message.get())) {
        sendMessage(m_message.get(), catalog::messageLength(m_message.get()));
        m_idleTicks = 0;
    } else if (m_idleTicks >= kKeepAliveTicks) {
        sendKeepAlive();
        m_idleTicks = 0;
    } else {
        ++m_idleTicks;
    }
    // News (this node queued something for its peers, or the peer has something for this
    // node) starts the exchange at this tick instead of after the period.
    const bool news = m_node.changes().generation() != m_seenChange;
    if (m_exchangeTicks < kExchangeTicks && !news && !m_peerNews) {
        ++m_exchangeTicks;
        return;
    }
    if (m_exchange.sendQueue().count() > kBusyQueue)
        return;
    m_seenChange = m_node.changes().generation();
    m_peerNews = false;
    if (!m_passive)
        startExchange(news);
    m_exchangeTicks = 0;
}

void VX_SKYPESTREAM::startExchange(bool news)
{
    if (m_helloPending) {
        m_helloPending = false;
        m_exchange.sendHello(static_cast<std::uint32_t>(m_helloMode), m_helloDate, news);
    } else {
        m_exchange.sendHello(0, plat::SystemTime{}, news);
    }
    m_exchange.sendCatalogRequest();
}

void VX_SKYPESTREAM::disconnect()
{
    m_disconnecting = true;
    m_command.clear();
    m_command.append("ALTER APPLICATION ").append(m_applicationName).append(" DISCONNECT ");
    m_command.append(m_peerSkypeId).append(":").append(std::to_string(m_number));
    m_link.sendCommand(m_command);
}

bool VX_SKYPESTREAM::wellFormed(const std::uint8_t* msg, std::size_t decoded)
{
    if (decoded < MsgLayout::HeaderSize)
        return false;
    // One write is one whole message: the header must account for every decoded byte.
    if (catalog::messageLength(msg) != decoded)
        return false;
    return catalog::checkMessage(msg, decoded) == catalog::MessageCheck::Ok;
}

void VX_SKYPESTREAM::receive(std::string_view text)
{
    if (m_refused || !skype::startsWith(text, m_itemPrefix))
        return;
    const std::string_view hex = text.substr(m_itemPrefix.size());
    const std::size_t decoded = hexToBytes(hex, m_decode.get(), kBufferSize);
    if (m_tls) {
        receiveCiphertext(decoded);
        return;
    }
    handleMessage(m_decode.get(), decoded);
}

void VX_SKYPESTREAM::receiveCiphertext(std::size_t decoded)
{
    if (decoded == 0)
        return;
    const bool wasUp = m_tls->established();
    if (m_tls->putIncoming(m_decode.get(), decoded) == StreamTls::Step::Failed) {
        // Before the handshake is complete a failure means the peer has another key or none.
        refuse(m_tls->failure(), !wasUp && !m_tls->established());
        return;
    }
    // The handshake's answer leaves at once when the last write has left.
    if (m_tls->outgoingPending() > 0)
        writeCiphertext();
    // The ciphertext has been taken in: the decode buffer holds one message at a time now.
    std::size_t length = 0;
    while (!m_refused && m_tls->nextMessage(m_decode.get(), &length))
        handleMessage(m_decode.get(), length);
    if (m_tls->failed())
        refuse(m_tls->failure(), false);
}

void VX_SKYPESTREAM::handleMessage(const std::uint8_t* msg, std::size_t decoded)
{
    if (decoded < MsgLayout::HeaderSize || ConstMessageHeader(msg).headerLength() == 0)
        return;
    if (!wellFormed(msg, decoded)) {
        plat::diag("VX_SKYPESTREAM: %s:%d malformed message of %zu bytes ignored\n",
                   m_peerSkypeId.c_str(), m_number, decoded);
        return;
    }
    const std::uint32_t sequence = ConstMessageHeader(msg).sequence();
    if (sequence != m_receiveSequence) {
        plat::diag("VX_SKYPESTREAM: %s:%d sequence %u, expected %u\n", m_peerSkypeId.c_str(),
                   m_number, sequence, m_receiveSequence);
        disconnect();
        return;
    }
    ++m_receiveSequence;
    dispatch(msg, decoded);
}

void VX_SKYPESTREAM::onHello(const std::uint8_t* msg, std::size_t length)
{
    const CExchange::HelloResult result = m_exchange.onHello(msg, length, false, m_peerSkypeId);
    // A hello of another party admits nobody: answering it would hand catalogs and files to
    // whoever a configured contact lets open a stream.
    if (!result.partyMatches) {
        m_node.post(CPostError::kPartyMismatch);
        refuse("a hello of another party", false);
        return;
    }
    // A passive stream starts nothing, but answers the peer's first hello with its own: the
    // peer answers nothing and takes nothing from a stream whose hello has not shown it to be
    // of the party.
    if (!m_admitted && m_passive)
        m_exchange.sendHello(0, plat::SystemTime{}, false);
    // What arrived before (an answer to this node's first request, overtaking the peer's hello)
    // was dropped: the conversation starts again at the next tick, not a period later.
    if (!m_admitted && m_droppedBeforeAdmission)
        m_peerNews = true;
    m_admitted = true;
    if (result.peerRenamed)
        m_peerNodeName = m_exchange.peerNodeName();
    if (result.peerHasNews)
        m_peerNews = true;
}

void VX_SKYPESTREAM::dispatch(const std::uint8_t* msg, std::size_t length)
{
    const ConstMessageHeader h(msg);
    const std::uint16_t type = h.messageType();
    const std::uint16_t messageClass = h.messageClass();
    if (messageClass == MsgClass::Hello) {
        if (type == MsgType::Hello)
            onHello(msg, length);
        return;
    }
    if (messageClass != MsgClass::Catalog && messageClass != MsgClass::File)
        return;
    // Catalogs and files only once the peer's hello has shown it to be of this party.
    if (!m_admitted) {
        m_droppedBeforeAdmission = true;
        plat::diag("VX_SKYPESTREAM: %s:%d class %u before admission ignored\n",
                   m_peerSkypeId.c_str(), m_number, messageClass);
        return;
    }
    if (messageClass == MsgClass::Catalog) {
        if (type == MsgType::CatalogRequest)
            m_exchange.onCatalogRequest(msg, length, m_peerNodeName);
        else if (type == MsgType::CatalogBatch)
            m_exchange.onCatalogBatch(msg, length);
        return;
    }
    if (type == MsgType::FileRequest)
        m_exchange.onFileRequest(msg, length, kChunkSize);
    else if (type == MsgType::FileData)
        m_exchange.onFileData(msg, length);
}
