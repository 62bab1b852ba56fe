#include "CommandRunner.h"

#include "ClientSession.h"
#include "Site.h"

#include <cctype>
#include <charconv>
#include <string>

namespace {

constexpr std::size_t MaxNameLength = 255;

bool same(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// Words separated by blanks; the tail after a word keeps its text unchanged (stream data).
class Words
{
public:
    explicit Words(std::string_view text) : rest_(text) {}

    std::string_view next()
    {
        while (!rest_.empty() && rest_.front() == ' ')
            rest_.remove_prefix(1);
        const std::size_t end = rest_.find(' ');
        const std::string_view word = rest_.substr(0, end);
        rest_.remove_prefix(word.size());
        return word;
    }
    bool next(std::string_view keyword) { return same(next(), keyword); }
    // A name: 1 to MaxNameLength bytes.
    bool name(std::string& out)
    {
        const std::string_view w = next();
        out = w;
        return !w.empty() && w.size() <= MaxNameLength;
    }
    bool done()
    {
        while (!rest_.empty() && rest_.front() == ' ')
            rest_.remove_prefix(1);
        return rest_.empty();
    }
    // What follows the single blank after the last word read.
    std::string_view tail() const { return rest_.empty() ? rest_ : rest_.substr(1); }

private:
    std::string_view rest_;
};

// "peer:number"
bool streamId(std::string_view word, std::string& peer, int& number)
{
    const std::size_t colon = word.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > MaxNameLength)
        return false;
    const std::string_view digits = word.substr(colon + 1);
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (ec != std::errc() || end != digits.data() + digits.size() || number < 1)
        return false;
    peer = word.substr(0, colon);
    return true;
}

class Runner
{
public:
    Runner(Site& site, ClientSession& session) : site_(site), session_(session) {}

    std::uint32_t run(std::string_view text)
    {
        Words w(text);
        const std::string_view verb = w.next();
        if (same(verb, "SEARCH"))
            return w.next("FRIENDS") && w.done() ? searchFriends() : 0;
        if (same(verb, "GET"))
            return get(w);
        if (same(verb, "SET"))
            return set(w);
        if (same(verb, "CREATE") || same(verb, "DELETE"))
            return createOrDelete(w, same(verb, "CREATE"), text);
        if (same(verb, "ALTER"))
            return alter(w);
        if (same(verb, "PING"))
            return w.done() ? reply("PONG") : 0;
        return 0;
    }

private:
    std::uint32_t reply(const std::string& text)
    {
        session_.notify(text);
        return 1;
    }
    std::uint32_t refuse(const std::string& why) { return reply("ERROR 9901 " + why); }
    SiteUser& user() { return session_.user(); }

    std::uint32_t searchFriends()
    {
        std::string text = "USERS ";
        const auto& contacts = user().cfg.contacts;
        for (std::size_t i = 0; i < contacts.size(); ++i)
            text += (i ? ", " : "") + contacts[i];
        return reply(text);
    }

    std::uint32_t get(Words& w)
    {
        const std::string_view what = w.next();
        std::string name;
        if (same(what, "CURRENTUSERHANDLE"))
            return w.done() ? reply("CURRENTUSERHANDLE " + user().cfg.id) : 0;
        if (same(what, "USERSTATUS"))
            return w.done() ? reply("USERSTATUS " + user().cfg.presence) : 0;
        if (same(what, "USER")) {
            if (!w.name(name))
                return 0;
            const std::string_view property = w.next();
            if (!w.done())
                return 0;
            if (same(property, "ONLINESTATUS"))
                return reply("USER " + name + " ONLINESTATUS " + site_.onlineStatus(user(), name));
            if (same(property, "BUDDYSTATUS"))
                return reply("USER " + name + " BUDDYSTATUS " + (isContact(name) ? "3" : "0"));
            return 0;
        }
        if (same(what, "APPLICATION")) {
            if (!w.name(name))
                return 0;
            const std::string_view property = w.next();
            if (!w.done())
                return 0;
            if (same(property, "CONNECTABLE")) {
                std::string text = "APPLICATION " + name + " CONNECTABLE ";
                const auto ids = site_.connectable(user(), name);
                for (std::size_t i = 0; i < ids.size(); ++i)
                    text += (i ? " " : "") + ids[i];
                return reply(text);
            }
            if (same(property, "STREAMS")) {
                std::string why;
                const SiteApp* app = site_.ownApp(session_, name, why);
                return app ? reply(app->streamsText(name)) : refuse(why);
            }
        }
        return 0;
    }

    std::uint32_t set(Words& w)
    {
        const std::string_view what = w.next();
        std::string word;
        if (same(what, "USERSTATUS")) {
            if (!w.name(word) || !w.done())
                return 0;
            if (!normalisePresence(word))
                return refuse("SET USERSTATUS: unknown status " + word);
            site_.setPresence(user(), word);
            return 1;
        }
        if (same(what, "USER")) {
            std::string id;
            if (!w.name(id) || !w.next("BUDDYSTATUS") || w.next() != "2")
                return 0;
            if (user().cfg.contactsFromHub)
                return refuse("SET USER: contacts are the JIDs listed in the client's config");
            if (!isValidSkypeId(id) || id == user().cfg.id)
                return refuse("SET USER: cannot add " + id);
            site_.addContact(user(), id);
            return 1;
        }
        return 0;
    }

    std::uint32_t createOrDelete(Words& w, bool create, std::string_view text)
    {
        std::string app;
        if (!w.next("APPLICATION") || !w.name(app) || !w.done())
            return 0;
        std::string why;
        const bool ok =
            create ? site_.createApp(session_, app, why) : site_.deleteApp(session_, app, why);
        return ok ? reply(std::string(text)) : refuse(why);
    }

    std::uint32_t alter(Words& w)
    {
        std::string app;
        std::string peer;
        int number = 0;
        if (!w.next("APPLICATION") || !w.name(app))
            return 0;
        const std::string_view action = w.next();
        const std::string prefix = "ALTER APPLICATION " + app + " ";
        std::string why;
        if (same(action, "CONNECT")) {
            if (!w.name(peer) || !w.done())
                return 0;
            return site_.connect(session_, app, peer, why) ? reply(prefix + "CONNECT " + peer)
                                                           : refuse(why);
        }
        const std::string_view id = w.next();
        if (!streamId(id, peer, number))
            return 0;
        const std::string stream = peer + ":" + std::to_string(number);
        if (same(action, "WRITE")) {
            const std::string data(w.tail());
            return site_.write(session_, app, peer, number, data, why)
                       ? reply(prefix + "WRITE " + stream)
                       : refuse(why);
        }
        if (!w.done())
            return 0;
        if (same(action, "READ")) {
            std::string data;
            return site_.read(session_, app, peer, number, data, why)
                       ? reply(prefix + "READ " + stream + " " + data)
                       : refuse(why);
        }
        if (same(action, "DISCONNECT")) {
            return site_.disconnect(session_, app, peer, number, why)
                       ? reply(prefix + "DISCONNECT " + stream)
                       : refuse(why);
        }
        return 0;
    }

    bool isContact(const std::string& id)
    {
        for (const auto& c : user().cfg.contacts) {
            if (c == id)
                return true;
        }
        return false;
    }

    Site& site_;
    ClientSession& session_;
};

} // namespace

namespace CommandRunner {

std::uint32_t run(Site& site, ClientSession& session, std::string_view text)
{
    return Runner(site, session).run(text);
}

} // namespace CommandRunner
