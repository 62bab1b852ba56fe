#include "LocalConfig.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace {

std::string_view trim(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool parseMs(std::string_view value, int& out)
{
    int v = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
    if (ec != std::errc() || end != value.data() + value.size() || v < 0 || v > 86400000)
        return false;
    out = v;
    return true;
}

// Contacts are separated by commas, blanks or both.
bool parseContacts(std::string_view value, std::vector<std::string>& out, std::string& bad)
{
    std::string item;
    auto flush = [&] {
        if (item.empty())
            return true;
        if (!isValidSkypeId(item)) {
            bad = item;
            return false;
        }
        if (std::find(out.begin(), out.end(), item) == out.end())
            out.push_back(item);
        item.clear();
        return true;
    };
    for (char c : value) {
        if (c == ',' || std::isspace(static_cast<unsigned char>(c))) {
            if (!flush())
                return false;
        } else {
            item += c;
        }
    }
    return flush();
}

class Parser
{
public:
    Parser(const std::string& base, const std::string& defaultRuntime, LocalConfig& out)
        : base_(base), defaultRuntime_(defaultRuntime), out_(out)
    {
    }

    bool line(std::string_view raw, std::string& error)
    {
        std::string_view s = trim(raw);
        if (s.empty() || s.front() == '#' || s.front() == ';')
            return true;
        if (s.front() == '[') {
            if (s.back() != ']')
                return fail(error, "a section line ends in \"]\"");
            const std::string id(trim(s.substr(1, s.size() - 2)));
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
        const std::size_t eq = s.find('=');
        if (eq == std::string_view::npos)
            return fail(error, "expected key = value");
        return setting(lower(trim(s.substr(0, eq))), trim(s.substr(eq + 1)), error);
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
            u.runtimeFolder =
                value.front() == '/' ? std::string(value) : base_ + "/" + std::string(value);
        } else if (key == "contacts") {
            std::string bad;
            if (!parseContacts(value, u.contacts, bad))
                return fail(error, "\"" + bad + "\" is not a valid Skype ID");
        } else if (key == "presence") {
            u.presence = value;
            if (!normalisePresence(u.presence))
                return fail(error, "unknown presence \"" + std::string(value) + "\"");
        } else if (key == "attach") {
            const std::string v = lower(value);
            if (v == "accept")
                u.attach = AttachAnswer::Accept;
            else if (v == "refuse")
                u.attach = AttachAnswer::Refuse;
            else if (v == "unavailable")
                u.attach = AttachAnswer::Unavailable;
            else
                return fail(error, "attach is accept, refuse or unavailable");
        } else if (key == "available-after") {
            if (!parseMs(value, u.availableAfterMs))
                return fail(error, "available-after is a number of milliseconds");
        } else if (key == "authorise-after") {
            if (!parseMs(value, u.authoriseAfterMs))
                return fail(error, "authorise-after is a number of milliseconds");
        } else {
            return fail(error, "unknown key \"" + key + "\"");
        }
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

bool isValidSkypeId(std::string_view id)
{
    if (id.empty() || id.size() > 31)
        return false;
    return std::all_of(id.begin(), id.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
    });
}

bool normalisePresence(std::string& word)
{
    static const char* const known[] = {"ONLINE",  "AWAY",      "DND",    "NA",
                                        "SKYPEME", "INVISIBLE", "OFFLINE"};
    std::string upper = word;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* k : known) {
        if (upper == k) {
            word = upper;
            return true;
        }
    }
    return false;
}

bool parseLocalConfig(std::string_view text, const std::string& baseFolder,
                      const std::string& defaultRuntime, LocalConfig& out, std::string& error)
{
    out = {};
    Parser parser(baseFolder, defaultRuntime, out);
    int number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        if (!parser.line(line, error)) {
            error = "line " + std::to_string(number) + ": " + error;
            return false;
        }
    }
    if (out.users.empty()) {
        error = "no [user] section";
        return false;
    }
    return parser.finish(error);
}

bool loadLocalConfig(const std::string& path, const std::string& defaultRuntime, LocalConfig& out,
                     std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::error_code ec;
    const std::string base = std::filesystem::absolute(path, ec).parent_path().string();
    if (!parseLocalConfig(text.str(), base, defaultRuntime, out, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}
