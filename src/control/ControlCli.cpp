#include "control/ControlCli.h"

#include "app/FileCopier.h"
#include "control/CliFormat.h"
#include "control/ControlClient.h"
#include "control/ControlPath.h"
#include "control/ControlReply.h"
#include "control/TerminalProgress.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>

namespace {
constexpr int kRequestMs = 60000;

QString key(const char* name)
{
    return QString::fromLatin1(name);
}

std::string str(const QJsonObject& o, const char* name)
{
    return o.value(key(name)).toString().toStdString();
}

// What one run of a command works with.
struct Session
{
    ControlClient client;
    const ControlCli::Translate& translate;
    std::string command;
    bool json = false;

    // A failure of the command line itself: "pavo <command>: text".
    int fail(const std::string& text) const
    {
        std::fprintf(stderr, "pavo %s: %s\n", command.c_str(), text.c_str());
        return ControlCli::kFailed;
    }

    // The node's refusal in the user's language (about subject, when given); questions name the
    // options that answer them.
    int refusal(const QJsonObject& error, const std::string& subject = {}) const
    {
        std::vector<std::string> args;
        for (const QJsonValue& a : error.value(key("args")).toArray())
            args.push_back(a.toString().toStdString());
        std::string text = ControlReply::fill(translate(str(error, "pattern")), args);
        std::replace(text.begin(), text.end(), '\r', ' ');
        std::fprintf(stderr, "pavo %s: %s%s%s\n", command.c_str(), subject.c_str(),
                     subject.empty() ? "" : ": ", text.c_str());
        const QJsonArray flags = error.value(key("flags")).toArray();
        if (!flags.isEmpty()) {
            std::string names;
            for (const QJsonValue& f : flags)
                names += (names.empty() ? "" : " or ") + f.toString().toStdString();
            std::fprintf(stderr, "(the window asks this; answer with %s)\n", names.c_str());
        }
        return str(error, "kind") == "usage" ? ControlCli::kUsage : ControlCli::kFailed;
    }

    // Sends request; the result, or none after the failure has been told.
    std::optional<QJsonObject> ask(const QJsonObject& request, int* status)
    {
        std::string why;
        const std::optional<QJsonObject> reply = client.request(request, kRequestMs, &why);
        if (!reply) {
            *status = fail(why);
            return std::nullopt;
        }
        if (json)
            print(*reply);
        if (!reply->value(key("ok")).toBool()) {
            *status = refusal(reply->value(key("error")).toObject());
            return std::nullopt;
        }
        *status = ControlCli::kOk;
        return reply->value(key("result")).toObject();
    }

