#include "XmppHub.h"

#include "MessengerLog.h"

#include <QTimer>

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace {

using xs::Stanza;

// The node's presence words and XMPP's <show/>.
const char* showOf(const std::string& word)
{
    if (word == "AWAY")
        return "away";
    if (word == "NA")
        return "xa";
    if (word == "DND")
        return "dnd";
    if (word == "SKYPEME")
        return "chat";
    return nullptr;
}

std::string wordOf(const std::string& show)
{
    if (show == "away")
        return "AWAY";
    if (show == "xa")
        return "NA";
    if (show == "dnd")
        return "DND";
    if (show == "chat")
        return "SKYPEME";
    return "ONLINE";
}

bool parseNumber(const std::string& text, unsigned long max, unsigned long& out)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty() && out <= max;
}

// Strict base64 without blanks, as the bytestream carries it.
bool decodeBase64(xmpp_ctx_t* ctx, const std::string& text, std::vector<std::uint8_t>& out)
{
    out.clear();
    if (text.empty())
        return true;
    if (text.size() % 4 != 0)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool pad =
            c == '=' && i + 2 >= text.size() && (i + 1 == text.size() || text[i + 1] == '=');
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || pad))
            return false;
    }
    unsigned char* bytes = nullptr;
    std::size_t n = 0;
    xmpp_base64_decode_bin(ctx, text.data(), text.size(), &bytes, &n);
    if (!bytes)
        return false;
    out.assign(bytes, bytes + n);
    xmpp_free(ctx, bytes);
    return true;
}

xmpp_stanza_t* firstElement(xmpp_stanza_t* s)
{
    for (xmpp_stanza_t* c = xmpp_stanza_get_children(s); c; c = xmpp_stanza_get_next(c)) {
        if (xmpp_stanza_is_tag(c))
            return c;
    }
    return nullptr;
}

std::string nsOf(xmpp_stanza_t* s)
{
    const char* ns = s ? xmpp_stanza_get_ns(s) : nullptr;
    return ns ? std::string(ns) : std::string();
}

} // namespace

XmppHub::XmppHub(Site& site, const AccountConfig& account, XmppConnection::PasswordFetch password)
    : site_(site), account_(account),
      conn_({account.jid, account.server, account.port, account.directTls, account.caFile},
            std::move(password), *this),
      contacts_(account.contacts), own_(account.jid), presence_(account.presence)
{
}

XmppHub::~XmppHub() = default;

void XmppHub::start()
{
    conn_.start();
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
        queuePresence();
        break;
    case T::AppCreated:
        apps_.insert(f[1]);
        queuePresence();
        break;
    case T::AppDeleted: {
        apps_.erase(f[1]);
        std::vector<int> gone;
        for (const auto& [n, s] : streams_) {
            if (s.app() == f[1])
                gone.push_back(n);
        }
        for (int n : gone)
            closeStream(n, true, "");
        queuePresence();
        break;
    }
    case T::Connect:
        connect(f[1], f[2]);
        break;
    case T::Write:
        write(hubStreamNumber(f[2]), f[3]);
        break;
    case T::Disconnect:
        closeStream(hubStreamNumber(f[2]), true, "");
        break;
    default:
        break;
    }
}

void XmppHub::connect(const std::string& app, const std::string& peer)
{
    if (!online_) {
        refuse(app, "CONNECT: not logged in to the server");
        return;
    }
    if (!contacts_.isMutual(peer)) {
        refuse(app, "CONNECT: " + peer + " is not a mutual contact");
        return;
    }
    const std::string resource = contacts_.resourceWith(peer, app);
    if (resource.empty()) {
        refuse(app, "CONNECT: " + peer + " has no client with " + app + " on line");
        return;
    }
    char* uuid = xmpp_uuid_gen(conn_.ctx());
    const std::string sid = uuid ? uuid : conn_.nextId("s");
    xmpp_free(conn_.ctx(), uuid);
    const int number = nextNumber_++;
    const std::string full = peer + "/" + resource;
    streams_.emplace(number, IbbStream(number, app, full, sid, BlockSize, false));

    Stanza iq = xs::iq(conn_.ctx(), "set", conn_.nextId("open"), full);
    Stanza open = xs::element(conn_.ctx(), "open", xs::NsIbb);
    xmpp_stanza_set_attribute(open.get(), "block-size", std::to_string(BlockSize).c_str());
    xmpp_stanza_set_attribute(open.get(), "sid", sid.c_str());
    xmpp_stanza_set_attribute(open.get(), "stanza", "iq");
    Stanza application = xs::element(conn_.ctx(), "application", xs::NsPavo);
    xmpp_stanza_set_attribute(application.get(), "name", app.c_str());
    xs::add(open.get(), std::move(application));
    xs::add(iq.get(), std::move(open));
    request(std::move(iq), {Pending::Kind::Open, full, number, 0});
}

