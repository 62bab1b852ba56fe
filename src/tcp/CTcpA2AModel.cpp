#include "tcp/CTcpA2AModel.h"

#include "app/CA2AModelListener.h"
#include "app/CPropatyHotLine.h"
#include "exchange/NodeContext.h"
#include "platform/Diag.h"
#include "tcp/AddressGroup.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace {

constexpr int kPollTimer = 1;
constexpr int kAcceptTimer = 2;

// For the status line: which name was offered and that it is not configured, so that a
// misspelt connection is found at once.
std::string refusedNotice(const std::string& offered, const std::string& dialled)
{
    char text[320];
    if (dialled.empty() || dialled == offered)
        std::snprintf(text, sizeof text,
                      "%sノードは接続先に設定されていないため、接続を拒否しました",
                      offered.c_str());
    else
        std::snprintf(text, sizeof text,
                      "接続先%sの相手は%sノードでした。接続先に設定されていないため切断しました",
                      dialled.c_str(), offered.c_str());
    return text;
}

} // namespace

CTcpA2AModel* CTcpA2AModel::instance()
{
    return plat::LiveInstance<CTcpA2AModel>::get();
}

CTcpA2AModel::CTcpA2AModel(NodeContext& node)
    : m_node(node), m_settings(node.settings()), m_listen(node),
      m_graveyard(std::make_shared<Graveyard>()), m_timer([this](int id) {
          if (id == kAcceptTimer) {
              m_timer.kill(kAcceptTimer);
              m_listen.socket().resumeAccepting();
              return;
          }
          poll();
      })
{
    m_timer.set(kPollTimer, kPollMs);
}

CTcpA2AModel::~CTcpA2AModel()
{
    m_timer.kill(kPollTimer);
    m_timer.kill(kAcceptTimer);
    // Not from inside a connection's notification, so the connections can go at once.
    m_established.clear();
    m_pending.clear();
    m_listeners.clear();
    m_graveyard->clear();
}

int CTcpA2AModel::nextConnectionNumber()
{
    static int counter = 0;
    return ++counter;
}

void CTcpA2AModel::addListener(CA2AModelListener* listener)
{
    m_listeners.push_back(listener);
}

void CTcpA2AModel::notifyConnectionChanged()
{
    // A listener registered meanwhile is not called for this change.
    const std::vector<CA2AModelListener*> listeners = m_listeners;
    for (CA2AModelListener* l : listeners)
        l->onConnectionChanged();
}

bool CTcpA2AModel::refreshTls()
{
    const PartyKeyStore::Loaded& key = m_settings.partyKey();
    if (key.state == PartyKeyStore::State::Missing) {
        plat::diag("CTcpA2AModel: party key unusable (%s); no TCP\n", key.problem.c_str());
        // Said once on the status line (standard error had the reason at start).
        if (!m_missingKeyReported)
            m_node.postDetail("パーティ鍵を読み出せません.システム設定で合言葉を"
                              "入れ直すまでTCP接続はしません.");
        m_missingKeyReported = true;
        return false;
    }
    m_missingKeyReported = false;
    if (key.key == m_tlsKey && (m_tls != nullptr) == key.key.has_value())
        return true;
    m_tls.reset();
    m_tlsKey.reset();
    if (key.key) {
        std::string error;
        m_tls = plat::TlsContext::create(*key.key, &error);
        if (!m_tls) {
            plat::diag("CTcpA2AModel: TLS set-up failed: %s; no TCP\n", error.c_str());
            return false;
        }
        m_tlsKey = key.key;
    }
    m_listen.socket().setTls(m_tls);
    return true;
}

void CTcpA2AModel::goOnline()
{
    const int port = m_settings.getListenPort();
    tcp::PeerSocket& socket = m_listen.socket();
    // Going on-line twice must not leave the first socket holding the port.
    if (socket.isOpen())
        socket.close();
    if (!refreshTls())
        return;
    int error = 0;
    if (!socket.createListening(port, &error)) {
        plat::diag("Error:CTcpA2AModel::goOnline()-Create() err=%d port=%d\n", error, port);
        return;
    }
    if (!socket.setReuseAddress(&error)) {
        plat::diag("Error:CTcpA2AModel::goOnline()-SetSockOpt() err=%d\n", error);
        socket.close();
        return;
    }
    m_listen.setParent(this);
    m_listen.setHost("ListenPort");
    m_listen.setNodeName("ListenUser");
    if (!socket.listen(kBacklog, &error)) {
        plat::diag("Error:CTcpA2AModel::goOnline()-Listen() err=%d\n", error);
        socket.close();
    }
}

