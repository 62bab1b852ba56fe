#pragma once

#include <string>
#include <vector>

// The program's single entry point: prepares the process, guards the party name, reads the
// command line options into the mode flags and runs the main window until it closes.
class CPavoApp
{
public:
    static int run(int argc, char** argv);

    // Sets the mode flag an argument names; an argument that is not exactly an option is ignored.
    static void applyOption(const std::string& argument);
    // One line per active mode flag, in the fixed order of the flags.
    static std::vector<std::string> modeLines();

private:
    static bool chooseHeadless();
    static void setupDiagnostics();
    static void probePort();
};
