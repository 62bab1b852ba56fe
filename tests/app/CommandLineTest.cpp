#include "app/CommandLine.h"

#include "app/NodeOptions.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>

namespace {
// The six options in table order: debug, passive, server only, client only, catalog cache at
// shutdown, messaging client.
std::array<bool, 6> flags(const NodeOptions& o)
{
    return {o.debug,          o.passive, o.serverOnly, o.clientOnly, o.catalogCacheAtShutdown,
            o.messagingClient};
}
} // namespace

TEST(CommandLine, ActionsAndOptionsForEachLine)
{
    using A = CommandLine::Action;
    struct Case
    {
        std::vector<std::string> args;
        A action;
        std::array<bool, 6> flags;
    };
    const std::array<bool, 6> none{0, 0, 0, 0, 0, 1};
    const Case cases[] = {
        {{}, A::Run, none},
        {{"-D119", "-PASV", "-SERVER", "-CLIENT", "-CATALOGCASH", "-NOSKYPE"},
         A::Run,
         {1, 1, 1, 1, 1, 0}},
        {{"-CLIENT", "-CLIENT"}, A::Run, {0, 0, 0, 1, 0, 1}},
        {{"--help"}, A::Help, none},
        {{"-D119", "--help", "--bogus"}, A::Help, none},
        {{"--version"}, A::Version, none},
        {{"-NOSKYPE", "--version"}, A::Version, none},
        // Case and added characters make another word, which is refused; no option is set.
        {{"-D119", "-d119"}, A::Error, none},
        {{"-PASV2"}, A::Error, none},
        {{"-h"}, A::Error, none},
        {{"file.txt"}, A::Error, none},
        {{""}, A::Error, none},
        // Setting the party key starts no node: no mode option goes with it.
        {{"--set-party-key"}, A::SetPartyKey, none},
        {{"--user-folder", "--set-party-key"}, A::SetPartyKey, none},
        {{"--set-party-key", "-D119"}, A::Error, none},
        {{"--set-party-key", "--help"}, A::Help, none},
        {{"--new-party-key"}, A::NewPartyKey, none},
        {{"--new-party-key", "--user-folder"}, A::NewPartyKey, none},
        {{"--new-party-key", "--set-party-key"}, A::Error, none},
        {{"-CLIENT", "--new-party-key"}, A::Error, none},
    };
    for (const Case& c : cases) {
        const CommandLine::Result r = CommandLine::parse(c.args);
        const std::string line = c.args.empty() ? "(none)" : c.args.front();
        EXPECT_EQ(r.action, c.action) << line;
        EXPECT_EQ(flags(r.options), c.flags) << line;
        EXPECT_EQ(r.error.empty(), c.action != A::Error) << line;
    }
}

TEST(CommandLine, ErrorNamesTheArgumentAndUsageListsEveryOption)
{
    EXPECT_NE(CommandLine::parse({"-PASV2"}).error.find("'-PASV2'"), std::string::npos);
    const std::string usage = CommandLine::usageLine();
    for (const char* option : {"--help", "--version", "-D119", "-PASV", "-SERVER", "-CLIENT",
                               "-CATALOGCASH", "-NOSKYPE"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    EXPECT_EQ(CommandLine::helpText().rfind(usage, 0), 0u);
}

TEST(CommandLine, ModeLinesFollowTheOptionOrder)
{
    EXPECT_TRUE(CommandLine::modeLines(NodeOptions{}).empty());
    const CommandLine::Result r = CommandLine::parse({"-NOSKYPE", "-CLIENT", "-D119", "-SERVER"});
    ASSERT_EQ(r.action, CommandLine::Action::Run);
    EXPECT_EQ(CommandLine::modeLines(r.options),
              (std::vector<std::string>{"DEBUG_MODE ON\n", "SERVERONLY_MODE ON\n",
                                        "CLIENTONLY_MODE ON\n", "NO SKYPE MODE\n"}));
}

TEST(CommandLine, UserFolderIsAnOptionAndFollowsXdgDataHome)
{
    const CommandLine::Result r = CommandLine::parse({"--user-folder", "-NOSKYPE"});
    EXPECT_EQ(r.action, CommandLine::Action::Run);
    EXPECT_TRUE(r.userFolder);
    EXPECT_FALSE(r.options.messagingClient);
    EXPECT_FALSE(CommandLine::parse({"-NOSKYPE"}).userFolder);

    struct Case
    {
        const char* data; // nullptr: unset
        const char* home;
        const char* folder;
    };
    const Case cases[] = {
        {"/d", "/h", "/d/pavo"},
        {nullptr, "/h", "/h/.local/share/pavo"},
        {"relative", "/h", "/h/.local/share/pavo"}, // a relative value is to be ignored
        {nullptr, nullptr, ""},
    };
    const std::string savedData = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
    const bool hadData = std::getenv("XDG_DATA_HOME") != nullptr;
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    for (const Case& c : cases) {
        c.data ? ::setenv("XDG_DATA_HOME", c.data, 1) : ::unsetenv("XDG_DATA_HOME");
        c.home ? ::setenv("HOME", c.home, 1) : ::unsetenv("HOME");
        EXPECT_EQ(CommandLine::userFolderPath(), c.folder);
    }
    hadData ? ::setenv("XDG_DATA_HOME", savedData.c_str(), 1) : ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", savedHome.c_str(), 1);
}
