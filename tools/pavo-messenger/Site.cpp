#include "Site.h"

#include "ClientSession.h"
#include "MessengerLog.h"
#include "SiteEndpoint.h"
#include "platform/EventLoop.h"
#include "skype/ClientWire.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

// What a contact is shown as: an invisible user looks off line.
std::string publicPresence(const std::string& presence)
{
    return presence == "INVISIBLE" ? std::string("OFFLINE") : presence;
}

} // namespace

Site::Site(const std::vector<UserConfig>& users)
{
    for (const auto& cfg : users) {
        auto user = std::make_unique<SiteUser>();
        user->cfg = cfg;
        user->available = cfg.attach != AttachAnswer::Unavailable;
        users_.push_back(std::move(user));
    }
}

Site::~Site()
{
    for (auto& user : users_) {
        for (ClientSession* s : user->sessions)
            delete s;
        user->sessions.clear();
    }
}

bool Site::listen(std::string& error)
{
    for (auto& user : users_) {
        if (!openEndpoint(*user, error))
            return false;
    }
    return true;
}

bool Site::openEndpoint(SiteUser& user, std::string& error)
{
    user.server = openSiteEndpoint(user.cfg.runtimeFolder, error);
    if (!user.server)
        return false;
    SiteUser* u = &user;
    QObject::connect(user.server.get(), &QLocalServer::newConnection, user.server.get(), [this, u] {
        while (QLocalSocket* socket = u->server->nextPendingConnection())
            u->sessions.push_back(new ClientSession(*this, *u, socket));
    });
    return true;
}

void SiteUser::becomeAvailableLater()
{
    if (available || availabilityScheduled || cfg.availableAfterMs < 0)
        return;
    availabilityScheduled = true;
    QTimer::singleShot(plat::scaledMs(cfg.availableAfterMs), server.get(), [this] {
        available = true;
        MessengerLog::line(cfg.id, "--", "client became available");
        for (ClientSession* s : sessions)
            s->becameAvailable();
    });
}

void Site::hubUp(HubLink* hub)
{
    hub_ = hub;
    for (auto& user : users_) {
        sendToHub({HubMsg::Type::UserUp, {user->cfg.id, user->cfg.presence}});
        for (const auto& [name, app] : user->apps)
            sendToHub({HubMsg::Type::AppCreated, {user->cfg.id, name}});
    }
}

void Site::hubDown()
{
    hub_ = nullptr;
    const auto directory = directory_;
    directory_.clear();
    for (const auto& [id, entry] : directory)
        entryChanged(id, publicPresence(entry.presence));
    for (auto& user : users_) {
        for (auto& [name, app] : user->apps) {
            if (!app.streams.empty())
                streamsChanged(user->cfg.id, name, {});
        }
    }
}

void Site::fromHub(const HubMsg& msg)
{
    const auto& f = msg.fields;
    switch (msg.type) {
    case HubMsg::Type::Entry: {
        const auto it = directory_.find(f[0]);
        const std::string before =
            it == directory_.end() ? std::string("OFFLINE") : publicPresence(it->second.presence);
        Entry& entry = directory_[f[0]];
        entry.presence = f[1];
        entry.apps = std::set<std::string>(f.begin() + 2, f.end());
        entryChanged(f[0], before);
        break;
    }
    case HubMsg::Type::EntryGone: {
        const auto it = directory_.find(f[0]);
        if (it == directory_.end())
            break;
        const std::string before = publicPresence(it->second.presence);
        directory_.erase(it);
        entryChanged(f[0], before);
        break;
    }
    case HubMsg::Type::Streams: {
        SiteApp::Streams streams;
        for (std::size_t i = 2; i + 1 < f.size(); i += 2)
            streams.emplace_back(f[i], hubStreamNumber(f[i + 1]));
        streamsChanged(f[0], f[1], std::move(streams));
        break;
    }
    case HubMsg::Type::Deliver:
        delivered(msg);
        break;
    case HubMsg::Type::Sent:
        sent(f[0], f[1], hubStreamNumber(f[2]));
        break;
    case HubMsg::Type::Contacts:
        if (SiteUser* u = userOf(f[0]))
            contactsChanged(*u, std::vector<std::string>(f.begin() + 1, f.end()));
        break;
    case HubMsg::Type::Online:
        if (SiteUser* u = userOf(f[0]))
            onlineChanged(*u, f[1] == "1");
        break;
    case HubMsg::Type::Error: {
        SiteApp* app = appOf(f[0], f[1]);
        if (app && app->owner)
            app->owner->notify("ERROR 9901 " + f[2]);
        else
            std::fprintf(stderr, "pavo-messenger: %s\n", f[2].c_str());
        break;
    }
    case HubMsg::Type::Limited: {
        SiteApp* app = appOf(f[0], f[1]);
        if (app && app->owner)
            app->owner->notify("APPLICATION " + f[1] + " SENDLIMIT " + f[2]);
        break;
    }
    default:
        MessengerLog::line("network", "ignored", "a message only sites send");
        break;
    }
}