void CTcpA2AModel::goOffline()
{
    tcp::PeerSocket& socket = m_listen.socket();
    if (socket.isOpen()) {
        socket.shutdownBoth();
        socket.close();
    }
    std::vector<Stream> pending;
    pending.swap(m_pending);
    for (Stream& s : pending)
        bury(std::move(s));
}

bool CTcpA2AModel::isListening() const
{
    return m_listen.socket().isOpen() && m_listen.socket().localPort() > 0;
}

int CTcpA2AModel::listenPort() const
{
    return m_listen.socket().isOpen() ? m_listen.socket().localPort() : 0;
}

bool CTcpA2AModel::hasNodeName(const std::string& nodeName) const
{
    auto named = [&](const Stream& s) { return s && s->nodeName() == nodeName; };
    return std::any_of(m_established.begin(), m_established.end(), named) ||
           std::any_of(m_pending.begin(), m_pending.end(), named);
}

void CTcpA2AModel::connectPeer(const std::string& nodeName, const std::string& host, int port)
{
    if (hasNodeName(nodeName)) {
        plat::diag("CTcpA2AModel::connectPeer() ALLRADY EXIST\r\n");
        return;
    }
    if (!refreshTls())
        return;
    plat::diag("CTcpA2AModel::connectPeer() Create Stream\r\n");
    auto stream = std::make_unique<CTcpSockStream>(m_node);
    stream->setHost(host);
    stream->setNodeName(nodeName);
    stream->setParent(this);
    stream->setKind("connect()");
    stream->setId(nextConnectionNumber());
    stream->socket().setTls(m_tls);

    int error = 0;
    switch (stream->socket().connect(host, port, &error)) {
    case plat::ConnectResult::Connected:
        stream->socket().setNoDelay(true);
        stream->setState(CTcpSockStream::kConnected);
        m_pending.push_back(std::move(stream));
        plat::diag("CTcpA2AModel::connectPeer() CONNECT OK ! hostname=%s, nodename=%s \n",
                   host.c_str(), nodeName.c_str());
        break;
    case plat::ConnectResult::InProgress:
        stream->setState(CTcpSockStream::kDialling);
        m_pending.push_back(std::move(stream));
        notifyConnectionChanged();
        plat::diag("CTcpA2AModel::connectPeer() WAIT CONNECT ! hostname=%s, nodename=%s \n",
                   host.c_str(), nodeName.c_str());
        break;
    case plat::ConnectResult::Failed:
        plat::diag("CTcpA2AModel::connectPeer() CONNECT FAILSE! hostname=%s, nodoname=%s err=%d\n",
                   host.c_str(), nodeName.c_str(), error);
        // No notification of this stream is running, so it can go at once.
        stream->close();
        break;
    }
}

