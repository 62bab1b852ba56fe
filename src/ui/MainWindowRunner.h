#pragma once

#include "app/NodeOptions.h"

// Runs the node's window until the program ends; the exit status of the program.
class MainWindowRunner
{
public:
    static int run(bool headless, const NodeOptions& options);
};
