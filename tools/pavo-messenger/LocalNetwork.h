#pragma once

#include "HubMessage.h"

#include <map>
#include <set>
#include <string>
#include <vector>

// One side of a link between the network and a site; the network sends through it.
class SiteLink
{
public:
    virtual ~SiteLink() = default;
    virtual void send(const HubMsg& msg) = 0;
    virtual std::string linkName() const = 0;
};

// The network that the users of the local test mode meet on, inside one process: who is on line
// with which applications, and the streams between them. It relays stream data in order: every
// write goes from the writer's site through here to the reader's site, each link being an ordered
// channel. A site may speak only for the users it announced; anything else it sends is ignored.
class LocalNetwork
{
public:
    void join(SiteLink* site);
    void leave(SiteLink* site);
    void receive(SiteLink* site, const HubMsg& msg);

private:
    struct User
    {
        SiteLink* site = nullptr;
        std::string presence;
        std::set<std::string> apps;
    };
    struct Stream
    {
        std::string app;
        std::string a;
        std::string b;
    };

    User* ownUser(SiteLink* site, const std::string& id);
    void userUp(SiteLink* site, const HubMsg& msg);
    void userDown(const std::string& id);
    void appDeleted(const std::string& id, const std::string& app);
    void connect(const std::string& id, const std::string& app, const std::string& peer);
    void write(const std::string& id, const std::string& app, int number, const std::string& data);
    void disconnect(const std::string& id, const std::string& app, int number);
    void closeStreams(const std::string& id, const std::string& app);
    void sendStreams(const std::string& id, const std::string& app);
    void broadcastEntry(const std::string& id);
    void broadcast(const HubMsg& msg);
    void sendTo(const std::string& id, const HubMsg& msg);

    std::vector<SiteLink*> sites_;
    std::map<std::string, User> users_;
    std::map<int, Stream> streams_;
    int nextStream_ = 1;
};
