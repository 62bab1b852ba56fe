#include "XmppRoster.h"

#include "XmppConnection.h"
#include "XmppContacts.h"
#include "XmppHub.h"

#include <QTimer>

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

} // namespace

XmppRoster::XmppRoster(XmppHub& hub, XmppConnection& conn, XmppContacts& contacts)
    : hub_(hub), conn_(conn), contacts_(contacts)
{
}

void XmppRoster::onRoster(xmpp_stanza_t* query, bool full)
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
            hub_.streams().closeStreamsOf(jid, "no longer a mutual contact");
    }
    if (full) {
        for (const auto& jid : contacts_.listed())
            ensureSubscription(jid);
        if (!hub_.online()) {
            hub_.wentOnline();
            announcePresence();
        }
    }
    sendContacts();
    for (const auto& jid : touched)
        sendEntry(jid);
}

void XmppRoster::ensureSubscription(const std::string& bare)
{
    const std::string& sub = contacts_.subscription(bare);
    if ((sub == "none" || sub == "from") && !contacts_.asking(bare))
        presenceTo(bare, "subscribe");
    // Approves the contact's request, or approves it in advance where the server allows it.
    if (sub == "none" || sub == "to")
        presenceTo(bare, "subscribed");
}

void XmppRoster::presenceTo(const std::string& to, const char* type)
{
    Stanza p(xmpp_presence_new(conn_.ctx()));
    xmpp_stanza_set_to(p.get(), to.c_str());
    xmpp_stanza_set_type(p.get(), type);
    conn_.send(p.get());
}

void XmppRoster::onPresence(xmpp_stanza_t* stanza)
{
    const std::string from = xs::attr(stanza, "from");
    const std::string bare = xs::bare(from);
    const std::string resource = xs::resource(from);
    const std::string type = xs::attr(stanza, "type");
    if (from.empty() || bare == hub_.own())
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
        hub_.streams().closeStreamsOf(from, "the contact went off line");
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
    hub_.dropPending(
        [&](const XmppPending& p) { return p.kind == XmppPending::Kind::Disco && p.to == from; });
    Stanza iq = xs::iq(conn_.ctx(), "get", conn_.nextId("disco"), from);
    xs::add(iq.get(), xs::element(conn_.ctx(), "query", xs::NsDiscoInfo));
    hub_.request(std::move(iq), {XmppPending::Kind::Disco, from, 0, 0});
}

void XmppRoster::answerDisco(xmpp_stanza_t* iq, const std::string& fromBare)
{
    xmpp_stanza_t* query = xs::firstElement(iq);
    if (!(fromBare == hub_.own() || contacts_.isMutual(fromBare)) ||
        !xs::attr(query, "node").empty()) {
        hub_.reply(xs::error(iq, "cancel", "service-unavailable"));
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
    for (const auto& app : hub_.apps())
        features.push_back(xs::AppFeaturePrefix + app);
    for (const auto& var : features) {
        Stanza feature = xs::element(conn_.ctx(), "feature");
        xmpp_stanza_set_attribute(feature.get(), "var", var.c_str());
        xs::add(q.get(), std::move(feature));
    }
    xs::add(answer.get(), std::move(q));
    hub_.reply(std::move(answer));
}

void XmppRoster::onDiscoAnswer(const std::string& from, xmpp_stanza_t* iq)
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

void XmppRoster::queuePresence()
{
    if (presenceQueued_)
        return;
    presenceQueued_ = true;
    QTimer::singleShot(0, &context_, [this] {
        presenceQueued_ = false;
        announcePresence();
    });
}

void XmppRoster::announcePresence()
{
    if (!hub_.online())
        return;
    Stanza p(xmpp_presence_new(conn_.ctx()));
    if (hub_.presence() == "INVISIBLE" || hub_.presence() == "OFFLINE") {
        xmpp_stanza_set_type(p.get(), "unavailable");
    } else if (const char* show = showOf(hub_.presence())) {
        Stanza s = xs::element(conn_.ctx(), "show");
        xs::addText(conn_.ctx(), s.get(), show);
        xs::add(p.get(), std::move(s));
    }
    conn_.send(p.get());
}

void XmppRoster::sendEntry(const std::string& bare)
{
    XmppContacts::Entry e;
    if (!contacts_.entry(bare, e)) {
        hub_.toSite(HubMsg{HubMsg::Type::EntryGone, {bare}});
        return;
    }
    HubMsg msg{HubMsg::Type::Entry, {bare, e.word}};
    msg.fields.insert(msg.fields.end(), e.apps.begin(), e.apps.end());
    hub_.toSite(std::move(msg));
}

void XmppRoster::sendContacts()
{
    const std::vector<std::string> now = contacts_.contacts();
    if (now == sentContacts_)
        return;
    sentContacts_ = now;
    HubMsg msg{HubMsg::Type::Contacts, {hub_.own()}};
    msg.fields.insert(msg.fields.end(), now.begin(), now.end());
    hub_.toSite(std::move(msg));
}
