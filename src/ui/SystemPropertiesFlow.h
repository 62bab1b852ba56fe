#pragma once

#include "ui/CSystemPropatyDlg.h"

#include <string>

class CPavoDlg;

// The main window's "システム設定": the system properties dialog over the window, and what the
// window's node does with the values accepted there. It runs modally.
class SystemPropertiesFlow
{
public:
    // introduction: a line above the settings saying why the dialog opened. True when the
    // properties were accepted and applied.
    static bool run(CPavoDlg& window, const std::string& introduction = {});
    // First start (no party or node name): the system properties with a line saying so, then,
    // while no connection is configured, a pointer to "追加".
    static void firstStart(CPavoDlg& window);
    // The accepted properties, in the window's order: node name; a new party name renames the
    // node's messaging-client application and rebuilds the title and tool-tip; start-closed
    // option, expiry days, listen port (taken up when the node next goes on-line); then the
    // controls are refreshed and the settings saved.
    static void apply(CPavoDlg& window, const CSystemPropatyDlg::Values& values);
    // Derives and stores a new party key, or removes it, as the dialog asked; the next on-line
    // and every later dial use it.
    static void applyPartyKey(CPavoDlg& window, const CSystemPropatyDlg::Values& values);
};