void XmppHub::write(int number, const std::string& data)
{
    const auto it = streams_.find(number);
    if (it == streams_.end() || !it->second.isOpen())
        return; // closed meanwhile; the site hears of it from the stream list
    if (data.size() > WriteFraming::MaxText) {
        refuse(it->second.app(), "WRITE: more than a stream carries in one write");
        return;
    }
    it->second.write(data);
    flush(it->second);
}

void XmppHub::flush(IbbStream& s)
{
    while (s.blockReady()) {
        std::uint16_t seq = 0;
        const std::string block = s.takeBlock(seq);
        char* b64 = xmpp_base64_encode(
            conn_.ctx(), reinterpret_cast<const unsigned char*>(block.data()), block.size());
        Stanza iq = xs::iq(conn_.ctx(), "set", conn_.nextId("d"), s.peer());
        Stanza data = xs::element(conn_.ctx(), "data", xs::NsIbb);
        xmpp_stanza_set_attribute(data.get(), "seq", std::to_string(seq).c_str());
        xmpp_stanza_set_attribute(data.get(), "sid", s.sid().c_str());
        xs::addText(conn_.ctx(), data.get(), b64 ? b64 : "");
        xmpp_free(conn_.ctx(), b64);
        xs::add(iq.get(), std::move(data));
        request(std::move(iq), {Pending::Kind::Data, s.peer(), s.number(), seq});
    }
}

void XmppHub::closeStream(int number, bool tellPeer, const std::string& why)
{
    const auto it = streams_.find(number);
    if (it == streams_.end())
        return;
    const IbbStream& s = it->second;
    if (!why.empty())
        std::fprintf(stderr, "pavo-messenger: closing stream %d with %s: %s\n", number,
                     s.peer().c_str(), why.c_str());
    if (tellPeer && online_) {
        Stanza iq = xs::iq(conn_.ctx(), "set", conn_.nextId("close"), s.peer());
        Stanza close = xs::element(conn_.ctx(), "close", xs::NsIbb);
        xmpp_stanza_set_attribute(close.get(), "sid", s.sid().c_str());
        xs::add(iq.get(), std::move(close));
        request(std::move(iq), {Pending::Kind::Close, s.peer(), 0, 0});
    }
    std::erase_if(pending_, [number](const auto& kv) {
        return kv.second.number == number && kv.second.kind != Pending::Kind::Close;
    });
    const std::string app = s.app();
    const bool wasOpen = s.isOpen();
    const std::string peer = xs::bare(s.peer());
    streams_.erase(it);
    if (wasOpen)
        sendStreams(app);
    else
        refuse(app, "CONNECT: the stream to " + peer + " closed before it opened" +
                        (why.empty() ? "" : " (" + why + ")"));
}

void XmppHub::closeStreamsOf(const std::string& peer, const std::string& why)
{
    std::vector<int> gone;
    for (const auto& [n, s] : streams_) {
        if (s.peer() == peer || (peer.find('/') == std::string::npos && xs::bare(s.peer()) == peer))
            gone.push_back(n);
    }
    for (int n : gone)
        closeStream(n, false, why);
}

IbbStream* XmppHub::findStream(const std::string& peer, const std::string& sid)
{
    for (auto& [n, s] : streams_) {
        if (s.peer() == peer && s.sid() == sid)
            return &s;
    }
    return nullptr;
}

// ---- the server connection

