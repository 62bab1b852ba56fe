#include "skype/VX_SKYPEAPPLICATION.h"

#include "app/CPropatyHotLine.h"
#include "exchange/NodeContext.h"
#include "platform/Diag.h"
#include "platform/EventLoop.h"
#include "skype/SkypeLink.h"
#include "skype/SkypeNotice.h"
#include "skype/SkypeText.h"
#include "skype/StreamTls.h"
#include "skype/VX_SKYPEAPPLICATIONLISTENER.h"
#include "skype/VX_SKYPEMODEL.h"
#include "skype/VX_SKYPESTREAM.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

VX_SKYPEAPPLICATION::VX_SKYPEAPPLICATION(SkypeLink& link, VX_SKYPEMODEL* userModel,
                                         NodeContext& node)
    : m_link(link), m_node(node), m_settings(node.settings()), m_userModel(userModel),
      m_graveyard(std::make_shared<Graveyard>())
{
}

VX_SKYPEAPPLICATION::~VX_SKYPEAPPLICATION()
{
    if (m_state != APP_NONE)
        deleteApplication();
    m_streams.clear();
    // Retired streams go with the application, not at the posted task: their exchanges work with
    // the node's parts, which may go right after the transports.
    m_graveyard->dead.clear();
}

void VX_SKYPEAPPLICATION::setName(std::string_view name, int index)
{
    m_name = std::string(name.substr(0, skype::kMaxIdBytes));
    m_index = index;
}

void VX_SKYPEAPPLICATION::addListener(VX_SKYPEAPPLICATIONLISTENER* listener)
{
    if (listener)
        m_listeners.push_back(listener);
}

void VX_SKYPEAPPLICATION::notifyListeners()
{
    for (std::size_t i = 0; i < m_listeners.size(); ++i)
        m_listeners[i]->onStreamsChanged();
}

VX_SKYPESTREAM* VX_SKYPEAPPLICATION::stream(std::size_t slot) const
{
    return slot < m_streams.size() ? m_streams[slot].get() : nullptr;
}

std::size_t VX_SKYPEAPPLICATION::streamCount() const
{
    return static_cast<std::size_t>(std::count_if(m_streams.begin(), m_streams.end(),
                                                  [](const auto& s) { return s != nullptr; }));
}

void VX_SKYPEAPPLICATION::createApplication()
{
    if (m_name.empty())
        return;
    // Stored before sending: the echo arrives while the command still waits for its answer.
    m_createCommand = "CREATE APPLICATION " + m_name;
    m_link.sendCommand(m_createCommand);
}

void VX_SKYPEAPPLICATION::deleteApplication()
{
    if (m_name.empty())
        return;
    m_deleteCommand = "DELETE APPLICATION " + m_name;
    m_link.sendCommand(m_deleteCommand);
}

void VX_SKYPEAPPLICATION::connect(std::string_view skypeId)
{
    // A text the client cannot read as a command is refused, and a refusal counts as a lost
    // client: only IDs that can stand in a command are sent.
    if (m_name.empty() || !skype::validSkypeId(skypeId))
        return;
    m_connectTarget = std::string(skypeId);
    m_command = "ALTER APPLICATION " + m_name + " CONNECT " + m_connectTarget;
    m_link.sendCommand(m_command);
}

int VX_SKYPEAPPLICATION::hasStream(std::string_view skypeId) const
{
    for (const auto& s : m_streams) {
        if (s && s->peerSkypeId() == skypeId)
            return 1;
    }
    return 0;
}

void VX_SKYPEAPPLICATION::disconnectPeer(std::string_view skypeId)
{
    const unsigned generation = m_generation;
    for (std::size_t i = 0; i < m_streams.size() && generation == m_generation; ++i) {
        if (m_streams[i] && m_streams[i]->peerSkypeId() == skypeId)
            m_streams[i]->disconnect();
    }
}

void VX_SKYPEAPPLICATION::requestHello(std::string_view skypeId, int mode,
                                       const plat::SystemTime& date)
{
    for (const auto& s : m_streams) {
        if (s && s->peerSkypeId() == skypeId)
            s->setPendingHello(mode, date);
    }
}

