#include "XmppHub.h"

#include "MessengerLog.h"

#include <cstdio>

using xs::Stanza;

XmppHub::XmppHub(Site& site, const AccountConfig& account, XmppConnection::PasswordFetch password)
    : site_(site), account_(account),
      conn_({account.jid, account.server, account.port, account.directTls, account.caFile},
            std::move(password), *this),
      contacts_(account.contacts), own_(account.jid), presence_(account.presence),
      roster_(*this, conn_, contacts_), streams_(*this, conn_, contacts_)
{
}

XmppHub::~XmppHub() = default;

void XmppHub::start()
{
    conn_.start();
    streams_.start();
}

// ---- the site's requests

void XmppHub::send(const HubMsg& msg)
{
    const auto& f = msg.fields;
    using T = HubMsg::Type;
    switch (msg.type) {
    case T::UserUp:
    case T::Presence:
        presence_ = f[1];
        roster_.queuePresence();
        break;
    case T::AppCreated:
        apps_.insert(f[1]);
        roster_.queuePresence();
        break;
    case T::AppDeleted:
        apps_.erase(f[1]);
        streams_.closeApp(f[1]);
        roster_.queuePresence();
        break;
    case T::Connect:
        streams_.connect(f[1], f[2]);
        break;
    case T::Write:
        streams_.write(hubStreamNumber(f[2]), f[3]);
        break;
    case T::Disconnect:
        streams_.closeStream(hubStreamNumber(f[2]), true, "");
        break;
    default:
        break;
    }
}

// ---- the server connection

void XmppHub::connectionUp(const std::string& boundJid)
{
    bound_ = boundJid;
    own_ = xs::bare(boundJid);
    Stanza iq = xs::iq(conn_.ctx(), "get", conn_.nextId("roster"), "");
    xs::add(iq.get(), xs::element(conn_.ctx(), "query", xs::NsRoster));
    request(std::move(iq), {XmppPending::Kind::Roster, "", 0, 0});
}

void XmppHub::connectionDown()
{
    online_ = false;
    streams_.clear();
    pending_.clear();
    contacts_.clear();
    toSite([this] { site_.hubDown(); });
    toSite(HubMsg{HubMsg::Type::Online, {own_, "0"}});
}

void XmppHub::stanzaIn(xmpp_stanza_t* stanza)
{
    const std::string kind = xs::name(stanza);
    if (kind == "presence") {
        roster_.onPresence(stanza);
    } else if (kind == "iq") {
        const std::string type = xs::attr(stanza, "type");
        if (type == "get" || type == "set")
            onRequest(stanza);
        else if (type == "result" || type == "error")
            onAnswer(stanza);
    }
}

void XmppHub::request(Stanza iq, XmppPending pending)
{
    pending_[xs::attr(iq.get(), "id")] = std::move(pending);
    conn_.send(iq.get());
}

void XmppHub::reply(Stanza stanza)
{
    if (stanza)
        conn_.send(stanza.get());
}

void XmppHub::dropPending(const std::function<bool(const XmppPending&)>& which)
{
    std::erase_if(pending_, [&](const auto& kv) { return which(kv.second); });
}

void XmppHub::wentOnline()
{
    online_ = true;
    toSite([this] { site_.hubUp(this); });
    toSite(HubMsg{HubMsg::Type::Online, {own_, "1"}});
}

void XmppHub::onAnswer(xmpp_stanza_t* iq)
{
    const auto it = pending_.find(xs::attr(iq, "id"));
    if (it == pending_.end())
        return;
    const std::string from = xs::attr(iq, "from");
    const XmppPending p = it->second;
    const bool fromServer = from.empty() || from == own_ || from == bound_;
    if (p.kind == XmppPending::Kind::Roster ? !fromServer : from != p.to)
        return; // an answer someone else made up
    pending_.erase(it);
    const bool ok = xs::attr(iq, "type") == "result";
    switch (p.kind) {
    case XmppPending::Kind::Roster:
        if (ok)
            roster_.onRoster(xs::child(iq, "query", xs::NsRoster), true);
        else
            std::fprintf(stderr, "pavo-messenger: the server refused the contact list\n");
        break;
    case XmppPending::Kind::Disco:
        if (ok)
            roster_.onDiscoAnswer(from, iq);
        break;
    default:
        streams_.onStreamAnswer(p, ok, iq);
        break;
    }
}

void XmppHub::onRequest(xmpp_stanza_t* iq)
{
    const std::string from = xs::attr(iq, "from");
    const std::string fromBare = xs::bare(from);
    const bool fromServer = from.empty() || from == own_;
    xmpp_stanza_t* payload = xs::firstElement(iq);
    const std::string ns = xs::nsOf(payload);
    const std::string name = xs::name(payload);
    const bool set = xs::attr(iq, "type") == "set";
    if (ns == xs::NsRoster && set && fromServer) {
        roster_.onRoster(payload, false);
        reply(xs::result(iq));
    } else if (ns == xs::NsDiscoInfo && !set) {
        roster_.answerDisco(iq, fromBare);
    } else if (ns == xs::NsPing && !set) {
        reply(xs::result(iq));
    } else if (ns == xs::NsIbb && set && name == "open") {
        streams_.onOpen(iq, payload, from);
    } else if (ns == xs::NsIbb && set && name == "data") {
        streams_.onData(iq, payload, from);
    } else if (ns == xs::NsIbb && set && name == "close") {
        streams_.onClose(iq, payload, from);
    } else {
        reply(xs::error(iq, "cancel", "service-unavailable"));
    }
}

// ---- to the site

void XmppHub::refuse(const std::string& app, const std::string& why)
{
    toSite(HubMsg{HubMsg::Type::Error, {own_, app, why}});
}

void XmppHub::toSite(std::function<void()> work)
{
    QMetaObject::invokeMethod(&context_, std::move(work), Qt::QueuedConnection);
}

void XmppHub::toSite(HubMsg msg)
{
    if (MessengerLog::enabled()) {
        std::string text(1, char(msg.type));
        for (const auto& f : msg.fields)
            text += " " + f;
        MessengerLog::line("hub", "<-", text);
    }
    toSite([this, msg = std::move(msg)] { site_.fromHub(msg); });
}
