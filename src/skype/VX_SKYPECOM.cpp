#include "skype/VX_SKYPECOM.h"

#include "platform/Diag.h"
#include "platform/NamedLock.h"
#include "skype/SkypeNotice.h"
#include "skype/SkypeText.h"
#include "skype/VX_SKYPECOMUSER.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

// Notifications held back while commands nest deeply; more than this means the client floods
// the node, which is then cut off rather than allowed to grow the backlog without end.
constexpr std::size_t kMaxBacklogBytes = 16u << 20;

using Clock = std::chrono::steady_clock;

} // namespace

VX_SKYPECOM* VX_SKYPECOM::instance()
{
    return plat::LiveInstance<VX_SKYPECOM>::get();
}

std::string VX_SKYPECOM::defaultEndpoint()
{
    return ClientWire::endpointPath(plat::NamedLock::runtimeFolder());
}

const char* VX_SKYPECOM::stateText(int state)
{
    switch (state) {
    case LINK_DETACHED:
        return "SKYPEと未接続";
    case LINK_ATTACHED:
        return "SKYPEと接続";
    case LINK_PENDING:
        return "SKYPEと認証中";
    case LINK_REFUSED:
        return "SKYPEと切断";
    default:
        return nullptr;
    }
}

VX_SKYPECOM::VX_SKYPECOM(std::string endpointPath)
    : m_endpoint(std::move(endpointPath)), m_timer([this](int) { onTimer(); })
{
    m_socket.setOnReadable([this] { onReadable(); });
}

VX_SKYPECOM::~VX_SKYPECOM()
{
    m_timer.kill(kDiscoverTimer);
    m_socket.close();
    m_users.clear();
}

void VX_SKYPECOM::addUser(VX_SKYPECOMUSER* user)
{
    if (user)
        m_users.push_back(user);
}

void VX_SKYPECOM::removeUser(VX_SKYPECOMUSER* user)
{
    // The slot stays, emptied, so a dispatch running over the list keeps its place.
    std::replace(m_users.begin(), m_users.end(), user, static_cast<VX_SKYPECOMUSER*>(nullptr));
}

void VX_SKYPECOM::openWindow(plat::WindowHandle owner)
{
    m_owner = std::move(owner);
    m_windowOpen = true;
    m_timer.set(kDiscoverTimer, kDiscoverMs);
    if (m_lookForClient && !m_attached)
        discover();
}

void VX_SKYPECOM::onTimer()
{
    if (m_lookForClient && !m_attached)
        discover();
}

void VX_SKYPECOM::discover()
{
    if (!m_socket.isOpen()) {
        int error = 0;
        if (!m_socket.connect(m_endpoint, &error)) {
            plat::diag("VX_SKYPECOM: no client at %s (%s)\n", m_endpoint.c_str(),
                       std::strerror(error));
            return;
        }
        m_in.assign(ClientWire::HeaderSize + ClientWire::MaxPayload, 0);
        m_inCount = 0;
    }
    const std::vector<std::uint8_t> frame = ClientWire::encodeDiscover();
    int error = 0;
    if (!m_socket.sendAll(frame.data(), frame.size(), kCommandTimeoutMs, &error))
        connectionLost("discover not sent");
}

