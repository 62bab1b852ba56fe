#pragma once

class CPavoDlg;

// The main window's "カタログ同期": the synchronisation dialog for the selected connection, and the
// request to its peer. It runs modally.
class CatalogSyncFlow
{
public:
    // Nothing without a selected row; a warning when its peer is not connected; otherwise the
    // dialog, and on its acceptance the request, said on the status line.
    static void run(CPavoDlg& window);
};
