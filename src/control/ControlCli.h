#pragma once

#include <QJsonObject>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class ControlClient;

// "pavo <command> ...": the command line of a running node, over its control socket. Each
// command takes "--help"; "--json" prints the node's answer as JSON for scripts (events as JSON
// lines), otherwise tables and lines for people. Exit status 0 when done, 1 when the node refused
// or failed (or none runs), 2 for a command line that is not understood. The node's refusals are
// the window's messages, shown in the user's language through translate.
class ControlCli
{
public:
    static constexpr int kOk = 0;
    static constexpr int kFailed = 1;
    static constexpr int kUsage = 2;

    // Japanese message (a pattern) → the user's language.
    using Translate = std::function<std::string(const std::string&)>;

    // True when the first argument names a command rather than an option of the node.
    static bool isCommand(const std::string& firstArgument);
    // The commands' part of "pavo --help".
    static std::string commandsHelp();

    // args: the arguments after the program name, the command first.
    static int run(const std::vector<std::string>& args, const Translate& translate);

    struct Spec;
    struct Parsed
    {
        std::map<std::string, std::string> options; // "--json" → "", "--origin" → "A"
        std::vector<std::string> args;
        bool has(const std::string& option) const { return options.count(option) != 0; }
        std::string value(const std::string& option) const;
    };

private:
    static int runCommand(const Spec& spec, const Parsed& parsed, const Translate& translate);
};