int VX_SKYPECOM::sendCommand(std::string_view text)
{
    if (!m_attached || !m_socket.isOpen()) {
        // No client window: a discovery in progress keeps its connection.
        if (m_attached)
            loseClient();
        else
            forgetState();
        return 0;
    }
    const std::vector<std::uint8_t> frame = ClientWire::encodeText(ClientWire::Kind::Command, text);
    if (frame.empty()) {
        plat::diag("VX_SKYPECOM: command of %zu bytes not sent\n", text.size());
        return 0;
    }
    // The caller's text may be rewritten by a nested handler while this waits.
    const std::string shown(text.substr(0, 200));
    Pending me;
    m_pending.push_back(&me);
    int error = 0;
    if (!m_socket.sendAll(frame.data(), frame.size(), kCommandTimeoutMs, &error)) {
        connectionLost("command not sent");
        return 0;
    }
    ++m_depth;
    const auto until = Clock::now() + std::chrono::milliseconds(kCommandTimeoutMs);
    Incoming in;
    while (!me.done) {
        if (takeFrame(in)) {
            handleFrame(in);
            continue;
        }
        if (me.done || !m_socket.isOpen())
            break;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) {
            connectionLost("no answer to a command");
            break;
        }
        if (m_socket.waitReadable(static_cast<int>(left)) && !readSome())
            connectionLost("closed while a command waited");
    }
    --m_depth;
    postBufferedFrames();
    // A lost connection has answered every waiting command with 0 and taken itself off the list.
    if (!me.done) {
        m_pending.erase(std::remove(m_pending.begin(), m_pending.end(), &me), m_pending.end());
        return 0;
    }
    if (me.result == 0) {
        plat::diag("VX_SKYPECOM: command not taken: %s\n", shown.c_str());
        if (m_attached)
            connectionLost("command refused");
        return 0;
    }
    return static_cast<int>(me.result);
}

void VX_SKYPECOM::onReadable()
{
    if (!readSome()) {
        connectionLost("closed by the client");
        return;
    }
    Incoming in;
    while (takeFrame(in))
        handleFrame(in);
}

void VX_SKYPECOM::postBufferedFrames()
{
    // Frames read together with a result (a client writes its notifications in the same write)
    // would otherwise wait for the next bytes to arrive. They follow as soon as the caller is
    // back in the event loop, not inside its command.
    if (m_inCount == 0 || m_framesPosted)
        return;
    m_framesPosted = true;
    plat::post([this, life = std::weak_ptr<int>(m_life)] {
        if (life.expired())
            return;
        m_framesPosted = false;
        Incoming in;
        while (takeFrame(in))
            handleFrame(in);
    });
}

bool VX_SKYPECOM::readSome()
{
    if (!m_socket.isOpen())
        return false;
    if (m_inCount == m_in.size())
        return true; // a whole frame is waiting to be taken
    int error = 0;
    const long n = m_socket.receive(m_in.data() + m_inCount, m_in.size() - m_inCount, &error);
    if (n > 0) {
        m_inCount += static_cast<std::size_t>(n);
        return true;
    }
    return n < 0 && (error == EAGAIN || error == EWOULDBLOCK);
}

bool VX_SKYPECOM::takeFrame(Incoming& out)
{
    if (m_inCount == 0)
        return false;
    const ClientWire::ParseResult r =
        ClientWire::parse(std::span<const std::uint8_t>(m_in.data(), m_inCount));
    if (r.status == ClientWire::Parse::NeedMore)
        return false;
    if (r.status == ClientWire::Parse::Bad) {
        connectionLost("bad frame from the client");
        return false;
    }
    out.kind = r.frame.kind;
    out.status = r.frame.status;
    out.text.assign(r.frame.text);
    // Consumed before it is handled: a nested command reads on from the same buffer.
    std::memmove(m_in.data(), m_in.data() + r.size, m_inCount - r.size);
    m_inCount -= r.size;
    return true;
}

void VX_SKYPECOM::handleFrame(Incoming& frame)
{
    switch (frame.kind) {
    case ClientWire::Kind::Attach:
        onAttach(frame.status);
        return;
    case ClientWire::Kind::Result:
        if (m_pending.empty()) {
            plat::diag("VX_SKYPECOM: result %u without a command\n", frame.status);
            return;
        }
        m_pending.front()->done = true;
        m_pending.front()->result = frame.status;
        m_pending.pop_front();
        return;
    case ClientWire::Kind::Notification:
        // Only the attached client may talk to the users.
        if (m_attached)
            deliver(std::move(frame.text));
        return;
    case ClientWire::Kind::Discover:
    case ClientWire::Kind::Command:
        plat::diag("VX_SKYPECOM: the client sent a node's frame (%c)\n", char(frame.kind));
        return;
    }
}