std::vector<const CExchange*> VX_SKYPEAPPLICATION::exchangesOf(std::string_view skypeId) const
{
    std::vector<const CExchange*> out;
    for (const auto& s : m_streams)
        if (s && s->peerSkypeId() == skypeId)
            out.push_back(&s->exchange());
    return out;
}

void VX_SKYPEAPPLICATION::onCreateEcho()
{
    m_state = APP_CREATED;
    m_command = "GET APPLICATION " + m_name + " CONNECTABLE";
    m_link.sendCommand(m_command);
}

void VX_SKYPEAPPLICATION::onDeleteEcho()
{
    m_state = APP_NONE;
    // The client closes the streams of a deleted application without listing them again under
    // its name, which may be about to change: they are dropped here, or they would linger.
    if (retireAll())
        notifyListeners();
}

void VX_SKYPEAPPLICATION::onAlterReply(std::string_view text)
{
    const auto data = skype::afterKeyword(text, "READ");
    if (!data)
        return;
    for (std::size_t i = 0; i < m_streams.size(); ++i) {
        if (m_streams[i])
            m_streams[i]->receive(*data);
    }
}

void VX_SKYPEAPPLICATION::onNotification(std::string_view text)
{
    using skype::AppNoticeKind;
    const skype::AppNotice notice = skype::classifyAppNotification(text);
    switch (notice.kind) {
    case AppNoticeKind::Ignored:
        return;
    case AppNoticeKind::Connectable:
        if (m_userModel)
            m_userModel->setConnectable(m_index, notice.text);
        return;
    case AppNoticeKind::Streams:
        onStreams(notice.text);
        return;
    case AppNoticeKind::Sending:
        // Only an empty list means that every write has left the client.
        if (notice.text.find_first_not_of(" \t\r\n") == std::string_view::npos) {
            for (const auto& s : m_streams) {
                if (s)
                    s->setSendReady();
            }
        }
        return;
    case AppNoticeKind::Received:
        onReceived(notice.text);
        return;
    case AppNoticeKind::SendLimit:
        onSendLimit(notice.text);
        return;
    }
}

void VX_SKYPEAPPLICATION::onStreams(std::string_view list)
{
    std::vector<std::string_view> pieces;
    if (!skype::splitList(list, true, pieces)) {
        plat::diag("VX_SKYPEAPPLICATION: stream list of %zu bytes ignored\n", list.size());
        return;
    }
    const unsigned generation = ++m_generation;
    if (pieces.empty()) {
        // The last stream closed by the peer is said as any other: a keyed one closed during its
        // handshake was refused for its key.
        for (const auto& s : m_streams) {
            if (s)
                s->onClosedByPeer();
        }
        retireAll();
        m_state = APP_CREATED;
        notifyListeners();
        return;
    }
    std::vector<skype::StreamItem> items(pieces.size());
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (!skype::parseStreamItem(pieces[i], false, items[i])) {
            plat::diag("VX_SKYPEAPPLICATION: stream list ignored at \"%.*s\"\n",
                       static_cast<int>(std::min<std::size_t>(pieces[i].size(), 120)),
                       pieces[i].data());
            return;
        }
    }
    for (auto& s : m_streams) {
        if (s)
            s->setSeen(false);
    }
    for (const skype::StreamItem& item : items) {
        auto it = std::find_if(m_streams.begin(), m_streams.end(), [&](const auto& s) {
            return s && s->peerSkypeId() == item.id && s->number() == item.number;
        });
        if (it != m_streams.end()) {
            (*it)->setSeen(true);
            continue;
        }
        addStream(item.id, item.number);
        if (generation != m_generation)
            return; // a newer list was applied from inside the call
    }
    bool gone = false;
    for (std::size_t i = 0; i < m_streams.size(); ++i) {
        if (m_streams[i] && !m_streams[i]->seen()) {
            m_streams[i]->onClosedByPeer();
            retire(i);
            gone = true;
        }
    }
    if (gone)
        notifyListeners();
}