void XmppHub::connectionUp(const std::string& boundJid)
{
    bound_ = boundJid;
    own_ = xs::bare(boundJid);
    Stanza iq = xs::iq(conn_.ctx(), "get", conn_.nextId("roster"), "");
    xs::add(iq.get(), xs::element(conn_.ctx(), "query", xs::NsRoster));
    request(std::move(iq), {Pending::Kind::Roster, "", 0, 0});
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
        onPresence(stanza);
    } else if (kind == "iq") {
        const std::string type = xs::attr(stanza, "type");
        if (type == "get" || type == "set")
            onRequest(stanza);
        else if (type == "result" || type == "error")
            onAnswer(stanza);
    }
}

void XmppHub::request(Stanza iq, Pending pending)
{
    pending_[xs::attr(iq.get(), "id")] = std::move(pending);
    conn_.send(iq.get());
}

void XmppHub::reply(Stanza stanza)
{
    if (stanza)
        conn_.send(stanza.get());
}

void XmppHub::onAnswer(xmpp_stanza_t* iq)
{
    const auto it = pending_.find(xs::attr(iq, "id"));
    if (it == pending_.end())
        return;
    const std::string from = xs::attr(iq, "from");
    const Pending p = it->second;
    const bool fromServer = from.empty() || from == own_ || from == bound_;
    if (p.kind == Pending::Kind::Roster ? !fromServer : from != p.to)
        return; // an answer someone else made up
    pending_.erase(it);
    const bool ok = xs::attr(iq, "type") == "result";
    switch (p.kind) {
    case Pending::Kind::Roster:
        if (ok)
            onRoster(xs::child(iq, "query", xs::NsRoster), true);
        else
            std::fprintf(stderr, "pavo-messenger: the server refused the contact list\n");
        break;
    case Pending::Kind::Disco:
        if (ok)
            onDiscoAnswer(from, iq);
        break;
    default:
        onStreamAnswer(p, ok, iq);
        break;
    }
}

void XmppHub::onRequest(xmpp_stanza_t* iq)
{
    const std::string from = xs::attr(iq, "from");
    const std::string fromBare = xs::bare(from);
    const bool fromServer = from.empty() || from == own_;
    xmpp_stanza_t* payload = firstElement(iq);
    const std::string ns = nsOf(payload);
    const std::string name = xs::name(payload);
    const bool set = xs::attr(iq, "type") == "set";
    if (ns == xs::NsRoster && set && fromServer) {
        onRoster(payload, false);
        reply(xs::result(iq));
    } else if (ns == xs::NsDiscoInfo && !set) {
        answerDisco(iq, fromBare);
    } else if (ns == xs::NsPing && !set) {
        reply(xs::result(iq));
    } else if (ns == xs::NsIbb && set && name == "open") {
        onOpen(iq, payload, from);
    } else if (ns == xs::NsIbb && set && name == "data") {
        onData(iq, payload, from);
    } else if (ns == xs::NsIbb && set && name == "close") {
        onClose(iq, payload, from);
    } else {
        reply(xs::error(iq, "cancel", "service-unavailable"));
    }
}

// ---- contacts and presence

void XmppHub::onRoster(xmpp_stanza_t* query, bool full)
{
    std::set<std::string> touched;
    if (full) {
        for (const auto& jid : contacts_.listed()) {
            contacts_.setSubscription(jid, "none", false);
            touched.insert(jid);
        }
    }
    for (xmpp_stanza_t* item = query ? xmpp_stanza_get_children(query) : nullptr; item;
         item = xmpp_stanza_get_next(item)) {
        if (!xmpp_stanza_is_tag(item) || xs::name(item) != "item")
            continue;
        const std::string jid = xs::bare(xs::attr(item, "jid"));
        std::string subscription = xs::attr(item, "subscription");
        if (subscription == "remove" || subscription.empty())
            subscription = "none";
        if (contacts_.setSubscription(jid, subscription, xs::attr(item, "ask") == "subscribe"))
            touched.insert(jid);
    }
    for (const auto& jid : touched) {
        if (!contacts_.isMutual(jid))
            closeStreamsOf(jid, "no longer a mutual contact");
    }
    if (full) {
        for (const auto& jid : contacts_.listed())
            ensureSubscription(jid);
        if (!online_) {
            online_ = true;
            announcePresence();
            toSite([this] { site_.hubUp(this); });
            toSite(HubMsg{HubMsg::Type::Online, {own_, "1"}});
        }
    }
    sendContacts();
    for (const auto& jid : touched)
        sendEntry(jid);
}

