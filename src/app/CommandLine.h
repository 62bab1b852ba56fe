#pragma once

#include "app/NodeOptions.h"

#include <string>
#include <vector>

// The program's command line, read in one place: the mode options, which make up the node's
// options, and the informational options, which only print. Every argument must be one of
// them, compared as a whole and case-sensitively; anything else is an error with the usage line.
class CommandLine
{
public:
    enum class Action
    {
        Run,     // start the node with options
        Help,    // print helpText() and end
        Version, // print versionText() and end
        Error,   // print error and usageLine() on standard error and end
        // read a passphrase line from standard input, store the party key and end
        SetPartyKey,
        // make a random party key, store it, print its code and end
        NewPartyKey,
    };

    struct Result
    {
        Action action = Action::Run;
        std::string error;       // for Action::Error: what was wrong
        bool userFolder = false; // "--user-folder": run in userFolderPath(), not the current one
        NodeOptions options{};   // for Action::Run; the defaults for every other action
    };

    // args: the arguments after the program name.
    static Result parse(const std::vector<std::string>& args);

    // The working folder of "--user-folder": $XDG_DATA_HOME/pavo, or ~/.local/share/pavo when
    // the variable is unset or not absolute; empty when neither can be formed.
    static std::string userFolderPath();

    static std::string usageLine();
    static std::string helpText();
    static std::string versionText();

    // One line per option that differs from the default, in the fixed order of the options.
    static std::vector<std::string> modeLines(const NodeOptions& options);

    // The exit status of a command line error.
    static constexpr int kUsageStatus = 2;
};