void VX_SKYPEAPPLICATION::addStream(const std::string& skypeId, int number)
{
    if (m_settings.isConnectSkypeId(skypeId) == 0) {
        plat::diag("VX_SKYPEAPPLICATION: stream %s:%d is no configured peer\n", skypeId.c_str(),
                   number);
        disconnectItem(skypeId, number);
        return;
    }
    if (streamCount() >= kMaxStreams) {
        plat::diag("VX_SKYPEAPPLICATION: stream %s:%d over the limit\n", skypeId.c_str(), number);
        disconnectItem(skypeId, number);
        return;
    }
    auto stream = std::make_unique<VX_SKYPESTREAM>(
        m_link, m_node, skypeId, number, m_name,
        m_settings.findConnectNodeName(CPropatyHotLine::kMethodSkype, skypeId));
    stream->setPassive(m_passive);
    if (m_tls) {
        const std::string own = m_userModel ? m_userModel->ownSkypeId() : std::string();
        if (own.empty() || own == skypeId) {
            plat::diag("VX_SKYPEAPPLICATION: stream %s:%d before the own user ID is known\n",
                       skypeId.c_str(), number);
            disconnectItem(skypeId, number);
            return;
        }
        stream->setTls(m_tls, StreamTls::startsHandshake(own, skypeId), &m_handshakeFailures);
    }
    auto free = std::find(m_streams.begin(), m_streams.end(), nullptr);
    if (free != m_streams.end())
        *free = std::move(stream);
    else
        m_streams.push_back(std::move(stream));
    m_state = APP_CONNECTED;
    notifyListeners();
}

void VX_SKYPEAPPLICATION::disconnectItem(const std::string& skypeId, int number)
{
    m_command =
        "ALTER APPLICATION " + m_name + " DISCONNECT " + skypeId + ":" + std::to_string(number);
    m_link.sendCommand(m_command);
}

void VX_SKYPEAPPLICATION::onReceived(std::string_view list)
{
    std::vector<std::string_view> pieces;
    if (!skype::splitList(list, false, pieces) || pieces.empty())
        return;
    skype::StreamItem first;
    skype::StreamItem item;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (!skype::parseStreamItem(pieces[i], true, i == 0 ? first : item)) {
            plat::diag("VX_SKYPEAPPLICATION: received list ignored\n");
            return;
        }
    }
    // The others are read after later notifications, which the client sends while data waits.
    m_command =
        "ALTER APPLICATION " + m_name + " READ " + first.id + ":" + std::to_string(first.number);
    m_link.sendCommand(m_command);
}

void VX_SKYPEAPPLICATION::onSendLimit(std::string_view text)
{
    unsigned long long rate = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), rate);
    if (ec != std::errc() || rate > (1ull << 40))
        return;
    (void)end;
    char line[200];
    std::snprintf(line, sizeof line, "メッセージサーバーがこの接続を約%llu kB/sに制限しています.",
                  (rate + 512) / 1024);
    plat::diag("VX_SKYPEAPPLICATION: the server limits the client to %llu bytes/s\n", rate);
    m_node.postDetail(line);
}

void VX_SKYPEAPPLICATION::reset()
{
    m_state = APP_NONE;
    m_pollCounter = 0;
    retireAll();
    notifyListeners();
}

void VX_SKYPEAPPLICATION::tickStreams()
{
    // By index: a tick writes through the link, and the list may change meanwhile.
    for (std::size_t i = 0; i < m_streams.size(); ++i) {
        if (m_streams[i])
            m_streams[i]->tick();
    }
}

void VX_SKYPEAPPLICATION::retire(std::size_t slot)
{
    if (slot >= m_streams.size() || !m_streams[slot])
        return;
    ++m_generation;
    m_graveyard->dead.push_back(std::move(m_streams[slot]));
    m_streams[slot] = nullptr;
    if (m_graveyard->posted)
        return;
    m_graveyard->posted = true;
    plat::post([graveyard = m_graveyard] {
        graveyard->posted = false;
        graveyard->dead.clear();
    });
}

bool VX_SKYPEAPPLICATION::retireAll()
{
    bool any = false;
    for (std::size_t i = 0; i < m_streams.size(); ++i) {
        any = any || m_streams[i] != nullptr;
        retire(i);
    }
    m_streams.clear();
    ++m_generation;
    return any;
}