void VX_SKYPECOM::onAttach(std::uint32_t status)
{
    switch (status) {
    case ClientWire::AttachSuccess:
        // A second discovery, sent while the first waited for its answer, is answered too: the
        // users, who create applications and ask for contacts on an attach, hear of it once.
        if (m_attached)
            return;
        m_linkState = LINK_ATTACHED;
        m_attached = true;
        break;
    case ClientWire::AttachPendingAuthorization:
        if (m_linkState != LINK_ATTACHED)
            m_linkState = LINK_PENDING;
        break;
    case ClientWire::AttachRefused:
        m_linkState = LINK_REFUSED;
        break;
    case ClientWire::AttachNotAvailable:
        m_linkState = LINK_NOT_AVAILABLE;
        break;
    case ClientWire::AttachAvailable:
        m_linkState = LINK_AVAILABLE;
        break;
    default:
        plat::diag("VX_SKYPECOM: attach status %u ignored\n", status);
        break;
    }
    tellUsers();
}

void VX_SKYPECOM::deliver(std::string text)
{
    // Order is kept: once anything waits in the backlog, later texts queue behind it.
    if (m_depth == 0 && m_backlog.empty()) {
        dispatchText(text);
        return;
    }
    if (m_depth <= kMaxNesting && m_backlog.empty()) {
        dispatchText(text);
        return;
    }
    m_backlogBytes += text.size();
    m_backlog.push_back(std::move(text));
    if (m_backlogBytes > kMaxBacklogBytes) {
        connectionLost("too many notifications held back");
        return;
    }
    if (m_depth == 0) {
        drainBacklog();
    } else if (!m_drainPosted) {
        m_drainPosted = true;
        plat::post([this, life = std::weak_ptr<int>(m_life)] {
            if (life.expired())
                return;
            m_drainPosted = false;
            drainBacklog();
        });
    }
}

void VX_SKYPECOM::drainBacklog()
{
    while (!m_backlog.empty() && m_attached) {
        std::string text = std::move(m_backlog.front());
        m_backlog.pop_front();
        m_backlogBytes -= text.size();
        dispatchText(text);
    }
}

void VX_SKYPECOM::dispatchText(std::string_view text)
{
    using skype::LinkNoticeKind;
    const skype::LinkNotice notice = skype::classifyLinkText(text);
    if (notice.kind == LinkNoticeKind::Ignored)
        return;
    // By index: a user may be added or removed from inside a call.
    for (std::size_t i = 0; i < m_users.size(); ++i) {
        VX_SKYPECOMUSER* u = m_users[i];
        if (!u)
            continue;
        switch (notice.kind) {
        case LinkNoticeKind::Ignored:
            return;
        case LinkNoticeKind::Application:
            u->onApplication(notice.text);
            break;
        case LinkNoticeKind::Handle:
            u->onCurrentUserHandle(notice.text);
            break;
        case LinkNoticeKind::Status:
            u->onUserStatus(notice.text);
            break;
        case LinkNoticeKind::Users:
            u->onUsers(notice.text);
            break;
        case LinkNoticeKind::User:
            u->onUser(notice.text);
            break;
        }
    }
}

void VX_SKYPECOM::connectionLost(const char* why)
{
    plat::diag("VX_SKYPECOM: %s\n", why);
    m_socket.close();
    m_inCount = 0;
    m_backlog.clear();
    m_backlogBytes = 0;
    if (m_attached || !m_pending.empty())
        loseClient();
}

void VX_SKYPECOM::loseClient()
{
    m_attached = false;
    m_socket.close();
    m_inCount = 0;
    m_backlog.clear();
    m_backlogBytes = 0;
    // The waiting commands stay not done, which their senders read as 0.
    m_pending.clear();
    forgetState();
}

void VX_SKYPECOM::forgetState()
{
    m_linkState = LINK_DETACHED;
    tellUsers();
}

void VX_SKYPECOM::tellUsers()
{
    const int state = m_linkState;
    for (std::size_t i = 0; i < m_users.size(); ++i) {
        if (VX_SKYPECOMUSER* u = m_users[i])
            u->onAttachState(state);
    }
}
