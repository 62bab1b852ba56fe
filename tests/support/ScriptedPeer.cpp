#include "ScriptedPeer.h"

#include "platform/Bytes.h"
#include "platform/Cp932.h"
#include "platform/EventLoop.h"
#include "wire/MessageBuilder.h"

#include <cerrno>
#include <ctime>

using namespace catalog;

std::vector<CatalogRecord> ScriptedPeer::Message::records() const
{
    std::vector<CatalogRecord> out;
    const std::size_t body = header().bodyLength();
    const std::size_t n = std::min<std::size_t>(header().recordCount(), body / CatalogRecord::Size);
    for (std::size_t i = 0; i < n; ++i)
        out.push_back(recordAt(bytes.data(), i));
    return out;
}

std::span<const std::uint8_t> ScriptedPeer::Message::chunk() const
{
    const std::size_t start = MsgLayout::HeaderSize + CatalogRecord::Size;
    if (bytes.size() < start)
        return {};
    return std::span<const std::uint8_t>(bytes).subspan(start);
}

ScriptedPeer::ScriptedPeer(std::string nodeName, std::string party)
    : m_nodeName(std::move(nodeName)), m_party(std::move(party)), m_socket(this), m_listener(this)
{
}

ScriptedPeer::~ScriptedPeer() = default;

bool ScriptedPeer::dial(int port, int timeoutMs)
{
    int error = 0;
    switch (m_socket.connect("127.0.0.1", port, &error)) {
    case plat::ConnectResult::Connected:
        m_connected = true;
        break;
    case plat::ConnectResult::InProgress:
        plat::runUntil([this] { return m_connected || m_connectError != 0; }, timeoutMs);
        break;
    case plat::ConnectResult::Failed:
        return false;
    }
    if (m_connected)
        m_socket.setNoDelay(true);
    return m_connected;
}

int ScriptedPeer::listen()
{
    int error = 0;
    if (!m_listener.createListening(0, &error) || !m_listener.listen(5, &error))
        return 0;
    return m_listener.localPort();
}

bool ScriptedPeer::accept(int timeoutMs)
{
    plat::runUntil([this] { return m_accepted; }, timeoutMs);
    return m_accepted;
}

void ScriptedPeer::onAccept(int)
{
    if (m_accepted) {
        // Only one connection is played; later ones are taken and dropped.
        plat::TcpSocket extra;
        m_listener.accept(extra);
        return;
    }
    m_accepted = m_listener.accept(m_socket);
    m_connected = m_accepted;
}

void ScriptedPeer::onConnect(int error)
{
    if (error == 0)
        m_connected = true;
    else
        m_connectError = error;
}

void ScriptedPeer::sendRaw(std::span<const std::uint8_t> bytes)
{
    m_out.insert(m_out.end(), bytes.begin(), bytes.end());
    onSend(0);
}

void ScriptedPeer::onSend(int)
{
    while (!m_out.empty() && !m_closed) {
        int error = 0;
        const long n = m_socket.send(m_out.data(), m_out.size(), &error);
        if (n <= 0)
            break;
        m_out.erase(m_out.begin(), m_out.begin() + n);
    }
    m_socket.watchWrite(!m_out.empty() && !m_closed);
}

void ScriptedPeer::send(std::vector<std::uint8_t> message)
{
    plat::putU32(message.data() + MsgLayout::Sequence, m_sendSequence++);
    sendRaw(message);
}

void ScriptedPeer::setReading(bool on)
{
    m_reading = on;
    if (on && m_readWanted) {
        m_readWanted = false;
        onReceive(0);
    }
}

void ScriptedPeer::onReceive(int)
{
    if (!m_reading) {
        // Not reading leaves the read notification off until the next receive.
        m_readWanted = true;
        return;
    }
    std::uint8_t buffer[65536];
    int error = 0;
    const long n = m_socket.receive(buffer, sizeof buffer, &error);
    if (n > 0) {
        m_in.insert(m_in.end(), buffer, buffer + n);
        frame();
    } else if (n == 0 || (error != EAGAIN && error != EWOULDBLOCK)) {
        m_closed = true;
    }
}

void ScriptedPeer::onClose(int)
{
    m_closed = true;
}