void XmppHub::ensureSubscription(const std::string& bare)
{
    const std::string& sub = contacts_.subscription(bare);
    if ((sub == "none" || sub == "from") && !contacts_.asking(bare))
        presenceTo(bare, "subscribe");
    // Approves the contact's request, or approves it in advance where the server allows it.
    if (sub == "none" || sub == "to")
        presenceTo(bare, "subscribed");
}

void XmppHub::presenceTo(const std::string& to, const char* type)
{
    Stanza p(xmpp_presence_new(conn_.ctx()));
    xmpp_stanza_set_to(p.get(), to.c_str());
    xmpp_stanza_set_type(p.get(), type);
    conn_.send(p.get());
}

void XmppHub::onPresence(xmpp_stanza_t* stanza)
{
    const std::string from = xs::attr(stanza, "from");
    const std::string bare = xs::bare(from);
    const std::string resource = xs::resource(from);
    const std::string type = xs::attr(stanza, "type");
    if (from.empty() || bare == own_)
        return;
    if (type == "subscribe") {
        if (!contacts_.isListed(bare)) {
            presenceTo(bare, "unsubscribed");
            return;
        }
        presenceTo(bare, "subscribed");
        const std::string& sub = contacts_.subscription(bare);
        if ((sub == "none" || sub == "from") && !contacts_.asking(bare))
            presenceTo(bare, "subscribe");
        return;
    }
    if (type == "unavailable" || type == "error") {
        closeStreamsOf(from, "the contact went off line");
        if (contacts_.hasResource(bare, resource)) {
            contacts_.resourceDown(bare, resource);
            sendEntry(bare);
        }
        return;
    }
    if (!type.empty() || resource.empty() || !contacts_.isMutual(bare))
        return; // subscription traffic shows in roster pushes; strangers are not reported
    contacts_.resourceUp(
        bare, resource,
        wordOf(xs::text(conn_.ctx(), xmpp_stanza_get_child_by_name(stanza, "show"))));
    sendEntry(bare);
    // One question per resource at a time: a resource that never answers costs nothing more.
    std::erase_if(pending_, [&](const auto& kv) {
        return kv.second.kind == Pending::Kind::Disco && kv.second.to == from;
    });
    Stanza iq = xs::iq(conn_.ctx(), "get", conn_.nextId("disco"), from);
    xs::add(iq.get(), xs::element(conn_.ctx(), "query", xs::NsDiscoInfo));
    request(std::move(iq), {Pending::Kind::Disco, from, 0, 0});
}

void XmppHub::answerDisco(xmpp_stanza_t* iq, const std::string& fromBare)
{
    xmpp_stanza_t* query = firstElement(iq);
    if (!(fromBare == own_ || contacts_.isMutual(fromBare)) || !xs::attr(query, "node").empty()) {
        reply(xs::error(iq, "cancel", "service-unavailable"));
        return;
    }
    Stanza answer = xs::result(iq);
    Stanza q = xs::element(conn_.ctx(), "query", xs::NsDiscoInfo);
    Stanza identity = xs::element(conn_.ctx(), "identity");
    xmpp_stanza_set_attribute(identity.get(), "category", "client");
    xmpp_stanza_set_attribute(identity.get(), "type", "pc");
    xmpp_stanza_set_attribute(identity.get(), "name", "pavo-messenger");
    xs::add(q.get(), std::move(identity));
    std::vector<std::string> features = {xs::NsDiscoInfo, xs::NsIbb, xs::NsPing};
    for (const auto& app : apps_)
        features.push_back(xs::AppFeaturePrefix + app);
    for (const auto& var : features) {
        Stanza feature = xs::element(conn_.ctx(), "feature");
        xmpp_stanza_set_attribute(feature.get(), "var", var.c_str());
        xs::add(q.get(), std::move(feature));
    }
    xs::add(answer.get(), std::move(q));
    reply(std::move(answer));
}