void Site::entryChanged(const std::string& id, const std::string& before)
{
    const std::string now = directoryStatus(id);
    if (now == before)
        return;
    for (auto& user : users_) {
        const auto& c = user->cfg.contacts;
        if (user->cfg.id != id && std::find(c.begin(), c.end(), id) != c.end())
            notifyAll(*user, "USER " + id + " ONLINESTATUS " + now);
    }
}

SiteUser* Site::userOf(const std::string& id)
{
    for (auto& u : users_) {
        if (u->cfg.id == id)
            return u.get();
    }
    return nullptr;
}

// A contact added is told as a desktop client tells it; one removed is no longer listed.
void Site::contactsChanged(SiteUser& user, std::vector<std::string> contacts)
{
    const std::vector<std::string> before = std::move(user.cfg.contacts);
    user.cfg.contacts = std::move(contacts);
    for (const auto& id : user.cfg.contacts) {
        if (std::find(before.begin(), before.end(), id) == before.end())
            notifyAll(user, "USER " + id + " BUDDYSTATUS 3");
    }
}

// Whether the client can serve the user: a program told "not available" hears when it can
// attach; attached programs hear the connection status.
void Site::onlineChanged(SiteUser& user, bool online)
{
    if (user.available == online)
        return;
    user.available = online;
    MessengerLog::line(user.cfg.id, "--", online ? "logged in" : "logged out");
    notifyAll(user, online ? "CONNSTATUS ONLINE" : "CONNSTATUS OFFLINE");
    if (online) {
        for (ClientSession* s : user.sessions)
            s->becameAvailable();
    }
}

void Site::streamsChanged(const std::string& user, const std::string& app, SiteApp::Streams streams)
{
    SiteApp* a = appOf(user, app);
    if (!a || a->streams == streams)
        return;
    const bool drained = a->setStreams(std::move(streams));
    if (a->owner) {
        a->owner->notify(a->streamsText(app));
        if (drained)
            a->owner->notify(a->sendingText(app));
    }
}

void Site::delivered(const HubMsg& msg)
{
    const auto& f = msg.fields;
    const int number = hubStreamNumber(f[3]);
    SiteApp* a = appOf(f[0], f[1]);
    const std::string* peer = a ? a->peerOf(number) : nullptr;
    if (!peer || *peer != f[2]) {
        MessengerLog::line(f[0], "dropped", "data for a stream that is not open");
        return;
    }
    if (a->arrived(number, ++arrivals_, f[4]) > MaxUnreadPerStream) {
        std::fprintf(stderr, "pavo-messenger: %s does not read stream %s:%d; closing it\n",
                     f[0].c_str(), f[2].c_str(), number);
        sendToHub({HubMsg::Type::Disconnect, {f[0], f[1], std::to_string(number)}});
        return;
    }
    if (a->owner)
        a->owner->notify(a->receivedText(f[1]));
}

void Site::sent(const std::string& user, const std::string& app, int number)
{
    SiteApp* a = appOf(user, app);
    if (!a || !a->acknowledged(number))
        return;
    if (a->owner)
        a->owner->notify(a->sendingText(app));
}

void Site::sessionClosed(ClientSession* session)
{
    SiteUser& user = session->user();
    for (auto it = user.apps.begin(); it != user.apps.end();) {
        if (it->second.owner == session) {
            sendToHub({HubMsg::Type::AppDeleted, {user.cfg.id, it->first}});
            it = user.apps.erase(it);
        } else {
            ++it;
        }
    }
    std::erase(user.sessions, session);
}

std::string Site::onlineStatus(const SiteUser& user, const std::string& id) const
{
    return id == user.cfg.id ? user.cfg.presence : directoryStatus(id);
}

std::string Site::directoryStatus(const std::string& id) const
{
    const auto it = directory_.find(id);
    return it == directory_.end() ? std::string("OFFLINE") : publicPresence(it->second.presence);
}

std::vector<std::string> Site::connectable(const SiteUser& user, const std::string& app) const
{
    std::vector<std::string> out;
    for (const auto& id : user.cfg.contacts) {
        const auto it = directory_.find(id);
        if (it != directory_.end() && publicPresence(it->second.presence) != "OFFLINE" &&
            it->second.apps.count(app))
            out.push_back(id);
    }
    return out;
}

void Site::setPresence(SiteUser& user, const std::string& word)
{
    user.cfg.presence = word;
    sendToHub({HubMsg::Type::Presence, {user.cfg.id, word}});
    notifyAll(user, "USERSTATUS " + word);
}

void Site::addContact(SiteUser& user, const std::string& id)
{
    auto& c = user.cfg.contacts;
    if (std::find(c.begin(), c.end(), id) == c.end())
        c.push_back(id);
    notifyAll(user, "USER " + id + " BUDDYSTATUS 3");
}

