#include "skype/VX_SKYPESTREAM.h"

#include "app/ShellUtil.h"
#include "catalog/MessageHeader.h"
#include "catalog/NodeContext.h"
#include "platform/Diag.h"
#include "skype/SkypeLink.h"
#include "skype/SkypeText.h"

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

void VX_SKYPESTREAM::setPendingHello(int mode, const plat::SystemTime& date)
{
    m_helloPending = true;
    m_helloMode = mode;
    m_helloDate = date;
}

bool VX_SKYPESTREAM::sendMessage(std::uint8_t* message, std::size_t length)
{
    if (length < MsgLayout::HeaderSize || length > kBufferSize)
        return false;
    // Checked before the sequence number is used, so a refused message leaves no gap that the
    // peer would take for a lost one.
    const std::string number = std::to_string(m_number);
    if (2 * length + m_applicationName.size() + m_peerSkypeId.size() + kWriteOverhead >
        kMaxCommandText) {
        plat::diag("VX_SKYPESTREAM: message of %zu bytes too long for %s:%d\n", length,
                   m_peerSkypeId.c_str(), m_number);
        return false;
    }
    MessageHeader(message).setSequence(m_sendSequence++);
    m_command.clear();
    m_command.append("ALTER APPLICATION ").append(m_applicationName).append(" WRITE ");
    m_command.append(m_peerSkypeId).append(":").append(number).append(" ");
    appendHex(m_command, message, length);
    m_sendReady = false;
    m_link.sendCommand(m_command);
    return true;
}

void VX_SKYPESTREAM::sendKeepAlive()
{
    std::memset(m_message.get(), 0, MsgLayout::HeaderSize);
    MessageHeader(m_message.get()).init(MsgClass::KeepAlive, MsgType::KeepAlive);
    sendMessage(m_message.get(), MsgLayout::HeaderSize);
}

void VX_SKYPESTREAM::tick()
{
    if (!m_sendReady)
        return;
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
    m_command.clear();
    m_command.append("ALTER APPLICATION ").append(m_applicationName).append(" DISCONNECT ");
    m_command.append(m_peerSkypeId).append(":").append(std::to_string(m_number));
    m_link.sendCommand(m_command);
}

bool VX_SKYPESTREAM::wellFormed(std::size_t decoded) const
{
    if (decoded < MsgLayout::HeaderSize)
        return false;
    const std::uint8_t* msg = m_decode.get();
    // One write is one whole message: the header must account for every decoded byte.
    if (catalog::messageLength(msg) != decoded)
        return false;
    return catalog::checkMessage(msg, decoded) == catalog::MessageCheck::Ok;
}

void VX_SKYPESTREAM::receive(std::string_view text)
{
    if (!skype::startsWith(text, m_itemPrefix))
        return;
    const std::string_view hex = text.substr(m_itemPrefix.size());
    const std::size_t decoded = hexToBytes(hex, m_decode.get(), kBufferSize);
    if (decoded < MsgLayout::HeaderSize || ConstMessageHeader(m_decode.get()).headerLength() == 0)
        return;
    if (!wellFormed(decoded)) {
        plat::diag("VX_SKYPESTREAM: %s:%d malformed message of %zu bytes ignored\n",
                   m_peerSkypeId.c_str(), m_number, decoded);
        return;
    }
    const std::uint32_t sequence = ConstMessageHeader(m_decode.get()).sequence();
    if (sequence != m_receiveSequence) {
        plat::diag("VX_SKYPESTREAM: %s:%d sequence %u, expected %u\n", m_peerSkypeId.c_str(),
                   m_number, sequence, m_receiveSequence);
        disconnect();
        return;
    }
    ++m_receiveSequence;
    dispatch(decoded);
}

void VX_SKYPESTREAM::dispatch(std::size_t length)
{
    const std::uint8_t* msg = m_decode.get();
    const ConstMessageHeader h(msg);
    const std::uint16_t type = h.messageType();
    switch (h.messageClass()) {
    case MsgClass::Hello:
        if (type == MsgType::Hello) {
            const CExchange::HelloResult result =
                m_exchange.onHello(msg, length, false, m_peerSkypeId);
            if (result.peerRenamed)
                m_peerNodeName = m_exchange.peerNodeName();
            if (result.peerHasNews)
                m_peerNews = true;
        }
        break;
    case MsgClass::Catalog:
        if (type == MsgType::CatalogRequest)
            m_exchange.onCatalogRequest(msg, length, m_peerNodeName);
        else if (type == MsgType::CatalogBatch)
            m_exchange.onCatalogBatch(msg, length);
        break;
    case MsgClass::File:
        if (type == MsgType::FileRequest)
            m_exchange.onFileRequest(msg, length, kChunkSize);
        else if (type == MsgType::FileData)
            m_exchange.onFileData(msg, length);
        break;
    default:
        break;
    }
}
