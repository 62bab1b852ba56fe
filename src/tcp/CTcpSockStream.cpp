#include "tcp/CTcpSockStream.h"

#include "app/CPostError.h"
#include "exchange/NodeContext.h"
#include "platform/Bytes.h"
#include "platform/Cp932.h"
#include "platform/Diag.h"
#include "tcp/CTcpSockStreamParent.h"
#include "tcp/HandshakeFailureLog.h"
#include "tcp/TcpFrame.h"
#include "wire/HelloBody.h"
#include "wire/MessageHeader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

using catalog::ConstMessageHeader;
namespace MsgClass = catalog::MsgClass;
namespace MsgType = catalog::MsgType;

static_assert(CTcpSockStream::kReceiveLimit + tcp::kMinFrame <= CTcpSockStream::kBufferSize);
static_assert(tcp::kMaxFrame <= CTcpSockStream::kBufferSize);
static_assert(VX_QUE::kSlotSize == tcp::kMaxFrame);
static_assert(CTcpSockStream::kHandshakeFrame * 2 <= CTcpSockStream::kHandshakeBuffer);
static_assert(catalog::HelloLayout::MessageSize <= CTcpSockStream::kHandshakeFrame);

bool wouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

// The sender's node name from a hello, in UTF-8. Bytes that are not CP932 still give a printable
// name, which then matches no configured node.
std::string helloNodeName(const std::uint8_t* msg)
{
    namespace L = catalog::HelloLayout;
    const std::string_view field = plat::fieldView(msg + L::NodeName, L::NodeNameSize);
    if (auto utf8 = plat::fromCp932(field))
        return *utf8;
    return plat::fieldToUtf8(msg + L::NodeName, L::NodeNameSize);
}

// For the status line: which connection failed its key handshake and what this end saw.
std::string keyRefusalNotice(const std::string& name, plat::TlsSession::Refusal refusal,
                             const std::string& detail)
{
    using R = plat::TlsSession::Refusal;
    const std::string head = "TCP接続 " + name;
    switch (refusal) {
    case R::OtherKey:
        return head + " のパーティ鍵が一致しません.切断します.";
    case R::NoKey:
        return head + " の相手はパーティ鍵を使いませんでした.切断します.";
    case R::Certificate:
        return head + " の相手はパーティ鍵ではなく証明書で応答しました.切断します.";
    case R::NotTls:
        return head + " の相手は暗号化していません(パーティ鍵が未設定です).切断します.";
    case R::Closed:
        return head + " は鍵の確認中に相手が切断しました(鍵が違う,鍵がない,または相手が混雑).";
    case R::None:
    case R::Other:
        break;
    }
    return head + " の暗号化を確立できません(" + detail + ").切断します.";
}

std::string establishedNotice(const std::string& nodeName)
{
    char text[256];
    std::snprintf(text, sizeof text, "%sノードとTCP接続が確立しました", nodeName.c_str());
    return text;
}

} // namespace

CTcpSockStream::CTcpSockStream(NodeContext& node)
    : m_node(node), m_socket(this), m_exchange(node),
      m_receiveBuffer(new std::uint8_t[kHandshakeBuffer]),
      m_sendBuffer(new std::uint8_t[kHandshakeBuffer]), m_work(new std::uint8_t[kHandshakeBuffer]),
      m_window(this)
{
    m_exchange.setWindowLimit(CExchange::kMaxWindow, kChunkSize);
}

CTcpSockStream::~CTcpSockStream() = default;

void CTcpSockStream::setState(int state)
{
    // A newly admitted peer gets its first conversation at the next poll rather than after
    // the full hello period.
    if (state == kEstablished && m_state != kEstablished) {
        m_helloCounter = kHelloTicks;
        m_silentTicks = 0;
        growBuffers();
    }
    m_state = state;
}