bool Site::createApp(ClientSession& session, const std::string& app, std::string& why)
{
    SiteUser& user = session.user();
    const auto it = user.apps.find(app);
    if (it != user.apps.end()) {
        if (it->second.owner == &session)
            return true;
        why = "CREATE: application " + app + " belongs to another program";
        return false;
    }
    user.apps[app].owner = &session;
    sendToHub({HubMsg::Type::AppCreated, {user.cfg.id, app}});
    return true;
}

bool Site::deleteApp(ClientSession& session, const std::string& app, std::string& why)
{
    if (!ownAppMutable(session, app, why))
        return false;
    session.user().apps.erase(app);
    sendToHub({HubMsg::Type::AppDeleted, {session.user().cfg.id, app}});
    return true;
}

const SiteApp* Site::ownApp(ClientSession& session, const std::string& app, std::string& why) const
{
    const auto& apps = session.user().apps;
    const auto it = apps.find(app);
    if (it == apps.end() || it->second.owner != &session) {
        why = "application " + app + " is not created by this program";
        return nullptr;
    }
    return &it->second;
}

SiteApp* Site::ownAppMutable(ClientSession& session, const std::string& app, std::string& why)
{
    return const_cast<SiteApp*>(ownApp(session, app, why));
}

bool Site::connect(ClientSession& session, const std::string& app, const std::string& peer,
                   std::string& why)
{
    const auto& contacts = session.user().cfg.contacts;
    if (!ownApp(session, app, why))
        return false;
    if (std::find(contacts.begin(), contacts.end(), peer) == contacts.end()) {
        why = "CONNECT: " + peer + " is not a contact";
        return false;
    }
    if (!hub_) {
        why = "CONNECT: the network is not reachable";
        return false;
    }
    sendToHub({HubMsg::Type::Connect, {session.user().cfg.id, app, peer}});
    return true;
}

bool Site::write(ClientSession& session, const std::string& app, const std::string& peer,
                 int number, const std::string& data, std::string& why)
{
    SiteApp* a = ownAppMutable(session, app, why);
    if (!a)
        return false;
    const std::string* streamPeer = a->peerOf(number);
    if (!streamPeer || *streamPeer != peer) {
        why = "WRITE: no stream " + peer + ":" + std::to_string(number);
        return false;
    }
    if (data.empty()) {
        why = "WRITE: nothing to write";
        return false;
    }
    // The reader's reply names this user where the command named the peer, so it may be
    // longer than the command; data that could not be read back whole is refused here.
    const std::string reply = "ALTER APPLICATION " + app + " READ " + session.user().cfg.id + ":" +
                              std::to_string(number) + " ";
    if (reply.size() + data.size() + 1 > ClientWire::MaxPayload) {
        why = "WRITE: the data would not fit into a read reply";
        return false;
    }
    a->written(number, data.size());
    sendToHub({HubMsg::Type::Write, {session.user().cfg.id, app, std::to_string(number), data}});
    // After the result: a node clears its "may write" mark when the command returns, so the
    // list must not overtake the result.
    session.notifyAfter(a->sendingText(app));
    return true;
}

bool Site::read(ClientSession& session, const std::string& app, const std::string& peer, int number,
                std::string& data, std::string& why)
{
    SiteApp* a = ownAppMutable(session, app, why);
    if (!a)
        return false;
    const std::string* streamPeer = a->peerOf(number);
    if (!streamPeer || *streamPeer != peer || !a->takeUnread(number, data)) {
        why = "READ: no data waiting on " + peer + ":" + std::to_string(number);
        return false;
    }
    // The rest is announced after the result, so a node reads one unit per command instead of
    // nesting a read inside every read.
    if (!a->inbox.empty())
        session.notifyAfter(a->receivedText(app));
    return true;
}

bool Site::disconnect(ClientSession& session, const std::string& app, const std::string& peer,
                      int number, std::string& why)
{
    const SiteApp* a = ownApp(session, app, why);
    if (!a)
        return false;
    const std::string* streamPeer = a->peerOf(number);
    if (!streamPeer || *streamPeer != peer) {
        why = "DISCONNECT: no stream " + peer + ":" + std::to_string(number);
        return false;
    }
    sendToHub({HubMsg::Type::Disconnect, {session.user().cfg.id, app, std::to_string(number)}});
    return true;
}

SiteApp* Site::appOf(const std::string& user, const std::string& app)
{
    for (auto& u : users_) {
        if (u->cfg.id != user)
            continue;
        const auto it = u->apps.find(app);
        return it == u->apps.end() ? nullptr : &it->second;
    }
    return nullptr;
}

void Site::sendToHub(const HubMsg& msg)
{
    if (hub_)
        hub_->send(msg);
}

void Site::notifyAll(SiteUser& user, const std::string& text)
{
    for (ClientSession* s : user.sessions) {
        if (s->attached())
            s->notify(text);
    }
}
