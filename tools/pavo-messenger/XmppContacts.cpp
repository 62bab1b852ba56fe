#include "XmppContacts.h"

#include <algorithm>

namespace {

// Which presence a contact with several resources shows: the most available one.
int rank(const std::string& word)
{
    static const char* const order[] = {"SKYPEME", "ONLINE", "AWAY", "NA", "DND"};
    for (int i = 0; i < 5; ++i) {
        if (word == order[i])
            return i;
    }
    return 5;
}

} // namespace

XmppContacts::XmppContacts(std::vector<std::string> listed) : listed_(std::move(listed))
{
    for (const auto& jid : listed_)
        known_[jid];
}

bool XmppContacts::isListed(const std::string& bare) const
{
    return known_.count(bare) != 0;
}

bool XmppContacts::isMutual(const std::string& bare) const
{
    const auto it = known_.find(bare);
    return it != known_.end() && it->second.subscription == "both";
}

std::vector<std::string> XmppContacts::contacts() const
{
    std::vector<std::string> out;
    for (const auto& jid : listed_) {
        if (isMutual(jid))
            out.push_back(jid);
    }
    return out;
}

bool XmppContacts::setSubscription(const std::string& bare, const std::string& subscription,
                                   bool asking)
{
    const auto it = known_.find(bare);
    if (it == known_.end())
        return false;
    it->second.subscription = subscription;
    it->second.asking = asking;
    if (subscription != "both")
        it->second.resources.clear();
    return true;
}

const std::string& XmppContacts::subscription(const std::string& bare) const
{
    static const std::string none = "none";
    const auto it = known_.find(bare);
    return it == known_.end() ? none : it->second.subscription;
}

bool XmppContacts::asking(const std::string& bare) const
{
    const auto it = known_.find(bare);
    return it != known_.end() && it->second.asking;
}

void XmppContacts::clear()
{
    for (auto& [jid, c] : known_)
        c = Contact{};
}

void XmppContacts::resourceUp(const std::string& bare, const std::string& resource,
                              const std::string& word)
{
    if (!isMutual(bare))
        return;
    known_[bare].resources[resource].word = word;
}

void XmppContacts::resourceDown(const std::string& bare, const std::string& resource)
{
    const auto it = known_.find(bare);
    if (it != known_.end())
        it->second.resources.erase(resource);
}

bool XmppContacts::hasResource(const std::string& bare, const std::string& resource) const
{
    const auto it = known_.find(bare);
    return it != known_.end() && it->second.resources.count(resource) != 0;
}

void XmppContacts::setApps(const std::string& bare, const std::string& resource,
                           std::set<std::string> apps)
{
    const auto it = known_.find(bare);
    if (it == known_.end())
        return;
    const auto r = it->second.resources.find(resource);
    if (r != it->second.resources.end())
        r->second.apps = std::move(apps);
}

bool XmppContacts::entry(const std::string& bare, Entry& out) const
{
    const auto it = known_.find(bare);
    if (it == known_.end() || it->second.subscription != "both" || it->second.resources.empty())
        return false;
    out = {};
    int best = 6;
    for (const auto& [name, r] : it->second.resources) {
        if (rank(r.word) < best) {
            best = rank(r.word);
            out.word = r.word;
        }
        out.apps.insert(r.apps.begin(), r.apps.end());
    }
    return true;
}

std::string XmppContacts::resourceWith(const std::string& bare, const std::string& app) const
{
    const auto it = known_.find(bare);
    if (it == known_.end() || it->second.subscription != "both")
        return {};
    for (const auto& [name, r] : it->second.resources) {
        if (r.apps.count(app))
            return name;
    }
    return {};
}