void CTcpSockStream::growBuffers()
{
    if (m_fullBuffers)
        return;
    std::unique_ptr<std::uint8_t[]> receive(new std::uint8_t[kBufferSize]);
    std::memcpy(receive.get(), m_receiveBuffer.get(), m_receivedCount);
    std::unique_ptr<std::uint8_t[]> send(new std::uint8_t[kBufferSize]);
    std::memcpy(send.get(), m_sendBuffer.get(), m_sendOffset + m_pendingCount);
    m_receiveBuffer = std::move(receive);
    m_sendBuffer = std::move(send);
    m_sendCapacity = kBufferSize;
    m_fullBuffers = true;
}

std::size_t CTcpSockStream::receiveLimit() const
{
    return m_fullBuffers ? kReceiveLimit : kHandshakeBuffer;
}

bool CTcpSockStream::receiveQueueFull() const
{
    return m_receiveQueue.count() >= (handshaking() ? kHandshakeQueue : VX_QUE::kSlots);
}

std::size_t CTcpSockStream::frameLimit() const
{
    return m_fullBuffers ? tcp::kMaxFrame : kHandshakeFrame;
}

bool CTcpSockStream::handshakeExpired()
{
    return ++m_handshakeTicks > kHandshakeTicks;
}

void CTcpSockStream::confirmPeer()
{
    if (m_peerConfirmed)
        return;
    m_peerConfirmed = true;
    m_node.postDetail(establishedNotice(m_nodeName));
}

void CTcpSockStream::setNodeName(std::string name)
{
    m_nodeName = std::move(name);
    m_exchange.setPeerNodeName(m_nodeName);
}

void CTcpSockStream::setSyncRequest(int mode, const plat::SystemTime& date)
{
    m_syncFlag = 1;
    m_syncMode = mode;
    m_syncDate = date;
}

void CTcpSockStream::close()
{
    m_dead = true;
    m_watchingWrite = false;
    if (m_socket.isOpen()) {
        m_socket.shutdownBoth();
        m_socket.close();
    }
}

std::string CTcpSockStream::peerAddressText() const
{
    std::string address;
    int port = 0;
    if (!m_socket.peerAddress(address, port))
        return {};
    return address;
}

int CTcpSockStream::peerPort() const
{
    std::string address;
    int port = 0;
    if (!m_socket.peerAddress(address, port))
        return 0;
    return port;
}

void CTcpSockStream::poll()
{
    if (m_dead || (m_state != kConnected && m_state != kEstablished))
        return;
    if (m_state == kEstablished && ++m_silentTicks > kSilentTicks) {
        plat::diag("CTcpSockStream: id=%d %s has sent nothing for %u polls, closed\n", m_id,
                   m_nodeName.c_str(), kSilentTicks);
        failSocket(0);
        return;
    }
    if (!pumpSend())
        return;
    if (m_state == kEstablished)
        m_exchange.tick(m_receiveQueue.count() == 0 && !m_readPaused && !m_inputBlocked);
    // News (this node queued something for its peers, or the peer said it has something for
    // this node) starts a conversation now; otherwise one every kHelloTicks + 1 polls.
    const bool news = m_state == kEstablished && m_node.changes().generation() != m_seenChange;
    const bool wanted = m_state == kEstablished && (news || m_peerNews);
    if (m_helloCounter < kHelloTicks && !wanted) {
        ++m_helloCounter;
        return;
    }
    if (m_exchange.sendQueue().count() >= kBusyQueue)
        return;
    if (m_state == kEstablished) {
        m_seenChange = m_node.changes().generation();
        m_peerNews = false;
    }
    if (m_syncFlag) {
        m_exchange.sendHello(static_cast<std::uint32_t>(m_syncMode), m_syncDate, news);
        m_syncFlag = 0;
        m_syncMode = 0;
        m_syncDate = {};
    } else {
        m_exchange.sendHello(0, plat::SystemTime{}, news);
    }
    if (m_state == kEstablished)
        m_exchange.sendCatalogRequest();
    m_helloCounter = 0;
    pumpSend();
}

void CTcpSockStream::onReceive(int error)
{
    if (m_dead)
        return;
    if (error != 0) {
        failSocket(error);
        return;
    }
    // While the receive queue is full nothing is read: the bytes stay in the kernel, whose
    // flow control holds the peer back. Processing resumes the reading.
    readSocket();
}

