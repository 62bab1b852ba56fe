#include "LocalConfig.h"

#include "ConfigReader.h"

#include <algorithm>
#include <set>

namespace {

using Line = ConfigReader::Line;

class Parser
{
public:
    Parser(const std::string& base, const std::string& defaultRuntime, LocalConfig& out)
        : base_(base), defaultRuntime_(defaultRuntime), out_(out)
    {
    }

    bool line(const Line& l, std::string& error)
    {
        if (l.section) {
            const std::string id(l.value);
            if (!isValidSkypeId(id))
                return fail(error, "\"" + id + "\" is not a valid Skype ID");
            for (const auto& u : out_.users) {
                if (u.id == id)
                    return fail(error, "user \"" + id + "\" appears twice");
            }
            out_.users.push_back({});
            out_.users.back().id = id;
            return true;
        }
        if (out_.users.empty())
            return fail(error, "a setting before the first [user] section");
        return setting(l.key, l.value, error);
    }

    bool finish(std::string& error)
    {
        std::set<std::string> folders;
        for (auto& u : out_.users) {
            if (u.runtimeFolder.empty())
                u.runtimeFolder = defaultRuntime_;
            if (!folders.insert(u.runtimeFolder).second) {
                error = "users share the runtime folder " + u.runtimeFolder;
                return false;
            }
        }
        return true;
    }

private:
    bool setting(const std::string& key, std::string_view value, std::string& error)
    {
        UserConfig& u = out_.users.back();
        if (key == "runtime") {
            if (value.empty())
                return fail(error, "runtime needs a folder");
            u.runtimeFolder = ConfigReader::path(base_, value);
        } else if (key == "contacts") {
            return ConfigReader::items(value, [&](std::string item) {
                if (!isValidSkypeId(item))
                    return fail(error, "\"" + item + "\" is not a valid Skype ID");
                if (std::find(u.contacts.begin(), u.contacts.end(), item) == u.contacts.end())
                    u.contacts.push_back(item);
                return true;
            });
        } else if (key == "presence") {
            u.presence = value;
            if (!normalisePresence(u.presence))
                return fail(error, "unknown presence \"" + std::string(value) + "\"");
        } else if (key == "attach") {
            return attach(ConfigReader::lower(value), u, error);
        } else if (key == "available-after") {
            if (!ConfigReader::number(value, 0, 86400000, u.availableAfterMs))
                return fail(error, "available-after is a number of milliseconds");
        } else if (key == "authorise-after") {
            if (!ConfigReader::number(value, 0, 86400000, u.authoriseAfterMs))
                return fail(error, "authorise-after is a number of milliseconds");
        } else {
            return fail(error, "unknown key \"" + key + "\"");
        }
        return true;
    }

    static bool attach(const std::string& v, UserConfig& u, std::string& error)
    {
        if (v == "accept")
            u.attach = AttachAnswer::Accept;
        else if (v == "refuse")
            u.attach = AttachAnswer::Refuse;
        else if (v == "unavailable")
            u.attach = AttachAnswer::Unavailable;
        else
            return fail(error, "attach is accept, refuse or unavailable");
        return true;
    }

    static bool fail(std::string& error, const std::string& what)
    {
        error = what;
        return false;
    }

    const std::string& base_;
    const std::string& defaultRuntime_;
    LocalConfig& out_;
};

} // namespace

bool parseLocalConfig(std::string_view text, const std::string& baseFolder,
                      const std::string& defaultRuntime, LocalConfig& out, std::string& error)
{
    out = {};
    Parser parser(baseFolder, defaultRuntime, out);
    if (!ConfigReader::parse(
            text, [&](const Line& line, std::string& why) { return parser.line(line, why); },
            error))
        return false;
    if (out.users.empty()) {
        error = "no [user] section";
        return false;
    }
    return parser.finish(error);
}

bool loadLocalConfig(const std::string& path, const std::string& defaultRuntime, LocalConfig& out,
                     std::string& error)
{
    ConfigReader file;
    if (!file.load(path, error))
        return false;
    if (!parseLocalConfig(file.text(), file.base(), defaultRuntime, out, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}
