#pragma once

#include "ui/CDialogConnectMethod.h"

#include <functional>
#include <optional>
#include <string>

class CConnectListCtrl;
class ConnectionList;
class QWidget;

// The main window's "追加", "変更" and "削除" on the configured connections; the window's list
// names the selected one, and every change is saved at once.
class ConnectionCommands
{
public:
    using Values = CDialogConnectMethod::Values;
    // Runs the connection dialog with these values; the values it ended with, or none on cancel.
    using DialogRunner = std::function<std::optional<Values>(const Values&)>;

    // A connection's node name changed from the first name to the second (its pending file
    // goes with it).
    using Renamed = std::function<void(const std::string&, const std::string&)>;

    // newMethod: the method a new connection starts with (TCP while no messaging client is
    // linked, since its contact list would be empty).
    ConnectionCommands(ConnectionList& connections, CConnectListCtrl& rows,
                       std::function<void()> save, DialogRunner runner, Renamed renamed = {},
                       int newMethod = CDialogConnectMethod::kSkype);

    // The runner that shows the real dialog, modally over parent.
    static DialogRunner modalDialog(QWidget* parent, CDialogConnectMethod::ContactSource contacts);

    void add();
    void change();
    void remove();

private:
    void renamed(const std::string& oldName, const std::string& newName);

    ConnectionList& m_connections;
    CConnectListCtrl& m_rows;
    std::function<void()> m_save;
    DialogRunner m_runner;
    Renamed m_renamed;
    int m_newMethod;
};