void CTcpA2AModel::disconnectPeer(const std::string& nodeName, const std::string&)
{
    for (auto it = m_established.begin(); it != m_established.end();) {
        if (*it && (*it)->nodeName() == nodeName) {
            bury(std::move(*it));
            it = m_established.erase(it);
        } else {
            ++it;
        }
    }
    for (std::size_t i = m_pending.size(); i-- > 0;) {
        if (m_pending[i]->nodeName() == nodeName) {
            bury(std::move(m_pending[i]));
            m_pending.erase(m_pending.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    notifyConnectionChanged();
}

int CTcpA2AModel::isConnected(const std::string& nodeName, const std::string&)
{
    for (const Stream& s : m_established)
        if (s && s->nodeName() == nodeName && s->state() == CTcpSockStream::kEstablished)
            return 1;
    return 0;
}

void CTcpA2AModel::requestHello(const std::string& nodeName, const std::string&, int mode,
                                const plat::SystemTime& date)
{
    for (const Stream& s : m_established) {
        if (s && s->nodeName() == nodeName) {
            s->setSyncRequest(mode, date);
            return;
        }
    }
}

std::vector<const CExchange*> CTcpA2AModel::exchangesOf(const std::string& nodeName) const
{
    std::vector<const CExchange*> out;
    for (const Stream& s : m_established)
        if (s && s->nodeName() == nodeName && s->state() == CTcpSockStream::kEstablished)
            out.push_back(&s->exchange());
    return out;
}

void CTcpA2AModel::closeExpiredHandshakes()
{
    for (std::size_t i = m_pending.size(); i-- > 0;) {
        CTcpSockStream& s = *m_pending[i];
        if (s.dead() || !s.handshakeExpired())
            continue;
        plat::diag("CTcpA2AModel: id=%d not admitted in time, closed. IP=%s, port=%d\n", s.id(),
                   s.peerAddressText().c_str(), s.peerPort());
        const bool dialled = s.state() == CTcpSockStream::kDialling;
        bury(std::move(m_pending[i]));
        m_pending.erase(m_pending.begin() + static_cast<std::ptrdiff_t>(i));
        // A dial that never completed was shown as under way.
        if (dialled)
            notifyConnectionChanged();
    }
}

void CTcpA2AModel::poll()
{
    closeExpiredHandshakes();
    // A connection may end while it is polled; it then waits in the graveyard until the next
    // turn of the loop, so the pointers taken here stay valid throughout.
    std::vector<CTcpSockStream*> streams;
    streams.reserve(m_established.size() + m_pending.size());
    for (const Stream& s : m_established)
        if (s)
            streams.push_back(s.get());
    for (const Stream& s : m_pending)
        streams.push_back(s.get());
    for (CTcpSockStream* s : streams)
        if (!s->dead())
            s->poll();
}

int CTcpA2AModel::establishedCount() const
{
    return static_cast<int>(std::count_if(m_established.begin(), m_established.end(),
                                          [](const Stream& s) { return s != nullptr; }));
}

CTcpSockStream* CTcpA2AModel::findStream(int id) const
{
    for (const Stream& s : m_established)
        if (s && s->id() == id)
            return s.get();
    for (const Stream& s : m_pending)
        if (s->id() == id)
            return s.get();
    return nullptr;
}

CTcpA2AModel::Stream CTcpA2AModel::take(std::vector<Stream>& list, int id)
{
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (*it && (*it)->id() == id) {
            Stream s = std::move(*it);
            list.erase(it);
            return s;
        }
    }
    return nullptr;
}

void CTcpA2AModel::bury(Stream stream)
{
    if (!stream)
        return;
    stream->close();
    const bool first = m_graveyard->empty();
    m_graveyard->push_back(std::move(stream));
    if (!first)
        return;
    std::weak_ptr<Graveyard> weak = m_graveyard;
    plat::post([weak] {
        if (auto graveyard = weak.lock()) {
            Graveyard doomed;
            doomed.swap(*graveyard);
        }
    });
}

int CTcpA2AModel::unadmittedAccepted() const
{
    return static_cast<int>(std::count_if(m_pending.begin(), m_pending.end(), [](const Stream& s) {
        return s->kind() == "Accept" && !s->dead();
    }));
}

int CTcpA2AModel::waitingFrom(const std::string& group) const
{
    return static_cast<int>(std::count_if(m_pending.begin(), m_pending.end(), [&](const Stream& s) {
        return s->kind() == "Accept" && !s->dead() &&
               tcp::addressGroup(s->peerAddressText()) == group;
    }));
}

void CTcpA2AModel::dropOldestWaiting(const std::string& group, const char* why)
{
    // The pending list is in the order the connections came.
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
        CTcpSockStream& s = **it;
        if (s.kind() != "Accept" || s.dead())
            continue;
        const std::string from = tcp::addressGroup(s.peerAddressText());
        if (!group.empty() && from != group)
            continue;
        plat::diag("CTcpA2AModel: id=%d closed unadmitted: %s. IP=%s, port=%d\n", s.id(), why,
                   s.peerAddressText().c_str(), s.peerPort());
        // Said on the status line at most once a period, however many connections come.
        if (m_handshakeFailures.shouldReport("waiting room"))
            m_node.postDetail(std::string("挨拶待ちのTCP接続が多すぎるため,") + from +
                              " からの古い接続を閉じました(" + why + ").");
        Stream doomed = std::move(*it);
        m_pending.erase(it);
        bury(std::move(doomed));
        return;
    }
}

void CTcpA2AModel::makeWaitingRoom(const std::string& group)
{
    if (waitingFrom(group) >= kMaxWaitingPerAddress)
        dropOldestWaiting(group, "同じアドレスからの接続待ちが上限です");
    else if (unadmittedAccepted() >= kMaxUnadmitted)
        dropOldestWaiting({}, "接続待ちの総数が上限です");
}

void CTcpA2AModel::onAccept(int)
{
    auto stream = std::make_unique<CTcpSockStream>(m_node);
    // The read notification of the listening socket is re-armed by this accept; when nobody was
    // waiting after all, there is nothing to keep.
    int error = 0;
    if (!m_listen.socket().accept(stream->socket(), &error)) {
        if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
            // The admitted peers keep being served meanwhile; the waiting connection stays in
            // the backlog until descriptors are free again.
            ++m_acceptPauses;
            plat::diag("CTcpA2AModel: accept failed err=%d, accepting pauses\n", error);
            m_timer.set(kAcceptTimer, kAcceptPauseMs);
        }
        return;
    }
    makeWaitingRoom(tcp::addressGroup(stream->peerAddressText()));
    stream->socket().setNoDelay(true);
    plat::diag("●●ACCEPT PeerAddress=%s, port=%d\n", stream->peerAddressText().c_str(),
               stream->peerPort());
    stream->setId(nextConnectionNumber());
    stream->setHost("Pending");
    stream->setNodeName("Pending");
    stream->setParent(this);
    stream->setState(CTcpSockStream::kConnected);
    stream->setKind("Accept");
    m_pending.push_back(std::move(stream));
}

