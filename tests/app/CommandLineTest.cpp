#include "app/CommandLine.h"

#include "app/ModeFlags.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>

namespace {
// The six flags in table order; restored after each case.
std::array<int*, 6> flags()
{
    return {&debugMode, &pasvMode, &serverOnlyMode, &clientOnlyMode, &catalogCashMode, &skypeMode};
}

class FlagsGuard
{
public:
    FlagsGuard()
    {
        for (std::size_t i = 0; i < m_saved.size(); ++i)
            m_saved[i] = *flags()[i];
    }
    ~FlagsGuard()
    {
        for (std::size_t i = 0; i < m_saved.size(); ++i)
            *flags()[i] = m_saved[i];
    }
    static void reset()
    {
        for (int* f : flags())
            *f = 0;
        skypeMode = 1;
    }

private:
    std::array<int, 6> m_saved{};
};

std::array<int, 6> current()
{
    std::array<int, 6> values{};
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = *flags()[i];
    return values;
}
} // namespace

TEST(CommandLine, ActionsAndFlagsForEachLine)
{
    using A = CommandLine::Action;
    struct Case
    {
        std::vector<std::string> args;
        A action;
        std::array<int, 6> flags; // debug, pasv, server, client, catalogCash, skype
    };
    const std::array<int, 6> none{0, 0, 0, 0, 0, 1};
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
        // Case and added characters make another word, which is refused; no flag is set.
        {{"-D119", "-d119"}, A::Error, none},
        {{"-PASV2"}, A::Error, none},
        {{"-h"}, A::Error, none},
        {{"file.txt"}, A::Error, none},
        {{""}, A::Error, none},
        // Setting the party key starts no node: no mode flag goes with it.
        {{"--set-party-key"}, A::SetPartyKey, none},
        {{"--user-folder", "--set-party-key"}, A::SetPartyKey, none},
        {{"--set-party-key", "-D119"}, A::Error, none},
        {{"--set-party-key", "--help"}, A::Help, none},
    };
    FlagsGuard guard;
    for (const Case& c : cases) {
        FlagsGuard::reset();
        const CommandLine::Result r = CommandLine::parse(c.args);
        const std::string line = c.args.empty() ? "(none)" : c.args.front();
        EXPECT_EQ(r.action, c.action) << line;
        EXPECT_EQ(current(), c.flags) << line;
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

TEST(CommandLine, ModeLinesFollowTheFlagOrder)
{
    FlagsGuard guard;
    FlagsGuard::reset();
    EXPECT_TRUE(CommandLine::modeLines().empty());
    ASSERT_EQ(CommandLine::parse({"-NOSKYPE", "-CLIENT", "-D119", "-SERVER"}).action,
              CommandLine::Action::Run);
    EXPECT_EQ(CommandLine::modeLines(),
              (std::vector<std::string>{"DEBUG_MODE ON\n", "SERVERONLY_MODE ON\n",
                                        "CLIENTONLY_MODE ON\n", "NO SKYPE MODE\n"}));
}

TEST(CommandLine, UserFolderIsAnOptionAndFollowsXdgDataHome)
{
    FlagsGuard guard;
    FlagsGuard::reset();
    const CommandLine::Result r = CommandLine::parse({"--user-folder", "-NOSKYPE"});
    EXPECT_EQ(r.action, CommandLine::Action::Run);
    EXPECT_TRUE(r.userFolder);
    EXPECT_EQ(skypeMode, 0);
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
