#include "LocalNetwork.h"

#include "MessengerLog.h"
#include "UserConfig.h"

#include <algorithm>

namespace {

// What others see: an invisible user looks off line.
bool isOnline(const std::string& presence)
{
    return presence != "OFFLINE" && presence != "INVISIBLE";
}

} // namespace

void LocalNetwork::join(SiteLink* site)
{
    sites_.push_back(site);
    for (const auto& [id, user] : users_) {
        HubMsg entry{HubMsg::Type::Entry, {id, user.presence}};
        entry.fields.insert(entry.fields.end(), user.apps.begin(), user.apps.end());
        site->send(entry);
    }
}

void LocalNetwork::leave(SiteLink* site)
{
    std::erase(sites_, site);
    std::vector<std::string> gone;
    for (auto& [id, user] : users_) {
        if (user.site == site) {
            user.site = nullptr; // the link is going away: nothing more is sent through it
            gone.push_back(id);
        }
    }
    for (const auto& id : gone)
        userDown(id);
}

LocalNetwork::User* LocalNetwork::ownUser(SiteLink* site, const std::string& id)
{
    const auto it = users_.find(id);
    if (it == users_.end() || it->second.site != site || !site) {
        MessengerLog::line(site->linkName(), "ignored",
                           "message about a user it does not serve: " + id);
        return nullptr;
    }
    return &it->second;
}

void LocalNetwork::receive(SiteLink* site, const HubMsg& msg)
{
    const auto& f = msg.fields;
    using T = HubMsg::Type;
    if (msg.type == T::UserUp) {
        userUp(site, msg);
        return;
    }
    User* user = ownUser(site, f[0]);
    if (!user)
        return;
    switch (msg.type) {
    case T::UserDown:
        userDown(f[0]);
        break;
    case T::Presence:
        user->presence = f[1];
        broadcastEntry(f[0]);
        break;
    case T::AppCreated:
        if (user->apps.insert(f[1]).second)
            broadcastEntry(f[0]);
        break;
    case T::AppDeleted:
        appDeleted(f[0], f[1]);
        break;
    case T::Connect:
        connect(f[0], f[1], f[2]);
        break;
    case T::Write:
        write(f[0], f[1], hubStreamNumber(f[2]), f[3]);
        break;
    case T::Disconnect:
        disconnect(f[0], f[1], hubStreamNumber(f[2]));
        break;
    default:
        MessengerLog::line(site->linkName(), "ignored", "a message only the network sends");
        break;
    }
}

void LocalNetwork::userUp(SiteLink* site, const HubMsg& msg)
{
    const std::string& id = msg.fields[0];
    std::string presence = msg.fields[1];
    if (!isValidSkypeId(id) || !normalisePresence(presence)) {
        MessengerLog::line(site->linkName(), "ignored", "user announcement " + id);
        return;
    }
    const auto it = users_.find(id);
    if (it != users_.end() && it->second.site != site) {
        site->send({HubMsg::Type::Error, {id, "", "user " + id + " is served twice"}});
        return;
    }
    User& user = users_[id];
    user.site = site;
    user.presence = presence;
    broadcastEntry(id);
}

void LocalNetwork::userDown(const std::string& id)
{
    const auto it = users_.find(id);
    if (it == users_.end())
        return;
    const std::set<std::string> apps = it->second.apps;
    for (const auto& app : apps)
        appDeleted(id, app);
    users_.erase(id);
    broadcast({HubMsg::Type::EntryGone, {id}});
}

void LocalNetwork::appDeleted(const std::string& id, const std::string& app)
{
    User& user = users_[id];
    const bool had = user.apps.erase(app) > 0;
    closeStreams(id, app);
    if (had)
        broadcastEntry(id);
}

void LocalNetwork::connect(const std::string& id, const std::string& app, const std::string& peer)
{
    const auto it = users_.find(peer);
    std::string why;
    if (!users_[id].apps.count(app))
        why = "application " + app + " is not created";
    else if (peer == id || it == users_.end() || !isOnline(it->second.presence))
        why = "user " + peer + " is not on line";
    else if (!it->second.apps.count(app))
        why = "user " + peer + " has not created " + app;
    if (!why.empty()) {
        sendTo(id, {HubMsg::Type::Error, {id, app, "CONNECT: " + why}});
        return;
    }
    streams_[nextStream_++] = {app, id, peer};
    sendStreams(id, app);
    sendStreams(peer, app);
}

void LocalNetwork::write(const std::string& id, const std::string& app, int number,
                         const std::string& data)
{
    const auto it = streams_.find(number);
    if (it != streams_.end() && it->second.app == app &&
        (it->second.a == id || it->second.b == id)) {
        const std::string& peer = it->second.a == id ? it->second.b : it->second.a;
        sendTo(peer, {HubMsg::Type::Deliver, {peer, app, id, std::to_string(number), data}});
    }
    // Acknowledged also when the stream has just closed, so the writer never waits for it.
    sendTo(id, {HubMsg::Type::Sent, {id, app, std::to_string(number)}});
}

void LocalNetwork::disconnect(const std::string& id, const std::string& app, int number)
{
    const auto it = streams_.find(number);
    if (it == streams_.end() || it->second.app != app || (it->second.a != id && it->second.b != id))
        return;
    const Stream s = it->second;
    streams_.erase(it);
    sendStreams(s.a, app);
    sendStreams(s.b, app);
}

void LocalNetwork::closeStreams(const std::string& id, const std::string& app)
{
    std::set<std::string> peers;
    for (auto it = streams_.begin(); it != streams_.end();) {
        const Stream& s = it->second;
        if (s.app == app && (s.a == id || s.b == id)) {
            peers.insert(s.a == id ? s.b : s.a);
            it = streams_.erase(it);
        } else {
            ++it;
        }
    }
    // The owner hears it too: a site may have re-created the application meanwhile.
    sendStreams(id, app);
    for (const auto& peer : peers)
        sendStreams(peer, app);
}

void LocalNetwork::sendStreams(const std::string& id, const std::string& app)
{
    HubMsg msg{HubMsg::Type::Streams, {id, app}};
    for (const auto& [number, s] : streams_) {
        if (s.app != app || (s.a != id && s.b != id))
            continue;
        msg.fields.push_back(s.a == id ? s.b : s.a);
        msg.fields.push_back(std::to_string(number));
    }
    sendTo(id, msg);
}

void LocalNetwork::broadcastEntry(const std::string& id)
{
    const User& user = users_[id];
    HubMsg entry{HubMsg::Type::Entry, {id, user.presence}};
    entry.fields.insert(entry.fields.end(), user.apps.begin(), user.apps.end());
    broadcast(entry);
}

void LocalNetwork::broadcast(const HubMsg& msg)
{
    for (SiteLink* site : sites_)
        site->send(msg);
}

void LocalNetwork::sendTo(const std::string& id, const HubMsg& msg)
{
    const auto it = users_.find(id);
    if (it != users_.end() && it->second.site)
        it->second.site->send(msg);
}
