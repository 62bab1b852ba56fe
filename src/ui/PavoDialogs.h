#pragma once

#include "ui/CSystemPropatyDlg.h"

#include <string>
#include <vector>

class CPavoDlg;

// The main window's dialogs and what it does with their results: the system properties
// ("システム設定"), the connections ("追加", "変更", "削除") and the catalog synchronisation
// ("カタログ同期"). Each runs modally over the window.
class PavoDialogs
{
public:
    // introduction: a line above the settings saying why the dialog opened. True when the
    // properties were accepted and applied.
    static bool systemProperties(CPavoDlg& window, const std::string& introduction = {});
    // First start (no party or node name): the system properties with a line saying so, then,
    // while no connection is configured, a pointer to "追加".
    static void firstStart(CPavoDlg& window);
    // Whether the window's node has its messaging client linked; a new connection goes over TCP
    // otherwise.
    static bool messagingClientLinked(CPavoDlg& window);
    // The accepted properties, in the window's order: node name; a new party name renames the
    // node's messaging-client application and rebuilds the title and tool-tip; start-closed
    // option, expiry days, listen port (taken up when the node next goes on-line); then the
    // controls are refreshed and the settings saved.
    static void applySystemProperties(CPavoDlg& window, const CSystemPropatyDlg::Values& values);
    // Derives and stores a new party key, or removes it, as the dialog asked; the next on-line
    // and every later dial use it.
    static void applyPartyKey(CPavoDlg& window, const CSystemPropatyDlg::Values& values);

    static void addConnection(CPavoDlg& window);
    static void changeConnection(CPavoDlg& window);
    static void deleteConnection(CPavoDlg& window);

    static void catalogSync(CPavoDlg& window);

    // What the messaging client has told the window's node: its user's ID (empty until known)
    // and the IDs of the user's contacts (none while the client is not linked).
    static std::string ownSkypeId(CPavoDlg& window);
    static std::vector<std::string> skypeContacts(CPavoDlg& window);
};
