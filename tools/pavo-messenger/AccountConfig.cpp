#include "AccountConfig.h"

#include "LocalConfig.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
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

class Parser
{
public:
    Parser(const std::string& base, AccountConfig& out) : base_(base), out_(out) {}

    bool line(std::string_view raw, std::string& error)
    {
        const std::string_view s = trim(raw);
        if (s.empty() || s.front() == '#' || s.front() == ';' || s == "[account]")
            return true;
        const std::size_t eq = s.find('=');
        if (eq == std::string_view::npos)
            return fail(error, "expected key = value");
        return setting(lower(trim(s.substr(0, eq))), trim(s.substr(eq + 1)), error);
    }

private:
    std::string path(std::string_view value) const
    {
        return value.front() == '/' ? std::string(value) : base_ + "/" + std::string(value);
    }

    bool setting(const std::string& key, std::string_view value, std::string& error)
    {
        if (value.empty())
            return fail(error, key + " needs a value");
        if (key == "jid") {
            if (!isUsableBareJid(value))
                return fail(error, "\"" + std::string(value) +
                                       "\" is not a bare JID of at most 31 letters, digits "
                                       "and . _ - +");
            out_.jid = lower(value);
        } else if (key == "password-file") {
            out_.passwordFile = path(value);
        } else if (key == "password") {
            if (lower(value) != "secret-service")
                return fail(error, "password is \"secret-service\"; a password itself goes into "
                                   "a password-file of mode 0600");
            out_.passwordInKeyring = true;
        } else if (key == "server") {
            out_.server = value;
        } else if (key == "port") {
            int v = 0;
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
            if (ec != std::errc() || end != value.data() + value.size() || v < 1 || v > 65535)
                return fail(error, "port is a number from 1 to 65535");
            out_.port = v;
        } else if (key == "tls") {
            const std::string v = lower(value);
            if (v != "starttls" && v != "direct")
                return fail(error, "tls is starttls or direct");
            out_.directTls = v == "direct";
        } else if (key == "ca-file") {
            out_.caFile = path(value);
        } else if (key == "contacts") {
            return contacts(value, error);
        } else if (key == "presence") {
            out_.presence = value;
            if (!normalisePresence(out_.presence))
                return fail(error, "unknown presence \"" + std::string(value) + "\"");
        } else if (key == "runtime") {
            out_.runtimeFolder = path(value);
        } else {
            return fail(error, "unknown key \"" + key + "\"");
        }
        return true;
    }

    // Separated by commas, blanks or both.
    bool contacts(std::string_view value, std::string& error)
    {
        std::string item;
        auto flush = [&] {
            if (item.empty())
                return true;
            if (!isUsableBareJid(item))
                return fail(error, "contact \"" + item + "\" is not a usable bare JID");
            item = lower(item);
            if (std::find(out_.contacts.begin(), out_.contacts.end(), item) == out_.contacts.end())
                out_.contacts.push_back(item);
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

    static bool fail(std::string& error, const std::string& what)
    {
        error = what;
        return false;
    }

    const std::string& base_;
    AccountConfig& out_;
};

bool localChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-' ||
           c == '+';
}

bool domainChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
}

} // namespace

bool isUsableBareJid(std::string_view jid)
{
    const std::size_t at = jid.find('@');
    if (jid.size() > 31 || at == std::string_view::npos || at == 0 || at + 1 == jid.size())
        return false;
    const std::string_view local = jid.substr(0, at);
    const std::string_view domain = jid.substr(at + 1);
    return std::all_of(local.begin(), local.end(), localChar) &&
           std::all_of(domain.begin(), domain.end(), domainChar) && domain.front() != '.' &&
           domain.back() != '.';
}

bool parseAccountConfig(std::string_view text, const std::string& baseFolder,
                        const std::string& defaultRuntime, AccountConfig& out, std::string& error)
{
    out = {};
    error.clear();
    Parser parser(baseFolder, out);
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
    if (out.jid.empty())
        error = "no jid";
    else if (out.passwordFile.empty() == !out.passwordInKeyring)
        error = "name the password with either password-file or password = secret-service";
    else if (std::find(out.contacts.begin(), out.contacts.end(), out.jid) != out.contacts.end())
        error = "the account's own JID is listed as a contact";
    if (!error.empty())
        return false;
    if (out.runtimeFolder.empty())
        out.runtimeFolder = defaultRuntime;
    return true;
}

bool loadAccountConfig(const std::string& path, const std::string& defaultRuntime,
                       AccountConfig& out, std::string& error)
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
    if (!parseAccountConfig(text.str(), base, defaultRuntime, out, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}
