#include "app/CommandLine.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace {
struct ModeOption
{
    const char* text;
    bool NodeOptions::*option;
    bool value;
    const char* help;
};

const ModeOption kModeOptions[] = {
    {"-D119", &NodeOptions::debug, true, "show diagnostic lines on the terminal"},
    {"-PASV", &NodeOptions::passive, true,
     "messaging-client streams send no periodic hello or catalog request"},
    {"-SERVER", &NodeOptions::serverOnly, true, "never dial TCP connections, only accept them"},
    {"-CLIENT", &NodeOptions::clientOnly, true, "never listen for TCP connections"},
    {"-CATALOGCASH", &NodeOptions::catalogCacheAtShutdown, true,
     "write the catalog file only at shutdown"},
    {"-NOSKYPE", &NodeOptions::messagingClient, false,
     "do not look for the desktop messaging client"},
};

const char* const kHelp = "--help";
const char* const kVersion = "--version";
const char* const kUserFolder = "--user-folder";
const char* const kSetPartyKey = "--set-party-key";
const char* const kNewPartyKey = "--new-party-key";

const ModeOption* findMode(const std::string& argument)
{
    const auto* end = std::end(kModeOptions);
    const auto* found = std::find_if(std::begin(kModeOptions), end,
                                     [&](const ModeOption& o) { return argument == o.text; });
    return found == end ? nullptr : found;
}
} // namespace

CommandLine::Result CommandLine::parse(const std::vector<std::string>& args)
{
    // Help and version win over everything else on the line, so "pavo --help -X" still helps.
    for (const std::string& a : args)
        if (a == kHelp)
            return {Action::Help, {}};
    for (const std::string& a : args)
        if (a == kVersion)
            return {Action::Version, {}};
    for (const std::string& a : args)
        if (!findMode(a) && a != kUserFolder && a != kSetPartyKey && a != kNewPartyKey)
            return {Action::Error, "unknown option '" + a + "'"};
    // Setting the key starts no node, so only the choice of the working folder goes with it.
    for (const auto& [option, action] : {std::pair{kSetPartyKey, Action::SetPartyKey},
                                         std::pair{kNewPartyKey, Action::NewPartyKey}}) {
        if (std::find(args.begin(), args.end(), option) == args.end())
            continue;
        Result result{action, {}};
        for (const std::string& a : args) {
            if (a == kUserFolder)
                result.userFolder = true;
            else if (a != option)
                return {Action::Error, "'" + a + "' does not go with " + option};
        }
        return result;
    }
    Result result;
    result.options.control = true;
    for (const std::string& a : args) {
        if (const ModeOption* mode = findMode(a))
            result.options.*(mode->option) = mode->value;
        else
            result.userFolder = true;
    }
    return result;
}

std::string CommandLine::usageLine()
{
    std::string line = "usage: pavo [--help] [--version] [--user-folder] [--set-party-key] "
                       "[--new-party-key]";
    for (const ModeOption& o : kModeOptions)
        line += std::string(" [") + o.text + "]";
    return line;
}

std::string CommandLine::helpText()
{
    std::string text =
        usageLine() +
        "\n\n"
        "Runs a Pavo node in the current folder: its settings (Pavo.ini), the\n"
        "SEND folder it registers files from, RECV for the files it receives and\n"
        "CATALOG for the shared catalog. Without a display the node runs headless.\n\n"
        "Options:\n"
        "  --help        print this text and end\n"
        "  --version     print the version and end\n"
        "  --set-party-key\n"
        "                read the party passphrase from one line of standard input,\n"
        "                store the party key for the party of Pavo.ini (an empty\n"
        "                line removes it) and end without starting the node; a\n"
        "                passphrase that is easy to guess is refused\n"
        "  --new-party-key\n"
        "                make a random party key for the party of Pavo.ini, store it,\n"
        "                print its code (for the other members' --set-party-key)\n"
        "                and end without starting the node\n";
    for (const ModeOption& o : kModeOptions) {
        std::string name = std::string("  ") + o.text;
        name.resize(std::max<std::size_t>(name.size() + 1, 16), ' ');
        text += name + o.help + "\n";
    }
    text += "\nSIGTERM and SIGHUP end the node through its orderly shutdown.\n";
    return text;
}

std::string CommandLine::userFolderPath()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/')
        return std::string(data) + "/pavo";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.local/share/pavo";
    return {};
}

std::string CommandLine::versionText()
{
    return std::string("pavo ") + PAVO_VERSION + "\n";
}

std::vector<std::string> CommandLine::modeLines(const NodeOptions& options)
{
    std::vector<std::string> lines;
    if (options.debug)
        lines.emplace_back("DEBUG_MODE ON\n");
    if (options.passive)
        lines.emplace_back("PASV_MODE ON\n");
    if (options.serverOnly)
        lines.emplace_back("SERVERONLY_MODE ON\n");
    if (options.clientOnly)
        lines.emplace_back("CLIENTONLY_MODE ON\n");
    if (options.catalogCacheAtShutdown)
        lines.emplace_back("CATALOGCASH_MODE ON\n");
    if (!options.messagingClient)
        lines.emplace_back("NO SKYPE MODE\n");
    return lines;
}