void XmppHub::onDiscoAnswer(const std::string& from, xmpp_stanza_t* iq)
{
    const std::string bare = xs::bare(from);
    const std::string resource = xs::resource(from);
    if (!contacts_.hasResource(bare, resource))
        return;
    const std::string prefix = xs::AppFeaturePrefix;
    std::set<std::string> apps;
    xmpp_stanza_t* query = xs::child(iq, "query", xs::NsDiscoInfo);
    for (xmpp_stanza_t* f = query ? xmpp_stanza_get_children(query) : nullptr; f;
         f = xmpp_stanza_get_next(f)) {
        const std::string var =
            xmpp_stanza_is_tag(f) && xs::name(f) == "feature" ? xs::attr(f, "var") : std::string();
        const std::string app = var.rfind(prefix, 0) == 0 ? var.substr(prefix.size()) : "";
        if (!app.empty() && app.size() <= 255 && app.find(' ') == std::string::npos)
            apps.insert(app);
    }
    contacts_.setApps(bare, resource, std::move(apps));
    sendEntry(bare);
}

void XmppHub::queuePresence()
{
    if (presenceQueued_)
        return;
    presenceQueued_ = true;
    QTimer::singleShot(0, &context_, [this] {
        presenceQueued_ = false;
        announcePresence();
    });
}

// Every change of the applications is announced again, so contacts ask for them anew.
void XmppHub::announcePresence()
{
    if (!online_)
        return;
    Stanza p(xmpp_presence_new(conn_.ctx()));
    if (presence_ == "INVISIBLE" || presence_ == "OFFLINE") {
        xmpp_stanza_set_type(p.get(), "unavailable");
    } else if (const char* show = showOf(presence_)) {
        Stanza s = xs::element(conn_.ctx(), "show");
        xs::addText(conn_.ctx(), s.get(), show);
        xs::add(p.get(), std::move(s));
    }
    conn_.send(p.get());
}

// ---- in-band bytestreams

void XmppHub::onOpen(xmpp_stanza_t* iq, xmpp_stanza_t* open, const std::string& from)
{
    const std::string sid = xs::attr(open, "sid");
    const std::string stanzaKind = xs::attr(open, "stanza");
    const std::string app = xs::attr(xs::child(open, "application", xs::NsPavo), "name");
    unsigned long blockSize = 0;
    const char* condition = nullptr;
    if (!contacts_.isMutual(xs::bare(from)) || xs::resource(from).empty())
        condition = "not-acceptable";
    else if (sid.empty() || sid.size() > 128 ||
             !parseNumber(xs::attr(open, "block-size"), 1u << 30, blockSize) || blockSize == 0)
        condition = "bad-request";
    else if (blockSize > MaxBlock)
        condition = "resource-constraint";
    else if (!stanzaKind.empty() && stanzaKind != "iq")
        condition = "feature-not-implemented";
    else if (app.empty() || !apps_.count(app) || findStream(from, sid))
        condition = "not-acceptable";
    if (condition) {
        reply(xs::error(iq,
                        std::string(condition) == "bad-request" ||
                                std::string(condition) == "resource-constraint"
                            ? "modify"
                            : "cancel",
                        condition));
        return;
    }
    const int number = nextNumber_++;
    streams_.emplace(number, IbbStream(number, app, from, sid, blockSize, true));
    reply(xs::result(iq));
    sendStreams(app);
}