void CTcpSockStream::readSocket()
{
    // Left unread, the socket is not watched again until processing resumes reading.
    if (m_readPaused)
        return;
    const std::size_t room = receiveLimit() - m_receivedCount;
    if (room == 0) {
        m_readPaused = true;
        return;
    }
    int readError = 0;
    const long n = m_socket.receive(m_receiveBuffer.get() + m_receivedCount, room, &readError);
    if (n > 0) {
        m_receivedCount += static_cast<std::size_t>(n);
        frameReceived();
        return;
    }
    if (n < 0 && wouldBlock(readError))
        return;
    // 0: the peer closed; the read's error code is then the last one, normally 0.
    m_closedByPeer = n == 0 || readError == ECONNRESET;
    failSocket(n == 0 ? 0 : readError);
}

bool CTcpSockStream::acceptBytes(const std::uint8_t* data, std::size_t length)
{
    while (length > 0 && !m_dead) {
        if (m_readPaused || m_receivedCount == receiveLimit()) {
            // What the socket would leave in the kernel: processed first, as the event loop
            // would, to make room (twice: answers that left may have let held requests go).
            for (int i = 0; i < 2 && !m_dead && (m_readPaused || m_receivedCount == receiveLimit());
                 ++i)
                processReceived();
            if (m_dead || m_readPaused || m_receivedCount == receiveLimit())
                return false;
            continue;
        }
        const std::size_t room = receiveLimit() - m_receivedCount;
        const std::size_t take = length < room ? length : room;
        std::memcpy(m_receiveBuffer.get() + m_receivedCount, data, take);
        m_receivedCount += take;
        data += take;
        length -= take;
        if (!frameReceived())
            return false;
    }
    return !m_dead;
}

bool CTcpSockStream::frameReceived()
{
    std::uint8_t* buffer = m_receiveBuffer.get();
    std::size_t offset = 0;
    bool queued = false;
    for (;;) {
        // Full (before admission: a few messages at a time): the frames held stay here and
        // nothing more is read until processing has made room.
        if (receiveQueueFull()) {
            m_readPaused = true;
            break;
        }
        const tcp::FrameScan scan =
            tcp::scanFrame(buffer + offset, m_receivedCount - offset, frameLimit());
        if (scan.status == tcp::FrameStatus::NeedMore)
            break;
        if (scan.status == tcp::FrameStatus::Bad) {
            plat::diag("CTcpSockStream: id=%d bad frame length=%zu\n", m_id,
                       catalog::messageLength(buffer + offset));
            m_node.post(CPostError::kFrameError);
            ++s_frameErrorCloses;
            failSocket(0);
            return false;
        }
        // Never refused: a slot holds the largest frame and the queue has room.
        if (m_receiveQueue.enqEntry(scan.length, buffer + offset))
            queued = true;
        m_silentTicks = 0;
        offset += scan.length;
    }
    // Bytes not framed yet move to the front. Unless reading is paused, only an incomplete
    // frame is left, so at least kReceiveLimit - kMaxFrame bytes of room follow.
    if (offset > 0) {
        std::memmove(buffer, buffer + offset, m_receivedCount - offset);
        m_receivedCount -= offset;
    }
    // One 1224 drains the whole queue, so one per read is enough.
    if (queued)
        m_window.postReceived();
    return true;
}

void CTcpSockStream::onTcpWinMessage(std::uintptr_t, std::intptr_t)
{
    processReceived();
}

void CTcpSockStream::processReceived()
{
    for (int handled = 0;; ++handled) {
        if (m_dead)
            return;
        // The node's other connections get their turn: the rest waits for a later one.
        if (handled == kTurnMessages && m_receiveQueue.count() > 0) {
            m_window.postReceived();
            break;
        }
        // The exchange holds as many of the peer's requests as it will: the rest waits here
        // until answers have left (pumpSend resumes).
        if (!m_exchange.canTakeMessage()) {
            m_inputBlocked = m_receiveQueue.count() > 0;
            break;
        }
        // The work buffer grows with the first message that needs it (after admission).
        if (m_receiveQueue.frontSize() > kHandshakeBuffer && !m_bigWork) {
            m_work.reset(new std::uint8_t[VX_QUE::kSlotSize]);
            m_bigWork = true;
        }
        if (!m_receiveQueue.deqEntry(m_work.get()))
            break;
        m_partyMismatch = false;
        const bool ok = handleMessage(m_work.get());
        // The handshake may have closed this connection.
        if (m_dead)
            return;
        if (!ok) {
            failProcessing(m_partyMismatch);
            return;
        }
    }
    // Answers leave now, not at the next poll.
    if (!pumpSend())
        return;
    resumeReading();
}