void ScriptedPeer::frame()
{
    for (;;) {
        if (m_in.size() < MsgLayout::HeaderSize)
            return;
        const std::size_t length = messageLength(m_in.data());
        if (length < MsgLayout::HeaderSize || m_in.size() < length)
            return;
        Message m;
        m.bytes.assign(m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(length));
        m_in.erase(m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(length));
        if (m.header().sequence() != m_receiveSequence++)
            m_sequenceOk = false;
        m_frames.push_back(std::move(m));
    }
}

std::optional<ScriptedPeer::Message> ScriptedPeer::next(int timeoutMs)
{
    plat::runUntil([this] { return !m_frames.empty() || m_closed; }, timeoutMs);
    if (m_frames.empty())
        return std::nullopt;
    Message m = std::move(m_frames.front());
    m_frames.erase(m_frames.begin());
    return m;
}

std::optional<ScriptedPeer::Message> ScriptedPeer::nextOf(std::uint16_t cls, std::uint16_t type,
                                                          int timeoutMs)
{
    std::optional<Message> found;
    plat::runUntil(
        [&] {
            while (!found && !m_frames.empty()) {
                Message m = std::move(m_frames.front());
                m_frames.erase(m_frames.begin());
                if (m.is(cls, type))
                    found = std::move(m);
            }
            return found.has_value() || m_closed;
        },
        timeoutMs);
    return found;
}

bool ScriptedPeer::waitClosed(int timeoutMs)
{
    return plat::runUntil([this] { return m_closed; }, timeoutMs);
}

std::vector<std::uint8_t> ScriptedPeer::hello(std::uint32_t syncMode, const plat::SystemTime& since,
                                              const std::string& party) const
{
    std::vector<std::uint8_t> buf(MsgLayout::MaxMessage);
    const std::string node = plat::toCp932(m_nodeName).value_or(m_nodeName);
    const std::string partyName = plat::toCp932(party.empty() ? m_party : party).value_or(party);
    buf.resize(buildHello(buf.data(), node, partyName, syncMode, since));
    return buf;
}

std::vector<std::uint8_t> ScriptedPeer::catalogRequest()
{
    std::vector<std::uint8_t> buf(MsgLayout::MaxMessage);
    buf.resize(buildCatalogRequest(buf.data()));
    return buf;
}

std::vector<std::uint8_t> ScriptedPeer::catalogBatch(std::span<const CatalogRecord> records)
{
    std::vector<std::uint8_t> buf(MsgLayout::MaxMessage);
    buf.resize(buildCatalogBatch(buf.data(), records));
    return buf;
}

std::vector<std::uint8_t> ScriptedPeer::fileRequest(const CatalogRecord& record,
                                                    std::uint16_t protocolVersion)
{
    std::vector<std::uint8_t> buf(MsgLayout::MaxMessage);
    buf.resize(buildFileDataRequest(buf.data(), record));
    MessageHeader(buf.data()).setProtocolVersion(protocolVersion);
    return buf;
}

std::vector<std::uint8_t> ScriptedPeer::fileData(const CatalogRecord& record, std::uint32_t offset,
                                                 std::span<const std::uint8_t> chunk)
{
    std::vector<std::uint8_t> buf(MsgLayout::MaxMessage);
    buf.resize(buildFileData(buf.data(), record, offset, chunk));
    return buf;
}

CatalogRecord makeTestRecord(const std::string& origin, const std::string& party,
                             const std::string& fileName, std::uint32_t size)
{
    CatalogRecord r;
    r.setRecordLength(CatalogRecord::Size);
    r.setRecordTag(RecordLayout::TagValue);
    r.setPendingFlag(1);
    (void)r.setOriginNodeUtf8(origin);
    r.setKind(RecordKind::New);
    const std::time_t now = std::time(nullptr);
    r.setRegistrationTime(plat::localNow());
    if (auto expiry = plat::localFromUnix(now + 3 * 86400))
        r.setExpiry(*expiry);
    r.setCompleteFlag(1);
    r.setBytesReceived(size);
    plat::FindRecord f;
    f.setAttributes(plat::FindAttr::Archive);
    f.setSize(size);
    f.setNameCp932(plat::toCp932(fileName).value_or(fileName));
    r.setFileDescription(f);
    (void)r.setPartyNameUtf8(party);
    stampChecksum(r);
    return r;
}