void XmppHub::onData(xmpp_stanza_t* iq, xmpp_stanza_t* data, const std::string& from)
{
    IbbStream* s = findStream(from, xs::attr(data, "sid"));
    if (!s) {
        reply(xs::error(iq, "cancel", "item-not-found"));
        return;
    }
    const int number = s->number();
    unsigned long seq = 0;
    if (!parseNumber(xs::attr(data, "seq"), 65535, seq)) {
        reply(xs::error(iq, "modify", "bad-request"));
        closeStream(number, true, "a block without a valid sequence number");
        return;
    }
    const std::string text = xs::text(conn_.ctx(), data);
    std::vector<std::uint8_t> bytes;
    IbbStream::Received r = IbbStream::Received::TooLong;
    std::vector<std::string> texts;
    if (text.size() <= (s->blockSize() + 2) / 3 * 4) {
        if (!decodeBase64(conn_.ctx(), text, bytes)) {
            reply(xs::error(iq, "modify", "bad-request"));
            closeStream(number, true, "a block that is not base64");
            return;
        }
        r = s->receive(std::uint16_t(seq), bytes, texts);
    }
    switch (r) {
    case IbbStream::Received::Ok:
        break;
    case IbbStream::Received::OutOfSequence:
        reply(xs::error(iq, "cancel", "unexpected-request"));
        closeStream(number, true, "a block out of sequence");
        return;
    case IbbStream::Received::TooLong:
        reply(xs::error(iq, "modify", "policy-violation"));
        closeStream(number, true, "a block longer than the agreed block size");
        return;
    case IbbStream::Received::BadFrame:
        reply(xs::error(iq, "modify", "bad-request"));
        closeStream(number, true, "data that is no write of a program");
        return;
    }
    reply(xs::result(iq));
    const std::string peer = xs::bare(from);
    for (auto& t : texts)
        toSite(HubMsg{HubMsg::Type::Deliver,
                      {own_, s->app(), peer, std::to_string(number), std::move(t)}});
}

void XmppHub::onClose(xmpp_stanza_t* iq, xmpp_stanza_t* close, const std::string& from)
{
    IbbStream* s = findStream(from, xs::attr(close, "sid"));
    if (!s) {
        reply(xs::error(iq, "cancel", "item-not-found"));
        return;
    }
    reply(xs::result(iq));
    closeStream(s->number(), false, "");
}

void XmppHub::onStreamAnswer(const Pending& p, bool ok, xmpp_stanza_t* iq)
{
    const auto it = streams_.find(p.number);
    if (p.kind == Pending::Kind::Close || it == streams_.end())
        return;
    IbbStream& s = it->second;
    if (!ok) {
        xmpp_stanza_t* error = xmpp_stanza_get_child_by_name(iq, "error");
        xmpp_stanza_t* condition = firstElement(error);
        const std::string why =
            "the peer answered " + (condition ? xs::name(condition) : "an error");
        closeStream(p.number, p.kind == Pending::Kind::Data, why);
        return;
    }
    if (p.kind == Pending::Kind::Open) {
        s.setOpen();
        sendStreams(s.app());
    } else {
        const int done = s.acknowledged(p.seq);
        for (int i = 0; i < done; ++i)
            toSite(HubMsg{HubMsg::Type::Sent, {own_, s.app(), std::to_string(s.number())}});
    }
    flush(s);
}

// ---- to the site

void XmppHub::refuse(const std::string& app, const std::string& why)
{
    toSite(HubMsg{HubMsg::Type::Error, {own_, app, why}});
}

void XmppHub::sendStreams(const std::string& app)
{
    HubMsg msg{HubMsg::Type::Streams, {own_, app}};
    for (const auto& [n, s] : streams_) {
        if (s.app() == app && s.isOpen()) {
            msg.fields.push_back(xs::bare(s.peer()));
            msg.fields.push_back(std::to_string(n));
        }
    }
    toSite(std::move(msg));
}

void XmppHub::sendEntry(const std::string& bare)
{
    XmppContacts::Entry e;
    if (!contacts_.entry(bare, e)) {
        toSite(HubMsg{HubMsg::Type::EntryGone, {bare}});
        return;
    }
    HubMsg msg{HubMsg::Type::Entry, {bare, e.word}};
    msg.fields.insert(msg.fields.end(), e.apps.begin(), e.apps.end());
    toSite(std::move(msg));
}

void XmppHub::sendContacts()
{
    const std::vector<std::string> now = contacts_.contacts();
    if (now == sentContacts_)
        return;
    sentContacts_ = now;
    HubMsg msg{HubMsg::Type::Contacts, {own_}};
    msg.fields.insert(msg.fields.end(), now.begin(), now.end());
    toSite(std::move(msg));
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