void CTcpSockStream::resumeReading()
{
    if (m_dead || !m_readPaused || receiveQueueFull())
        return;
    m_readPaused = false;
    if (!frameReceived() || m_readPaused)
        return;
    if (m_socket.isOpen())
        readSocket();
}

void CTcpSockStream::resumeInput()
{
    if (m_inputBlocked && m_exchange.canTakeMessage()) {
        m_inputBlocked = false;
        m_window.postReceived();
    }
}

bool CTcpSockStream::handleMessage(const std::uint8_t* msg)
{
    const ConstMessageHeader h(msg);
    if (h.headerLength() == 0) {
        plat::diag("CTcpSockStream: id=%d header length 0\n", m_id);
        return false;
    }
    if (h.sequence() != m_expectedSequence) {
        plat::diag("CTcpSockStream: id=%d sequence %u, expected %u\n", m_id, h.sequence(),
                   m_expectedSequence);
        return false;
    }
    ++m_expectedSequence;
    const std::size_t length = h.messageLength();
    if (catalog::checkMessage(msg, length) != catalog::MessageCheck::Ok) {
        plat::diag("CTcpSockStream: id=%d malformed message class=%u type=%u\n", m_id,
                   h.messageClass(), h.messageType());
        return false;
    }
    const std::uint16_t type = h.messageType();
    switch (h.messageClass()) {
    case MsgClass::Hello:
        return type == MsgType::Hello ? handleHello(msg, length) : true;
    case MsgClass::Catalog:
    case MsgClass::File:
        // Catalogs and files are only for admitted peers: anyone can open a connection.
        if (m_state != kEstablished) {
            plat::diag("CTcpSockStream: id=%d class %u before admission ignored\n", m_id,
                       h.messageClass());
            return true;
        }
        // A node asks for catalogs and files only on a connection it has admitted.
        confirmPeer();
        break;
    default:
        return true;
    }
    if (h.messageClass() == MsgClass::Catalog) {
        if (type == MsgType::CatalogRequest)
            m_exchange.onCatalogRequest(msg, length, m_nodeName);
        else if (type == MsgType::CatalogBatch)
            m_exchange.onCatalogBatch(msg, length);
        return true;
    }
    if (type == MsgType::FileRequest)
        m_exchange.onFileRequest(msg, length, h.protocolVersion() < 2 ? kOldChunkSize : kChunkSize);
    else if (type == MsgType::FileData)
        m_exchange.onFileData(msg, length);
    return true;
}

bool CTcpSockStream::handleHello(const std::uint8_t* msg, std::size_t length)
{
    if (m_state == kConnected) {
        // A hello of another party admits nobody: answering it would hand catalogs and files
        // to whoever names one configured node.
        if (!m_exchange.helloPartyMatches(msg, length)) {
            m_partyMismatch = true;
            return false;
        }
        // Otherwise it only names the peer; the peer model decides.
        if (m_parent)
            m_parent->notifyNodeName(m_id, helloNodeName(msg));
        return true;
    }
    const CExchange::HelloResult result = m_exchange.onHello(msg, length, true, m_host);
    if (!result.partyMatches) {
        m_partyMismatch = true;
        return false;
    }
    if (result.peerHasNews)
        m_peerNews = true;
    return true;
}

void CTcpSockStream::failProcessing(bool partyMismatch)
{
    if (!partyMismatch)
        ++s_frameErrorCloses;
    m_node.post(partyMismatch ? CPostError::kPartyMismatch : CPostError::kFrameError);
    failSocket(0);
}

