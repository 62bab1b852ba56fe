#pragma once

class PavoNode;

// Shows the node in its main window until the program ends; the exit status of the program.
// The window's end shuts the node down.
class MainWindowRunner
{
public:
    static int run(PavoNode& node, bool headless);
};
