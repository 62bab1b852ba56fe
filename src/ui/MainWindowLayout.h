#pragma once

class CCatalogListCtrl;
class CConnectListCtrl;
class CMsg;
class QButtonGroup;
class QDialog;
class QLabel;
class QPushButton;

// The controls of the main window, laid out in three groups: communication (the on-line switch,
// party and node names, the Skype link state), the connected nodes, and the catalog cache, with
// the status line between the last two. The dialog owns every control.
struct MainWindowLayout
{
    // Ids of the on-line switch's two buttons in `selection`.
    static constexpr int kOnline = 0;
    static constexpr int kOffline = 1;

    QPushButton* online = nullptr;
    QPushButton* offline = nullptr;
    QButtonGroup* selection = nullptr;
    QLabel* partyName = nullptr;
    QLabel* nodeName = nullptr;
    QPushButton* systemSettings = nullptr;
    QLabel* skypeStatus = nullptr;
    QPushButton* nodeInfo = nullptr;

    CConnectListCtrl* connections = nullptr;
    QPushButton* addConnection = nullptr;
    QPushButton* changeConnection = nullptr;
    QPushButton* deleteConnection = nullptr;
    QPushButton* catalogSync = nullptr;

    CMsg* status = nullptr;

    QLabel* dropHint = nullptr;
    QPushButton* takeOut = nullptr;
    QPushButton* deleteRegistration = nullptr;
    CCatalogListCtrl* catalog = nullptr;

    // Builds the controls into dialog and fixes its size.
    void build(QDialog& dialog);
};
