#pragma once

#include "HubMessage.h"
#include "SiteApp.h"
#include "UserConfig.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

class ClientSession;
class QLocalServer;

// The site's side of its link to the network.
class HubLink
{
public:
    virtual ~HubLink() = default;
    virtual void send(const HubMsg& msg) = 0;
};

struct SiteUser
{
    UserConfig cfg;
    bool available = true;
    bool availabilityScheduled = false;
    std::unique_ptr<QLocalServer> server;
    std::vector<ClientSession*> sessions;
    std::map<std::string, SiteApp> apps;

    // An "unavailable" client with a delay becomes available that long after a program first
    // looked for it, so the program always sees it unavailable first, however slowly it starts.
    void becomeAvailableLater();
};

// The users this client serves: their endpoints, their node programs' applications and what
// the network tells about everybody else. Requests that change the network go to the hub;
// their effects (stream lists, data, acknowledgements) come back through fromHub.
class Site
{
public:
    // Beyond this much unread data a stream is closed instead of growing without bound.
    static constexpr std::size_t MaxUnreadPerStream = 64u << 20;

    explicit Site(const std::vector<UserConfig>& users);
    ~Site();
    Site(const Site&) = delete;
    Site& operator=(const Site&) = delete;

    // Opens every user's endpoint; false with a message when one cannot be opened.
    bool listen(std::string& error);

    void hubUp(HubLink* hub);
    void hubDown();
    void fromHub(const HubMsg& msg);

    // Sessions report their end; the session is deleted on the next turn of the loop.
    void sessionClosed(ClientSession* session);

    // Requests of the client commands; false with the reason when refused.
    std::string onlineStatus(const SiteUser& user, const std::string& id) const;
    std::vector<std::string> connectable(const SiteUser& user, const std::string& app) const;
    void setPresence(SiteUser& user, const std::string& word);
    void addContact(SiteUser& user, const std::string& id);
    bool createApp(ClientSession& session, const std::string& app, std::string& why);
    bool deleteApp(ClientSession& session, const std::string& app, std::string& why);
    const SiteApp* ownApp(ClientSession& session, const std::string& app, std::string& why) const;
    bool connect(ClientSession& session, const std::string& app, const std::string& peer,
                 std::string& why);
    bool write(ClientSession& session, const std::string& app, const std::string& peer, int number,
               const std::string& data, std::string& why);
    bool read(ClientSession& session, const std::string& app, const std::string& peer, int number,
              std::string& data, std::string& why);
    bool disconnect(ClientSession& session, const std::string& app, const std::string& peer,
                    int number, std::string& why);

private:
    struct Entry
    {
        std::string presence;
        std::set<std::string> apps;
    };

    bool openEndpoint(SiteUser& user, std::string& error);
    std::string directoryStatus(const std::string& id) const;
    SiteApp* appOf(const std::string& user, const std::string& app);
    SiteApp* ownAppMutable(ClientSession& session, const std::string& app, std::string& why);
    void entryChanged(const std::string& id, const std::string& before);
    SiteUser* userOf(const std::string& id);
    void contactsChanged(SiteUser& user, std::vector<std::string> contacts);
    void onlineChanged(SiteUser& user, bool online);
    void streamsChanged(const std::string& user, const std::string& app, SiteApp::Streams streams);
    void delivered(const HubMsg& msg);
    void sent(const std::string& user, const std::string& app, int number);
    void sendToHub(const HubMsg& msg);
    void notifyAll(SiteUser& user, const std::string& text);

    std::vector<std::unique_ptr<SiteUser>> users_;
    std::map<std::string, Entry> directory_;
    HubLink* hub_ = nullptr;
    std::uint64_t arrivals_ = 0;
};