    static void print(const QJsonObject& o)
    {
        std::fputs(QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString().c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
};

QJsonObject command(const char* name)
{
    QJsonObject o;
    o[key("cmd")] = key(name);
    return o;
}

// Copies with the progress on standard error; false after the failure has been told.
bool copyWithProgress(Session& s, const std::string& from, const std::string& to, bool replace)
{
    TerminalProgress progress(stderr, std::filesystem::path(to).filename().string(), replace);
    FileCopier copier(&progress);
    if (std::filesystem::exists(to) && !replace) {
        s.fail(to + " exists (--force replaces it)");
        return false;
    }
    if (copier.copy(from, to) != FileCopier::Result::Ok) {
        s.fail("copying " + from + " to " + to + " failed: " + copier.failure());
        return false;
    }
    return true;
}

int status(Session& s, const ControlCli::Parsed&)
{
    int rc = 0;
    if (const auto result = s.ask(command("status"), &rc); result && !s.json)
        std::fputs(CliFormat::statusText(*result).c_str(), stdout);
    return rc;
}

int list(Session& s, const ControlCli::Parsed& p)
{
    QJsonObject request = command("ls");
    for (const char* flag : {"own", "received", "complete", "incomplete", "deleted"})
        if (p.has(std::string("--") + flag))
            request[key(flag)] = true;
    if (p.has("--origin"))
        request[key("origin")] = ControlReply::qs(p.value("--origin"));
    if (!p.args.empty())
        request[key("file")] = ControlReply::qs(p.args.front());
    int rc = 0;
    if (const auto result = s.ask(request, &rc); result && !s.json)
        std::fputs(CliFormat::entriesTable(*result).c_str(), stdout);
    return rc;
}

int reportAdded(Session& s, const QJsonObject& item, bool replace)
{
    const std::string action = str(item, "action");
    const std::string path = str(item, "path");
    if (action == "refused")
        return s.refusal(item.value(key("error")).toObject(), path);
    if (action == "copy" && !copyWithProgress(s, path, str(item, "to"), replace))
        return ControlCli::kFailed;
    if (s.json)
        return ControlCli::kOk;
    if (action == "already")
        std::printf("%s\n", s.translate(str(item, "text")).c_str());
    else
        std::printf("%s  %s -> %s\n", action == "link" ? "linked" : "copied", path.c_str(),
                    str(item, "to").c_str());
    return ControlCli::kOk;
}

int add(Session& s, const ControlCli::Parsed& p)
{
    if (p.has("--copy") && p.has("--link"))
        return s.fail("--copy and --link exclude each other");
    QJsonObject request = command("add");
    QJsonArray paths;
    for (const std::string& a : p.args)
        paths.append(ControlReply::qs(std::filesystem::absolute(a).lexically_normal().string()));
    request[key("paths")] = paths;
    request[key("method")] = p.has("--copy") ? key("copy") : key("link");
    request[key("rename")] = p.has("--rename");
    int rc = 0;
    const auto result = s.ask(request, &rc);
    if (!result)
        return rc;
    for (const QJsonValue& item : result->value(key("items")).toArray())
        rc = std::max(rc, reportAdded(s, item.toObject(), p.has("--force")));
    return rc;
}

QJsonObject fileRequest(const char* name, const ControlCli::Parsed& p)
{
    QJsonObject request = command(name);
    request[key("file")] = ControlReply::qs(p.args.front());
    if (p.has("--origin"))
        request[key("origin")] = ControlReply::qs(p.value("--origin"));
    return request;
}

int remove(Session& s, const ControlCli::Parsed& p)
{
    if (p.has("--everywhere") && p.has("--here"))
        return s.fail("--everywhere and --here exclude each other");
    QJsonObject request = fileRequest("rm", p);
    for (const char* flag : {"everywhere", "here", "force"})
        request[key(flag)] = p.has(std::string("--") + flag);
    int rc = 0;
    if (const auto result = s.ask(request, &rc); result && !s.json)
        std::printf("%s  %s (%s)\n",
                    result->value(key("everywhere")).toBool() ? "withdrawn" : "deleted here",
                    str(*result, "file").c_str(), str(*result, "origin").c_str());
    return rc;
}

int get(Session& s, const ControlCli::Parsed& p)
{
    int rc = 0;
    const auto result = s.ask(fileRequest("get", p), &rc);
    if (!result)
        return rc;
    const std::string folder = p.has("--to") ? p.value("--to") : std::string(".");
    if (!std::filesystem::is_directory(folder))
        return s.fail(folder + " is no folder");
    const std::string to = (std::filesystem::path(folder) / str(*result, "file")).string();
    if (!copyWithProgress(s, str(*result, "from"), to, p.has("--force")))
        return ControlCli::kFailed;
    if (!s.json)
        std::printf("taken out  %s\n", to.c_str());
    return ControlCli::kOk;
}

int simple(Session& s, const ControlCli::Parsed& p)
{
    QJsonObject request = command(s.command.c_str());
    if (!p.args.empty())
        request[key("name")] = ControlReply::qs(p.args.front());
    int rc = 0;
    if (const auto result = s.ask(request, &rc); result && !s.json && !result->isEmpty())
        std::fputs(CliFormat::statusText(*result).c_str(), stdout);
    return rc;
}

int connections(Session& s, const ControlCli::Parsed& p)
{
    const std::string action = p.args.empty() ? "list" : p.args.front();
    const std::size_t want = action == "add"      ? (p.has("--skype") ? 1 : 3)
                             : action == "rm"     ? 2
                             : action == "rename" ? 3
                                                  : 1;
    if (action != "list" && action != "add" && action != "rm" && action != "rename")
        return s.fail("unknown action '" + action + "' (list, add, rm, rename)") + 1;
    if (p.args.size() != want && !(action == "list" && p.args.empty()))
        return s.fail("wrong number of arguments; see 'pavo connections --help'") + 1;
    if (action == "list")
        return status(s, p);
    QJsonObject request = command("connections");
    request[key("action")] = ControlReply::qs(action);
    if (action == "add" && p.has("--skype")) {
        request[key("method")] = key("SKYPE");
        request[key("address")] = ControlReply::qs(p.value("--skype"));
    } else if (action == "add") {
        request[key("method")] = key("TCP");
        request[key("name")] = ControlReply::qs(p.args[1]);
        request[key("address")] = ControlReply::qs(p.args[2]);
    } else {
        request[key("name")] = ControlReply::qs(p.args[1]);
        if (action == "rename")
            request[key("new")] = ControlReply::qs(p.args[2]);
    }
    if (p.has("--comment"))
        request[key("comment")] = ControlReply::qs(p.value("--comment"));
    int rc = 0;
    if (const auto result = s.ask(request, &rc); result && !s.json)
        std::fputs(CliFormat::statusText(*result).c_str(), stdout);
    return rc;
}

int set(Session& s, const ControlCli::Parsed& p)
{
    QJsonObject request = command("set");
    for (const std::string& a : p.args) {
        const auto eq = a.find('=');
        const std::string name = a.substr(0, eq);
        if (eq == std::string::npos || (name != "party" && name != "node" && name != "days" &&
                                        name != "port" && name != "window"))
            return s.fail("'" + a +
                          "' is not KEY=VALUE with a key of party, node, days, port, "
                          "window") +
                   1;
        request[ControlReply::qs(name)] = ControlReply::qs(a.substr(eq + 1));
    }
    int rc = 0;
    if (const auto result = s.ask(request, &rc); result && !s.json)
        std::fputs(CliFormat::statusText(*result).c_str(), stdout);
    return rc;
}

std::string clockNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

int watch(Session& s, const ControlCli::Parsed&)
{
    int rc = 0;
    if (!s.ask(command("watch"), &rc))
        return rc;
    if (!s.json) {
        std::printf("watching; Ctrl-C ends\n");
        std::fflush(stdout);
    }
    std::string why;
    while (const auto event = s.client.next(-1, &why)) {
        if (s.json)
            Session::print(*event);
        else
            std::printf("%s  %s\n", clockNow().c_str(), CliFormat::eventLine(*event).c_str());
        std::fflush(stdout);
    }
    return s.fail(why);
}
} // namespace

struct ControlCli::Spec
{
    const char* name;
    const char* usage;
    const char* help;
    std::vector<std::string> flags;  // options without a value
    std::vector<std::string> valued; // options with a value
    std::size_t minArgs;
    std::size_t maxArgs;
    int (*run)(Session&, const Parsed&);
};

namespace {
constexpr std::size_t kMany = 1000000;

const std::vector<ControlCli::Spec>& specs()
{
    static const std::vector<ControlCli::Spec> all = {
        {"status",
         "pavo status [--json]",
         "The node's party, name, on-line state, listening port and each connection.",
         {"--json"},
         {},
         0,
         0,
         status},
        {"ls",
         "pavo ls [--origin NODE] [--own|--received] [--complete|--incomplete] [--deleted] "
         "[--json] [FILE]",
         "The catalog: origin, file, size, progress, rate, time left and expiry of each entry.",
         {"--json", "--own", "--received", "--complete", "--incomplete", "--deleted"},
         {"--origin"},
         0,
         1,
         list},
        {"add",
         "pavo add [--link|--copy] [--rename] [--force] [--json] FILE...",
         "Registers files as a drop on the window does: a shortcut to each (--link, the default)\n"
         "or a copy (--copy) in SEND. --rename copies a file whose name cannot be sent under a\n"
         "name that replaces those characters; --force replaces an earlier copy.",
         {"--json", "--link", "--copy", "--rename", "--force"},
         {},
         1,
         kMany,
         add},
        {"rm",
         "pavo rm [--origin NODE] [--everywhere|--here] [--force] [--json] FILE",
         "Withdraws an own registration from every node (--everywhere) or deletes it here\n"
         "(--here); another node's file, or a management file, is deleted here with --force.",
         {"--json", "--everywhere", "--here", "--force"},
         {"--origin"},
         1,
         1,
         remove},
        {"get",
         "pavo get [--origin NODE] [--to FOLDER] [--force] [--json] FILE",
         "Takes a received file out into FOLDER (the current one by default), showing progress.",
         {"--json", "--force"},
         {"--origin", "--to"},
         1,
         1,
         get},
        {"online",
         "pavo online [--json]",
         "Goes on-line: listens and connects the peers.",
         {"--json"},
         {},
         0,
         0,
         simple},
        {"offline",
         "pavo offline [--json]",
         "Goes off-line: stops listening, drops the peers.",
         {"--json"},
         {},
         0,
         0,
         simple},
        {"connect",
         "pavo connect [--json] NAME",
         "Dials one configured connection now.",
         {"--json"},
         {},
         1,
         1,
         simple},
        {"disconnect",
         "pavo disconnect [--json] NAME",
         "Drops one connection.",
         {"--json"},
         {},
         1,
         1,
         simple},
        {"connections",
         "pavo connections [list | add NAME HOST[/PORT] | add --skype ID | rm NAME |\n"
         "                  rename NAME NEW] [--comment TEXT] [--json]",
         "Lists, adds, removes or renames the configured connections (not while one is\n"
         "connected).",
         {"--json"},
         {"--comment", "--skype"},
         0,
         3,
         connections},
        {"set",
         "pavo set [--json] KEY=VALUE...",
         "Sets system properties: party, node, days (expiry), port (listen port),\n"
         "window (open or closed at start), with the settings dialog's checks.",
         {"--json"},
         {},
         1,
         5,
         set},
        {"watch",
         "pavo watch [--json]",
         "Follows the node's events (registrations, arrivals, deletions, connections) until\n"
         "interrupted; one line each, or JSON lines.",
         {"--json"},
         {},
         0,
         0,
         watch},
    };
    return all;
}

const ControlCli::Spec* findSpec(const std::string& name)
{
    for (const ControlCli::Spec& s : specs())
        if (name == s.name)
            return &s;
    return nullptr;
}

bool contains(const std::vector<std::string>& list, const std::string& item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

// The arguments after the command; false with the message in *error.
bool parse(const ControlCli::Spec& spec, const std::vector<std::string>& args,
           ControlCli::Parsed* out, std::string* error)
{
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() > 1 && a[0] == '-' && a != "--") {
            if (contains(spec.flags, a)) {
                out->options[a];
            } else if (contains(spec.valued, a) && i + 1 < args.size()) {
                out->options[a] = args[++i];
            } else {
                *error =
                    contains(spec.valued, a) ? a + " needs a value" : "unknown option '" + a + "'";
                return false;
            }
        } else {
            out->args.push_back(a == "--" && i + 1 < args.size() ? args[++i] : a);
        }
    }
    if (out->args.size() < spec.minArgs || out->args.size() > spec.maxArgs) {
        *error = out->args.size() < spec.minArgs ? "missing argument" : "too many arguments";
        return false;
    }
    return true;
}
} // namespace

std::string ControlCli::Parsed::value(const std::string& option) const
{
    const auto it = options.find(option);
    return it == options.end() ? std::string() : it->second;
}

bool ControlCli::isCommand(const std::string& firstArgument)
{
    return !firstArgument.empty() && firstArgument[0] != '-';
}

std::string ControlCli::commandsHelp()
{
    std::string text = "\nCommands for the node that runs for this user (pavo COMMAND --help):\n";
    for (const Spec& s : specs())
        text += std::string("  ") + s.usage + "\n";
    return text;
}

int ControlCli::run(const std::vector<std::string>& args, const Translate& translate)
{
    const Spec* spec = findSpec(args.front());
    if (!spec) {
        std::fprintf(stderr, "pavo: '%s' is not a pavo command; see 'pavo --help'\n",
                     args.front().c_str());
        return kUsage;
    }
    if (contains(args, "--help")) {
        std::printf("usage: %s\n\n%s\n", spec->usage, spec->help);
        return kOk;
    }
    Parsed parsed;
    std::string error;
    if (!parse(*spec, args, &parsed, &error)) {
        std::fprintf(stderr, "pavo %s: %s\nusage: %s\n", spec->name, error.c_str(), spec->usage);
        return kUsage;
    }
    return runCommand(*spec, parsed, translate);
}

int ControlCli::runCommand(const Spec& spec, const Parsed& parsed, const Translate& translate)
{
    Session session{{}, translate, spec.name, parsed.has("--json")};
    std::string why;
    const std::string path = ControlPath::socketPath(&why);
    if (path.empty() || !session.client.connect(path, &why))
        return session.fail(why);
    return spec.run(session, parsed);
}
