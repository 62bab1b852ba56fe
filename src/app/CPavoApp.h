#pragma once

// The program's single entry point: prepares the process, guards the party name, reads the
// command line options and runs the main window until it closes.
class CPavoApp
{
public:
    static int run(int argc, char** argv);
};
