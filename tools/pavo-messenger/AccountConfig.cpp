#include "AccountConfig.h"

#include "ConfigReader.h"
#include "UserConfig.h"

#include <algorithm>
#include <cctype>

namespace {

using Line = ConfigReader::Line;

class Parser
{
public:
    Parser(const std::string& base, AccountConfig& out) : base_(base), out_(out) {}

    bool line(const Line& l, std::string& error)
    {
        if (l.section)
            return l.value == "account" || fail(error, "the only section is [account]");
        return setting(l.key, l.value, error);
    }

private:
    bool setting(const std::string& key, std::string_view value, std::string& error)
    {
        if (value.empty())
            return fail(error, key + " needs a value");
        if (key == "jid") {
            if (!isUsableBareJid(value))
                return fail(error, "\"" + std::string(value) +
                                       "\" is not a bare JID of at most 31 letters, digits "
                                       "and . _ - +");
            out_.jid = ConfigReader::lower(value);
        } else if (key == "password-file") {
            out_.passwordFile = ConfigReader::path(base_, value);
        } else if (key == "password") {
            if (ConfigReader::lower(value) != "secret-service")
                return fail(error, "password is \"secret-service\"; a password itself goes into "
                                   "a password-file of mode 0600");
            out_.passwordInKeyring = true;
        } else if (key == "server") {
            out_.server = value;
        } else if (key == "port") {
            if (!ConfigReader::number(value, 1, 65535, out_.port))
                return fail(error, "port is a number from 1 to 65535");
        } else if (key == "tls") {
            const std::string v = ConfigReader::lower(value);
            if (v != "starttls" && v != "direct")
                return fail(error, "tls is starttls or direct");
            out_.directTls = v == "direct";
        } else if (key == "ca-file") {
            out_.caFile = ConfigReader::path(base_, value);
        } else if (key == "contacts") {
            return contacts(value, error);
        } else if (key == "presence") {
            out_.presence = value;
            if (!normalisePresence(out_.presence))
                return fail(error, "unknown presence \"" + std::string(value) + "\"");
        } else if (key == "runtime") {
            out_.runtimeFolder = ConfigReader::path(base_, value);
        } else {
            return fail(error, "unknown key \"" + key + "\"");
        }
        return true;
    }

    bool contacts(std::string_view value, std::string& error)
    {
        return ConfigReader::items(value, [&](std::string item) {
            if (!isUsableBareJid(item))
                return fail(error, "contact \"" + item + "\" is not a usable bare JID");
            item = ConfigReader::lower(item);
            if (std::find(out_.contacts.begin(), out_.contacts.end(), item) == out_.contacts.end())
                out_.contacts.push_back(item);
            return true;
        });
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
    Parser parser(baseFolder, out);
    if (!ConfigReader::parse(
            text, [&](const Line& line, std::string& why) { return parser.line(line, why); },
            error))
        return false;
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
    ConfigReader file;
    if (!file.load(path, error))
        return false;
    if (!parseAccountConfig(file.text(), file.base(), defaultRuntime, out, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}