void CTcpSockStream::failSocket(int error)
{
    if (m_parent)
        m_parent->notifyOnError(m_id, error);
    else
        close();
}

void CTcpSockStream::onSend(int error)
{
    if (m_dead)
        return;
    if (error != 0) {
        failSocket(error);
        return;
    }
    pumpSend();
}

bool CTcpSockStream::pumpSend()
{
    if (m_dead)
        return false;
    if (m_discardSends) {
        while (takeNextMessage())
            m_pendingCount = 0;
        resumeInput();
        return true;
    }
    for (;;) {
        if (m_pendingCount == 0 && !takeNextMessage()) {
            watchWrite(false);
            resumeInput();
            return true;
        }
        if (!flush())
            return false;
        if (m_pendingCount > 0) {
            watchWrite(true);
            resumeInput();
            return true;
        }
    }
}

bool CTcpSockStream::takeNextMessage()
{
    VX_QUE& queue = m_exchange.sendQueue();
    // What the exchange held back for want of room goes in as room appears.
    if (queue.count() < VX_QUE::kSlots && m_exchange.hasDeferred())
        m_exchange.service();
    while (queue.count() > 0) {
        // Only hellos are queued before admission; anything longer gets the full buffer rather
        // than overrunning the small one.
        if (queue.frontSize() > m_sendCapacity)
            growBuffers();
        std::uint8_t* buffer = m_sendBuffer.get();
        queue.deqEntry(buffer);
        const std::size_t length = catalog::messageLength(buffer);
        if (length < tcp::kMinFrame || length > tcp::kMaxFrame) {
            plat::diag("CTcpSockStream: id=%d unsendable message length=%zu dropped\n", m_id,
                       length);
            continue;
        }
        plat::putU32(buffer + catalog::MsgLayout::Sequence, m_sendSequence++);
        m_sendOffset = 0;
        m_pendingCount = length;
        return true;
    }
    return false;
}

bool CTcpSockStream::flush()
{
    while (m_pendingCount > 0) {
        int error = 0;
        const long n = m_socket.send(m_sendBuffer.get() + m_sendOffset, m_pendingCount, &error);
        if (n > 0) {
            m_sendOffset += static_cast<std::size_t>(n);
            m_pendingCount -= static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0 || wouldBlock(error))
            return true;
        failSocket(error);
        return false;
    }
    return true;
}

void CTcpSockStream::watchWrite(bool on)
{
    if (on == m_watchingWrite || m_dead)
        return;
    m_watchingWrite = on;
    m_socket.watchWrite(on);
}

void CTcpSockStream::onAccept(int error)
{
    if (!m_dead && error == 0 && m_parent)
        m_parent->onAccept(m_id);
}

void CTcpSockStream::onConnect(int error)
{
    if (m_dead)
        return;
    if (error != 0) {
        failSocket(error);
        return;
    }
    m_socket.setNoDelay(true);
    if (m_parent)
        m_parent->onConnect(m_id);
}

void CTcpSockStream::onClose(int error)
{
    if (m_dead)
        return;
    m_closedByPeer = true;
    if (error != 0) {
        failSocket(error);
        return;
    }
    if (m_parent)
        m_parent->onClose(m_id);
    else
        close();
}

void CTcpSockStream::onHandshakeFailed(const std::string& reason)
{
    if (m_dead)
        return;
    const std::string address = peerAddressText();
    tcp::HandshakeFailureLog* failures = m_parent ? m_parent->handshakeFailures() : nullptr;
    if (!failures || failures->shouldReport(address)) {
        // A dialled connection is named by its configured node; an accepted one only has the
        // peer's address, as nothing it sent has been read.
        const std::string name = m_kind == "connect()" ? m_nodeName + " (" + m_host + ")"
                                                       : address + ":" + std::to_string(peerPort());
        plat::diag("CTcpSockStream: id=%d %s: TLS handshake failed: %s\n", m_id, name.c_str(),
                   reason.c_str());
        m_node.postDetail(keyRefusalNotice(name, m_socket.refusal(), reason));
    }
    failSocket(0);
}