void CTcpA2AModel::onConnect(int id)
{
    for (const Stream& s : m_pending)
        if (s->id() == id)
            s->setState(CTcpSockStream::kConnected);
}

void CTcpA2AModel::reportClosedDial(const CTcpSockStream& stream)
{
    // Only a dial that reached the peer and was then closed unadmitted: a refused dial is the
    // usual sign of a peer off line, and a failed key handshake has said why already.
    if (stream.kind() != "connect()" || stream.state() != CTcpSockStream::kConnected ||
        !stream.closedByPeer() || stream.socket().refusal() != plat::TlsSession::Refusal::None)
        return;
    // Two nodes that dialled each other at once keep one connection: the other one's end is
    // no news.
    if (hasEstablished(stream.nodeName()))
        return;
    const std::string name = stream.nodeName() + " (" + stream.host() + ")";
    if (!m_handshakeFailures.shouldReport("closed dial " + name))
        return;
    plat::diag("CTcpA2AModel: id=%d %s closed by the peer before it admitted this node\n",
               stream.id(), name.c_str());
    m_node.postDetail("TCP接続 " + name +
                      " は相手に受け入れられる前に切断されました(相手がこのノードを接続先に"
                      "設定していないか,相手の接続待ちが混雑しています).");
}

void CTcpA2AModel::onClose(int id)
{
    plat::diag("CLOSE イベントを検出 id=%d\n", id);
    if (Stream pending = take(m_pending, id)) {
        reportClosedDial(*pending);
        bury(std::move(pending));
    }
    Stream established = take(m_established, id);
    if (!established)
        return;
    bury(std::move(established));
    // The node's peers-connected state must follow a peer that went away by itself, or the
    // settings locked while peers are connected would stay locked.
    notifyConnectionChanged();
}

void CTcpA2AModel::notifyOnError(int id, int error)
{
    plat::diag("●●ERROR　CTcpA2AModel::notifyOnError() id=%d, err=%d \n", id, error);
    onClose(id);
}

void CTcpA2AModel::notifyNodeName(int id, const std::string& nodeName)
{
    bool configured = false;
    std::string host;
    if (!nodeName.empty()) {
        const int count = m_settings.getConnectCount();
        for (int i = 0; i < count && !configured; ++i) {
            if (m_settings.getConnectMethod(i) == "TCP" &&
                m_settings.getConnectNodeName(i) == nodeName) {
                configured = true;
                host = m_settings.getHostName(i);
            }
        }
    }
    Stream stream = take(m_pending, id);
    if (!stream)
        return;
    if (!configured) {
        refuseUnconfigured(std::move(stream), nodeName);
        return;
    }
    if (hasEstablished(nodeName)) {
        plat::diag("重複した接続を破棄しました. IP=%s\n, port=%d\n",
                   stream->peerAddressText().c_str(), stream->peerPort());
        bury(std::move(stream));
        return;
    }
    stream->setHost(host);
    stream->setParent(this);
    stream->setNodeName(nodeName);
    stream->setState(CTcpSockStream::kEstablished);
    auto hole = std::find(m_established.begin(), m_established.end(), nullptr);
    if (hole != m_established.end())
        *hole = std::move(stream);
    else
        m_established.push_back(std::move(stream));
    // The established notice waits until the peer shows that it admitted this node too
    // (CTcpSockStream::peerConfirmed): a peer that refuses this node's name closes at once.
    notifyConnectionChanged();
}

void CTcpA2AModel::refuseUnconfigured(Stream stream, const std::string& nodeName)
{
    plat::diag("接続を拒否しました. IP=%s\n, port=%d\n", stream->peerAddressText().c_str(),
               stream->peerPort());
    // A dialled connection carries the configured name it was dialled under.
    const std::string dialled = stream->kind() == "Accept" ? std::string() : stream->nodeName();
    if (!nodeName.empty())
        m_node.postDetail(refusedNotice(nodeName, dialled));
    bury(std::move(stream));
}

bool CTcpA2AModel::hasEstablished(const std::string& nodeName) const
{
    return std::any_of(m_established.begin(), m_established.end(),
                       [&](const Stream& s) { return s && s->nodeName() == nodeName; });
}
