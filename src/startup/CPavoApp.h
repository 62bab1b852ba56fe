#pragma once

// The program's single entry point: prepares the process, guards the party name, reads the
// command line into the node's options and runs the main window with them until it closes; or runs
// one command of the command line ("pavo status") against the node that runs.
class CPavoApp
{
public:
    static int run(int argc, char** argv);

private:
    static bool chooseHeadless();
    static bool enterUserFolder();
    static void setupDiagnostics(bool debug);
    static void probePort();
    static void warnIfFolderOpen();
    static int runCommand(int argc, char** argv);
};
