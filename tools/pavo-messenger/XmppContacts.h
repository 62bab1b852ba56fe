#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

// What the client knows of the party members listed in its config: their roster subscription
// and, for a mutual contact, its on-line resources with their presence and the applications
// each advertises. Anyone not listed, or listed without mutual subscription, is not a contact:
// their presence is not kept.
class XmppContacts
{
public:
    struct Entry
    {
        std::string word;           // the node's presence word
        std::set<std::string> apps; // applications some resource advertises
    };

    explicit XmppContacts(std::vector<std::string> listed);

    const std::vector<std::string>& listed() const { return listed_; }
    bool isListed(const std::string& bare) const;
    // Listed, and subscribed both ways.
    bool isMutual(const std::string& bare) const;
    // The mutual contacts, in the config's order.
    std::vector<std::string> contacts() const;

    // Roster state; false when the JID is not listed (nothing kept).
    bool setSubscription(const std::string& bare, const std::string& subscription, bool asking);
    const std::string& subscription(const std::string& bare) const;
    bool asking(const std::string& bare) const;
    // Forgets roster and presence (the server connection is gone).
    void clear();

    void resourceUp(const std::string& bare, const std::string& resource, const std::string& word);
    void resourceDown(const std::string& bare, const std::string& resource);
    bool hasResource(const std::string& bare, const std::string& resource) const;
    void setApps(const std::string& bare, const std::string& resource, std::set<std::string> apps);

    // On line and mutual: its presence; otherwise false.
    bool entry(const std::string& bare, Entry& out) const;
    // A resource of bare that advertises app; "" when none.
    std::string resourceWith(const std::string& bare, const std::string& app) const;

private:
    struct Resource
    {
        std::string word;
        std::set<std::string> apps;
    };
    struct Contact
    {
        std::string subscription = "none";
        bool asking = false;
        std::map<std::string, Resource> resources;
    };

    std::vector<std::string> listed_;
    std::map<std::string, Contact> known_;
};
