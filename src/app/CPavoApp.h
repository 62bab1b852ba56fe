#pragma once

// The program's single entry point: prepares the process, guards the party name, reads the
// command line options into the mode flags and runs the main window until it closes.
class CPavoApp
{
public:
    static int run(int argc, char** argv);

private:
    static bool chooseHeadless();
    static bool enterUserFolder();
    static void setupDiagnostics();
    static void probePort();
};
